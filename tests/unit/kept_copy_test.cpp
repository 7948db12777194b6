#include <gtest/gtest.h>

#include <functional>

#include "deploy/digest.h"
#include "deploy/kept_copy.h"
#include "sddl.h"
#include "test_support.h"

namespace {

const KeptCopy kept = kept_copy_of(u"C:\\Program Files", u"Acme");
const String deploy_source = u"C:\\Tools\\Typeloader-Deploy.exe", typeloader_source = u"C:\\Tools\\Typeloader.exe";
const std::string deploy_bytes = "MZ deploy", typeloader_bytes = "MZ typeloader", old = "MZ old", none = "(missing)";
// icacls C:\ProgramData (access_rule_test.cpp): Users may add files.
const std::string users_may_write = "O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;CI;DCLCRPCR;;;BU)";
const String refused = u"the kept copy's folder " + kept.root + u" may not hold it: ";

uint64_t digest(const std::string& bytes) { return digest_of(bytes.data(), bytes.size()); }

void add_kept(const std::string& deploy, const std::string& typeloader) {
    add_memory_folder(kept.root);
    add_memory_folder(kept.folder);
    add_memory_file(kept.deploy_program, deploy);
    add_memory_file(kept.typeloader, typeloader);
}

std::string contents(const String& path) {
    const MemoryEntry* entry = find_memory_entry(path);
    return entry ? entry->contents : none;
}

String make() { return make_kept_copy(kept, deploy_source, digest(deploy_bytes), typeloader_source, digest(typeloader_bytes)); }

void fail(Operation operation, const String& subject, PlatformStatus status) { memory_machine().failures[{operation, subject}] = status; }

}  // namespace

TEST(KeptCopy, OneShortFolderPerTitleAsTheRegistryComparesIt) {
    struct { const char16_t *left, *right; bool shared; } rows[] = {
        {u"Acme", u"aCME", true}, {u"\u00C4rger", u"\u00E4rger", true}, {u"Acme", u"Acme2", false}};
    for (const auto& row : rows) {
        EXPECT_EQ(kept_copy_of(u"C:\\P", row.left).folder == kept_copy_of(u"C:\\P", row.right).folder, row.shared) << readable(String(row.left));
    }
    const KeptCopy odd = kept_copy_of(u"C:\\P", String(250, u'x') + u"|<>*?:/");
    EXPECT_TRUE(odd.folder.size() == 32 && odd.folder.starts_with(u"C:\\P\\Typeloader\\") &&
                odd.folder.find_first_not_of(u"0123456789abcdef", 16) == String::npos) << readable(odd.folder);
    EXPECT_EQ(odd.deploy_program + u"|" + odd.typeloader, odd.folder + u"\\Typeloader-Deploy.exe|" + odd.folder + u"\\Typeloader.exe");
}

TEST(KeptCopy, ReadsEachProgramBehindFoldersOnlyAdministratorsMayChange) {
    using enum FileState;
    struct { const char* name; std::function<void()> arrange; String refusal; FileState deploy, typeloader; bool folder; } rows[] = {
        {"nothing there", [] {}, u"", missing, missing, false},
        {"both as built", [] { add_kept(deploy_bytes, typeloader_bytes); }, u"", same_as_source, same_as_source, true},
        {"an older deploy program", [] { add_kept(old, typeloader_bytes); }, u"", other, same_as_source, true},
        {"the root a junction", [] { add_kept(old, old), find_memory_entry(kept.root)->reparse_point = true; },
         refused + u"it is a link or another reparse point", missing, missing, false},
        {"the root Users may write", [] { add_kept(old, old), memory_machine().security.objects[kept.root] = from_sddl(users_may_write); },
         refused + u"someone other than SYSTEM and Administrators may change it", missing, missing, false},
        {"the root unreadable", [] { add_kept(old, old), fail(Operation::read_object_security, kept.root, 5); },
         refused + u"its security cannot be read (error 5)", missing, missing, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        reset_machine();
        row.arrange();
        const KeptCopyState state = read_kept_copy(kept, digest(deploy_bytes), digest(typeloader_bytes));
        EXPECT_EQ(readable(state.refusal), readable(row.refusal));
        EXPECT_EQ(std::tuple(state.deploy_program, state.typeloader, state.folder_exists), std::tuple(row.deploy, row.typeloader, row.folder));
    }
}

TEST(KeptCopy, MakesEachProgramWholeOrLeavesTheOldOne) {
    const String failed = u"Kept copy " + kept.typeloader + u" could not be made";
    struct { const char* name; std::function<void()> arrange; String line; std::string deploy, typeloader; } rows[] = {
        {"fresh", [] {}, u"", deploy_bytes, typeloader_bytes},
        {"over an old copy", [] { add_kept(old, old); }, u"", deploy_bytes, typeloader_bytes},
        {"the copy fails", [] { add_kept(old, old), fail(Operation::copy_file_replacing, kept.typeloader + u".new", 5); }, failed + u" (error 5)", deploy_bytes, old},
        {"the rename fails", [] { add_kept(old, old), fail(Operation::replace_file, kept.typeloader, 5); }, failed + u" (error 5)", deploy_bytes, old},
        {"Typeloader.exe changed after its check", [] { add_kept(old, old), add_memory_file(typeloader_source, "MZ changed"); },
         failed + u": its bytes are not those checked", deploy_bytes, old},
        {"the root cannot be made", [] { fail(Operation::create_private_folder, kept.root, 5); }, u"Kept copy " + kept.root + u" could not be made (error 5)", none, none},
        {"the root Users may write", [] { add_memory_folder(kept.root), memory_machine().security.objects[kept.root] = from_sddl(users_may_write); },
         refused + u"someone other than SYSTEM and Administrators may change it", none, none}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        reset_machine();
        add_memory_file(deploy_source, deploy_bytes);
        add_memory_file(typeloader_source, typeloader_bytes);
        row.arrange();
        EXPECT_EQ(readable(make()), readable(row.line));
        EXPECT_EQ(std::pair(contents(kept.deploy_program), contents(kept.typeloader)), std::pair(row.deploy, row.typeloader));
        for (const MemoryEntry& entry : memory_machine().files.entries) EXPECT_FALSE(entry.path.ends_with(u".new")) << readable(entry.path);
    }
}

TEST(KeptCopy, RemovesOrPutsARunningProgramAsideForTheRestart) {
    struct { const char* name; std::function<void()> arrange; String line; bool deferred; } rows[] = {
        {"plain", [] {}, u"", false},
        {"already gone", [] { remove_memory_entry(find_memory_entry(kept.deploy_program)); }, u"", false},
        {"the deploy program running", [] { fail(Operation::delete_file, kept.deploy_program, 5); }, u"", true},
        {"held without delete sharing", [] { find_memory_entry(kept.deploy_program)->in_use = true; },
         u"Kept copy " + kept.deploy_program + u" could not be removed (error 32)", false},
        {"Typeloader.exe write-protected", [] { fail(Operation::delete_file, kept.typeloader, 19); },
         u"Kept copy " + kept.typeloader + u" could not be removed (error 19)", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        reset_machine();
        add_kept(deploy_bytes, typeloader_bytes);
        row.arrange();
        bool deferred = !row.deferred;
        EXPECT_EQ(readable(remove_kept_copy(kept, deferred)), readable(row.line));
        EXPECT_EQ(deferred, row.deferred);
        EXPECT_EQ(find_memory_entry(kept.folder) != nullptr, row.deferred || !row.line.empty());
        EXPECT_NE(find_memory_entry(kept.root), nullptr);  // other titles' folders may be in it
        const auto& pending = memory_machine().files.restart_operations;
        ASSERT_EQ(pending.size(), row.deferred ? 2u : 0u);
        if (!row.deferred) continue;
        // The program under a name no kept copy gives, then the folder.
        EXPECT_TRUE(pending[0].from.starts_with(kept.deploy_program + u".") && pending[0].from.ends_with(u".removed"));
        EXPECT_EQ(contents(pending[0].from), deploy_bytes);
        EXPECT_EQ(pending[1].from, kept.folder);
    }
}

// A program put aside takes no name of another put aside before it.
TEST(KeptCopy, EachRunningProgramGoesAsideUnderANameOfItsOwn) {
    reset_machine();
    add_memory_file(deploy_source, deploy_bytes);
    add_memory_file(typeloader_source, typeloader_bytes);
    fail(Operation::delete_file, kept.deploy_program, 5);
    bool deferred = false;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(readable(make()), readable(u""));
        ASSERT_EQ(readable(remove_kept_copy(kept, deferred)), readable(u""));
    }
    const auto& pending = memory_machine().files.restart_operations;
    ASSERT_EQ(pending.size(), 4u);
    EXPECT_NE(pending[0].from, pending[2].from);
    EXPECT_NE(find_memory_entry(pending[0].from), nullptr);
}
