"""Makes a small, valid TrueType font with a family name of its own."""
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen


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
    builder.save(path)


if __name__ == "__main__":
    make_font(sys.argv[1], sys.argv[2])
