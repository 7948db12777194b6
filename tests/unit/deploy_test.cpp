#include <gtest/gtest.h>

#include <functional>

#include <algorithm>

#include "app/typeloader_command_line.h"
#include "app/run_deploy.h"
#include "deploy/command_line.h"
#include "deploy/deploy_jobs.h"
#include "deploy/log.h"
#include "deploy/package_entry.h"
#include "deploy/plan.h"
#include "fonts/file_title.h"
#include "test_support.h"
#include "windows_split.h"

namespace {

const String font_folder = u"C:\\Tools\\Font";
const String fonts = u"C:\\Windows\\Fonts";
const String log_folder = u"C:\\Windows\\Logs\\Typeloader";
// A whole font of one table, 'glyf' holding "glyphs", with its checksum;
// bytes appended after it leave it whole.
const std::string font_bytes = std::string("\0\1\0\0\0\1\0\0\0\0\0\0", 12) + "glyf" + "\xCF\xDF\x79\x70" +
                               std::string("\0\0\0\x1C\0\0\0\x06", 8) + "glyphs";

// Typeloader.exe in memory: its real start-up and jobs, on the command line
// the deploy jobs gave it.
uint32_t run_real_typeloader(const String& program, const String& command_line, std::string& output) {
    MemoryProcess deploy = memory_machine().process;
    memory_machine().process.executable_path = program;
    memory_machine().process.arguments = split_like_windows(command_line);
    memory_machine().output.console.clear();
    const int exit_code = run_typeloader();
    output = memory_machine().output.console;
    memory_machine().process = deploy;
    return static_cast<uint32_t>(exit_code);
}

class Deploy : public testing::Test {
protected:
    void SetUp() override {
        reset_machine();
        add_memory_folder(font_folder);
        add_memory_file(u"C:\\Tools\\Typeloader.exe", "MZ");
        add_memory_folder(u"C:\\Windows\\Logs");
        add_memory_folder(log_folder);
        memory_machine().programs.runner = run_real_typeloader;
        open_deploy_log(log, refusal);
    }

    void add_font(const String& name, const std::string& contents = font_bytes) {
        add_memory_file(font_folder + u"\\" + name, contents);
    }

    int install(const String& title, const String& version = String(), bool whatif = false) {
        return exit_code_of(deploy_install(log, {DeployJob::install, title, version, whatif}));
    }
    int uninstall(const String& title, bool whatif = false) {
        return exit_code_of(deploy_uninstall(log, {DeployJob::uninstall, title, String(), whatif}));
    }

    bool ran_typeloader() { return memory_calls_of(Operation::run_program) > 0; }

    // The whole machine state the jobs may change.
    std::string state() {
        std::string text;
        for (const MemoryValue& value : memory_font_values()) {
            text += readable(value.name) + "=" + std::to_string(value.type) + ":" + readable(value.data) + "\n";
        }
        for (const MemoryEntry& entry : memory_machine().files.entries) {
            if (entry.path.starts_with(log_folder)) continue;
            text += readable(entry.path) + (entry.is_folder ? "/" : "=" + entry.contents) + "\n";
        }
        for (const RestartOperation& operation : memory_machine().files.restart_operations) {
            text += "restart " + readable(operation.from) + ">" + readable(operation.to) + "\n";
        }
        for (const auto& [path, values] : memory_machine().registry.keys) {
            text += readable(path) + "\n";
            for (const MemoryValue& value : values) text += "  " + readable(value.name) + "=" + readable(value.data) + "\n";
        }
        return text;
    }

    bool output_mentions(const std::string& fragment) {
        for (const String& line : memory_machine().output.lines) {
            if (line.find(ascii(fragment)) != String::npos) return true;
        }
        return false;
    }

    DeployLog log;
    String refusal;
};

struct ChoiceCase {
    const char* description;
    std::vector<String> arguments;  // after the program name
    DeployJob job;
    String version = {};
    bool whatif = false;
};

void PrintTo(const ChoiceCase& row, std::ostream* out) { *out << row.description << " " << readable(row.arguments); }

class DeployArguments : public testing::TestWithParam<ChoiceCase> {};

TEST_P(DeployArguments, JobTitleAndOptionsOrUsage) {
    std::vector<String> arguments{u"Typeloader-Deploy.exe"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    DeployChoice choice = parse_deploy_arguments(arguments);
    EXPECT_EQ(choice.job, GetParam().job);
    EXPECT_EQ(choice.title, GetParam().job == DeployJob::none ? String() : arguments[2]);
    EXPECT_EQ(choice.version, GetParam().version);
    EXPECT_EQ(choice.whatif, GetParam().whatif);
}

const String longest_title(key_name_capacity - entry_key_prefix.size(), u'x');

INSTANTIATE_TEST_SUITE_P(
    Table, DeployArguments,
    testing::Values(ChoiceCase{"install", {u"install", u"Acme"}, DeployJob::install},
                    ChoiceCase{"case of the job word", {u"UnInstall", u"Acme Sans"}, DeployJob::uninstall},
                    ChoiceCase{"nothing", {}, DeployJob::none},
                    ChoiceCase{"no title", {u"install"}, DeployJob::none},
                    ChoiceCase{"empty title", {u"install", u""}, DeployJob::none},
                    ChoiceCase{"two titles", {u"install", u"Acme", u"Sans"}, DeployJob::none},
                    ChoiceCase{"one number", {u"install", u"A", u"/version:1"}, DeployJob::install, u"1"},
                    ChoiceCase{"four numbers", {u"install", u"A", u"/version:1.2.3.4"}, DeployJob::install, u"1.2.3.4"},
                    ChoiceCase{"the largest number", {u"install", u"A", u"/version:65535.0"}, DeployJob::install, u"65535.0"},
                    ChoiceCase{"leading zeros kept", {u"install", u"A", u"/version:0001"}, DeployJob::install, u"0001"},
                    ChoiceCase{"empty version", {u"install", u"A", u"/version:"}, DeployJob::none},
                    ChoiceCase{"trailing dot", {u"install", u"A", u"/version:1."}, DeployJob::none},
                    ChoiceCase{"leading dot", {u"install", u"A", u"/version:.1"}, DeployJob::none},
                    ChoiceCase{"empty middle number", {u"install", u"A", u"/version:1..2"}, DeployJob::none},
                    ChoiceCase{"five numbers", {u"install", u"A", u"/version:1.2.3.4.5"}, DeployJob::none},
                    ChoiceCase{"number over 65535", {u"install", u"A", u"/version:65536"}, DeployJob::none},
                    ChoiceCase{"digits past 64 bits", {u"install", u"A", u"/version:99999999999999999999"}, DeployJob::none},
                    ChoiceCase{"2^64 + 1, 1 once wrapped", {u"install", u"A", u"/version:18446744073709551617"}, DeployJob::none},
                    ChoiceCase{"letter after digits", {u"install", u"A", u"/version:1a"}, DeployJob::none},
                    ChoiceCase{"minus sign", {u"install", u"A", u"/version:-1"}, DeployJob::none},
                    ChoiceCase{"plus sign", {u"install", u"A", u"/version:+1"}, DeployJob::none},
                    ChoiceCase{"space before a dot", {u"install", u"A", u"/version:1 .2"}, DeployJob::none},
                    ChoiceCase{"full-width digits", {u"install", u"A", u"/version:\uFF11.\uFF12"}, DeployJob::none},
                    ChoiceCase{"options in either order and case", {u"install", u"A", u"/WhatIf", u"/VERSION:1.2"}, DeployJob::install, u"1.2", true},
                    ChoiceCase{"whatif on uninstall", {u"uninstall", u"A", u"/whatif"}, DeployJob::uninstall, u"", true},
                    ChoiceCase{"whatif twice", {u"install", u"A", u"/whatif", u"/whatif"}, DeployJob::none},
                    ChoiceCase{"version twice", {u"install", u"A", u"/version:1", u"/version:1"}, DeployJob::none},
                    ChoiceCase{"version on uninstall", {u"uninstall", u"A", u"/version:1"}, DeployJob::none},
                    ChoiceCase{"unknown option", {u"install", u"A", u"/quiet"}, DeployJob::none},
                    ChoiceCase{"version without its colon", {u"install", u"A", u"/version"}, DeployJob::none},
                    ChoiceCase{"option before the title", {u"install", u"/whatif", u"A"}, DeployJob::none},
                    ChoiceCase{"backslash in the title", {u"install", u"Acme\\Sans"}, DeployJob::none},
                    ChoiceCase{"title at the key name's limit", {u"install", longest_title}, DeployJob::install},
                    ChoiceCase{"title one over it", {u"install", longest_title + u"x"}, DeployJob::none},
                    ChoiceCase{"unknown job", {u"remove", u"Acme"}, DeployJob::none},
                    ChoiceCase{"Typeloader's options", {u"/uninstall", u"/title:Acme"}, DeployJob::none},
                    ChoiceCase{"a non-ASCII letter is not folded", {u"\u0130nstall", u"Acme"}, DeployJob::none},
                    ChoiceCase{"CR in the title", {u"install", u"Acme\rInstall FAIL"}, DeployJob::none},
                    ChoiceCase{"LF in the title", {u"uninstall", u"Acme\n"}, DeployJob::none},
                    ChoiceCase{"TAB in the title", {u"install", u"\tAcme"}, DeployJob::none},
                    ChoiceCase{"U+0000 inside the title", {u"install", String(u"Ac\0me", 5)}, DeployJob::none},
                    ChoiceCase{"U+001F in the title", {u"install", u"Acme\u001F"}, DeployJob::none},
                    ChoiceCase{"DEL in the title", {u"install", u"Acme\u007F"}, DeployJob::none},
                    ChoiceCase{"U+0080 opens the C1 controls", {u"install", u"Acme\u0080"}, DeployJob::none},
                    ChoiceCase{"U+009F closes them", {u"install", u"Acme\u009F"}, DeployJob::none},
                    ChoiceCase{"Arabic letter mark", {u"install", u"Acme\u061C"}, DeployJob::none},
                    ChoiceCase{"left-to-right mark", {u"install", u"Acme\u200E"}, DeployJob::none},
                    ChoiceCase{"right-to-left mark", {u"install", u"Acme\u200F"}, DeployJob::none},
                    ChoiceCase{"line separator", {u"install", u"Acme\u2028"}, DeployJob::none},
                    ChoiceCase{"paragraph separator", {u"install", u"Acme\u2029"}, DeployJob::none},
                    ChoiceCase{"left-to-right embedding", {u"install", u"Acme\u202A"}, DeployJob::none},
                    ChoiceCase{"right-to-left override", {u"install", u"\u202EAcme"}, DeployJob::none},
                    ChoiceCase{"left-to-right isolate", {u"install", u"Acme\u2066"}, DeployJob::none},
                    ChoiceCase{"pop directional isolate", {u"install", u"Acme\u2069"}, DeployJob::none},
                    ChoiceCase{"neighbours of the refused characters",
                               {u"install", u"~\u00A0\u061B\u061D\u200D\u2010\u2027\u202F\u2065\u206A"}, DeployJob::install},
                    ChoiceCase{"letters of other scripts and a surrogate pair",
                               {u"install", u"\u05D0\u0627\u0416\u4E2D\U0001F600"}, DeployJob::install},
                    ChoiceCase{"a plain space", {u"install", u"Acme Sans "}, DeployJob::install}));

TEST(QuoteArgument, SplitsBackUnchanged) {
    const String titles[] = {u"Acme",         u"Acme Sans",      u"a\"b",    u"ends\\",     u"ends\\\\",
                             u"\\\"",         u"% ^ & | < > !",  u"\"",      u"a\\b\\\\\"c", u"\u0416\u4E2D\U0001F600",
                             u"\ttab\t",      u"x\\ y",          u"\"\"",    u" "};
    for (const String& title : titles) {
        std::vector<String> split = split_like_windows(u"\"C:\\T\\Typeloader.exe\" " + quote_argument(u"/title:" + title));
        ASSERT_EQ(split.size(), 2u) << readable(title);
        EXPECT_EQ(split[1], u"/title:" + title) << readable(title);
    }
}

TEST(Ownership, TheTitleASpaceAndTheDataFileTitle) {
    struct Row {
        const char* description;
        String name, data;
        bool own;
    } rows[] = {
        {"what install writes", u"Acme Sans", u"C:\\Windows\\Fonts\\Sans.ttf", true},
        {"a bare file name", u"Acme Sans", u"Sans.ttf", true},
        {"only the last extension goes", u"Acme My.Font", u"C:\\F\\My.Font.ttf", true},
        {"longer title sharing the prefix", u"AcmeCorp Mono", u"C:\\Windows\\Fonts\\Mono.ttf", false},
        {"other data", u"Acme Sans", u"C:\\Windows\\Fonts\\Serif.ttf", false},
        {"file title differs in case", u"Acme Sans", u"C:\\Windows\\Fonts\\sans.ttf", false},
        {"title alone", u"Acme", u"C:\\Windows\\Fonts\\Acme.ttf", false},
        {"no space after the title", u"Acme-Sans", u"C:\\Windows\\Fonts\\Sans.ttf", false},
        {"another version of the title", u"Acme-v02 Sans", u"C:\\Windows\\Fonts\\Sans.ttf", false},
    };
    for (const Row& row : rows) EXPECT_EQ(is_own_registration(u"Acme", row.name, row.data), row.own) << row.description;
}

TEST(CmtraceRecord, FormatBiasAndOneLine) {
    LocalTime time{2026, 3, 7, 9, 5, 4, 32, -60};
    EXPECT_EQ(cmtrace_record(u"Install \u00E9\u4E2D", RecordType::warning, time, 412),
              "<![LOG[Install \xC3\xA9\xE4\xB8\xAD]LOG]!><time=\"09:05:04.032-060\" date=\"03-07-2026\" "
              "component=\"Typeloader-Deploy\" context=\"\" type=\"2\" thread=\"412\" file=\"\">\r\n");
    time.bias_minutes = 480;
    EXPECT_NE(cmtrace_record(u"x", RecordType::information, time, 1).find("time=\"09:05:04.032+480\""), std::string::npos);
    time.bias_minutes = 0;
    std::string record = cmtrace_record(u"a\r\nb]LOG]!>c", RecordType::error, time, 1);
    EXPECT_EQ(record.substr(0, 24), "<![LOG[a  b]LOG] !>c]LOG");
    EXPECT_NE(record.find("+000\""), std::string::npos);
    EXPECT_EQ(utf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

// The end of a log as runs leave it: each record as the log writes it.
std::string records(std::initializer_list<const char16_t*> messages) {
    std::string bytes;
    for (const char16_t* message : messages) bytes += cmtrace_record(message, RecordType::information, LocalTime{}, 1);
    return bytes;
}

TEST(UnfinishedRuns, TheRecordsAfterTheLastVerdict) {
    struct Row {
        const char* name;
        std::string tail;
        std::vector<std::string> unfinished;
    } rows[] = {
        {"a new log", "", {}},
        {"the last run gave its verdict", records({u"Command line: x install A", u"Installed and verified. Exit code 0."}), {}},
        {"the last run stopped after its first records",
         records({u"Installed and verified. Exit code 3010.", u"Command line: x install A", u"Install of the fonts in F under the title \"A\""}),
         {"Command line: x install A", "Install of the fonts in F under the title \"A\""}},
        {"two runs stopped in a row", records({u"Refused: nothing was changed. Exit code 1.", u"Command line: 1", u"Command line: 2"}),
         {"Command line: 1", "Command line: 2"}},
        {"the last record is Typeloader.exe's own exit code", records({u"Command line: 1", u"Typeloader.exe exit code 0."}),
         {"Command line: 1", "Typeloader.exe exit code 0."}},
        {"a tail cut inside a record", "]LOG]!><time=...>\r\n" + records({u"Command line: 1"}) + "<![LOG[Install of",
         {"Command line: 1"}},
    };
    for (const Row& row : rows) EXPECT_EQ(records_after_last_verdict(row.tail), row.unfinished) << row.name;
}

TEST(LogRotation, OnlyPastOneMebibyte) {
    EXPECT_FALSE(log_needs_rotation(1024 * 1024));
    EXPECT_TRUE(log_needs_rotation(1024 * 1024 + 1));
}

TEST_F(Deploy, CleanInstallThenNothingToChange) {
    memory_font_values() = {{u"Arial (TrueType)", registry_string_type, u"arial.ttf"}};
    add_font(u"Sans.ttf");
    add_font(u"Serif.TTF", font_bytes + "2");
    EXPECT_EQ(install(u"Acme"), 0);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Serif.TTF")->contents, font_bytes + "2");
    std::string installed = state();
    EXPECT_NE(installed.find("u\"Acme Serif\"=1:u\"C:\\u005CWindows"), std::string::npos) << installed;
    memory_machine().calls.clear();
    memory_machine().output.lines.clear();
    EXPECT_EQ(install(u"Acme"), 0);
    EXPECT_FALSE(ran_typeloader());
    EXPECT_EQ(state(), installed);
    EXPECT_TRUE(output_mentions("Nothing to change")) << readable(memory_machine().output.lines);
}

TEST_F(Deploy, ChangedFontIsInstalledAgain) {
    add_font(u"Sans.ttf");
    install(u"Acme");
    add_font(u"Sans.ttf", font_bytes + "v2");  // same title, new contents
    EXPECT_EQ(install(u"Acme"), 0);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Sans.ttf")->contents, font_bytes + "v2");
}

struct RefusalCase {
    const char* description;
    std::function<void()> arrange;
    const char* reason;  // a fragment of the refusal line
};

void PrintTo(const RefusalCase& row, std::ostream* out) { *out << row.description; }

class InstallRefusal : public Deploy, public testing::WithParamInterface<RefusalCase> {};

TEST_P(InstallRefusal, NothingChangesAndTheReasonIsNamed) {
    memory_font_values() = {{u"Arial (TrueType)", registry_string_type, u"arial.ttf"}};
    add_memory_file(fonts + u"\\arial.ttf", "windows' own");
    GetParam().arrange();
    std::string before = state();
    EXPECT_EQ(install(u"Acme"), 1);
    EXPECT_EQ(state(), before);
    EXPECT_FALSE(ran_typeloader());
    EXPECT_TRUE(output_mentions(GetParam().reason)) << readable(memory_machine().output.lines);
}

const auto add_good_font = [] { add_memory_file(font_folder + u"\\Good.ttf", font_bytes); };

INSTANTIATE_TEST_SUITE_P(
    Table, InstallRefusal,
    testing::Values(
        RefusalCase{"empty Font folder", [] { add_memory_file(font_folder + u"\\README.txt", "x"); }, "holds no *.ttf entry"},
        RefusalCase{"a folder", [] { add_good_font(); add_memory_folder(font_folder + u"\\Sub.ttf"); }, "Sub.ttf: it is a folder"},
        RefusalCase{"a link",
                    [] {
                        add_good_font();
                        add_memory_file(font_folder + u"\\leak.ttf", font_bytes);
                        find_memory_entry(font_folder + u"\\leak.ttf")->reparse_point = true;
                    },
                    "leak.ttf: it is a link"},
        RefusalCase{"a font users may change",
                    [] {
                        add_good_font();
                        ObjectSecurity security = private_object_security();
                        security.dacl.push_back({true, u"S-1-5-32-545", 0x2, 0});
                        memory_machine().security.objects[font_folder + u"\\Good.ttf"] = security;
                    },
                    "Good.ttf: Users (S-1-5-32-545) may change it"},
        RefusalCase{"not a font", [] { add_good_font(); add_memory_file(font_folder + u"\\Fake.ttf", "MZ\x90\x00"); },
                    "Fake.ttf: it is not a TrueType or OpenType font"},
        RefusalCase{"short-name match", [] { add_good_font(); add_memory_file(font_folder + u"\\Sans.ttfx", font_bytes); },
                    "Sans.ttfx: its name does not end in .ttf"},
        RefusalCase{"empty file title", [] { add_good_font(); add_memory_file(font_folder + u"\\.ttf", font_bytes); },
                    ".ttf: its file title is empty"},
        RefusalCase{"Windows' bare-name file with other contents",
                    [] { add_memory_file(font_folder + u"\\ARIAL.ttf", font_bytes); },
                    "holds another font, which the registration \"Arial (TrueType)\""},
        RefusalCase{"Windows' file, the Fonts folder not listable",
                    [] {
                        memory_machine().failures[{Operation::folder_entry_names}] = status_access_denied;
                        add_memory_file(font_folder + u"\\ARIAL.ttf", font_bytes);
                    },
                    "holds another font, which the registration \"Arial (TrueType)\""},
        RefusalCase{"another file answering to the name by its short name",
                    [] {
                        add_memory_file(fonts + u"\\Other Long Name.ttf", "other");
                        find_memory_entry(fonts + u"\\Other Long Name.ttf")->short_name = fonts + u"\\GOOD.TTF";
                        add_good_font();
                    },
                    "holds another font that no registration of this title refers to"},
        RefusalCase{"another title's file",
                    [] {
                        memory_font_values().push_back({u"Other Good", registry_string_type, fonts + u"\\Good.ttf"});
                        add_memory_file(fonts + u"\\Good.ttf", "other");
                        add_good_font();
                    },
                    "the registration \"Other Good\" refers to"},
        RefusalCase{"a longer title under the prefix",
                    [] {
                        memory_font_values().push_back({u"AcmeCorp Mono", registry_string_type, fonts + u"\\Mono.ttf"});
                        add_good_font();
                    },
                    "\"AcmeCorp Mono\" (C:\\Windows\\Fonts\\Mono.ttf) is not this title's registration"},
        RefusalCase{"the first list of restart-time operations unread",
                    [] {
                        memory_machine().failures[{Operation::read_pending_file_renames, u"PendingFileRenameOperations"}] = status_access_denied;
                        add_good_font();
                    },
                    "the restart-time operations in PendingFileRenameOperations cannot be read (error 5)"},
        RefusalCase{"the second list unread",
                    [] {
                        memory_machine().failures[{Operation::read_pending_file_renames, u"PendingFileRenameOperations2"}] = status_access_denied;
                        add_good_font();
                    },
                    "the restart-time operations in PendingFileRenameOperations2 cannot be read (error 5)"},
        RefusalCase{"its name with another type",
                    [] {
                        memory_font_values().push_back({u"Acme Good", 2, u"%WINDIR%\\x"});
                        add_good_font();
                    },
                    "\"Acme Good\" exists with another type"}));

struct VerifyCase {
    const char* description;
    std::function<void()> arrange;
};

void PrintTo(const VerifyCase& row, std::ostream* out) { *out << row.description; }

class InstallVerifyFailure : public Deploy, public testing::WithParamInterface<VerifyCase> {};

TEST_P(InstallVerifyFailure, PutsTheKeyBackAndExitsOne) {
    // One value this run changes, one it adds, one it must never touch.
    memory_font_values() = {{u"Acme A", registry_string_type, fonts + u"\\A.ttf"},
                            {u"Zeta", 2, u"z.ttf"}};
    add_memory_file(fonts + u"\\A.ttf", "old");
    find_memory_entry(fonts + u"\\A.ttf")->in_use = true;  // a failed install schedules nothing
    add_font(u"A.ttf");
    add_font(u"B.ttf");
    GetParam().arrange();
    auto before = memory_font_values();
    EXPECT_EQ(install(u"Acme"), 1);
    ASSERT_EQ(memory_font_values().size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(memory_font_values()[i].name, before[i].name);
        EXPECT_EQ(memory_font_values()[i].type, before[i].type);
        EXPECT_EQ(memory_font_values()[i].data, before[i].data);
    }
    EXPECT_TRUE(output_mentions("Failed: the fonts key and the Fonts folder are put back as they were")) << readable(memory_machine().output.lines);
    EXPECT_TRUE(memory_machine().files.restart_operations.empty());
}

uint32_t failing_with(uint32_t code, const String& program, const String& line, std::string& output) {
    run_real_typeloader(program, line, output);
    return code;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstallVerifyFailure,
    testing::Values(
        VerifyCase{"exit code not 0",
                   [] {
                       memory_machine().programs.runner = [](const String& p, const String& l, std::string& o) {
                           return failing_with(5, p, l, o);
                       };
                   }},
        VerifyCase{"a FAIL line", [] { memory_machine().failures[{Operation::set_value, u"Acme B"}] = status_access_denied; }},
        VerifyCase{"a FAIL line though every copy and value is in place",
                   [] {
                       memory_machine().programs.runner = [](const String& p, const String& l, std::string& o) {
                           run_real_typeloader(p, l, o);
                           o += "Install FAIL : Acme C\r\r\n";
                           return 0u;
                       };
                   }},
        VerifyCase{"a copy failed twice, not in use",
                   [] {
                       memory_machine().failures[{Operation::copy_file, fonts + u"\\B.ttf"}] = status_access_denied;
                       memory_machine().failures[{Operation::copy_file_replacing, fonts + u"\\B.ttf"}] = status_access_denied;
                   }},
        VerifyCase{"another header",
                   [] {
                       memory_machine().programs.runner = [](const String&, const String&, std::string& output) {
                           output = "Install Font : Acm\r\r\n";
                           return 0u;
                       };
                   }},
        VerifyCase{"a registration not holding its copy",
                   [] {
                       memory_machine().programs.runner = [](const String& p, const String& l, std::string& o) {
                           run_real_typeloader(p, l, o);
                           memory_font_values()[0].data = u"elsewhere";
                           return 0u;
                       };
                   }},
        VerifyCase{"not started", [] { memory_machine().failures[{Operation::run_program}] = status_file_not_found; }}));

// The bytes an install overwrote come back when it fails: the old copy was
// kept aside before Typeloader.exe ran.
TEST_F(Deploy, AFailedInstallPutsBackTheBytesOfACopyItOverwrote) {
    memory_font_values() = {{u"Acme A", registry_string_type, fonts + u"\\A.ttf"}};
    add_memory_file(fonts + u"\\A.ttf", "old");
    add_font(u"A.ttf");
    add_font(u"B.ttf");
    memory_machine().failures[{Operation::set_value, u"Acme B"}] = status_access_denied;
    const std::string before = state();
    EXPECT_EQ(install(u"Acme"), 1);
    EXPECT_EQ(state(), before);
    EXPECT_TRUE(output_mentions("Failed: the fonts key and the Fonts folder are put back as they were")) << readable(memory_machine().output.lines);
}

// Typeloader.exe changed after its check (another file in its place, as a
// link on the way repointed would give): the private copy is made through the
// handle the check read, and bytes other than those checked never run.
TEST_F(Deploy, ATypeloaderChangedAfterItsCheckIsNeverRun) {
    add_font(u"Sans.ttf");
    memory_machine().before_call = [](Operation operation, StringView subject) {
        if (operation == Operation::open_for_reading && subject == font_folder + u"\\Sans.ttf") {
            find_memory_entry(u"C:\\Tools\\Typeloader.exe")->contents = "planted";
        }
    };
    EXPECT_EQ(install(u"Acme"), 1);
    EXPECT_FALSE(ran_typeloader());
    EXPECT_TRUE(output_mentions("its bytes are not those checked")) << readable(memory_machine().output.lines);
}

// A run of the same install that ended before its verdict: what it left is
// verified, and never called unchanged.
TEST_F(Deploy, AfterAnUnfinishedRunOfTheSameInstallNothingIsUnchanged) {
    add_font(u"Sans.ttf");
    EXPECT_EQ(install(u"Acme", u"1.0"), 0);
    // The run as if it had ended before its verdict.
    std::string& written = find_memory_entry(log_folder + u"\\Typeloader-Deploy.log")->contents;
    written.resize(written.rfind("<![LOG[Installed and verified"));
    log.file.reset();
    ASSERT_EQ(open_deploy_log(log, refusal), LogOpening::opened);
    memory_machine().output.lines.clear();
    EXPECT_EQ(deploy_install(log, {DeployJob::install, u"Acme", u"1.0"}), Outcome::changed);
    EXPECT_TRUE(output_mentions("Verified what an unfinished run of this install left")) << readable(memory_machine().output.lines);
    // Its verdict written, the next run finds nothing unfinished.
    log.file.reset();
    ASSERT_EQ(open_deploy_log(log, refusal), LogOpening::opened);
    EXPECT_EQ(deploy_install(log, {DeployJob::install, u"Acme", u"1.0"}), Outcome::unchanged);
}

// The private copy an unfinished run left goes at the start of the next run,
// whatever that run does.
TEST_F(Deploy, TheNextRunRemovesThePrivateCopyOfAnUnfinishedOne) {
    log.file.reset();
    add_memory_file(log_folder + u"\\Typeloader-Deploy.log", records({u"Command line: Typeloader-Deploy.exe uninstall Other"}));
    add_memory_folder(log_folder + u"\\Run");
    add_memory_file(log_folder + u"\\Run\\Typeloader.exe", "MZ");
    memory_machine().process.arguments = std::vector<String>{u"Typeloader-Deploy.exe", u"uninstall", u"Acme"};
    EXPECT_EQ(run_deploy(), 0);
    EXPECT_TRUE(output_mentions("A run before this one ended before its verdict")) << readable(memory_machine().output.lines);
    EXPECT_EQ(find_memory_entry(log_folder + u"\\Run"), nullptr);
}

// The copies are judged by their bytes after the run, not by what
// Typeloader.exe printed.
TEST_F(Deploy, ACopyLeftWithOtherBytesIsMadeAgain) {
    add_font(u"Sans.ttf");
    memory_machine().programs.runner = [](const String& program, const String& line, std::string& output) {
        const uint32_t code = run_real_typeloader(program, line, output);
        find_memory_entry(fonts + u"\\Sans.ttf")->contents = font_bytes + "other";
        return code;
    };
    EXPECT_EQ(install(u"Acme"), 0);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Sans.ttf")->contents, font_bytes);
}

// What reaches the Font folder after the checks is not installed: the run
// works from its private copy, which is gone afterwards.
TEST_F(Deploy, AFontAddedAfterTheChecksIsNotInstalled) {
    add_font(u"Sans.ttf");
    memory_machine().programs.runner = [](const String& program, const String& line, std::string& output) {
        add_memory_file(font_folder + u"\\Planted.ttf", font_bytes);
        return run_real_typeloader(program, line, output);
    };
    EXPECT_EQ(install(u"Acme"), 0);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Planted.ttf"), nullptr);
    for (const MemoryValue& value : memory_font_values()) EXPECT_NE(value.name, u"Acme Planted");
    EXPECT_EQ(find_memory_entry(log_folder + u"\\Run"), nullptr);
}

// The private copy is named with the folders' names as stored, so that no
// file opened under it makes a case-sensitive file system search for them;
// whatever else is found in it at the end is removed with it.
TEST_F(Deploy, ThePrivateCopyIsNamedAsStoredAndRemovedWhole) {
    add_font(u"Sans.ttf");
    for (MemoryEntry& entry : memory_machine().files.entries) {
        if (entry.path.starts_with(u"C:\\Windows\\Logs")) entry.path.replace(11, 4, u"logs");
    }
    String program;
    memory_machine().programs.runner = [&](const String& started, const String& line, std::string& output) {
        program = started;
        add_memory_folder(u"C:\\Windows\\logs\\Typeloader\\Run\\Font\\Left");
        add_memory_file(u"C:\\Windows\\logs\\Typeloader\\Run\\Font\\Left\\Over.ttf", font_bytes);
        return run_real_typeloader(started, line, output);
    };
    EXPECT_EQ(install(u"Acme"), 0);
    EXPECT_EQ(program, u"C:\\Windows\\logs\\Typeloader\\Run\\Typeloader.exe");
    EXPECT_EQ(find_memory_entry(u"C:\\Windows\\logs\\Typeloader\\Run"), nullptr);
}

// A private copy that cannot be made fails the run before Typeloader.exe
// starts, naming the first font in the folder's order whose copy failed,
// whichever was copied first; nothing is installed and the copy is gone.
struct PrivateCopyCase {
    const char* description;
    std::vector<String> failing;  // fonts whose private copy fails
    String named;
};

void PrintTo(const PrivateCopyCase& row, std::ostream* out) { *out << row.description; }

class PrivateCopyFailure : public Deploy, public testing::WithParamInterface<PrivateCopyCase> {};

TEST_P(PrivateCopyFailure, NamesTheFirstFontAndChangesNothing) {
    for (const char16_t* name : {u"A.ttf", u"B.ttf", u"C.ttf"}) add_font(name);
    for (const String& name : GetParam().failing) {
        memory_machine().failures[{Operation::copy_file_replacing, log_folder + u"\\Run\\Font\\" + name}] = status_access_denied;
    }
    const std::string before = state();
    EXPECT_EQ(install(u"Acme"), 1);
    const String named = u"Private copy of " + font_folder + u"\\" + GetParam().named + u" in ";
    auto names_it = [&](const String& line) {
        return line.starts_with(named) && line.ends_with(u" could not be made (error 5).");
    };
    EXPECT_EQ(std::count_if(memory_machine().output.lines.begin(), memory_machine().output.lines.end(), names_it), 1);
    EXPECT_FALSE(ran_typeloader());
    EXPECT_EQ(state(), before);
    EXPECT_EQ(find_memory_entry(log_folder + u"\\Run"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, PrivateCopyFailure,
                         testing::Values(PrivateCopyCase{"the middle font's copy", {u"B.ttf"}, u"B.ttf"},
                                         PrivateCopyCase{"the first and last fonts' copies", {u"C.ttf", u"A.ttf"}, u"A.ttf"}));

// Another registration names the copy under another spelling: the install
// does not overwrite it, and an uninstall of this title does not delete it.
struct AliasCase {
    const char* description;
    uint32_t type;
    String data;
};

void PrintTo(const AliasCase& row, std::ostream* out) { *out << row.description; }

class OtherSpelling : public Deploy, public testing::WithParamInterface<AliasCase> {};

TEST_P(OtherSpelling, IsTheSameFile) {
    const String copy = fonts + u"\\\u00C9t\u00E9.ttf";
    add_memory_file(copy, "theirs");
    find_memory_entry(copy)->short_name = fonts + u"\\ETE~1.TTF";
    memory_font_values() = {{u"Other \u00C9t\u00E9", GetParam().type, GetParam().data}};
    add_font(u"\u00C9t\u00E9.ttf");
    std::string before = state();
    EXPECT_EQ(install(u"Acme"), 1);
    EXPECT_EQ(state(), before);
    EXPECT_TRUE(output_mentions("the registration \"Other")) << readable(memory_machine().output.lines);

    // This title's own registration of the same file: an uninstall keeps it.
    memory_font_values().push_back({u"Acme \u00C9t\u00E9", registry_string_type, copy});
    EXPECT_EQ(uninstall(u"Acme"), 0);
    EXPECT_NE(find_memory_entry(copy), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OtherSpelling,
    testing::Values(AliasCase{"a variable", 2, u"%SystemRoot%\\Fonts\\\u00C9t\u00E9.ttf"},
                    AliasCase{"forward slashes", 1, u"C:/Windows/Fonts/\u00C9t\u00E9.ttf"},
                    AliasCase{"a \\\\?\\ path", 1, u"\\\\?\\C:\\Windows\\Fonts\\\u00C9t\u00E9.ttf"},
                    AliasCase{"a bare name in other case, beyond ASCII", 1, u"\u00E9T\u00C9.TTF"},
                    AliasCase{"an 8.3 short name", 1, u"C:\\Windows\\Fonts\\ETE~1.TTF"},
                    AliasCase{"a trailing dot", 1, u"C:\\Windows\\Fonts\\\u00C9t\u00E9.ttf."}));

// A registration of this title whose path leaves the Fonts folder through
// ".." names no copy that an uninstall may delete.
TEST_F(Deploy, UninstallDeletesNothingThroughDotDot) {
    add_memory_file(u"C:\\Windows\\win.ini", "system");
    memory_font_values() = {{u"Acme win", registry_string_type, fonts + u"\\..\\win.ini"}};
    EXPECT_EQ(uninstall(u"Acme"), 0);
    EXPECT_NE(find_memory_entry(u"C:\\Windows\\win.ini"), nullptr);
}

TEST_F(Deploy, CopyThatFailedOnceIsCopiedAgain) {
    add_font(u"Sans.ttf");
    memory_machine().failures[{Operation::copy_file, fonts + u"\\Sans.ttf"}] = status_access_denied;
    EXPECT_EQ(install(u"Acme"), 0);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Sans.ttf")->contents, font_bytes);
    EXPECT_TRUE(memory_machine().files.restart_operations.empty());
}

TEST_F(Deploy, FontInUseIsReplacedAtTheNextRestart) {
    memory_font_values() = {{u"Acme Sans", registry_string_type, fonts + u"\\Sans.ttf"}};
    add_memory_file(fonts + u"\\Sans.ttf", "old");
    find_memory_entry(fonts + u"\\Sans.ttf")->in_use = true;
    add_font(u"Sans.ttf");
    EXPECT_EQ(install(u"Acme"), 3010);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Sans.ttf")->contents, "old");
    const String staged = fonts + u"\\Sans.ttf.Typeloader-Deploy";
    EXPECT_EQ(find_memory_entry(staged)->contents, font_bytes);
    ASSERT_EQ(memory_machine().files.restart_operations.size(), 1u);
    EXPECT_EQ(memory_machine().files.restart_operations[0].from, staged);
    EXPECT_EQ(memory_machine().files.restart_operations[0].to, fonts + u"\\Sans.ttf");
    EXPECT_EQ(memory_font_values().back().data, fonts + u"\\Sans.ttf");
}

// Two fonts in use, and the second cannot be scheduled: the install fails,
// and the first one's staged file is gone, so its scheduled move is void.
TEST_F(Deploy, FailedSchedulingLeavesNoStagedReplacement) {
    for (const char16_t* name : {u"A.ttf", u"B.ttf"}) {
        memory_font_values().push_back({u"Acme " + file_title(name), registry_string_type, fonts + u"\\" + name});
        add_memory_file(fonts + u"\\" + name, "old");
        find_memory_entry(fonts + u"\\" + name)->in_use = true;
        add_font(name);
    }
    memory_machine().failures[{Operation::replace_at_restart, fonts + u"\\B.ttf"}] = status_access_denied;
    EXPECT_EQ(install(u"Acme"), 1);
    EXPECT_EQ(find_memory_entry(fonts + u"\\A.ttf.Typeloader-Deploy"), nullptr);
    for (const RestartOperation& operation : memory_machine().files.restart_operations) {
        EXPECT_EQ(find_memory_entry(operation.from), nullptr) << "a scheduled move would still happen";
    }
}

TEST_F(Deploy, UninstallRefusesWhenThePrefixTakesOthersValues) {
    memory_font_values() = {{u"Acme Sans", registry_string_type, fonts + u"\\Sans.ttf"},
                            {u"AcmeCorp Mono", registry_string_type, fonts + u"\\Mono.ttf"}};
    std::string before = state();
    EXPECT_EQ(uninstall(u"Acme"), 1);
    EXPECT_EQ(state(), before);
    EXPECT_FALSE(ran_typeloader());
    EXPECT_TRUE(output_mentions("Refused: \"AcmeCorp Mono\" (C:\\Windows\\Fonts\\Mono.ttf) is not this title's"));
}

TEST_F(Deploy, UninstallOfAnUnknownTitleRunsNothing) {
    memory_font_values() = {{u"Acme-v02 Sans", registry_string_type, fonts + u"\\Sans.ttf"}};
    EXPECT_EQ(uninstall(u"Acme-v01"), 0);
    EXPECT_FALSE(ran_typeloader());
}

TEST_F(Deploy, UninstallDeletesOnlyCopiesNothingElseRefersTo) {
    memory_font_values() = {
        {u"Acme Sans", registry_string_type, fonts + u"\\Sans.ttf"},
        {u"Acme Serif", registry_string_type, fonts + u"\\Serif.ttf"},
        {u"Acme Busy", registry_string_type, fonts + u"\\Busy.ttf"},
        {u"Acme Away", registry_string_type, u"D:\\Elsewhere\\Away.ttf"},
        {u"Windows Serif", registry_string_type, u"SERIF.TTF"},  // a bare name keeps the file
    };
    for (const char16_t* name : {u"Sans.ttf", u"Serif.ttf", u"Busy.ttf", u"Sans.ttf.Typeloader-Deploy"}) {
        add_memory_file(fonts + u"\\" + name, "f");
    }
    find_memory_entry(fonts + u"\\Busy.ttf")->in_use = true;
    add_memory_folder(u"D:\\Elsewhere");
    add_memory_file(u"D:\\Elsewhere\\Away.ttf", "f");
    // A copy in use goes at the restart, which the uninstall does not ask for.
    EXPECT_EQ(uninstall(u"Acme"), 0);
    ASSERT_EQ(memory_font_values().size(), 1u);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Sans.ttf"), nullptr);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Sans.ttf.Typeloader-Deploy"), nullptr);  // would come back at the restart
    EXPECT_NE(find_memory_entry(fonts + u"\\Serif.ttf"), nullptr);
    EXPECT_NE(find_memory_entry(u"D:\\Elsewhere\\Away.ttf"), nullptr);
    ASSERT_EQ(memory_machine().files.restart_operations.size(), 1u);
    EXPECT_EQ(memory_machine().files.restart_operations[0].from, fonts + u"\\Busy.ttf");
    EXPECT_EQ(memory_machine().files.restart_operations[0].to, String());
}

// /whatif answers what the run right after it answers, and changes nothing
// itself, from each starting point of a title's life.
TEST_F(Deploy, WhatIfAnswersAsTheRunAndChangesNothing) {
    struct Step {
        const char* description;
        std::function<void()> change;
        String version;
        int code;
        const char* word;
    };
    const String copy_of_swap = fonts + u"\\Swap.ttf";
    const Step steps[] = {
        {"a first install", [&] { add_font(u"Keep.ttf"); add_font(u"Drop.ttf", font_bytes + "d"); add_font(u"Swap.ttf", font_bytes + "1"); },
         u"1.0", 0, "changed"},
        {"the same again", [] {}, u"1.0", 0, "unchanged"},
        {"the version alone", [] {}, u"1.1", 0, "changed"},
        {"one dropped, one replaced, one added",
         [&] {
             remove_memory_entry(find_memory_entry(font_folder + u"\\Drop.ttf"));
             find_memory_entry(font_folder + u"\\Swap.ttf")->contents = font_bytes + "2";
             add_font(u"New.ttf", font_bytes + "n");
         },
         u"2.0", 0, "changed"},
        {"a replaced font in use", [&] {
             find_memory_entry(font_folder + u"\\Swap.ttf")->contents = font_bytes + "3";
             find_memory_entry(copy_of_swap)->in_use = true;
         }, u"3.0", 3010, "restart"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.description);
        step.change();
        const std::string before = state();
        EXPECT_EQ(install(u"Acme", step.version, true), step.code);
        EXPECT_EQ(memory_machine().output.lines.back(), ascii(step.word));
        EXPECT_EQ(state(), before);
        EXPECT_EQ(install(u"Acme", step.version), step.code);
        EXPECT_EQ(memory_machine().output.lines.back(), ascii(step.word));
    }
    const std::string before = state();
    EXPECT_EQ(uninstall(u"Acme", true), 0);
    EXPECT_EQ(memory_machine().output.lines.back(), u"changed");
    EXPECT_EQ(state(), before);
}

// An update leaves the fonts it keeps alone: Typeloader.exe registers only
// the replaced and the added.
TEST_F(Deploy, AnUpdateHandsTypeloaderOnlyTheFontsItChanges) {
    add_font(u"A.ttf", font_bytes + "a");
    add_font(u"B.ttf", font_bytes + "b");
    add_font(u"C.ttf", font_bytes + "c");
    ASSERT_EQ(install(u"Acme", u"1"), 0);
    find_memory_entry(font_folder + u"\\B.ttf")->contents = font_bytes + "b2";
    add_font(u"D.ttf", font_bytes + "d");
    memory_machine().output.lines.clear();
    ASSERT_EQ(install(u"Acme", u"2"), 0);
    std::vector<String> registered;
    for (const String& line : memory_machine().output.lines) {
        if (line.starts_with(u"Typeloader.exe: Install OK : ")) registered.push_back(line.substr(29));
    }
    std::sort(registered.begin(), registered.end());
    EXPECT_EQ(registered, (std::vector<String>{u"Acme B", u"Acme D"}));
}

// Windows may run the second list after the staging the first would get.
TEST_F(Deploy, InstallRefusesWhenTheSecondListDeletesTheCopy) {
    memory_font_values() = {{u"Acme Sans", registry_string_type, fonts + u"\\Sans.ttf"}};
    add_memory_file(fonts + u"\\Sans.ttf", font_bytes);
    add_font(u"Sans.ttf");
    memory_machine().files.second_restart_operations.push_back({fonts + u"\\Sans.ttf", String()});
    const std::string before = state();
    EXPECT_EQ(deploy_install(log, {DeployJob::install, u"Acme"}), Outcome::refused);
    EXPECT_EQ(state(), before);
    EXPECT_TRUE(output_mentions("PendingFileRenameOperations2 runs first, which Windows does not document"));
}

// A copy the second list deletes is left to it.
TEST_F(Deploy, UninstallLeavesTheSecondListsDeletion) {
    memory_font_values() = {{u"Acme Sans", registry_string_type, fonts + u"\\Sans.ttf"}};
    add_memory_file(fonts + u"\\Sans.ttf", "f");
    memory_machine().files.second_restart_operations.push_back({fonts + u"\\Sans.ttf", String()});
    EXPECT_EQ(uninstall(u"Acme"), 0);
    EXPECT_TRUE(memory_font_values().empty());
    EXPECT_NE(find_memory_entry(fonts + u"\\Sans.ttf"), nullptr);
    EXPECT_TRUE(memory_machine().files.restart_operations.empty());
}

TEST_F(Deploy, UninstallThatLeavesAValueFails) {
    memory_font_values() = {{u"Acme Sans", registry_string_type, fonts + u"\\Sans.ttf"}};
    add_memory_file(fonts + u"\\Sans.ttf", "f");
    memory_machine().failures[{Operation::delete_value, u"Acme Sans"}] = status_access_denied;
    EXPECT_EQ(uninstall(u"Acme"), 1);
    EXPECT_NE(find_memory_entry(fonts + u"\\Sans.ttf"), nullptr);
    EXPECT_TRUE(output_mentions("not every registration was removed; no copy was deleted"));
}

struct FolderCase {
    const char* description;
    std::function<void()> arrange;
    const char* line;
};

void PrintTo(const FolderCase& row, std::ostream* out) { *out << row.description; }

const String log_path = log_folder + u"\\Typeloader-Deploy.log";
const String previous_log_path = log_folder + u"\\Typeloader-Deploy.lo_";

ObjectSecurity with_entry(const AccessEntry& entry) {
    ObjectSecurity security = private_object_security();
    security.dacl.push_back(entry);
    return security;
}

// A log past the cap, so that the run would move it aside first.
void add_full_log() {
    add_memory_folder(log_folder);
    add_memory_file(log_path, std::string(log_size_cap + 1, 'x'));
}

class LogFolder : public testing::TestWithParam<FolderCase> {};

TEST_P(LogFolder, RefusedWithOneLineBeforeAnythingIsWrittenOrRun) {
    reset_machine();
    add_memory_folder(u"C:\\Windows\\Logs");
    add_memory_file(u"C:\\Tools\\Typeloader.exe", "MZ");
    add_memory_folder(font_folder);
    add_memory_file(font_folder + u"\\Sans.ttf", font_bytes);
    memory_machine().programs.runner = run_real_typeloader;
    memory_machine().process.arguments = std::vector<String>{u"Typeloader-Deploy.exe", u"install", u"Acme"};
    GetParam().arrange();
    EXPECT_EQ(run_deploy(), 1);
    EXPECT_EQ(memory_machine().output.lines, (std::vector<String>{ascii(GetParam().line), u"refused"}));
    for (Operation changing : {Operation::append_to_open_file, Operation::run_program, Operation::copy_file,
                               Operation::copy_file_replacing}) {
        EXPECT_EQ(memory_calls_of(changing), 0u) << static_cast<int>(changing);
    }
    EXPECT_TRUE(memory_font_values().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogFolder,
    testing::Values(
        FolderCase{"a file", [] { add_memory_file(log_folder, ""); },
                   "Typeloader-Deploy: the log folder C:\\Windows\\Logs\\Typeloader is refused: it is not a folder"},
        FolderCase{"a junction",
                   [] {
                       add_memory_folder(log_folder);
                       find_memory_entry(log_folder)->reparse_point = true;
                   },
                   "Typeloader-Deploy: the log folder C:\\Windows\\Logs\\Typeloader is refused: it is a link or another "
                   "reparse point"},
        FolderCase{"a user's folder",
                   [] {
                       add_memory_folder(log_folder);
                       ObjectSecurity users_own = private_object_security();
                       users_own.owner = u"S-1-5-32-545";
                       memory_machine().security.objects[log_folder] = users_own;
                   },
                   "Typeloader-Deploy: the log folder C:\\Windows\\Logs\\Typeloader is refused: its owner is neither "
                   "SYSTEM nor Administrators"},
        FolderCase{"others may write",
                   [] {
                       add_memory_folder(log_folder);
                       ObjectSecurity writable = private_object_security();
                       writable.dacl.push_back({true, u"S-1-5-32-545", 0x2, 0});
                       memory_machine().security.objects[log_folder] = writable;
                   },
                   "Typeloader-Deploy: the log folder C:\\Windows\\Logs\\Typeloader is refused: someone other than "
                   "SYSTEM and Administrators may change it"},
        FolderCase{"the log others may write",
                   [] {
                       add_memory_folder(log_folder);
                       add_memory_file(log_path, "kept");
                       memory_machine().security.objects[log_path] = with_entry({true, u"S-1-1-0", 0x40000000, 0});
                   },
                   "Typeloader-Deploy: the log C:\\Windows\\Logs\\Typeloader\\Typeloader-Deploy.log is refused: "
                   "Everyone (S-1-1-0) may change it (write)"},
        FolderCase{"the log's security unreadable",
                   [] { memory_machine().failures[{Operation::read_held_file_security}] = status_access_denied; },
                   "Typeloader-Deploy: the log C:\\Windows\\Logs\\Typeloader\\Typeloader-Deploy.log is refused: its "
                   "security cannot be read (error 5)"},
        FolderCase{"a full log whose previous log a user owns",
                   [] {
                       add_full_log();
                       add_memory_file(previous_log_path, "older");
                       ObjectSecurity users_own = private_object_security();
                       users_own.owner = u"S-1-5-32-545";
                       memory_machine().security.objects[previous_log_path] = users_own;
                   },
                   "Typeloader-Deploy: the log C:\\Windows\\Logs\\Typeloader\\Typeloader-Deploy.lo_ is refused: it is "
                   "owned by Users (S-1-5-32-545), who may change its permissions"},
        FolderCase{"a full log whose previous log is a link",
                   [] {
                       add_full_log();
                       add_memory_file(previous_log_path, "older");
                       find_memory_entry(previous_log_path)->reparse_point = true;
                   },
                   "Typeloader-Deploy: the log C:\\Windows\\Logs\\Typeloader\\Typeloader-Deploy.lo_ is refused: it is "
                   "a link or another reparse point"},
        FolderCase{"cannot be made",
                   [] { memory_machine().failures[{Operation::create_private_folder, log_folder}] = status_access_denied; },
                   "Typeloader-Deploy: the log folder C:\\Windows\\Logs\\Typeloader cannot be created (error 5)"}));

// What the log folder passes on to the log created in it; its own verdicts
// are the rows above.
TEST(LogFolderRule, EntriesTheLogInherits) {
    struct {
        const char* name;
        AccessEntry entry;
        const char* reason;  // empty: the folder passes
    } cases[] = {
        {"Users write, inherit-only to files", {true, u"S-1-5-32-545", 0x2, 0x1 | 0x8},
         "Users (S-1-5-32-545) may change a file created inside it (write data or add files)"},
        {"Users full control, inherit-only to subfolders", {true, u"S-1-5-32-545", 0x1F01FF, 0x2 | 0x8}, ""},
        {"Users read, inherit-only to files", {true, u"S-1-5-32-545", 0x120089, 0x1 | 0x8}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ObjectSecurity folder = with_entry(c.entry);
        folder.is_folder = true;
        String expected = *c.reason ? u"Typeloader-Deploy: the log folder " + log_folder + u" is refused: " + ascii(c.reason)
                                    : String();
        EXPECT_EQ(readable(log_folder_refusal(log_folder, folder)), readable(expected));
    }
}

TEST(RunDeploy, UsageBeforeAnyLog) {
    reset_machine();
    memory_machine().process.arguments = std::vector<String>{u"Typeloader-Deploy.exe", u"install"};
    EXPECT_EQ(run_deploy(), 2);
    EXPECT_EQ(memory_machine().output.lines, std::vector<String>{
        u"Usage : Typeloader-Deploy install <title> [/version:<v>] [/whatif] | uninstall <title> [/whatif]"});
    EXPECT_EQ(find_memory_entry(u"C:\\Windows\\Logs"), nullptr);
}

// Every line shown is one record of the log, those written together too
// (a line per font, Typeloader.exe's output).
class RunDeployLog : public testing::TestWithParam<const char*> {};

TEST_P(RunDeployLog, CreatesThePrivateLogFolderAndLogsTheRun) {
    reset_machine();
    add_memory_file(u"C:\\Tools\\Typeloader.exe", "MZ");
    add_memory_folder(font_folder);
    add_memory_file(font_folder + u"\\A.ttf", font_bytes);
    add_memory_file(font_folder + u"\\B.ttf", font_bytes + "B");
    memory_machine().programs.runner = run_real_typeloader;
    memory_machine().programs.file_versions[u"C:\\Tools\\Typeloader.exe"] = u"1.0.0.2";
    memory_machine().process.executable_path = u"C:\\Tools\\Typeloader-Deploy.exe";
    add_memory_file(u"C:\\Tools\\Typeloader-Deploy.exe", "MZ deploy");
    const String job = ascii(GetParam());
    memory_machine().process.command_line = u"Typeloader-Deploy.exe " + job + u" Acme";
    memory_machine().process.arguments = std::vector<String>{u"Typeloader-Deploy.exe", job, u"Acme"};
    EXPECT_EQ(run_deploy(), 0);
    const MemoryEntry* log = find_memory_entry(log_folder + u"\\Typeloader-Deploy.log");
    ASSERT_NE(log, nullptr);
    std::string expected;
    ASSERT_EQ(memory_machine().output.lines.back(), job == u"install" ? u"changed" : u"unchanged");
    memory_machine().output.lines.pop_back();  // the outcome's word is not a record
    for (const String& line : memory_machine().output.lines) {
        expected += cmtrace_record(line, line.starts_with(u"C:\\Tools\\Typeloader-Deploy.exe") ? RecordType::warning
                                                                                              : RecordType::information,
                                   local_time(), current_thread_id());
    }
    EXPECT_EQ(log->contents, "\xEF\xBB\xBF" + expected);
    EXPECT_EQ(memory_machine().output.lines[0], u"Command line: Typeloader-Deploy.exe " + job + u" Acme");
    // The versions come once the bundle has passed: Windows parses a file to read one.
    EXPECT_TRUE(memory_machine().output.lines[2].starts_with(u"Check the bundle in C:\\Tools: "));
    EXPECT_EQ(memory_machine().output.lines[3], u"C:\\Tools\\Typeloader-Deploy.exe version unknown (error 1813)");
    EXPECT_EQ(memory_machine().output.lines[4], u"C:\\Tools\\Typeloader.exe version 1.0.0.2");
    EXPECT_EQ(memory_calls_of(Operation::file_version), 2u);  // the refused bundle's test counts on it
}

INSTANTIATE_TEST_SUITE_P(Jobs, RunDeployLog, testing::Values("uninstall", "install"));

// A bundle others may change: no file of it is parsed, for its version or else.
TEST_P(RunDeployLog, ReadsNoVersionOfARefusedBundle) {
    reset_machine();
    add_memory_file(u"C:\\Tools\\Typeloader.exe", "MZ");
    ObjectSecurity security = private_object_security();
    security.dacl.push_back({true, u"S-1-5-32-545", 0x2, 0});
    memory_machine().security.objects[u"C:\\Tools\\Typeloader.exe"] = security;
    memory_machine().programs.file_versions[u"C:\\Tools\\Typeloader.exe"] = u"1.0.0.2";
    memory_machine().process.executable_path = u"C:\\Tools\\Typeloader-Deploy.exe";
    memory_machine().process.arguments = std::vector<String>{u"Typeloader-Deploy.exe", ascii(GetParam()), u"Acme"};
    EXPECT_EQ(run_deploy(), 1);
    EXPECT_EQ(memory_machine().output.lines.back(), u"refused");
    EXPECT_GT(memory_calls_of(Operation::read_object_security), 0u);
    EXPECT_EQ(memory_calls_of(Operation::file_version), 0u);
    EXPECT_EQ(memory_calls_of(Operation::find_files), 0u);
}

}  // namespace
