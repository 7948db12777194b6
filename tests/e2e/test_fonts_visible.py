"""After an install, a Windows program started afterwards can use the font."""
from make_font import make_font

FAMILY = "Typeloader Probe Sans"


def test_installed_family_becomes_visible_to_gdi(wine):
    assert FAMILY not in wine.families()
    assert wine.families(), "GDI lists no family at all"

    wine.font_dir.mkdir(exist_ok=True)
    make_font(str(wine.font_dir / "ProbeSans.ttf"), FAMILY)
    assert wine.run("/title:E2eProbe") == (
        0, b"Install Font : E2eProbe\r\r\nInstall OK : E2eProbe ProbeSans\r\r\n")
    assert wine.strings()["E2eProbe ProbeSans"] == "C:\\windows\\Fonts\\ProbeSans.ttf"

    assert FAMILY in wine.families()
