#include <gtest/gtest.h>

#include "fonts/jobs.h"
#include "test_support.h"

namespace {

constexpr uint32_t expand_string_type = 2;
constexpr uint32_t binary_type = 3;
constexpr uint32_t multi_string_type = 7;

class Uninstall : public testing::Test {
protected:
    void SetUp() override { reset_machine(); }

    std::vector<String> remaining_names() {
        std::vector<String> names;
        for (const MemoryValue& value : memory_font_values()) names.push_back(value.name);
        return names;
    }
};

TEST_F(Uninstall, DeletesStringValuesBeginningWithTitleInScanOrder) {
    memory_font_values() = {
        {u"Wine Courier", registry_string_type, u"coure.fon"},
        {u"Acme Serif", registry_string_type, u"C:\\Windows\\Fonts\\Serif.ttf"},
        {u"acme Mono", registry_string_type, u"x"},
        {u"AcmeCorp Mono", registry_string_type, u"x"},
        {u"Old Acme Sans", registry_string_type, u"x"},
        {u"Acme Bold", expand_string_type, u"x"},
        {u"Acme Multi", multi_string_type, u"x"},
        {u"Acme Blob", binary_type, u"x"},
        {u"Acme", registry_string_type, u"x"},
        {u"Acme Sans", registry_string_type, u"x"},
        {u"Acm", registry_string_type, u"x"},
    };
    uninstall_fonts(u"Acme");
    EXPECT_EQ(memory_machine().output.console,
              console_lines({"Uninstall Font : Acme", "Uninstall OK : Acme Serif",
                             "Uninstall OK : AcmeCorp Mono", "Uninstall OK : Acme",
                             "Uninstall OK : Acme Sans"}));
    EXPECT_EQ(remaining_names(),
              (std::vector<String>{u"Wine Courier", u"acme Mono", u"Old Acme Sans", u"Acme Bold",
                                   u"Acme Multi", u"Acme Blob", u"Acm"}));
}

// Deleting during the scan would shift the indexes and skip every second match.
TEST_F(Uninstall, ScansEverythingBeforeDeletingAnything) {
    memory_font_values() = {{u"T a", registry_string_type, u""},
                            {u"T b", registry_string_type, u""},
                            {u"T c", registry_string_type, u""}};
    uninstall_fonts(u"T");
    EXPECT_TRUE(remaining_names().empty());
}

TEST_F(Uninstall, NothingMatchingGivesHeaderOnly) {
    memory_font_values() = {{u"Other", registry_string_type, u""}};
    uninstall_fonts(u"Acme");
    EXPECT_EQ(memory_machine().output.console, console_lines({"Uninstall Font : Acme"}));
    EXPECT_EQ(remaining_names(), std::vector<String>{u"Other"});
}

TEST_F(Uninstall, NonLatinTitleMatchesExactUnitsAndPrintsQuestionMarks) {
    String title = u"\u4e2d\U0001F600";
    memory_font_values() = {{title + u" Sans", registry_string_type, u""},
                            {u"\u4e2d Sans", registry_string_type, u""}};
    uninstall_fonts(title);
    EXPECT_EQ(memory_machine().output.console,
              console_lines({"Uninstall Font : ???", "Uninstall OK : ??? Sans"}));
    EXPECT_EQ(remaining_names(), std::vector<String>{u"\u4e2d Sans"});
}

TEST_F(Uninstall, NameWithANullUnitNeverLeadsToDeletingAnotherValue) {
    const String with_null = String(u"Acme") + u'\0' + u"x";
    memory_font_values() = {{with_null, registry_string_type, u""},
                            {u"Acme", binary_type, u"not ours"},
                            {u"Acme Sans", registry_string_type, u""}};
    uninstall_fonts(u"Acme");
    EXPECT_EQ(memory_machine().output.console,
              console_lines({"Uninstall Font : Acme", "Uninstall OK : Acme Sans"}));
    EXPECT_EQ(remaining_names(), (std::vector<String>{with_null, u"Acme"}));
}

TEST_F(Uninstall, NameLongerThanTheBufferIsSkipped) {
    String too_long = u"Acme " + String(value_name_capacity, u'x');
    String longest = u"Acme " + String(value_name_capacity - 5, u'y');
    memory_font_values() = {{too_long, registry_string_type, u""}, {longest, registry_string_type, u""}};
    uninstall_fonts(u"Acme");
    EXPECT_EQ(remaining_names(), std::vector<String>{too_long});
    EXPECT_EQ(memory_machine().output.console,
              console_lines({"Uninstall Font : Acme", "Uninstall OK : " + std::string(longest.begin(), longest.end())}));
}

}  // namespace
