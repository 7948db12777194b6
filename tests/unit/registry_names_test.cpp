#include <gtest/gtest.h>

#include "deploy/registry_names.h"
#include "platform/deploy/registry_keys.h"
#include "platform/deploy/registry_values.h"
#include "test_support.h"

namespace {

struct NamePair {
    const char* description;
    String left;
    String right;
    bool same;
};

void PrintTo(const NamePair& row, std::ostream* out) { *out << row.description; }

class RegistryNames : public testing::TestWithParam<NamePair> {};

// Each pair both ways round: the comparison must not depend on the order.
TEST_P(RegistryNames, CompareAsTheRegistryDoes) {
    EXPECT_EQ(same_registry_name(GetParam().left, GetParam().right), GetParam().same)
        << readable(GetParam().left) << " against " << readable(GetParam().right);
    EXPECT_EQ(same_registry_name(GetParam().right, GetParam().left), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryNames,
    testing::Values(NamePair{"ASCII case", u"Acme Foo", u"ACME foo", true},
                    NamePair{"ASCII letters differ", u"Acme Foo", u"Acme Fop", false},
                    NamePair{"@ and [ beside the capitals stay apart from ` and {", u"@[", u"`{", false},
                    NamePair{"Latin-1 e acute", u"\u00E9lan Foo", u"\u00C9LAN Foo", true},
                    NamePair{"y diaeresis and its capital outside Latin-1", u"\u00FF", u"\u0178", true},
                    NamePair{"multiplication sign is no letter", u"\u00D7", u"\u00F7", false},
                    NamePair{"a macron, every other unit of Latin Extended-A", u"\u0101\u0103", u"\u0100\u0102", true},
                    NamePair{"A macron and A breve stay apart", u"\u0100", u"\u0102", false},
                    NamePair{"small sigma and capital", u"\u03C3", u"\u03A3", true},
                    NamePair{"final sigma and capital", u"\u03C2", u"\u03A3", false},
                    NamePair{"final sigma and small sigma", u"\u03C2", u"\u03C3", false},
                    NamePair{"Cyrillic zhe", u"\u0436", u"\u0416", true},
                    NamePair{"fullwidth a", u"\uFF41", u"\uFF21", true},
                    NamePair{"micro sign and Greek capital mu: mu lowercases to another letter", u"\u00B5", u"\u039C", false},
                    NamePair{"Kelvin sign and k", u"\u212A", u"k", false},
                    NamePair{"Kelvin sign and K: K is its own capital", u"\u212A", u"K", false},
                    NamePair{"long s and s", u"\u017F", u"s", false},
                    NamePair{"long s and S", u"\u017F", u"S", false},
                    NamePair{"dotless i and i", u"\u0131", u"i", false},
                    NamePair{"dotless i and I", u"\u0131", u"I", false},
                    NamePair{"capital I with dot and i", u"\u0130", u"i", false},
                    NamePair{"the same surrogate pair", u"x\U00010400", u"X\U00010400", true},
                    NamePair{"Deseret pair: surrogates are not mapped", u"\U00010428", u"\U00010400", false},
                    NamePair{"last unit", u"\uFFFF", u"\uFFFF", true},
                    NamePair{"null units count", String(u"a\0b", 3), String(u"A\0B", 3), true},
                    NamePair{"unequal lengths", u"Acme", u"Acme ", false},
                    NamePair{"empty and empty", u"", u"", true}));

struct PrefixCase {
    const char* description;
    String name;
    String prefix;
    bool begins;
};

void PrintTo(const PrefixCase& row, std::ostream* out) { *out << row.description; }

class RegistryPrefixes : public testing::TestWithParam<PrefixCase> {};

TEST_P(RegistryPrefixes, BeginsWithAsTheRegistryCompares) {
    EXPECT_EQ(registry_name_begins_with(GetParam().name, GetParam().prefix), GetParam().begins)
        << readable(GetParam().name) << " / " << readable(GetParam().prefix);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryPrefixes,
    testing::Values(PrefixCase{"ASCII case", u"Acme Foo", u"ACME", true},
                    PrefixCase{"Latin-1 case", u"\u00E9lan Foo", u"\u00C9lan", true},
                    PrefixCase{"whole name", u"Acme", u"acme", true},
                    PrefixCase{"empty prefix", u"Acme", u"", true},
                    PrefixCase{"longer than the name", u"Acme", u"Acme ", false},
                    PrefixCase{"differs at the end", u"Acme Foo", u"Acme G", false},
                    PrefixCase{"differs at the start", u"Bcme Foo", u"Acme", false},
                    PrefixCase{"Kelvin sign is no K", u"\u212Aelvin", u"K", false}));

}  // namespace

// The in-memory machine's keys follow the same comparison: the entry key an
// install made under one spelling of the title is the uninstall's under another.
TEST(MemoryRegistryKeys, OneKeyWhateverTheCaseOfItsPath) {
    reset_machine();
    const String uninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    RegistryKey made, opened;
    ASSERT_EQ(create_machine_key(uninstall + u"Typeloader \u00E4cme", made), status_success);
    ASSERT_EQ(put_value(made, {u"DisplayName", registry_string_type, std::string("A\0\0\0", 4)}), status_success);
    ASSERT_EQ(open_machine_key(uninstall + u"TYPELOADER \u00C4CME", opened), status_success);
    std::vector<RegistryValue> values;
    EXPECT_EQ(read_all_values(opened, values), status_success);
    EXPECT_EQ(values.size(), 1u);
    EXPECT_EQ(delete_machine_key(uninstall + u"typeloader \u00C4cme"), status_success);
    EXPECT_EQ(open_machine_key(uninstall + u"Typeloader \u00E4cme", opened), status_file_not_found);
    EXPECT_EQ(delete_machine_key(uninstall + u"Typeloader \u00E4cme"), status_file_not_found);
}
