"""Runs Typeloader.exe's install and uninstall of real TrueType fonts under a
private Wine prefix, then the story a fleet tool runs with
Typeloader-Deploy.exe in the same prefix: install, the same again, uninstall,
each with its whole exit code, its last output word and its log records."""
import glob
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from wine_prefix import Wine  # noqa: E402

TITLE = sys.argv[1] if len(sys.argv) > 1 else "Typeloader Demo"
DEPLOY_TITLE = "TypeloaderDemo-v01"
BUNDLE = r"C:\Program Files\Typeloader\TypeloaderDemo-v01"


def show(step, result):
    code, output = result
    print(f"$ {step}")
    print(output.decode("latin-1").replace("\r", ""), end="")
    print(f"(exit code {code})\n")


def log_lines(wine):
    """The log's records; Wine's prefix names the folder `logs`, Windows `Logs`."""
    found = list((wine.drive_c / "windows").glob("[Ll]ogs/Typeloader/Typeloader-Deploy.log"))
    return found[0].read_text(encoding="utf-8-sig").splitlines() if found else []


def deploy(wine, job):
    """One run of the deploy program from the bundle's folder: its exit code,
    read Windows-side, its last output word and the log records it added."""
    before = len(log_lines(wine))
    command = f"Typeloader-Deploy.exe {job} {DEPLOY_TITLE}"
    code, output = wine.run_command_line(command, program=BUNDLE + r"\Typeloader-Deploy.exe", folder=BUNDLE)
    lines = output.decode("utf-8", "replace").replace("\r", "").splitlines()
    print(f"$ {command}")
    print(f"exit code {code}, last line: {lines[-1] if lines else '(none)'}")
    print("log records:")
    for record in log_lines(wine)[before:]:
        found = re.match(r'<!\[LOG\[(.*)\]LOG\]!><time="([^"]+)".* type="(\d)"', record)
        print(f"  {found.group(2)} type {found.group(3)}  {found.group(1)}" if found else "  " + record)
    print()


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
        print(f"Copies still in C:\\windows\\Fonts: {len(copies)} (uninstall leaves the files)\n")

        # What fleet tools run: the deploy program beside Typeloader.exe in a bundle folder.
        bundle = wine.drive_c / "Program Files" / "Typeloader" / DEPLOY_TITLE
        (bundle / "Font").mkdir(parents=True)
        shutil.copy(os.environ["TYPELOADER_EXE"], bundle)
        shutil.copy(os.environ["TYPELOADER_DEPLOY_EXE"], bundle)
        for font in fonts[:3]:
            shutil.copy(font, bundle / "Font")
        print(f"Typeloader-Deploy.exe with {min(3, len(fonts))} fonts in {BUNDLE}"
              " (exit codes: 0 success, 3010 restart pending, 1618 busy, 1 refused or failed, 2 usage)\n")
        deploy(wine, "install")
        deploy(wine, "install")
        deploy(wine, "uninstall")
    finally:
        wine.close()


if __name__ == "__main__":
    main()
