"""Bad input end to end: odd titles, Font folders, executable paths and fonts
keys. Every case compares the whole fonts key before and after each run with
what the program was asked to do, checks the exact output bytes and exit
code, and looks for any sign of a crash."""
import pathlib
import shutil
from dataclasses import dataclass, field

import pytest

from wine_prefix import (REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_QWORD, REG_SZ,
                         describe_run, hex16, program_result, quote)

PROGRAM = r"C:\Typeloader\Typeloader.exe"
FONTS = "C:\\windows\\Fonts"
NAME_LIMIT = 16383          # the registry's longest value name
COMMAND_LINE_LIMIT = 32766  # CreateProcessW's 32,767 units, terminator included
FINDER_LIMIT = 260          # the finder refuses patterns this long or longer
CRASH_SIGNS = [b"Unhandled", b"page fault", b"c0000005", b"C0000005", b"3221225477",
               b"winedbg", b"Backtrace", b"wine: "]
DIR, LOCKED, DANGLING = object(), object(), object()


@dataclass
class Case:
    id: str
    title: str = "E2eBad"
    fonts: dict = field(default_factory=lambda: {"Sans.ttf": b"sans"})  # None: no Font folder
    seed: list = field(default_factory=list)  # (name, type, data) set before the install
    deep: int = 0          # the executable's full path in units; 0 for C:\Typeloader
    install: tuple = None  # (OK lines, FAIL lines) of the install, pinned
    uninstall: int = None  # OK lines of the uninstall, pinned
    shown: bytes = None    # the title's console bytes, when not its ASCII

    def __post_init__(self):
        if self.shown is None:
            self.shown = self.title.encode("ascii")


def longest_title():
    return "T" * (COMMAND_LINE_LIMIT - len('Typeloader.exe "/uninstall" "/title:"'))


def many_fonts(count):
    return {f"Many{i:04d}.ttf": b"m" for i in range(count)}


ALL_TYPES = [(f"KeyT type {kind}", kind, kind.to_bytes(4, "little"))
             for kind in (0, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, 5, 6, REG_MULTI_SZ, 8, 9, 10, REG_QWORD, 0x1234)]
ODD_STRINGS = [
    ("KeyT empty data", REG_SZ, b""),
    ("KeyT no terminator", REG_SZ, "abc".encode("utf-16-le")),
    ("KeyT odd length", REG_SZ, b"abc"),
    ("KeyT big", REG_SZ, ("x" * 6000 + "\0").encode("utf-16-le")),
]
NEAR_NAMES = [
    ("keyt lower case", REG_SZ, "x"), ("KEYT upper case", REG_SZ, "x"), ("KeyT", REG_SZ, "x"),
    ("KeyTX after", REG_SZ, "x"), ("KeyT\ud800 lone", REG_SZ, "x"), (" KeyT space first", REG_SZ, "x"),
    ("Old KeyT", REG_SZ, "x"), ("Key", REG_SZ, "x"), ("KeyT expand", REG_EXPAND_SZ, "%WINDIR%\\x.ttf"),
]
LONG_NAMES = [("KeyT" + "n" * (NAME_LIMIT - 5), REG_SZ, "x"), ("KeyT" + "n" * (NAME_LIMIT - 4), REG_SZ, "x"),
              ("KeyT" + "d" * (NAME_LIMIT - 4), REG_DWORD, b"\1\0\0\0")]

CASES = [
    # Titles.
    Case("title of one unit", "\u00a7", install=(1, 0), uninstall=1, shown=b"\xa7"),
    Case("title of one unit that begins Wine's own fonts", "L", install=(1, 0)),
    Case("title with quotes", 'Say "Q" \\"', install=(1, 0), uninstall=1),
    Case("title with tabs, CR and LF", "tab\there\rcr\nlf", install=(1, 0), uninstall=1,
         shown=b"tab\there\rcr\r\nlf"),
    Case("title of spaces", "   ", install=(1, 0), uninstall=1),
    Case("title with a surrogate pair", "Emoji\U0001F600", install=(1, 0), uninstall=1, shown=b"Emoji??"),
    Case("title with a lone high surrogate", "Lone\ud800", install=(1, 0), uninstall=1, shown=b"Lone?"),
    Case("title with a lone low surrogate", "\udc00Low", install=(1, 0), uninstall=1, shown=b"?Low"),
    Case("title of a reversed pair", "\udc00\ud800", install=(1, 0), uninstall=1, shown=b"??"),
    Case("title with every unit up to U+00FF", "".join(map(chr, range(1, 0x100))), install=(1, 0), uninstall=1,
         shown=bytes(range(1, 10)) + b"\r\n" + bytes(range(11, 0x100))),
    # Registration names at the registry's limit: up to 16,383 units are
    # written and removed again; 16,384 and more are refused.
    Case("name of 16,382 units", "T" * (NAME_LIMIT - 4), fonts={"ab.ttf": b"a"}, install=(1, 0), uninstall=1),
    Case("name of 16,383 units", "T" * (NAME_LIMIT - 3), fonts={"ab.ttf": b"a"}, install=(1, 0), uninstall=1),
    Case("name of 16,384 units", "T" * (NAME_LIMIT - 2), fonts={"ab.ttf": b"a"}, install=(0, 1), uninstall=0),
    Case("title of 16,383 units", "T" * NAME_LIMIT, install=(0, 1), uninstall=0),
    Case("title of 16,384 units", "T" * (NAME_LIMIT + 1), install=(0, 1), uninstall=0),
    Case("longest title the command line carries", longest_title(), install=(0, 1), uninstall=0),
    # Font folders.
    Case("no Font folder", fonts=None, install=(0, 0)),
    Case("empty Font folder", fonts={}, install=(0, 0)),
    Case("no *.ttf in the Font folder", fonts={"a.otf": b"o", "b.ttc": b"c", "ttf": b"t"}, install=(0, 0)),
    Case("only .ttf, the empty file title", fonts={".ttf": b"e"}, install=(0, 0)),
    Case("folders named like fonts", fonts={"Dir.ttf": DIR, "Deeper.ttf": {"Inner.ttf": b"i"}, "Sans.ttf": b"s"},
         install=(3, 0), uninstall=3),
    Case("file held open without sharing", fonts={"Locked.ttf": LOCKED, "Free.ttf": b"f"},
         install=(2, 0), uninstall=2),
    Case("dangling link named like a font", fonts={"Gone.ttf": DANGLING, "Real.ttf": b"r"}),
    Case("3,000 fonts", fonts=many_fonts(3000), install=(3000, 0), uninstall=3000),
    # Executable paths.
    Case("executable path of 260 units", "Deep", deep=260, install=(1, 0), uninstall=1),
    Case("executable path of 261 units", "Deep", deep=261, install=(1, 0), uninstall=1),
    Case("executable path of 263 units", "Deep", deep=263, install=(1, 0), uninstall=1),
    Case("executable path of 264 units", "Deep", deep=264, install=(0, 0)),
    Case("executable path of 1,000 units", "Deep", deep=1000, install=(0, 0)),
    # Fonts keys.
    Case("values of every type", "KeyT", seed=ALL_TYPES + ODD_STRINGS, install=(1, 0), uninstall=5),
    Case("names near the title", "KeyT", seed=NEAR_NAMES, install=(1, 0), uninstall=4),
    Case("names of 16,382 and 16,383 units", "KeyT", seed=LONG_NAMES, install=(1, 0), uninstall=3),
    Case("install over a value of another type", "KeyT", seed=[("KeyT Sans", REG_BINARY, b"\1\2")],
         install=(1, 0), uninstall=1),
    Case("install over a name in another case", "KeyT", seed=[("keyt sans", REG_DWORD, b"\1\0\0\0")],
         install=(1, 0), uninstall=0),
]


def string_data(text):
    return (text + "\0").encode("utf-16-le", "surrogatepass")


def file_title(name):
    return name.rsplit(".", 1)[0] if "." in name else name


def deep_folder(total):
    """A Windows folder under C:\\Deep whose executable path is `total` units."""
    want = total - len("\\Typeloader.exe")
    folder = "C:\\Deep"
    while len(folder) < want:
        folder += "\\" + "d" * min(200, want - len(folder) - 1)
    return folder


def unix_path(wine, windows_path):
    return wine.drive_c / pathlib.PureWindowsPath(windows_path).relative_to("C:\\")


def lay_out(folder, fonts):
    folder.mkdir(parents=True)
    for name, content in fonts.items():
        if content is DIR:
            (folder / name).mkdir()
        elif isinstance(content, dict):
            lay_out(folder / name, content)
        elif content is DANGLING:
            (folder / name).symlink_to(folder / "nowhere" / name)
        else:
            (folder / name).write_bytes(b"locked" if content is LOCKED else content)


def run(wine, case, uninstall, program_folder):
    """(exit code, stdout) of one run, after checking that nothing crashed."""
    arguments = ["/uninstall", "/title:" + case.title] if uninstall else ["/title:" + case.title]
    if case.deep:
        # CreateProcessW under Wine refuses an application path of 260 units
        # or more; Wine's own loader takes the Unix path.
        done = wine.wine(unix_path(wine, program_folder) / "Typeloader.exe", *arguments)
    else:
        command_line = "Typeloader.exe " + " ".join(map(quote, arguments))
        assert len(command_line) <= COMMAND_LINE_LIMIT
        tltest = ["run", wine.hex_argument(PROGRAM), wine.hex_argument(command_line)]
        locked = [name for name, content in (case.fonts or {}).items() if content is LOCKED]
        if locked:
            tltest = ["lock", hex16(program_folder + "\\Font\\" + locked[0]), *tltest]
        done = wine.wine(wine.tltest, *tltest)
        program_result(done)
    for sign in CRASH_SIGNS:
        assert sign not in done.stderr and sign not in done.stdout, (sign, describe_run(done))
    return done.returncode, done.stdout


def shown_name(case, name):
    """The console bytes of a registration name: the title's, then the rest,
    which is ASCII here but for one lone surrogate, shown as '?'."""
    return case.shown + name[len(case.title):].encode("latin-1", "replace")


def expected_install(wine, case, program_folder, before):
    """Output lines (the header, then the rest in any order: their order is
    test_install.py's), the key and the counts the documented install gives."""
    pattern = program_folder + "\\Font\\*.ttf"
    found = wine.find(pattern) if len(pattern) < FINDER_LIMIT else []
    copies = {file_title(n): FONTS + "\\" + n for n in found if file_title(n)}  # the last of a title wins
    lines = []
    after = list(before)
    ok = fail = 0
    for key, copy in copies.items():
        name = f"{case.title} {key}"
        if len(name) > NAME_LIMIT:
            lines.append(b"Install FAIL : " + shown_name(case, name))
            fail += 1
            continue
        lines.append(b"Install OK : " + shown_name(case, name))
        ok += 1
        # Value names ignore case: a write replaces the value in its place.
        same = [i for i, value in enumerate(after) if value[0].lower() == name.lower()]
        if same:
            after[same[0]] = (after[same[0]][0], REG_SZ, string_data(copy))
        else:
            after.append((name, REG_SZ, string_data(copy)))
    return sorted(lines), after, (ok, fail), copies


def expected_uninstall(case, before):
    doomed = [name for name, kind, _ in before
              if kind == REG_SZ and name.startswith(case.title) and len(name) <= NAME_LIMIT]
    output = b"Uninstall Font : " + case.shown + b"\r\r\n" + b"".join(
        b"Uninstall OK : " + shown_name(case, name) + b"\r\r\n" for name in doomed)
    return output, [value for value in before if value[0] not in doomed], len(doomed)


@pytest.fixture(scope="module")
def baseline(wine):
    return wine.values()


@pytest.fixture
def restored(wine, baseline):
    """Puts the key, the Font folder and the Fonts folder back after a case."""
    fonts_before = set(p.name for p in wine.fonts_folder.iterdir())
    yield
    shutil.rmtree(wine.font_dir, ignore_errors=True)
    shutil.rmtree(wine.drive_c / "Deep", ignore_errors=True)
    for path in wine.fonts_folder.iterdir():
        if path.name not in fonts_before:
            shutil.rmtree(path) if path.is_dir() else path.unlink()
    now = wine.values()
    names = {name for name, *_ in baseline}
    for name, *_ in now:
        if name not in names:
            assert wine.delete_value(name), name
    for value in baseline:
        if value not in now:
            wine.set_value(*value)
    assert sorted(wine.values()) == sorted(baseline)


@pytest.mark.parametrize("case", CASES, ids=[case.id for case in CASES])
def test_bad_input(wine, restored, case):
    program_folder = "C:\\Typeloader"
    if case.deep:
        program_folder = deep_folder(case.deep)
        assert len(program_folder + "\\Typeloader.exe") == case.deep
        unix_path(wine, program_folder).mkdir(parents=True)
        shutil.copy2(wine.program_dir / "Typeloader.exe", unix_path(wine, program_folder))
    shutil.rmtree(wine.font_dir, ignore_errors=True)
    if case.fonts is not None:
        lay_out(unix_path(wine, program_folder) / "Font", case.fonts)
    for value in case.seed:
        wine.set_value(*value)

    before = wine.values()
    lines, expected, counts, copies = expected_install(wine, case, program_folder, before)
    code, output = run(wine, case, False, program_folder)
    header = b"Install Font : " + case.shown + b"\r\r\n"
    assert (code, output[:len(header)]) == (0, header)
    rest = output[len(header):]
    assert rest == b"" or rest.endswith(b"\r\r\n"), rest[-100:]
    assert sorted(rest.split(b"\r\r\n")[:-1]) == lines
    # Wine lists a key's values sorted by name, not in the order of writing.
    after = wine.values()
    assert sorted(after) == sorted(expected)
    if case.install is not None:
        assert counts == case.install
    for copy in copies.values():  # a copy for each file that could be read; none for the others
        content = (case.fonts or {}).get(copy[len(FONTS) + 1:])
        source = unix_path(wine, program_folder) / "Font" / copy[len(FONTS) + 1:]
        target = wine.fonts_folder / copy[len(FONTS) + 1:]
        if content is None or content in (DIR, LOCKED, DANGLING) or isinstance(content, dict):
            assert not target.exists(), copy
        else:
            assert target.read_bytes() == source.read_bytes(), copy

    output, after, deleted = expected_uninstall(case, after)
    assert run(wine, case, True, program_folder) == (0, output)
    assert wine.values() == after  # the same order, less the deleted values
    if case.uninstall is not None:
        assert deleted == case.uninstall
