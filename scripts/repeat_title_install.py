"""Installs one font with the title of every unit from U+0001 to U+00FF, N times
in one Wine prefix, through tltest with the exact command line, and stops at the
first run that differs in any way: exit status (as Wine returned it or as tltest
saw the program end), output bytes, anything on stderr, or the fonts key.

usage: repeat_title_install.py RUNS   (environment as for the end-to-end tests)
"""
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "e2e"))
from wine_prefix import (TLTEST_EXIT, Wine, console_line, describe_run,  # noqa: E402
                         quote, registry_difference, tltest_exit_code)

PROGRAM = r"C:\Typeloader\Typeloader.exe"
TITLE = "".join(map(chr, range(1, 0x100)))


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 250
    wine = Wine("repeat_title_install")
    try:
        wine.font_dir.mkdir(exist_ok=True)
        (wine.font_dir / "Sans.ttf").write_bytes(b"sans")
        command_line = "Typeloader.exe " + quote("/title:" + TITLE)
        expected = console_line("Install Font : " + TITLE) + console_line(f"Install OK : {TITLE} Sans")
        arguments = ["run", wine.hex_argument(PROGRAM), wine.hex_argument(command_line)]
        key_before = wine.values()
        key_expected = None
        started = time.monotonic()
        for run in range(1, runs + 1):
            wine.journal = []
            done = wine.wine(wine.tltest, *arguments)
            stderr_rest = TLTEST_EXIT.sub(b"", done.stderr)
            odd = done.returncode != 0 or tltest_exit_code(done) != 0 or done.stdout != expected or stderr_rest
            if not odd and (run == 1 or run % 50 == 0 or run == runs):
                key = wine.values()
                if key_expected is None:
                    key_expected = key
                odd = key != key_expected
            if odd:
                print(f"odd run {run} of {runs}:\n{describe_run(done)}")
                if done.stdout != expected:
                    print(f"expected stdout {expected[:200]!r}")
                print("fonts key, before the first run -> now:\n" + registry_difference(key_before, wine.values()))
                return 1
        print(f"{runs} runs, none odd ({time.monotonic() - started:.0f} s)")
        return 0
    finally:
        wine.close()


if __name__ == "__main__":
    sys.exit(main())
