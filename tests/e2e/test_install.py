"""The install job on the real Wine file system and registry."""
import os
import shutil

import pytest

TITLE = "E2eInst"
FONTS = "C:\\windows\\Fonts"
FONT_FILES = {
    "Alpha.ttf": b"alpha" * 100,
    "My.Font.ttf": b"two dots",
    ".ttf": b"empty title",
    "Sans.ttf": b"sans, long extension",
    "Sans.ttfx": b"sans, short-name match",
    "Caf\u00e9 \u00d6.ttf": b"latin-1",
    "\u4e2d\u6587.ttf": b"cjk",
    "Emoji\U0001F600.ttf": b"astral",
    "CAPS.TTF": b"upper case extension",
    "Notes.txt": b"not a font",
    "Other.otf": b"not a ttf",
    "Collection.ttc": b"not a ttf either",
}
FOLDERS = ["Folder.ttf"]
NOT_MATCHED = {"Notes.txt", "Other.otf", "Collection.ttc"}
# (file title, its console bytes, the copy it registers) in the table's walk
# order; these titles share no bucket, so the order is the same whatever
# order the finder gives. "Sans" registers Sans.ttf or Sans.ttfx, whichever
# the finder gives last; ".ttf" has the empty title and is not registered.
WALK = [
    ("CAPS", b"CAPS", "CAPS.TTF"),
    ("Sans", b"Sans", None),
    ("Caf\u00e9 \u00d6", b"Caf\xe9 \xd6", "Caf\u00e9 \u00d6.ttf"),
    ("Folder", b"Folder", "Folder.ttf"),
    ("My.Font", b"My.Font", "My.Font.ttf"),
    ("Emoji\U0001F600", b"Emoji??", "Emoji\U0001F600.ttf"),
    ("Alpha", b"Alpha", "Alpha.ttf"),
    ("\u4e2d\u6587", b"??", "\u4e2d\u6587.ttf"),
]
INSTALL_OUTPUT = b"Install Font : E2eInst\r\r\n" + b"".join(
    b"Install OK : E2eInst " + shown + b"\r\r\n" for _, shown, _ in WALK)


def lay_out_fonts(wine):
    wine.font_dir.mkdir(exist_ok=True)
    for name, data in FONT_FILES.items():
        (wine.font_dir / name).write_bytes(data)
    for name in FOLDERS:
        (wine.font_dir / name).mkdir(exist_ok=True)


@pytest.fixture(scope="module")
def installed(wine):
    before = wine.values()
    lay_out_fonts(wine)
    code, output = wine.run(f"/title:{TITLE}")
    return before, code, output


@pytest.fixture
def font_folder_aside(wine):
    """An empty Font folder for one test; the module's fonts come back after it."""
    os.rename(wine.font_dir, wine.program_dir / "Font.away")
    try:
        yield
    finally:
        shutil.rmtree(wine.font_dir, ignore_errors=True)
        os.rename(wine.program_dir / "Font.away", wine.font_dir)


def test_output_is_header_then_one_line_per_font_in_table_order(installed):
    _, code, output = installed
    assert (code, output) == (0, INSTALL_OUTPUT)


def test_registry_gains_exactly_the_copies_full_paths(wine, installed):
    before, _, _ = installed
    ours = {f"{TITLE} {title}" for title, _, _ in WALK}
    after = wine.values()
    assert [v for v in after if v[0] not in ours] == before
    strings = wine.strings()
    for title, _, copy in WALK:
        if copy:
            assert strings[f"{TITLE} {title}"] == FONTS + "\\" + copy
    assert strings[f"{TITLE} Sans"] in (FONTS + "\\Sans.ttf", FONTS + "\\Sans.ttfx")
    assert len(after) == len(before) + len(WALK)


def test_copies_are_byte_identical_and_others_left_alone(wine, installed):
    for name, data in FONT_FILES.items():
        copy = wine.fonts_folder / name
        if name in NOT_MATCHED:
            assert not copy.exists()
        else:
            assert copy.read_bytes() == data, name
    assert not (wine.fonts_folder / "Folder.ttf").exists()


def test_second_install_gives_same_output_and_state(wine, installed):
    state = wine.values()
    assert wine.run(f"/title:{TITLE}") == (0, INSTALL_OUTPUT)
    assert wine.values() == state


def test_uninstall_after_install_restores_the_key_and_keeps_copies(wine, installed):
    before, _, _ = installed
    shown = {f"{TITLE} {title}": f"{TITLE} ".encode() + shown for title, shown, _ in WALK}
    order = [name for name, *_ in wine.values() if name in shown]  # the key's own order
    code, output = wine.run("/uninstall", f"/title:{TITLE}")
    assert code == 0
    assert output == b"Uninstall Font : E2eInst\r\r\n" + b"".join(
        b"Uninstall OK : " + shown[name] + b"\r\r\n" for name in order)
    assert wine.values() == before
    assert (wine.fonts_folder / "Alpha.ttf").read_bytes() == FONT_FILES["Alpha.ttf"]


def test_missing_font_folder_gives_header_only(wine, installed, font_folder_aside):
    before = wine.values()
    assert wine.run("/title:E2eEmpty") == (0, b"Install Font : E2eEmpty\r\r\n")
    assert wine.values() == before


def test_install_replaces_an_older_copy(wine, font_folder_aside):
    wine.font_dir.mkdir()
    copy = wine.fonts_folder / "Edition.ttf"
    for edition in (b"first edition", b"second, longer edition", b"third"):
        (wine.font_dir / "Edition.ttf").write_bytes(edition)
        assert wine.run("/title:E2eEdition") == (
            0, b"Install Font : E2eEdition\r\r\nInstall OK : E2eEdition Edition\r\r\n")
        assert copy.read_bytes() == edition
    wine.run("/uninstall", "/title:E2eEdition")


def test_walk_order_of_keys_of_9_18_and_19_units(wine, font_folder_aside):
    # The hash samples every unit of a key up to 9 units and every second one
    # from 10 to 19; these keys, two of each length, take six buckets apart.
    wine.font_dir.mkdir()
    for title in ("Nineujpav", "Ninecouin", "Eighteenrcwikyhqja", "Eighteencsydmdjmca",
                  "Nineteenvaggbpmwmnc", "Nineteensugyvikcjka"):
        (wine.font_dir / f"{title}.ttf").write_bytes(title.encode())
    assert wine.run("/title:E2eWalk") == (0, b"Install Font : E2eWalk\r\r\n"
                                             b"Install OK : E2eWalk Eighteenrcwikyhqja\r\r\n"
                                             b"Install OK : E2eWalk Nineteensugyvikcjka\r\r\n"
                                             b"Install OK : E2eWalk Ninecouin\r\r\n"
                                             b"Install OK : E2eWalk Eighteencsydmdjmca\r\r\n"
                                             b"Install OK : E2eWalk Nineteenvaggbpmwmnc\r\r\n"
                                             b"Install OK : E2eWalk Nineujpav\r\r\n")
    wine.run("/uninstall", "/title:E2eWalk")
