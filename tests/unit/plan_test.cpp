#include <gtest/gtest.h>

#include "deploy/folder_listing.h"
#include "deploy/plan.h"
#include "deploy/snapshot.h"
#include "test_support.h"

namespace {

const String fonts = u"C:\\Windows\\Fonts";
const String sans = fonts + u"\\Sans.ttf";
const String staged = sans + u".Typeloader-Deploy";

using enum FileState;

FontFacts font(FileState copy, std::vector<NearbyFile> nearby = {}) { return {u"Sans.ttf", u"", sans, copy, nearby}; }

FontValue own(const String& data = sans) { return {u"Acme Sans", 1, data}; }

DeploySnapshot machine(std::vector<FontFacts> fonts_found, std::vector<FontValue> values = {},
                       std::vector<PendingOperation> pending = {}) {
    return {u"Acme", u"C:\\Tools\\Font", fonts, fonts_found, true, values, pending};
}

PendingOperation deletion(const String& path) { return {path, u"", false}; }

// The paths of the actions of one kind, in order.
std::vector<String> paths_of(const std::vector<Action>& actions, ActionKind kind) {
    std::vector<String> paths;
    for (const Action& action : actions) {
        if (action.kind == kind) paths.push_back(action.path);
    }
    return paths;
}
PendingOperation replacement(const String& from, const String& to) { return {from, to, true}; }

// An operation of PendingFileRenameOperations2.
PendingOperation second(PendingOperation operation) {
    operation.second_list = true;
    return operation;
}

// The snapshot, one list of restart-time operations unread.
DeploySnapshot unread(DeploySnapshot snapshot, const String& value, PlatformStatus status) {
    snapshot.pending_unread.push_back({value, status});
    return snapshot;
}

struct AfterRestartRow {
    const char* description;
    std::vector<PendingOperation> pending;
    FileState copy_now, staged_now, copy_after;
};

void PrintTo(const AfterRestartRow& row, std::ostream* out) { *out << row.description; }

class AfterRestart : public testing::TestWithParam<AfterRestartRow> {};

TEST_P(AfterRestart, OperationsRunInOrder) {
    const AfterRestartRow& row = GetParam();
    EXPECT_EQ(copy_after_restart(font(row.copy_now, {{staged, row.staged_now}}), row.pending), row.copy_after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AfterRestart,
    testing::Values(
        AfterRestartRow{"nothing pending", {}, same_as_source, missing, same_as_source},
        AfterRestartRow{"a deletion", {deletion(sans)}, same_as_source, missing, missing},
        AfterRestartRow{"a deletion, ASCII case aside", {deletion(u"c:\\windows\\fonts\\SANS.TTF")}, same_as_source, missing, missing},
        AfterRestartRow{"a staged replacement", {replacement(staged, sans)}, other, same_as_source, same_as_source},
        AfterRestartRow{"a move without replace onto a file fails", {{staged, sans, false}}, other, same_as_source, other},
        AfterRestartRow{"a move without replace onto nothing", {{staged, sans, false}}, missing, same_as_source, same_as_source},
        AfterRestartRow{"a move whose source is gone does nothing", {replacement(staged, sans)}, other, missing, other},
        AfterRestartRow{"moved in, then deleted", {replacement(staged, sans), deletion(sans)}, other, same_as_source, missing},
        AfterRestartRow{"deleted, then moved in", {deletion(sans), replacement(staged, sans)}, other, same_as_source, same_as_source},
        AfterRestartRow{"an unmeasured file moved onto the copy", {replacement(u"C:\\x.tmp", sans)}, same_as_source, missing, other},
        AfterRestartRow{"a file moved away, then back",
                        {replacement(sans, u"C:\\keep.tmp"), replacement(u"C:\\keep.tmp", sans)}, same_as_source, missing, same_as_source},
        AfterRestartRow{"another path's operations", {deletion(fonts + u"\\Serif.ttf")}, same_as_source, missing, same_as_source}));

struct InstallRow {
    const char* description;
    DeploySnapshot snapshot;
    const char* refusal;  // a fragment of the one refusal expected; null: none
    bool run;
    std::vector<Action> stagings;
    std::vector<String> leftovers;
};

void PrintTo(const InstallRow& row, std::ostream* out) { *out << row.description; }

class InstallPlanning : public testing::TestWithParam<InstallRow> {};

TEST_P(InstallPlanning, RefusesOrPlans) {
    const InstallRow& row = GetParam();
    InstallPlan plan = plan_install(row.snapshot, {});
    if (row.refusal) {
        ASSERT_EQ(plan.refusals.size(), 1u) << readable(plan.refusals);
        EXPECT_NE(plan.refusals[0].find(ascii(row.refusal)), String::npos) << readable(plan.refusals);
        return;
    }
    ASSERT_TRUE(plan.refusals.empty()) << readable(plan.refusals);
    EXPECT_EQ(paths_of(plan.actions, ActionKind::run_typeloader).size(), row.run ? 1u : 0u);
    ASSERT_EQ(plan.stagings.size(), row.stagings.size());
    for (size_t i = 0; i < row.stagings.size(); ++i) {
        EXPECT_EQ(plan.stagings[i].path, row.stagings[i].path) << readable(plan.stagings[i].path);
        EXPECT_EQ(plan.stagings[i].schedule, row.stagings[i].schedule);
    }
    EXPECT_EQ(paths_of(plan.actions, ActionKind::remove_leftover), row.leftovers);
    // The leftovers go before Typeloader.exe runs.
    if (row.run) EXPECT_EQ(plan.actions.back().kind, ActionKind::run_typeloader);
}

Action staging(const String& path, bool schedule) {
    return {.kind = ActionKind::stage, .path = path, .target = sans, .schedule = schedule};
}
const Action fresh = staging(staged, true);

INSTANTIATE_TEST_SUITE_P(
    Table, InstallPlanning,
    testing::Values(
        InstallRow{"fresh install", machine({font(missing)}), nullptr, true, {}, {}},
        InstallRow{"installed: nothing to change", machine({font(same_as_source)}, {own()}), nullptr, false, {}, {}},
        InstallRow{"registered under another file", machine({font(same_as_source)}, {own(fonts + u"\\Old\\Sans.ttf")}), nullptr, true, {}, {}},
        InstallRow{"this title's older copy", machine({font(other)}, {own()}), nullptr, true, {}, {}},
        InstallRow{"uninstalled with the font in use, then installed again",
                   machine({font(same_as_source)}, {}, {deletion(sans)}), nullptr, true, {fresh}, {}},
        InstallRow{"registered, but the copy is deleted at the restart",
                   machine({font(same_as_source)}, {own()}, {deletion(sans)}), nullptr, false, {fresh}, {}},
        InstallRow{"rerun while its replacement waits",
                   machine({font(other, {{staged, same_as_source}})}, {own()}, {replacement(staged, sans)}), nullptr, false, {}, {}},
        InstallRow{"update while an older replacement waits: copied now, staged after the run if in use",
                   machine({font(other, {{staged, other}})}, {own()}, {replacement(staged, sans)}), nullptr, true, {}, {}},
        InstallRow{"reinstall after an uninstall voided the replacement: a fresh name",
                   machine({font(same_as_source)}, {}, {replacement(staged, sans), deletion(sans)}), nullptr, true,
                   {staging(staged + u".2", true)}, {}},
        InstallRow{"another program's file moves onto the copy", machine({font(same_as_source)}, {own()}, {replacement(u"C:\\x", sans)}),
                   nullptr, false, {fresh}, {}},
        InstallRow{"a staged file no operation moves is left over",
                   machine({font(same_as_source, {{staged, other}})}, {own()}), nullptr, false, {}, {staged}},
        InstallRow{"no font", machine({}), "holds no *.ttf entry", false, {}, {}},
        InstallRow{"the key cannot be read", [] { auto m = machine({font(missing)}); m.values_readable = false; return m; }(),
                   "cannot be read", false, {}, {}},
        InstallRow{"the second list unread", unread(machine({font(same_as_source)}, {own()}), u"PendingFileRenameOperations2", 1450),
                   "the restart-time operations in PendingFileRenameOperations2 cannot be read (error 1450)", false, {}, {}},
        InstallRow{"the second list's replacement brings the font whichever list runs first",
                   machine({font(other, {{staged, same_as_source}})}, {own()}, {second(replacement(staged, sans))}), nullptr, false, {}, {}},
        InstallRow{"the order of the lists decides: deleted by the first, moved in by the second",
                   machine({font(same_as_source, {{staged, same_as_source}})}, {own()}, {deletion(sans), second(replacement(staged, sans))}),
                   "C:\\Windows\\Fonts\\Sans.ttf after the restart depends on which", false, {}, {}},
        InstallRow{"the second list deletes the copy: a staging of the first could be undone",
                   machine({font(same_as_source)}, {own()}, {second(deletion(sans))}), "runs first, which Windows does not document", false,
                   {}, {}},
        InstallRow{"a damaged font", machine({{u"Sans.ttf", u"its table directory is cut off", sans, missing, {}}}),
                   "C:\\Tools\\Font\\Sans.ttf: its table directory is cut off", false, {}, {}},
        InstallRow{"the copy is a folder", machine({font(folder)}), "is a folder or a link", false, {}, {}},
        InstallRow{"the copy is a link", machine({font(link)}), "is a folder or a link", false, {}, {}},
        InstallRow{"another registration's file", machine({font(other)}, {{u"Other Sans", 1, sans}}),
                   "the registration \"Other Sans\" refers to", false, {}, {}},
        InstallRow{"Windows' bare name for the file", machine({font(other)}, {{u"Sans (TrueType)", 1, u"SANS.TTF"}}),
                   "the registration \"Sans (TrueType)\" refers to", false, {}, {}},
        InstallRow{"an unregistered file", machine({font(other)}), "no registration of this title refers to", false, {}, {}},
        InstallRow{"an unregistered file the restart deletes: an update after the old title's uninstall",
                   machine({font(other)}, {}, {deletion(sans)}), nullptr, true, {}, {}},
        InstallRow{"its name, another type", machine({font(missing)}, {{u"Acme Sans", 2, sans}}), "another type than REG_SZ", false, {}, {}},
        InstallRow{"its name in other case, another product's",
                   [] { auto m = machine({font(missing)}, {{u"ACME Sans", 1, fonts + u"\\Other.ttf"}}); return m; }(),
                   "\"ACME Sans\" (C:\\Windows\\Fonts\\Other.ttf) is not this title's registration", false, {}, {}},
        InstallRow{"the uninstall guard", machine({font(missing)}, {{u"AcmeCorp Mono", 1, fonts + u"\\Mono.ttf"}}),
                   "an uninstall of \"Acme\" would remove it", false, {}, {}}));

TEST(InstallBusy, OnlyWhenEveryRefusalIsAFontAnotherProgramHolds) {
    FontFacts held{u"Sans.ttf", u"another program holds it open (error 32)", sans, missing, {}};
    held.held = true;
    const FontFacts damaged{u"Serif.ttf", u"its table directory is cut off", fonts + u"\\Serif.ttf", missing, {}};
    struct Row {
        const char* description;
        DeploySnapshot snapshot;
        bool busy;
    } rows[] = {
        {"one font held", machine({held}), true},
        {"one font held, another damaged", machine({held, damaged}), false},
        {"one font held, another title's value in the way", machine({held}, {{u"AcmeCorp Mono", 1, fonts + u"\\Mono.ttf"}}), false},
        {"nothing held", machine({damaged}), false},
    };
    for (const Row& row : rows) {
        const InstallPlan plan = plan_install(row.snapshot, {});
        EXPECT_FALSE(plan.refusals.empty()) << row.description;
        EXPECT_EQ(plan.busy, row.busy) << row.description;
    }
}

TEST(InstallVerdict, EveryFontRegisteredAndRightAfterTheRestart) {
    EXPECT_TRUE(install_mismatches(machine({font(same_as_source)}, {own()})).empty());
    EXPECT_TRUE(install_mismatches(machine({font(other, {{staged, same_as_source}})}, {own()}, {replacement(staged, sans)})).empty());
    struct Row {
        const char* description;
        DeploySnapshot after;
        const char* mismatch;
    } rows[] = {
        {"not registered", machine({font(same_as_source)}), "registration \"Acme Sans\" does not hold"},
        {"registered to another path", machine({font(same_as_source)}, {own(fonts + u"\\X.ttf")}), "does not hold"},
        {"the copy differs", machine({font(other)}, {own()}), "is not the font, now nor after the restart"},
        {"deleted at the restart", machine({font(same_as_source)}, {own()}, {deletion(sans)}), "but not after the restart"},
        {"the key unreadable", [] { auto m = machine({font(same_as_source)}, {own()}); m.values_readable = false; return m; }(),
         "cannot be read"},
        {"a list of restart-time operations unread", unread(machine({font(same_as_source)}, {own()}), u"PendingFileRenameOperations2", 5),
         "PendingFileRenameOperations2 cannot be read (error 5)"},
        {"the first list deletes what the second moves in",
         machine({font(same_as_source, {{staged, same_as_source}})}, {own()}, {deletion(sans), second(replacement(staged, sans))}),
         "runs first"},
    };
    for (const Row& row : rows) {
        std::vector<String> mismatches = install_mismatches(row.after);
        ASSERT_FALSE(mismatches.empty()) << row.description;
        EXPECT_NE(mismatches.back().find(ascii(row.mismatch)), String::npos) << row.description << readable(mismatches);
    }
}

TEST(UnplannedRegistrations, NewNamesUnderTheTitleInAnyCase) {
    DeploySnapshot before = machine({font(missing)}, {{u"ACMEcorp Old", 1, u"x"}});
    DeploySnapshot after = machine({font(same_as_source)}, {{u"ACMEcorp Old", 1, u"x"}, own(), {u"acme Planted", 1, u"p.ttf"},
                                                              {u"Other", 1, u"o.ttf"}});
    EXPECT_EQ(unplanned_registrations(before, after), std::vector<String>{u"acme Planted"});
}

TEST(RestartPending, OnlyWhenTheRestartChangesACopy) {
    EXPECT_FALSE(restart_pending(machine({font(same_as_source)})));
    EXPECT_TRUE(restart_pending(machine({font(other, {{staged, same_as_source}})}, {}, {replacement(staged, sans)})));
    EXPECT_TRUE(restart_pending(machine({font(same_as_source)}, {}, {deletion(sans)})));
    // Deleted and replaced by the same bytes: the copy is right either way, but
    // the restart still moves files of the title.
    EXPECT_TRUE(restart_pending(machine({font(same_as_source, {{staged, same_as_source}})}, {},
                                        {deletion(sans), replacement(staged, sans)})));
    // A voided replacement moves nothing.
    EXPECT_FALSE(restart_pending(machine({font(missing)}, {}, {replacement(staged, sans)})));
}

struct UninstallRow {
    const char* description;
    DeploySnapshot snapshot;
    const char* refusal;
    std::vector<String> removals, copies, voided;
};

void PrintTo(const UninstallRow& row, std::ostream* out) { *out << row.description; }

class UninstallPlanning : public testing::TestWithParam<UninstallRow> {};

TEST_P(UninstallPlanning, RefusesOrPlans) {
    const UninstallRow& row = GetParam();
    UninstallPlan plan = plan_uninstall(row.snapshot, {fonts, u"C:\\Temp\\LumoraFonts"});
    if (row.refusal) {
        ASSERT_EQ(plan.refusals.size(), 1u) << readable(plan.refusals);
        EXPECT_NE(plan.refusals[0].find(ascii(row.refusal)), String::npos) << readable(plan.refusals);
        return;
    }
    ASSERT_TRUE(plan.refusals.empty()) << readable(plan.refusals);
    EXPECT_EQ(plan.removals, row.removals);
    EXPECT_EQ(plan.registrations.size(), row.removals.empty() ? 0u : 1u);
    EXPECT_EQ(paths_of(plan.files, ActionKind::delete_copy), row.copies) << readable(paths_of(plan.files, ActionKind::delete_copy));
    EXPECT_EQ(paths_of(plan.files, ActionKind::void_staged), row.voided);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UninstallPlanning,
    testing::Values(
        UninstallRow{"installed", machine({font(same_as_source)}, {own()}), nullptr, {u"Acme Sans"}, {sans}, {}},
        UninstallRow{"nothing of the title", machine({font(missing)}, {{u"Arial", 1, u"arial.ttf"}}), nullptr, {}, {}, {}},
        UninstallRow{"another font in the copy's place, unregistered", machine({font(other)}), nullptr, {}, {}, {}},
        UninstallRow{"a copy an install that failed left", machine({font(same_as_source)}), nullptr, {}, {sans}, {}},
        UninstallRow{"a copy another value still names", machine({font(same_as_source)}, {own(), {u"Sans (TrueType)", 1, u"sans.ttf"}}),
                     nullptr, {u"Acme Sans"}, {}, {}},
        UninstallRow{"a copy outside the Fonts folder",
                     machine({{u"Sans.ttf", u"", u"D:\\Sans.ttf", same_as_source, {}}}, {own(u"D:\\Sans.ttf")}), nullptr,
                     {u"Acme Sans"}, {}, {}},
        UninstallRow{"a copy in a folder below the Fonts folder",
                     machine({{u"Sans.ttf", u"", fonts + u"\\x\\Sans.ttf", same_as_source, {}}}, {own(fonts + u"\\x\\Sans.ttf")}),
                     nullptr, {u"Acme Sans"}, {}, {}},
        UninstallRow{"a copy that is a link", machine({font(link)}, {own()}), nullptr, {u"Acme Sans"}, {}, {}},
        UninstallRow{"a replacement waits: voided", machine({font(other, {{staged, same_as_source}})}, {own()}, {replacement(staged, sans)}),
                     nullptr, {u"Acme Sans"}, {sans}, {staged}},
        UninstallRow{"the deletion already waits", machine({font(same_as_source)}, {}, {deletion(sans)}), nullptr, {}, {}, {}},
        UninstallRow{"another title under the prefix", machine({font(missing)}, {own(), {u"AcmeCorp Mono", 1, fonts + u"\\Mono.ttf"}}),
                     "\"AcmeCorp Mono\" (C:\\Windows\\Fonts\\Mono.ttf) is not this title's registration", {}, {}, {}},
        UninstallRow{"the key cannot be read", [] { auto m = machine({}); m.values_readable = false; return m; }(), "cannot be read", {},
                     {}, {}},
        UninstallRow{"the second list unread", unread(machine({font(same_as_source)}, {own()}), u"PendingFileRenameOperations2", 5),
                     "PendingFileRenameOperations2 cannot be read (error 5)", {}, {}, {}},
        UninstallRow{"the order of the lists decides", machine({font(same_as_source, {{staged, same_as_source}})}, {own()},
                                                               {deletion(sans), second(replacement(staged, sans))}),
                     "runs first", {}, {}, {}}));

TEST(UninstallVerdict, NamesGoneAndCopiesGoneAfterTheRestart) {
    UninstallPlan plan = plan_uninstall(machine({font(same_as_source, {{staged, same_as_source}})}, {own()}, {replacement(staged, sans)}),
                                        {fonts});
    EXPECT_TRUE(uninstall_mismatches(plan, machine({font(missing)}, {}, {replacement(staged, sans)})).empty());
    EXPECT_TRUE(uninstall_mismatches(plan, machine({font(same_as_source)}, {}, {replacement(staged, sans), deletion(sans)})).empty());
    EXPECT_FALSE(uninstall_mismatches(plan, machine({font(missing)}, {own()})).empty());
    EXPECT_FALSE(uninstall_mismatches(plan, machine({font(same_as_source)}, {})).empty());
    EXPECT_FALSE(uninstall_mismatches(plan, machine({font(missing, {{staged, same_as_source}})}, {}, {replacement(staged, sans)})).empty());
    DeploySnapshot unreadable = machine({font(missing)});
    unreadable.values_readable = false;
    EXPECT_FALSE(uninstall_mismatches(plan, unreadable).empty());
    const std::vector<String> unforeseen =
        uninstall_mismatches(plan, unread(machine({font(missing)}), u"PendingFileRenameOperations", 5));
    ASSERT_EQ(unforeseen.size(), 1u);
    EXPECT_EQ(unforeseen[0], u"the restart-time operations in PendingFileRenameOperations cannot be read (error 5)");
}

// MoveFileExW writes the first list: a staging goes after its operations,
// before the second's.
TEST(WithStagings, ScheduledAtTheEndOfTheFirstList) {
    const PendingOperation others = {u"C:\\x", u"", false}, later = second({u"C:\\y", u"", false});
    const DeploySnapshot staged_too = with_stagings(machine({font(other)}, {}, {others, later}), {fresh});
    ASSERT_EQ(staged_too.pending.size(), 3u);
    EXPECT_EQ(staged_too.pending[0].from, u"C:\\x");
    EXPECT_EQ(staged_too.pending[1].from, staged);
    EXPECT_FALSE(staged_too.pending[1].second_list);
    EXPECT_EQ(staged_too.pending[2].from, u"C:\\y");
}

TEST(StagingFor, RewritesTheFileAPendingMoveBringsLastOrTakesAFreshName) {
    struct Row {
        const char* description;
        FontFacts font;
        std::vector<PendingOperation> pending;
        Action expected;
    } rows[] = {
        {"nothing pending", font(other), {}, staging(staged, true)},
        {"an older replacement waits", font(other, {{staged, other}}), {replacement(staged, sans)}, staging(staged, false)},
        {"its move is followed by a deletion", font(other, {{staged, other}}), {replacement(staged, sans), deletion(sans)},
         staging(staged + u".2", true)},
        {"the first two names are taken", font(same_as_source), {replacement(staged, sans), deletion(sans), replacement(staged + u".2", sans),
                                                                  deletion(sans)},
         staging(staged + u".3", true)},
    };
    for (const Row& row : rows) {
        const Action made = staging_for(row.font, row.pending);
        EXPECT_EQ(made, row.expected) << row.description << " " << readable(made.path);
        FontFacts staged_font = row.font;
        staged_font.staged.push_back({made.path, same_as_source});
        std::vector<PendingOperation> pending = row.pending;
        if (made.schedule) pending.push_back(replacement(made.path, sans));
        for (NearbyFile& file : staged_font.staged) {
            if (file.path == made.path) file.state = same_as_source;
        }
        EXPECT_EQ(copy_after_restart(staged_font, pending), same_as_source) << row.description;
    }
}

struct RepairRow {
    const char* description;
    DeploySnapshot after;  // as Typeloader.exe's run left it
    std::vector<String> copies, stagings;
};

void PrintTo(const RepairRow& row, std::ostream* out) { *out << row.description; }

class Repairing : public testing::TestWithParam<RepairRow> {};

TEST_P(Repairing, CopiesAgainOnceThenStages) {
    const Repair repair = plan_repair(GetParam().after);
    EXPECT_EQ(paths_of(repair.copies, ActionKind::copy_again), GetParam().copies);
    EXPECT_EQ(paths_of(repair.stagings, ActionKind::stage), GetParam().stagings);
}

FontFacts tried(FileState copy) {
    FontFacts facts = font(copy);
    facts.copy_tried = true;
    return facts;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Repairing,
    testing::Values(
        RepairRow{"right, now and after the restart", machine({font(same_as_source)}), {}, {}},
        RepairRow{"left different", machine({font(other)}), {sans}, {}},
        RepairRow{"left missing", machine({font(missing)}), {sans}, {}},
        RepairRow{"copied once already, still different: in use", machine({tried(other)}), {}, {staged}},
        RepairRow{"right now, deleted at the restart", machine({font(same_as_source)}, {}, {deletion(sans)}), {}, {staged}},
        RepairRow{"different now, its replacement waits", machine({font(other, {{staged, same_as_source}})}, {}, {replacement(staged, sans)}),
                  {}, {}}));

// The fonts key as a run of Typeloader.exe may leave it, and what a failed
// install puts back.
FontValue stored(const String& name, const String& data) {
    FontValue value{name, 1, data};
    for (char16_t unit : data + u'\0') value.raw += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return value;
}

RegistryValue as_stored(const FontValue& value) { return {value.name, value.type, value.raw}; }

struct PutBackRow {
    const char* description;
    DeploySnapshot before, after;
    std::optional<std::vector<RegistryValue>> now;
    std::vector<String> restored, removed, files;
    std::vector<String> copies_restored = {};  // from the bytes kept aside
};

void PrintTo(const PutBackRow& row, std::ostream* out) { *out << row.description; }

class PuttingBack : public testing::TestWithParam<PutBackRow> {};

TEST_P(PuttingBack, RestoresWhatWasThereAndRemovesWhatTheRunMade) {
    const PutBackRow& row = GetParam();
    const std::vector<Action> actions = plan_put_back(row.before, row.after, row.now, {staged}, u"C:\\Run\\Aside");
    std::vector<String> restored, removed;
    for (const Action& action : actions) {
        if (action.kind == ActionKind::restore_value) restored.push_back(action.value.name + u"=" + registry_text(action.value.data));
        if (action.kind == ActionKind::remove_value) removed.push_back(action.value.name);
    }
    EXPECT_EQ(restored, row.restored) << readable(restored);
    EXPECT_EQ(removed, row.removed) << readable(removed);
    std::vector<String> files{staged};  // the staged file the run wrote
    files.insert(files.end(), row.files.begin(), row.files.end());
    EXPECT_EQ(paths_of(actions, ActionKind::remove_file), files) << readable(paths_of(actions, ActionKind::remove_file));
    EXPECT_EQ(paths_of(actions, ActionKind::restore_file), row.copies_restored);
    for (const Action& action : actions) {
        if (action.kind == ActionKind::restore_file) EXPECT_EQ(action.source, u"C:\\Run\\Aside\\Sans.ttf");
    }
}

const FontValue old_sans = stored(u"Acme Sans", fonts + u"\\Old.ttf");
const FontFacts serif{u"Serif.ttf", u"", fonts + u"\\Serif.ttf", FileState::missing, {}};
const FontFacts serif_made{u"Serif.ttf", u"", fonts + u"\\Serif.ttf", FileState::same_as_source, {}};

INSTANTIATE_TEST_SUITE_P(
    Table, PuttingBack,
    testing::Values(
        PutBackRow{"its data and its copy changed: both restored", machine({font(other)}, {old_sans}), machine({font(same_as_source)}),
                   std::vector{as_stored(stored(u"Acme Sans", sans))}, {u"Acme Sans=C:\\Windows\\Fonts\\Old.ttf"}, {}, {}, {sans}},
        PutBackRow{"as it was: left alone", machine({font(other)}, {old_sans}), machine({font(other)}),
                   std::vector{as_stored(old_sans)}, {}, {}, {}},
        PutBackRow{"gone: restored", machine({font(other)}, {old_sans}), machine({font(other)}), std::vector<RegistryValue>{},
                   {u"Acme Sans=C:\\Windows\\Fonts\\Old.ttf"}, {}, {}},
        PutBackRow{"added by the run, in other case: removed", machine({font(missing)}), machine({font(same_as_source)}),
                   std::vector{as_stored(stored(u"ACME SANS", sans))}, {}, {u"ACME SANS"}, {sans}},
        PutBackRow{"added under the title though not planned: removed", machine({font(same_as_source)}, {stored(u"Acme Sans", sans)}),
                   machine({font(same_as_source)}, {stored(u"Acme Sans", sans), stored(u"acme Planted", u"p.ttf")}),
                   std::vector{as_stored(stored(u"Acme Sans", sans)), as_stored(stored(u"acme Planted", u"p.ttf"))}, {},
                   {u"acme Planted"}, {}},
        PutBackRow{"another program's value: left alone", machine({font(same_as_source)}), machine({font(same_as_source)}),
                   std::vector{as_stored(stored(u"Other Sans", sans))}, {}, {}, {}},
        PutBackRow{"the key cannot be opened: no value touched, the copy restored", machine({font(other)}, {old_sans}),
                   machine({font(same_as_source)}), std::nullopt, {}, {}, {}, {sans}},
        PutBackRow{"copies the run made, matched by path whatever the order", machine({font(same_as_source), serif}),
                   machine({serif_made, font(same_as_source)}), std::vector<RegistryValue>{}, {}, {}, {serif.copy}}));

struct DeletionRow {
    const char* description;
    PlatformStatus refused_now;
    bool at_restart;
};

TEST(DeletionAtRestart, OnlyForACopyInUse) {
    const DeletionRow rows[] = {
        {"shared without delete access", status_sharing_violation, true},
        {"a region locked", status_lock_violation, true},
        {"mapped, as a loaded font is", status_user_mapped_file, true},
        {"refused by its access, as a loaded font may be", status_access_denied, true},
        {"gone meanwhile", status_file_not_found, false},
        {"its folder gone", status_path_not_found, false},
    };
    const Action deletion{.kind = ActionKind::delete_copy, .path = sans};
    for (const DeletionRow& row : rows) {
        const std::optional<Action> later = deletion_at_restart(deletion, row.refused_now);
        ASSERT_EQ(later.has_value(), row.at_restart) << row.description;
        if (later) EXPECT_EQ(*later, (Action{.kind = ActionKind::delete_at_restart, .path = sans, .refused_now = row.refused_now}));
    }
}

TEST(NeedsIdentity, WhereAValueCouldNameACopyUnderAnotherSpelling) {
    const CopyNames copies = copy_names_of({font(missing)});
    struct Row {
        const char* description;
        String path;
        bool refused, needed;
    } rows[] = {
        {"the copy's own path", u"C:\\WINDOWS\\Fonts\\sans.ttf", false, false},
        {"the copy's name in another folder", u"D:\\Fonts\\SANS.TTF", false, true},
        {"a short name", fonts + u"\\SANSLO~1.TTF", false, true},
        {"another file", fonts + u"\\Serif.ttf", false, false},
        {"a refused text", u"", true, true},
    };
    for (const Row& row : rows) EXPECT_EQ(needs_identity(row.path, row.refused, copies), row.needed) << row.description;
}

TEST(PendingOperations, PairsInOrderUpToTheTerminator) {
    using namespace std::string_literals;
    const String units = u"\\??\\C:\\a\0\0\\??\\C:\\b\0!\\??\\C:\\c\0\\??\\UNC\\s\\x\0\\??\\D:\\y\0\0"s;
    std::vector<PendingOperation> operations = parse_pending_operations(units);
    ASSERT_EQ(operations.size(), 3u);
    EXPECT_EQ(operations[0].from, u"C:\\a");
    EXPECT_EQ(operations[0].to, u"");
    EXPECT_EQ(operations[1].from, u"C:\\b");
    EXPECT_EQ(operations[1].to, u"C:\\c");
    EXPECT_TRUE(operations[1].replace_existing);
    EXPECT_EQ(operations[2].from, u"\\\\s\\x");
    EXPECT_EQ(operations[2].to, u"D:\\y");
    EXPECT_FALSE(operations[2].replace_existing);
    EXPECT_TRUE(parse_pending_operations(u"").empty());
    EXPECT_EQ(parse_pending_operations(u"\\??\\C:\\a\0\0"s).size(), 1u);  // no final terminator
}

TEST(StagedNames, TheSuffixAndANumber) {
    EXPECT_TRUE(is_staged_name_of(staged, sans));
    EXPECT_TRUE(is_staged_name_of(staged + u".12", sans));
    EXPECT_FALSE(is_staged_name_of(staged + u".x", sans));
    EXPECT_FALSE(is_staged_name_of(staged + u".", sans));
    EXPECT_FALSE(is_staged_name_of(sans, sans));
}

struct ListingRow {
    const char* description;
    std::vector<String> names;  // as the folder lists them
    const char16_t* copy;
    bool missing;               // known missing without a look of its own
};

void PrintTo(const ListingRow& row, std::ostream* out) { *out << row.description; }

class Listing : public testing::TestWithParam<ListingRow> {};

TEST_P(Listing, KnowsAMissingNameOnlyWhereEveryCaseRuleAgrees) {
    EXPECT_EQ(listed_as_missing(folder_listing(GetParam().names), GetParam().copy), GetParam().missing);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Listing,
    testing::Values(ListingRow{"not there", {u"arial.ttf"}, u"Sans.ttf", true},
                    ListingRow{"there in another case", {u"SANS.TTF"}, u"Sans.ttf", false},
                    ListingRow{"there by its short name", {u"Sans Long Name.ttf", u"SANS.TTF"}, u"sans.ttf", false},
                    ListingRow{"a name with a tilde", {u"arial.ttf"}, u"SANSLO~1.TTF", false},
                    ListingRow{"a name that is not plain ASCII", {u"arial.ttf"}, u"San\u017F.ttf", false},
                    ListingRow{"a folder holding a name that is not plain ASCII", {u"\u017Fans.ttf"}, u"Sans.ttf", false}));

TEST(ListingOfAFolder, TakesTheStagedNames) {
    const FolderListing listing = folder_listing({u"Sans.ttf", u"Sans.ttf.TYPELOADER-DEPLOY.2", u"Serif.ttf"});
    EXPECT_EQ(listing.staged_names, std::vector<String>{u"Sans.ttf.TYPELOADER-DEPLOY.2"});
}

struct TouchingRow {
    const char* description;
    std::vector<PendingOperation> pending;
    std::vector<size_t> kept;  // indexes into pending
};

void PrintTo(const TouchingRow& row, std::ostream* out) { *out << row.description; }

class OperationsTouching : public testing::TestWithParam<TouchingRow> {};

TEST_P(OperationsTouching, KeepsThoseThatCanChangeACopyOrAStagedFile) {
    const TouchingRow& row = GetParam();
    std::vector<String> expected, found;
    for (size_t i : row.kept) expected.push_back(row.pending[i].from + u">" + row.pending[i].to);
    for (const PendingOperation& operation : operations_touching({font(other)}, row.pending)) {
        found.push_back(operation.from + u">" + operation.to);
    }
    EXPECT_EQ(found, expected);
}

const String temp = u"C:\\Windows\\Temp";

INSTANTIATE_TEST_SUITE_P(
    Table, OperationsTouching,
    testing::Values(
        TouchingRow{"elsewhere", {replacement(temp + u"\\a", temp + u"\\b")}, {}},
        TouchingRow{"the copy deleted, in another case", {deletion(u"C:\\WINDOWS\\FONTS\\SANS.TTF")}, {0}},
        TouchingRow{"a staged file moved onto the copy", {replacement(staged, sans)}, {0}},
        TouchingRow{"a numbered staged file deleted", {deletion(staged + u".2")}, {0}},
        TouchingRow{"a move that a later one onto the copy takes from",
                    {replacement(temp + u"\\a", temp + u"\\b"), replacement(temp + u"\\b", sans)}, {0, 1}},
        TouchingRow{"a deletion of a file a later move onto the copy takes",
                    {deletion(temp + u"\\b"), replacement(temp + u"\\b", sans)}, {0, 1}},
        TouchingRow{"after the last one that touches the copy",
                    {deletion(sans), replacement(temp + u"\\a", temp + u"\\b")}, {0}},
        TouchingRow{"a name only like a staged one", {deletion(sans + u".Typeloader-Deployed")}, {}}));

}  // namespace

namespace {

const String old_copy = fonts + u"\\Old.ttf";
const InstallRequest version_one{u"1.0", u"20250101", {fonts}};
const InstallRequest version_two{u"2.0", u"20261210", {fonts}};
const InstallRequest version_three{u"3.0", u"20260601", {fonts}};

FontFacts dropped_font(FileState copy, bool in_use = false) {
    FontFacts font{u"Old.ttf", u"", old_copy, copy, {}};
    font.copy_in_use = in_use;
    return font;
}
FontValue own_old() { return {u"Acme Old", 1, old_copy}; }

FontFacts in_use(FontFacts font) {
    font.copy_in_use = true;
    return font;
}

DeploySnapshot with_dropped(DeploySnapshot snapshot, std::vector<FontFacts> dropped) {
    snapshot.dropped = std::move(dropped);
    return snapshot;
}

// The entry and kept copy as an install of `request` left them.
DeploySnapshot installed(DeploySnapshot snapshot, const InstallRequest& request) {
    PackageState& package = snapshot.package;
    package.entry_key = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Typeloader Acme";
    package.kept = {u"C:\\Program Files\\Typeloader", u"C:\\Program Files\\Typeloader\\k", u"C:\\Program Files\\Typeloader\\k\\Typeloader-Deploy.exe",
                    u"C:\\Program Files\\Typeloader\\k\\Typeloader.exe"};
    package.entry_status = status_success;
    package.entry = expected_entry(snapshot, request);
    package.kept_state = {u"", same_as_source, same_as_source, true};
    return snapshot;
}

DeploySnapshot without_entry(DeploySnapshot snapshot) {
    snapshot.package.entry_status = status_file_not_found;
    snapshot.package.entry.clear();
    return snapshot;
}

DeploySnapshot kept_copy_gone(DeploySnapshot snapshot) {
    snapshot.package.kept_state = {};
    return snapshot;
}

std::vector<ActionKind> kinds_of(const std::vector<Action>& actions) {
    std::vector<ActionKind> kinds;
    for (const Action& action : actions) kinds.push_back(action.kind);
    return kinds;
}

struct VersionRow {
    const char* description;
    DeploySnapshot snapshot;
    bool run;
    std::vector<String> drops;
    std::vector<ActionKind> housekeeping, package;
    Outcome outcome;
};

void PrintTo(const VersionRow& row, std::ostream* out) { *out << row.description; }

class Versions : public testing::TestWithParam<VersionRow> {};

}  // namespace

// Version two's bundle holds Sans only, from every starting point.
TEST_P(Versions, OnePlanFromAnyStartingPoint) {
    const VersionRow& row = GetParam();
    const InstallPlan plan = plan_install(row.snapshot, version_two);
    ASSERT_TRUE(plan.refusals.empty()) << readable(plan.refusals);
    EXPECT_EQ(paths_of(plan.actions, ActionKind::run_typeloader).size(), row.run ? 1u : 0u);
    std::vector<String> drops;
    for (const Action& drop : plan.drops) drops.push_back(drop.value.name);
    EXPECT_EQ(drops, row.drops) << readable(drops);
    EXPECT_EQ(kinds_of(plan.housekeeping), row.housekeeping);
    EXPECT_EQ(kinds_of(plan.package), row.package);
    EXPECT_EQ(install_outcome(plan, row.snapshot, false), row.outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Versions,
    testing::Values(
        VersionRow{"nothing there", machine({font(missing)}), true, {}, {}, {ActionKind::keep_programs, ActionKind::write_entry}, Outcome::changed},
        VersionRow{"this version", installed(machine({font(same_as_source)}, {own()}), version_two), false, {}, {}, {}, Outcome::unchanged},
        VersionRow{"an older version, the fonts alike", installed(machine({font(same_as_source)}, {own()}), version_one), false, {}, {},
                   {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"an older version with a font this one drops",
                   installed(with_dropped(machine({font(same_as_source)}, {own(), own_old()}), {dropped_font(same_as_source)}), version_one),
                   false, {u"Acme Old"}, {ActionKind::delete_copy}, {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"the dropped font in use: deleted at the restart, which the run does not ask for",
                   installed(with_dropped(machine({font(same_as_source)}, {own(), own_old()}), {dropped_font(same_as_source, true)}), version_one),
                   false, {u"Acme Old"}, {ActionKind::delete_at_restart}, {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"the dropped font's copy gone already", installed(with_dropped(machine({font(same_as_source)}, {own(), own_old()}),
                                                                                  {dropped_font(missing)}), version_one),
                   false, {u"Acme Old"}, {}, {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"the dropped font's copy another product names too",
                   installed(with_dropped(machine({font(same_as_source)}, {own(), own_old(), {u"Old (TrueType)", 1, old_copy}}),
                                          {dropped_font(same_as_source)}), version_one),
                   false, {u"Acme Old"}, {}, {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"a font replaced", installed(machine({font(other)}, {own()}), version_one), true, {}, {}, {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"a font replaced while in use: a restart", installed(machine({in_use(font(other))}, {own()}), version_one), false, {}, {},
                   {ActionKind::write_entry}, Outcome::restart},
        VersionRow{"a newer version: replaced and dropped alike",
                   installed(with_dropped(machine({font(other)}, {own(), own_old()}), {dropped_font(same_as_source)}), version_three), true,
                   {u"Acme Old"}, {ActionKind::delete_copy}, {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"partly removed: the registration gone", installed(machine({font(same_as_source)}), version_two), true, {}, {},
                   {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"partly removed: the entry gone", without_entry(installed(machine({font(same_as_source)}, {own()}), version_two)), false,
                   {}, {}, {ActionKind::write_entry}, Outcome::changed},
        VersionRow{"the kept copy removed by hand", kept_copy_gone(installed(machine({font(same_as_source)}, {own()}), version_two)), false,
                   {}, {}, {ActionKind::keep_programs, ActionKind::write_entry}, Outcome::changed},
        VersionRow{"a copy the restart deletes, though registered: a restart",
                   installed(machine({font(same_as_source)}, {own()}, {deletion(sans)}), version_two), false, {}, {}, {ActionKind::write_entry},
                   Outcome::restart}));

struct PackageRefusalRow {
    const char* description;
    PackageState package;
    const char* refusal;
};

void PrintTo(const PackageRefusalRow& row, std::ostream* out) { *out << row.description; }

class PackageRefusals : public testing::TestWithParam<PackageRefusalRow> {};

TEST_P(PackageRefusals, AnEntryNotOursOrUnknownAndAnUnsafeKeptCopy) {
    const PackageRefusalRow& row = GetParam();
    DeploySnapshot snapshot = machine({font(missing)});
    snapshot.package = row.package;
    const std::vector<String> refusals = plan_install(snapshot, version_two).refusals;
    if (!row.refusal) {
        EXPECT_TRUE(refusals.empty()) << readable(refusals);
        return;
    }
    ASSERT_EQ(refusals.size(), 1u) << readable(refusals);
    EXPECT_NE(refusals[0].find(ascii(row.refusal)), String::npos) << readable(refusals);
    EXPECT_EQ(plan_uninstall(snapshot, {fonts}).refusals, refusals);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PackageRefusals,
    testing::Values(
        PackageRefusalRow{"no entry", {.entry_status = status_file_not_found}, nullptr},
        PackageRefusalRow{"our entry, the mark in another case", {.entry_status = status_success, .entry = {{u"typeloadertitle", 1, ""}}}, nullptr},
        PackageRefusalRow{"a stranger's entry", {.entry_status = status_success, .entry = {{u"DisplayName", 1, ""}}}, "another product's"},
        PackageRefusalRow{"an entry that cannot be read", {.entry_status = status_access_denied}, "cannot be read (error 5)"},
        PackageRefusalRow{"a kept copy others may change", {.kept_state = {.refusal = u"C:\\Program Files\\Typeloader: Users may write"}},
                          "Users may write"}));

TEST(UninstallPackage, TheEntryAndTheKeptCopyGoLastAndACopyInUseAtTheRestart) {
    DeploySnapshot snapshot = installed(machine({in_use(font(same_as_source))}, {own()}), version_two);
    const UninstallPlan plan = plan_uninstall(snapshot, {fonts});
    EXPECT_EQ(kinds_of(plan.files), std::vector<ActionKind>{ActionKind::delete_at_restart});
    EXPECT_EQ(kinds_of(plan.package), (std::vector<ActionKind>{ActionKind::remove_entry, ActionKind::remove_kept_copy}));
    EXPECT_FALSE(plan_uninstall(kept_copy_gone(without_entry(snapshot)), {fonts}).nothing_to_change());
    snapshot = kept_copy_gone(without_entry(installed(machine({font(missing)}), version_two)));
    EXPECT_TRUE(plan_uninstall(snapshot, {fonts}).nothing_to_change());
}

TEST(PuttingBackDrops, ADroppedRegistrationRemovedIsRestored) {
    FontValue sans_value = own(), old_value = own_old();
    sans_value.raw = registry_string_data(sans);
    old_value.raw = registry_string_data(old_copy);
    const DeploySnapshot before = with_dropped(machine({font(same_as_source)}, {sans_value, old_value}), {dropped_font(same_as_source)});
    const std::vector<RegistryValue> now{{u"Acme Sans", 1, registry_string_data(sans)}};
    const std::vector<Action> actions = plan_put_back(before, before, now, {}, u"C:\\Aside");
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].kind, ActionKind::restore_value);
    EXPECT_EQ(actions[0].value.name, u"Acme Old");
}
