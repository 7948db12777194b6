"""Runs install and uninstall of real TrueType fonts under a private Wine prefix."""
import glob
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from wine_prefix import Wine  # noqa: E402

TITLE = sys.argv[1] if len(sys.argv) > 1 else "Typeloader Demo"


def show(step, result):
    code, output = result
    print(f"$ {step}")
    print(output.decode("latin-1").replace("\r", ""), end="")
    print(f"(exit code {code})\n")


def main():
    fonts = sorted(glob.glob("/usr/share/fonts/truetype/dejavu/*.ttf"))
    if not fonts:
        sys.exit("no DejaVu fonts found: install fonts-dejavu-core")
    wine = Wine("demo")
    try:
        wine.font_dir.mkdir(exist_ok=True)
        for font in fonts:
            shutil.copy(font, wine.font_dir)
        print(f"Wine prefix: {wine.prefix}")
        print(f"Font folder: C:\\Typeloader\\Font ({len(fonts)} DejaVu fonts)\n")

        show(f'Typeloader.exe "/title:{TITLE}"', wine.run(f"/title:{TITLE}"))
        print("Registrations now under HKLM\\...\\CurrentVersion\\Fonts:")
        for name, data in wine.strings().items():
            if name.startswith(TITLE):
                print(f"  {name} = {data}")
        print()
        show(f'Typeloader.exe /uninstall "/title:{TITLE}"', wine.run("/uninstall", f"/title:{TITLE}"))
        left = [name for name in wine.strings() if name.startswith(TITLE)]
        print(f"Registrations left with that title: {len(left)}")
        copies = [os.path.basename(f) for f in fonts if (wine.fonts_folder / os.path.basename(f)).exists()]
        print(f"Copies still in C:\\windows\\Fonts: {len(copies)} (uninstall leaves the files)")
    finally:
        wine.close()


if __name__ == "__main__":
    main()
