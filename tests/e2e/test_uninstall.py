"""The uninstall job on the real registry: exactly the matching REG_SZ values go."""
import pytest

from wine_prefix import REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_QWORD, REG_SZ, console_line

# (name, type, data, deleted by the title "E2eAcme")
VALUES = [
    ("E2eAcme Sans", REG_SZ, "C:\\windows\\Fonts\\Sans.ttf", True),
    ("e2eacme Lower", REG_SZ, "x", False),
    ("Old E2eAcme Sans", REG_SZ, "x", False),
    ("E2eAcmeCorp Mono", REG_SZ, "x", True),
    ("E2eAcme", REG_SZ, "", True),
    ("E2eAcm", REG_SZ, "x", False),
    ("E2eAcme Bold", REG_EXPAND_SZ, "%WINDIR%\\Fonts\\b.ttf", False),
    ("E2eAcme Multi", REG_MULTI_SZ, "a\0b\0", False),
    ("E2eAcme Blob", REG_BINARY, b"\x01\x02\x03", False),
    ("E2eAcme Number", REG_DWORD, b"\x05\x00\x00\x00", False),
    ("E2eAcme Quad", REG_QWORD, b"\x05\x00\x00\x00\x00\x00\x00\x00", False),
    ("E2eAcme \u4e2d\U0001F600", REG_SZ, "x", True),
    ("E2eAcme Serif", REG_SZ, "C:\\windows\\Fonts\\Serif.ttf", True),
]


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
    doomed = [name for name, kind, _ in seeded
              if kind == REG_SZ and name.startswith("E2eAcme")]
    assert len(doomed) == sum(1 for *_, deleted in VALUES if deleted)

    code, output = wine.run("/uninstall", "/title:E2eAcme")

    assert code == 0
    assert output == console_line("Uninstall Font : E2eAcme") + b"".join(
        console_line("Uninstall OK : " + name) for name in doomed)
    after = wine.values()
    assert after == [value for value in seeded if value[0] not in doomed]
    # Wine's own registrations are all still there, unchanged.
    assert all(value in after for value in before)


def test_no_match_gives_the_header_only_and_changes_nothing(wine, seeded):
    _, seeded = seeded
    assert wine.run("-UNINSTALL", "-Title:E2eNobody") == (0, console_line("Uninstall Font : E2eNobody"))
    assert wine.values() == seeded


def test_case_of_the_title_matters(wine, seeded):
    _, seeded = seeded
    code, output = wine.run("/uninstall", "/title:e2eacme")
    assert output == console_line("Uninstall Font : e2eacme") + console_line("Uninstall OK : e2eacme Lower")
    assert [v for v in wine.values()] == [v for v in seeded if v[0] != "e2eacme Lower"]


def test_astral_title_deletes_and_prints_question_marks(wine, seeded):
    _, seeded = seeded
    title = "E2eAcme \u4e2d\U0001F600"
    code, output = wine.run_command_line(f'Typeloader.exe /uninstall "/title:{title}"')
    assert (code, output) == (0, b"Uninstall Font : E2eAcme ???\r\r\n" + b"Uninstall OK : E2eAcme ???\r\r\n")
    assert title not in [name for name, *_ in wine.values()]
