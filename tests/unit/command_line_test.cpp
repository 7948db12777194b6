#include <gtest/gtest.h>

#include "app/typeloader_command_line.h"
#include "platform/process.h"
#include "test_support.h"

namespace {

struct ParseCase {
    const char* description;
    std::vector<String> arguments;  // after the program name
    String title;
    bool uninstall;
};

// Names the row and its arguments in test output instead of dumping its bytes.
void PrintTo(const ParseCase& row, std::ostream* out) {
    *out << row.description << ": arguments " << readable(row.arguments) << ", title " << readable(row.title)
         << (row.uninstall ? ", uninstall" : ", install");
}

class ParseArguments : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseArguments, SettlesTitleAndJob) {
    std::vector<String> arguments{u"Typeloader.exe"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    CommandChoice choice = parse_arguments(arguments);
    EXPECT_EQ(choice.title, GetParam().title);
    EXPECT_EQ(choice.uninstall, GetParam().uninstall);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ParseArguments,
    testing::Values(
        ParseCase{"nothing", {}, u"", false},
        ParseCase{"uninstall alone", {u"/uninstall"}, u"", true},
        ParseCase{"upper case title", {u"/TITLE:Acme"}, u"Acme", false},
        ParseCase{"dash mixed case", {u"-Title:Acme"}, u"Acme", false},
        ParseCase{"empty title", {u"/title:"}, u"", false},
        ParseCase{"last title wins", {u"/title:A", u"/title:B"}, u"B", false},
        ParseCase{"last empty title wins", {u"/title:A", u"/title:"}, u"", false},
        ParseCase{"uninstall first", {u"/uninstall", u"/title:Acme"}, u"Acme", true},
        ParseCase{"uninstall last", {u"/title:Acme", u"-UNINSTALL"}, u"Acme", true},
        ParseCase{"near misses ignored", {u"/uninstallx", u"uninstall", u"--uninstall", u"/title:Acme"}, u"Acme", false},
        ParseCase{"space inside one argument", {u"/title:Acme Sans"}, u"Acme Sans", false},
        ParseCase{"second word ignored", {u"/title:Acme", u"Sans"}, u"Acme", false},
        ParseCase{"titles is no title option", {u"/titles:Acme"}, u"", false},
        ParseCase{"dotted capital I is not folded", {u"/T\u0130TLE:Acme"}, u"", false},
        ParseCase{"title keeps case and units", {u"/title:  aB\u00e9\u4e2d\U0001F600 "}, u"  aB\u00e9\u4e2d\U0001F600 ", false},
        ParseCase{"short argument", {u"/tit"}, u"", false},
        ParseCase{"title of colon text", {u"/title:/title:X"}, u"/title:X", false},
        ParseCase{"non-ASCII look-alike of T", {u"/\u0422itle:Acme"}, u"", false},
        // Letters that Unicode case folding maps onto ASCII letters of the
        // option words: long s onto s, Kelvin sign onto k, dotless i.
        ParseCase{"long s in uninstall is not folded", {u"/unin\u017Ftall", u"/title:Acme"}, u"Acme", false},
        ParseCase{"dotless i in title is not folded", {u"/t\u0131tle:Acme"}, u"", false},
        ParseCase{"Kelvin sign is no letter of an option", {u"/uninstall\u212A", u"/title:\u212A"}, u"\u212A", false}),
    [](const testing::TestParamInfo<ParseCase>& info) {
        std::string name = info.param.description;
        for (char& c : name) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(ParseArguments, ProgramNameIsNeverAnOption) {
    EXPECT_EQ(parse_arguments({u"/title:Self"}).title, u"");
    EXPECT_EQ(parse_arguments({}).title, u"");
}

class RunTypeloader : public testing::Test {
protected:
    void SetUp() override { reset_machine(); }
    void use_arguments(std::vector<String> arguments) {
        arguments.insert(arguments.begin(), u"Typeloader.exe");
        memory_machine().process.arguments = arguments;
    }
};

TEST_F(RunTypeloader, UsageWithoutTitle) {
    use_arguments({u"/uninstall"});
    EXPECT_EQ(run_typeloader(), 1);
    EXPECT_EQ(memory_machine().output.console,
              console_lines({"Usage : Typeloader [/uninstall] </title:title_string>"}));
    EXPECT_EQ(memory_calls_in_total(), memory_calls_of(Operation::restrict_dll_search));
}

TEST_F(RunTypeloader, UsageWhenCommandLineCannotBeSplit) {
    memory_machine().process.arguments.reset();
    EXPECT_EQ(run_typeloader(), 1);
    EXPECT_EQ(memory_machine().output.console,
              console_lines({"Usage : Typeloader [/uninstall] </title:title_string>"}));
}

TEST_F(RunTypeloader, FatalWithoutModuleHandle) {
    memory_machine().process.module_handle = false;
    use_arguments({u"/title:Acme"});
    EXPECT_EQ(run_typeloader(), 1);
    EXPECT_EQ(memory_machine().output.console, "Fatal Error: GetModuleHandle failed\r\n");
    EXPECT_EQ(memory_machine().process.error_mode, 0u);
}

TEST_F(RunTypeloader, RestrictsDllSearchBeforeAnythingElse) {
    use_arguments({u"/title:Acme"});
    EXPECT_EQ(run_typeloader(), 0);
    EXPECT_GT(memory_calls_in_total(), 1u);
    EXPECT_EQ(memory_machine().first_call, Operation::restrict_dll_search);
}

TEST_F(RunTypeloader, StopsWhenDllSearchCannotBeRestricted) {
    memory_machine().failures[{Operation::restrict_dll_search}] = status_access_denied;
    use_arguments({u"/title:Acme"});
    memory_font_values() = {{u"Acme Sans", registry_string_type, u"x"}};
    EXPECT_EQ(run_typeloader(), 1);
    EXPECT_EQ(memory_machine().output.console, "Fatal Error: SetDefaultDllDirectories failed\r\n");
    EXPECT_EQ(memory_calls_in_total(), 1u);
    EXPECT_EQ(memory_calls_of(Operation::restrict_dll_search), 1u);
    EXPECT_EQ(memory_machine().process.error_mode, 0u);
}

TEST_F(RunTypeloader, QuietsErrorModeAndRunsInstall) {
    use_arguments({u"/title:Acme"});
    EXPECT_EQ(run_typeloader(), 0);
    EXPECT_EQ(memory_machine().process.error_mode, quiet_error_mode_flags);
    EXPECT_EQ(memory_machine().output.console, console_lines({"Install Font : Acme"}));
}

TEST_F(RunTypeloader, RunsUninstallAndExitsZeroEvenWhenEverythingFails) {
    use_arguments({u"-uninstall", u"/title:Acme"});
    memory_font_values() = {{u"Acme Sans", registry_string_type, u"x"}};
    memory_machine().failures[{Operation::delete_value, u"Acme Sans"}] = status_access_denied;
    EXPECT_EQ(run_typeloader(), 0);
    EXPECT_EQ(memory_machine().output.console,
              console_lines({"Uninstall Font : Acme", "Uninstall FAIL : Acme Sans"}));
}

}  // namespace
