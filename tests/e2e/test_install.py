"""The install job on the real Wine file system and registry."""
import os

import pytest

from wine_prefix import console_line, table_walk

TITLE = "E2eInst"
FONTS = "C:\\windows\\Fonts"
FONT_FILES = {
    "Alpha.ttf": b"alpha" * 100,
    "My.Font.ttf": b"two dots",
    ".ttf": b"empty title",
    "Sans.ttf": b"sans, long extension",
    "Sans.ttfx": b"sans, short-name match",
    "Caf\u00e9 \u00c5.ttf": b"latin-1",
    "\u4e2d\u6587.ttf": b"cjk",
    "Emoji\U0001F600.ttf": b"astral",
    "UPPER.TTF": b"upper case extension",
    "Notes.txt": b"not a font",
    "Other.otf": b"not a ttf",
    "Collection.ttc": b"not a ttf either",
}
FOLDERS = ["Folder.ttf"]
NOT_MATCHED = {"Notes.txt", "Other.otf", "Collection.ttc"}


def lay_out_fonts(wine):
    wine.font_dir.mkdir(exist_ok=True)
    for name, data in FONT_FILES.items():
        (wine.font_dir / name).write_bytes(data)
    for name in FOLDERS:
        (wine.font_dir / name).mkdir(exist_ok=True)


def expected_install(wine):
    """(output bytes, {registration name: data}) predicted from the finder's order."""
    found = wine.find("C:\\Typeloader\\Font\\*.ttf")
    assert not NOT_MATCHED & set(found)
    assert set(FONT_FILES) - NOT_MATCHED | set(FOLDERS) <= set(found)
    items = [(name.rsplit(".", 1)[0], FONTS + "\\" + name) for name in found]
    walk = [(key, value) for key, value in table_walk(items) if key]
    output = console_line("Install Font : " + TITLE) + b"".join(
        console_line(f"Install OK : {TITLE} {key}") for key, _ in walk)
    return output, {f"{TITLE} {key}": value for key, value in walk}


@pytest.fixture(scope="module")
def installed(wine):
    before = wine.values()
    lay_out_fonts(wine)
    expected_output, expected_values = expected_install(wine)
    code, output = wine.run(f"/title:{TITLE}")
    return before, expected_output, expected_values, code, output


def test_output_is_header_then_one_line_per_font_in_table_order(installed):
    _, expected_output, _, code, output = installed
    assert code == 0
    assert output == expected_output


def test_registry_gains_exactly_the_copies_full_paths(wine, installed):
    before, _, expected_values, _, _ = installed
    after = wine.values()
    assert [v for v in after if v[0] not in expected_values] == before
    assert wine.strings().items() >= expected_values.items()
    assert len(after) == len(before) + len(expected_values)
    assert expected_values[f"{TITLE} My.Font"] == FONTS + "\\My.Font.ttf"
    assert f"{TITLE} " not in expected_values  # ".ttf" has the empty file title
    assert expected_values[f"{TITLE} Folder"] == FONTS + "\\Folder.ttf"
    assert expected_values[f"{TITLE} Sans"] in (FONTS + "\\Sans.ttf", FONTS + "\\Sans.ttfx")


def test_copies_are_byte_identical_and_others_left_alone(wine, installed):
    for name, data in FONT_FILES.items():
        copy = wine.fonts_folder / name
        if name in NOT_MATCHED:
            assert not copy.exists()
        else:
            assert copy.read_bytes() == data, name
    assert not (wine.fonts_folder / "Folder.ttf").exists()


def test_second_install_gives_same_output_and_state(wine, installed):
    _, expected_output, _, _, _ = installed
    state = wine.values()
    assert wine.run(f"/title:{TITLE}") == (0, expected_output)
    assert wine.values() == state


def test_uninstall_after_install_restores_the_key_and_keeps_copies(wine, installed):
    before, _, expected_values, _, _ = installed
    order = [name for name, *_ in wine.values() if name in expected_values]
    code, output = wine.run("/uninstall", f"/title:{TITLE}")
    assert code == 0
    assert output == console_line("Uninstall Font : " + TITLE) + b"".join(
        console_line("Uninstall OK : " + name) for name in order)
    assert wine.values() == before
    assert (wine.fonts_folder / "Alpha.ttf").read_bytes() == FONT_FILES["Alpha.ttf"]


def test_missing_font_folder_gives_header_only(wine, installed):
    os.rename(wine.font_dir, wine.program_dir / "Font.away")
    try:
        before = wine.values()
        assert wine.run("/title:E2eEmpty") == (0, console_line("Install Font : E2eEmpty"))
        assert wine.values() == before
    finally:
        os.rename(wine.program_dir / "Font.away", wine.font_dir)
