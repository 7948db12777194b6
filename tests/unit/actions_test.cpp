#include <gtest/gtest.h>

#include <set>

#include "deploy/actions.h"
#include "deploy/digest.h"
#include "test_support.h"

namespace {

const String fonts = u"C:\\Windows\\Fonts";
const String source = u"C:\\Run\\Font\\A.ttf";
const std::string bytes = "font";

Action stage(const String& name) {
    return {.kind = ActionKind::stage, .path = fonts + u"\\" + name + u".Typeloader-Deploy", .source = source,
            .target = fonts + u"\\" + name, .digest = digest_of(bytes.data(), bytes.size()), .schedule = true};
}
Action deletion(ActionKind kind, const String& name) { return {.kind = kind, .path = fonts + u"\\" + name}; }
const String aside = u"C:\\Run\\Aside";
Action keep_aside(const String& name) { return {.kind = ActionKind::keep_aside, .path = fonts + u"\\" + name, .target = aside + u"\\" + name}; }

Action drop(const String& name) { return {.kind = ActionKind::remove_registration, .title = name, .value = {name}}; }
Action entry(std::vector<RegistryValue> values) {
    return {.kind = ActionKind::write_entry, .path = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Typeloader Acme",
            .values = std::move(values)};
}

// Which failures stop the rest of a list, and which leave it going.
struct ExecutionRow {
    const char* description;
    std::vector<Action> actions;
    FailurePoint failure;
    size_t carried_out;
    bool succeeded;
    PlatformStatus injected = status_access_denied;
};

void PrintTo(const ExecutionRow& row, std::ostream* out) { *out << row.description; }

class Executing : public testing::TestWithParam<ExecutionRow> {};

TEST_P(Executing, StopsOnlyWhereGoingOnWouldActOnAFailure) {
    reset_machine();
    add_memory_folder(u"C:\\Windows");
    add_memory_folder(fonts);
    add_memory_folder(u"C:\\Run");
    add_memory_folder(u"C:\\Run\\Font");
    add_memory_folder(aside);
    add_memory_file(source, bytes);
    for (const char16_t* name : {u"A.ttf", u"B.ttf"}) add_memory_file(fonts + u"\\" + name, "old");
    add_memory_folder(u"C:\\Windows\\Logs");
    DeployLog log;
    String refusal;
    ASSERT_EQ(open_deploy_log(log, refusal), LogOpening::opened);
    memory_machine().failures[GetParam().failure] = GetParam().injected;
    const Execution execution = execute(log, u"C:\\Run\\Typeloader.exe", GetParam().actions);
    EXPECT_EQ(execution.results.size(), GetParam().carried_out);
    EXPECT_EQ(execution.succeeded, GetParam().succeeded);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Executing,
    testing::Values(
        ExecutionRow{"a staging that fails stops the rest", {stage(u"A.ttf"), stage(u"B.ttf")},
                     {Operation::replace_at_restart, fonts + u"\\A.ttf"}, 1, false},
        ExecutionRow{"a copy that fails, not in use, stops the rest",
                     {{.kind = ActionKind::copy_again, .path = fonts + u"\\A.ttf", .source = source}, stage(u"B.ttf")},
                     {Operation::copy_file_replacing, fonts + u"\\A.ttf"}, 1, false},
        ExecutionRow{"a put back that fails goes on", {deletion(ActionKind::remove_file, u"A.ttf"), deletion(ActionKind::remove_file, u"B.ttf")},
                     {Operation::delete_file, fonts + u"\\A.ttf"}, 2, false},
        ExecutionRow{"a put back of a file already gone is no failure",
                     {deletion(ActionKind::remove_file, u"Gone.ttf"), deletion(ActionKind::remove_file, u"B.ttf")}, {Operation::run_program}, 2, true},
        ExecutionRow{"a leftover that stays is harmless", {deletion(ActionKind::remove_leftover, u"A.ttf"), stage(u"B.ttf")},
                     {Operation::delete_file, fonts + u"\\A.ttf"}, 2, true},
        ExecutionRow{"a copy that cannot be kept aside stops the rest: it could not be put back", {keep_aside(u"A.ttf"), stage(u"B.ttf")},
                     {Operation::copy_file_replacing, aside + u"\\A.ttf"}, 1, false},
        ExecutionRow{"a copy another program holds open needs no keeping: the run cannot overwrite it either",
                     {keep_aside(u"A.ttf"), stage(u"B.ttf")}, {Operation::copy_file_replacing, aside + u"\\A.ttf"}, 2, true, status_sharing_violation},
        ExecutionRow{"a record that cannot be written stops the rest", {deletion(ActionKind::void_staged, u"A.ttf"), stage(u"B.ttf")},
                     {Operation::append_to_open_file}, 1, false},
        ExecutionRow{"a dropped registration already gone is no failure", {drop(u"Acme Gone"), stage(u"B.ttf")}, {Operation::run_program}, 2, true},
        ExecutionRow{"a dropped registration that stays stops the rest: the entry would miss it", {drop(u"Acme Gone"), stage(u"B.ttf")},
                     {Operation::delete_value}, 1, false},
        ExecutionRow{"an entry that cannot be written stops the rest", {entry({}), stage(u"B.ttf")}, {Operation::create_machine_key}, 1, false},
        ExecutionRow{"a copy in use goes at the restart, and the rest goes on",
                     {deletion(ActionKind::delete_copy, u"A.ttf"), deletion(ActionKind::delete_copy, u"B.ttf")},
                     {Operation::delete_file, fonts + u"\\A.ttf"}, 2, true, status_sharing_violation},
        ExecutionRow{"a copy that cannot be deleted, not in use, is a failure the rest goes on past",
                     {deletion(ActionKind::delete_copy, u"A.ttf"), deletion(ActionKind::delete_copy, u"B.ttf")},
                     {Operation::delete_file, fonts + u"\\A.ttf"}, 2, false, status_invalid_function}));

const String entry_key = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Typeloader Acme";

// The entry holds exactly what the install writes: a value an earlier
// version wrote and this one does not (no version given now) goes.
TEST(WritingTheEntry, LeavesExactlyTheValuesGiven) {
    reset_machine();
    add_memory_folder(u"C:\\Windows");
    add_memory_folder(u"C:\\Windows\\Logs");
    DeployLog log;
    String refusal;
    ASSERT_EQ(open_deploy_log(log, refusal), LogOpening::opened);
    memory_machine().registry.keys[entry_key] = {{u"DisplayVersion", 1, u"1.0"}, {u"DisplayName", 1, u"Old"}};
    const std::vector<RegistryValue> values{{u"displayname", 1, std::string("A\0\0\0", 4)}};
    ASSERT_TRUE(execute(log, String(), {entry(values)}).succeeded);
    const std::vector<MemoryValue>& written = memory_machine().registry.keys[entry_key];
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].data, u"A");
}

// What /whatif will print: one line per action that names what it acts on,
// each kind told apart from every other.
TEST(Describe, EveryKindNamesItsSubjectInALineOfItsOwn) {
    const ActionKind kinds[] = {ActionKind::run_typeloader, ActionKind::keep_aside,        ActionKind::remove_leftover,
                                ActionKind::copy_again,     ActionKind::stage,             ActionKind::void_staged,
                                ActionKind::delete_copy,    ActionKind::delete_at_restart, ActionKind::restore_value,
                                ActionKind::remove_value,   ActionKind::remove_file,       ActionKind::restore_file,
                                ActionKind::remove_registration, ActionKind::keep_programs, ActionKind::write_entry,
                                ActionKind::remove_entry,   ActionKind::remove_kept_copy};
    std::set<String> lines;
    for (const ActionKind kind : kinds) {
        const Action action{.kind = kind, .path = u"C:\\Windows\\Fonts\\A.ttf", .title = u"Acme A"};
        const String line = describe(action);
        const bool names_value = kind == ActionKind::run_typeloader || kind == ActionKind::restore_value || kind == ActionKind::remove_value ||
                                 kind == ActionKind::remove_registration;
        EXPECT_NE(line.find(names_value ? u"\"Acme A\"" : u"C:\\Windows\\Fonts\\A.ttf"), String::npos) << readable(line);
        EXPECT_TRUE(lines.insert(line).second) << readable(line);
    }
}

}  // namespace
