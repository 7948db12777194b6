#include <gtest/gtest.h>

#include <functional>

#include "deploy/bundle_check.h"
#include "test_support.h"

namespace {

const String bundle = u"C:\\Bundle";
const String exe = bundle + u"\\Typeloader.exe";
const String font_folder = bundle + u"\\Font";
const String font = font_folder + u"\\Sans.ttf";

void give(const String& path, const AccessEntry& entry) {
    ObjectSecurity security = private_object_security();
    security.dacl.push_back(entry);
    memory_machine().security.objects[path] = security;
}

void own(const String& path, const String& owner) {
    ObjectSecurity security = private_object_security();
    security.owner = owner;
    memory_machine().security.objects[path] = security;
}

const String domain_admins = u"S-1-5-21-1004336348-1177238915-682003330-512";
constexpr uint32_t write_data = 0x2;
constexpr uint8_t files_inherit_only = 0x1 | 0x8;

struct BundleCase {
    const char* name;
    String folder;  // the program folder handed in
    std::function<void()> arrange;
    std::vector<String> refusals;
};

void PrintTo(const BundleCase& row, std::ostream* out) { *out << row.name; }

class Bundle : public testing::TestWithParam<BundleCase> {};

TEST_P(Bundle, Refusals) {
    reset_machine();
    add_memory_folder(bundle);
    add_memory_file(exe, "MZ");
    add_memory_folder(font_folder);
    add_memory_file(font, "\0\1\0\0");
    GetParam().arrange();
    EXPECT_EQ(readable(bundle_refusals(GetParam().folder, exe, font_folder)), readable(GetParam().refusals));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Bundle,
    testing::Values(
        BundleCase{"all private", bundle, [] {}, {}},
        BundleCase{"empty program folder", u"", [] {},
                   {u"the folder of Typeloader-Deploy.exe and Typeloader.exe is unknown (an empty path)"}},
        BundleCase{"users may add files to the program folder", bundle,
                   [] { give(bundle, {true, u"S-1-5-32-545", write_data, 0}); },
                   {u"C:\\Bundle: Users (S-1-5-32-545) may change it (write data or add files)"}},
        BundleCase{"users may change a file added to Font", bundle,
                   [] { give(font_folder, {true, u"S-1-5-32-545", write_data, files_inherit_only}); },
                   {u"C:\\Bundle\\Font: Users (S-1-5-32-545) may change a file created inside it (write data or add files)"}},
        BundleCase{"Font is a link", bundle, [] { find_memory_entry(font_folder)->reparse_point = true; },
                   {u"C:\\Bundle\\Font: it is a link or another reparse point"}},
        BundleCase{"Font is a file", bundle,
                   [] {
                       remove_memory_entry(find_memory_entry(font));
                       remove_memory_entry(find_memory_entry(font_folder));
                       add_memory_file(font_folder, "");
                   },
                   {u"C:\\Bundle\\Font: it is not a folder"}},
        BundleCase{"Typeloader.exe owned by a user", bundle, [] { own(exe, u"S-1-5-32-545"); },
                   {u"C:\\Bundle\\Typeloader.exe: it is owned by Users (S-1-5-32-545), who may change its permissions"}},
        BundleCase{"Font's security unreadable", bundle,
                   [] { memory_machine().failures[{Operation::read_object_security, font_folder}] = status_access_denied; },
                   {u"C:\\Bundle\\Font: its owner and permissions cannot be read (error 5)"}},
        BundleCase{"Domain Admins own a local Font", bundle, [] { own(font_folder, domain_admins); },
                   {u"C:\\Bundle\\Font: it is owned by Domain Admins (" + domain_admins +
                    u"), who may change its permissions"}},
        BundleCase{"a link on the way", u"C:\\Lnk\\Bundle",
                   [] {
                       add_memory_folder(u"C:\\Lnk");
                       find_memory_entry(u"C:\\Lnk")->reparse_point = true;
                       add_memory_folder(u"C:\\Lnk\\Bundle");
                   },
                   {u"C:\\Lnk: it is a link or another reparse point, on the way to the bundle"}},
        BundleCase{"Domain Admins own Font on a share", bundle,
                   [] {
                       own(font_folder, domain_admins);
                       memory_machine().security.network_roots = {u"C:\\Bundle\\"};
                   },
                   {}}));

TEST(FoldersOnTheWay, EveryFolderBelowTheRoot) {
    struct Row {
        const char* name;
        String path;
        std::vector<String> folders;
    } rows[] = {
        {"a drive", u"C:\\Program Files\\Typeloader\\Acme", {u"C:\\Program Files", u"C:\\Program Files\\Typeloader"}},
        {"a folder at the root", u"C:\\Bundle", {}},
        {"a share", u"\\\\corp\\NETLOGON\\Fonts\\Acme", {u"\\\\corp\\NETLOGON\\Fonts"}},
        {"a long drive path", u"\\\\?\\C:\\Tools\\Acme", {u"\\\\?\\C:\\Tools"}},
        {"a long share path", u"\\\\?\\UNC\\corp\\share\\Tools\\Acme", {u"\\\\?\\UNC\\corp\\share\\Tools"}},
    };
    for (const Row& row : rows) EXPECT_EQ(readable(folders_on_the_way(row.path)), readable(row.folders)) << row.name;
}

}  // namespace
