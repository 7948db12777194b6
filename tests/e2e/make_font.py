"""Makes a small, valid TrueType font with a family name of its own."""
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen


# 2026-01-01 in the head table's count of seconds since 1904.
FIXED_TIMESTAMP = 3850329600


def square():
    pen = TTGlyphPen(None)
    pen.moveTo((100, 0))
    pen.lineTo((100, 700))
    pen.lineTo((500, 700))
    pen.lineTo((500, 0))
    pen.closePath()
    return pen.glyph()


def make_font(path, family, style="Regular"):
    builder = FontBuilder(1000, isTTF=True)
    names = [".notdef", "space", "A"]
    builder.setupGlyphOrder(names)
    builder.setupCharacterMap({0x20: "space", 0x41: "A"})
    empty = TTGlyphPen(None).glyph()
    builder.setupGlyf({".notdef": square(), "space": empty, "A": square()})
    builder.setupHorizontalMetrics({name: (600, 100) for name in names})
    builder.setupHorizontalHeader(ascent=800, descent=-200)
    builder.setupNameTable({"familyName": family, "styleName": style})
    builder.setupOS2(sTypoAscender=800, sTypoDescender=-200, usWinAscent=800, usWinDescent=200)
    builder.setupPost()
    # fontTools stamps the head table with the current second: fonts made a
    # second apart would differ. The same arguments must give the same bytes.
    builder.font["head"].created = builder.font["head"].modified = FIXED_TIMESTAMP
    builder.font.recalcTimestamp = False
    builder.save(path)


if __name__ == "__main__":
    make_font(sys.argv[1], sys.argv[2])
