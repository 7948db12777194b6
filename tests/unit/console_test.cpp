#include <gtest/gtest.h>

#include "common/console_text.h"
#include "platform/console.h"
#include "test_support.h"

namespace {

struct BytesCase {
    String text;
    std::string bytes;
};

TEST(ConsoleBytes, MapsUnitsAsTheRuntimeDoes) {
    const BytesCase cases[] = {
        {u"", ""},
        {u"Acme", "Acme"},
        {u"caf\u00e9 \u00ff", "caf\xe9 \xff"},
        {u"\u0100\u4e2d", "??"},
        {u"a\U0001F600b", "a??b"},          // a surrogate pair is two units
        {String(1, u'\xD800') + u"x", "?x"},  // a lone surrogate is one
        {u"one\ntwo", "one\r\ntwo"},
        {u"tab\tquote\"", "tab\tquote\""},
    };
    for (const BytesCase& c : cases) {
        SCOPED_TRACE("text " + readable(c.text));
        EXPECT_EQ(console_bytes(c.text), c.bytes);
    }
}

TEST(ConsoleSafeText, KeepsLatin1AndReplacesTheRest) {
    EXPECT_EQ(console_safe_text(u"\u00e9\u0100a\U0001F600"), u"\u00e9?a??");
}

TEST(ConsoleLine, EndsWithCarriageReturnAndLineEnd) {
    reset_machine();
    write_console_line(u"Install OK : Acme \u00c5\u0416");
    EXPECT_EQ(memory_machine().output.console, "Install OK : Acme \xc5?\r\r\n");
}

}  // namespace
