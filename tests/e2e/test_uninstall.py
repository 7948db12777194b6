"""The uninstall job on the real registry: exactly the matching REG_SZ values go."""
import pytest

from wine_prefix import REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_QWORD, REG_SZ

# (name, type, data, its console line when the title "E2eAcme" deletes it)
VALUES = [
    ("E2eAcme Sans", REG_SZ, "C:\\windows\\Fonts\\Sans.ttf", b"Uninstall OK : E2eAcme Sans\r\r\n"),
    ("e2eacme Lower", REG_SZ, "x", None),
    ("Old E2eAcme Sans", REG_SZ, "x", None),
    ("E2eAcmeCorp Mono", REG_SZ, "x", b"Uninstall OK : E2eAcmeCorp Mono\r\r\n"),
    ("E2eAcme", REG_SZ, "", b"Uninstall OK : E2eAcme\r\r\n"),
    ("E2eAcm", REG_SZ, "x", None),
    ("E2eAcme Bold", REG_EXPAND_SZ, "%WINDIR%\\Fonts\\b.ttf", None),
    ("E2eAcme Multi", REG_MULTI_SZ, "a\0b\0", None),
    ("E2eAcme Blob", REG_BINARY, b"\x01\x02\x03", None),
    ("E2eAcme Number", REG_DWORD, b"\x05\x00\x00\x00", None),
    ("E2eAcme Quad", REG_QWORD, b"\x05\x00\x00\x00\x00\x00\x00\x00", None),
    ("E2eAcme \u4e2d\U0001F600", REG_SZ, "x", b"Uninstall OK : E2eAcme ???\r\r\n"),
    ("E2eAcme Serif", REG_SZ, "C:\\windows\\Fonts\\Serif.ttf", b"Uninstall OK : E2eAcme Serif\r\r\n"),
    # Only the Windows layer holds a name with a null unit; a delete by the
    # text before the null would remove "E2eAcme Bold", which is not ours.
    ("E2eAcme Bold\0.ttf", REG_SZ, "x", None),
]
LINES = {name: line for name, _, _, line in VALUES if line}


@pytest.fixture
def seeded(wine):
    before = wine.values()
    for name, kind, data, _ in VALUES:
        wine.set_value(name, kind, data)
    seeded = wine.values()
    yield before, seeded
    for name, *_ in VALUES:
        wine.delete_value(name)


def test_deletes_exactly_the_matching_strings_in_key_order(wine, seeded):
    before, seeded = seeded
    assert [name for name, *_ in VALUES if name not in [name for name, *_ in seeded]] == []
    doomed = [name for name, *_ in seeded if name in LINES]

    code, output = wine.run("/uninstall", "/title:E2eAcme")

    assert code == 0
    assert output == b"Uninstall Font : E2eAcme\r\r\n" + b"".join(LINES[name] for name in doomed)
    after = wine.values()
    assert after == [value for value in seeded if value[0] not in doomed]
    # Wine's own registrations are all still there, unchanged.
    assert all(value in after for value in before)


def test_no_match_gives_the_header_only_and_changes_nothing(wine, seeded):
    _, seeded = seeded
    assert wine.run("-UNINSTALL", "-Title:E2eNobody") == (0, b"Uninstall Font : E2eNobody\r\r\n")
    assert wine.values() == seeded


def test_case_of_the_title_matters(wine, seeded):
    _, seeded = seeded
    code, output = wine.run("/uninstall", "/title:e2eacme")
    assert output == b"Uninstall Font : e2eacme\r\r\nUninstall OK : e2eacme Lower\r\r\n"
    assert [v for v in wine.values()] == [v for v in seeded if v[0] != "e2eacme Lower"]


def test_astral_title_deletes_and_prints_question_marks(wine, seeded):
    _, seeded = seeded
    title = "E2eAcme \u4e2d\U0001F600"
    code, output = wine.run_command_line(f'Typeloader.exe /uninstall "/title:{title}"')
    assert (code, output) == (0, b"Uninstall Font : E2eAcme ???\r\r\n" + b"Uninstall OK : E2eAcme ???\r\r\n")
    assert title not in [name for name, *_ in wine.values()]
