#include <gtest/gtest.h>

#include "deploy/package_entry.h"
#include "deploy/snapshot.h"
#include "test_support.h"
#include "windows_split.h"

namespace {

template <typename Row>
std::string row_name(const testing::TestParamInfo<Row>& info) {
    std::string name = info.param.description;
    for (char& c : name) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

TEST(EntryKey, UnderTheUninstallKey) {
    EXPECT_EQ(entry_key_path(u"Acme"), u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Typeloader Acme");
}

struct TitleCase {
    const char* description;
    String title;
};

class UninstallCommand : public testing::TestWithParam<TitleCase> {};

// Windows' split of the command gives the program, the job word and the title back.
TEST_P(UninstallCommand, SplitsBackUnchanged) {
    const String program = u"C:\\Program Files\\Typeloader\\Typeloader-Deploy.exe";
    EXPECT_EQ(split_like_windows(uninstall_command(program, GetParam().title)),
              (std::vector<String>{program, u"uninstall", GetParam().title}));
}

INSTANTIATE_TEST_SUITE_P(Table, UninstallCommand,
                         testing::Values(TitleCase{"spaces", u" Acme  Sans "}, TitleCase{"a quote", u"Acme \"Pro\""},
                                         TitleCase{"shell and path characters", u"|<>*?:/"}, TitleCase{"two quotes", u"\"\""}),
                         row_name<TitleCase>);

TEST(EntryValues, EveryValueInOrder) {
    const String command = u"\"C:\\K\\D.exe\" uninstall \"Ab\"";
    const std::string one("\1\0\0\0", 4);
    const RegistryValue expected[] = {
        {u"DisplayName", registry_string_type, std::string("A\0b\0\0\0", 6)},
        {u"DisplayVersion", registry_string_type, registry_string_data(u"1.2")},
        {u"InstallDate", registry_string_type, registry_string_data(u"20240307")},
        {u"EstimatedSize", registry_dword_type, std::string("\2\0\0\0", 4)},
        {u"UninstallString", registry_string_type, registry_string_data(command)},
        {u"QuietUninstallString", registry_string_type, registry_string_data(command)},
        {u"NoModify", registry_dword_type, one},
        {u"NoRepair", registry_dword_type, one},
        {u"TypeloaderTitle", registry_string_type, registry_string_data(u"Ab")}};
    EXPECT_EQ(entry_values({u"Ab", u"1.2", u"20240307", 1025, u"C:\\K\\D.exe"}), std::vector<RegistryValue>(std::begin(expected), std::end(expected)));
    std::vector<RegistryValue> unversioned = entry_values({u"Ab", u"", u"20240307", 1025, u"C:\\K\\D.exe"});
    EXPECT_EQ(unversioned.size(), 8u);
    EXPECT_EQ(unversioned[1].name, u"InstallDate");
}

struct SizeCase {
    const char* description;
    uint64_t font_bytes;
    std::string data;
};

class EstimatedSize : public testing::TestWithParam<SizeCase> {};

TEST_P(EstimatedSize, KibibytesRoundedUp) {
    EXPECT_EQ(entry_values({u"A", u"", u"", GetParam().font_bytes, u"D"})[2].data, GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EstimatedSize,
    testing::Values(SizeCase{"nothing", 0, std::string(4, '\0')}, SizeCase{"one byte", 1, std::string("\1\0\0\0", 4)},
                    SizeCase{"one KiB exactly", 1024, std::string("\1\0\0\0", 4)},
                    SizeCase{"one MiB and a byte", 1048577, std::string("\1\4\0\0", 4)},
                    SizeCase{"past a DWORD", uint64_t{1} << 42, "\xFF\xFF\xFF\xFF"}),
    row_name<SizeCase>);

TEST(InstallDate, YearMonthDayPadded) {
    EXPECT_EQ(install_date_text({2024, 3, 7}), u"20240307");
    EXPECT_EQ(install_date_text({2025, 12, 31}), u"20251231");
    EXPECT_EQ(install_date_text({999, 1, 1}), u"09990101");
}

RegistryValue text(StringView name, StringView data) { return {String(name), registry_string_type, registry_string_data(data)}; }

struct EntryCase {
    const char* description;
    std::vector<RegistryValue> expected, actual;
    std::vector<String> differences;
    bool own;  // actual holds the mark
};

class EntryComparison : public testing::TestWithParam<EntryCase> {};

TEST_P(EntryComparison, NamesWhatDiffersAndFindsTheMark) {
    EXPECT_EQ(entry_differences(GetParam().expected, GetParam().actual), GetParam().differences);
    EXPECT_EQ(is_own_entry(GetParam().actual), GetParam().own);
}

const RegistryValue mark = text(u"TypeloaderTitle", u"A");
const RegistryValue date = text(u"InstallDate", u"20240307");
const RegistryValue name_e = text(u"\u00C9tat", u"x");

INSTANTIATE_TEST_SUITE_P(
    Table, EntryComparison,
    testing::Values(
        EntryCase{"the same", {mark, date, name_e}, {mark, date, name_e}, {}, true},
        EntryCase{"names in another case, over all of Unicode",
                  {mark, date, name_e}, {text(u"TYPELOADERTITLE", u"A"), text(u"installdate", u"20240307"), text(u"\u00E9TAT", u"x")}, {}, true},
        EntryCase{"InstallDate differs", {mark, date}, {mark, text(u"InstallDate", u"20250101")}, {}, true},
        EntryCase{"InstallDate missing", {mark, date}, {mark}, {}, true},
        EntryCase{"InstallDate not expected", {mark}, {mark, date}, {}, true},
        EntryCase{"data differs", {mark, name_e}, {mark, text(u"\u00C9tat", u"y")}, {u"\u00C9tat"}, true},
        EntryCase{"type differs", {mark, name_e}, {mark, {u"\u00C9tat", registry_expand_string_type, name_e.data}}, {u"\u00C9tat"}, true},
        EntryCase{"missing, the mark too", {mark, name_e}, {}, {u"TypeloaderTitle", u"\u00C9tat"}, false},
        EntryCase{"one more", {mark}, {mark, name_e}, {u"\u00C9tat"}, true},
        EntryCase{"Kelvin sign is no K", {text(u"K", u"x")}, {text(u"\u212A", u"x")}, {u"K", u"\u212A"}, false},
        EntryCase{"a longer name is no mark", {}, {text(u"TypeloaderTitle2", u"A")}, {u"TypeloaderTitle2"}, false}),
    row_name<EntryCase>);

}  // namespace
