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
                     {Operation::append_to_open_file}, 1, false}));

// What /whatif will print: one line per action that names what it acts on,
// each kind told apart from every other.
TEST(Describe, EveryKindNamesItsSubjectInALineOfItsOwn) {
    const ActionKind kinds[] = {ActionKind::run_typeloader, ActionKind::keep_aside,        ActionKind::remove_leftover,
                                ActionKind::copy_again,     ActionKind::stage,             ActionKind::void_staged,
                                ActionKind::delete_copy,    ActionKind::delete_at_restart, ActionKind::restore_value,
                                ActionKind::remove_value,   ActionKind::remove_file,       ActionKind::restore_file};
    std::set<String> lines;
    for (const ActionKind kind : kinds) {
        const Action action{.kind = kind, .path = u"C:\\Windows\\Fonts\\A.ttf", .title = u"Acme A"};
        const String line = describe(action);
        const bool names_value = kind == ActionKind::run_typeloader || kind == ActionKind::restore_value || kind == ActionKind::remove_value;
        EXPECT_NE(line.find(names_value ? u"\"Acme A\"" : u"C:\\Windows\\Fonts\\A.ttf"), String::npos) << readable(line);
        EXPECT_TRUE(lines.insert(line).second) << readable(line);
    }
}

}  // namespace
