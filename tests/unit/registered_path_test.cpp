#include <gtest/gtest.h>

#include <map>

#include "deploy/registered_path.h"
#include "platform/registry.h"
#include "test_support.h"

namespace {

const String fonts = u"C:\\Windows\\Fonts";
constexpr uint32_t reg_sz = registry_string_type;
constexpr uint32_t reg_expand_sz = registry_expand_string_type;

// Names as written: matching them without case is the caller's part.
std::optional<String> environment(StringView name) {
    static const std::map<String, String> variables = {{u"SystemRoot", u"C:\\Windows"},
                                                       {u"Drive", u"D:"},
                                                       {u"Folder", u"Shared Fonts"},
                                                       {u"FontFile", u"Acme.ttf"},
                                                       {u"Percent", u"%SystemRoot%"},
                                                       {u"Empty", u""}};
    auto found = variables.find(String(name));
    if (found == variables.end()) return std::nullopt;
    return found->second;
}

struct PathCase {
    const char* description;
    String data;
    uint32_t type;
    String path;          // expected when usable
    const char* refused;  // a word of the expected refusal, or nullptr
};

void PrintTo(const PathCase& row, std::ostream* out) { *out << row.description << " " << readable(row.data); }

PathCase usable(const char* description, String data, uint32_t type, String path) {
    return PathCase{description, std::move(data), type, std::move(path), nullptr};
}

PathCase refused(const char* description, String data, uint32_t type, const char* word) {
    return PathCase{description, std::move(data), type, String(), word};
}

class RegisteredPath : public testing::TestWithParam<PathCase> {};

TEST_P(RegisteredPath, ResolvesOneSpellingOrRefuses) {
    ResolvedPath resolved = resolve_registered_path(GetParam().data, GetParam().type, fonts, environment);
    if (GetParam().refused) {
        EXPECT_EQ(resolved.path, u"");
        EXPECT_NE(readable(resolved.refusal).find(GetParam().refused), std::string::npos) << readable(resolved.refusal);
    } else {
        EXPECT_EQ(resolved.refusal, u"");
        EXPECT_EQ(resolved.path, GetParam().path) << readable(resolved.path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegisteredPath,
    testing::Values(
        usable("full path", u"C:\\Windows\\Fonts\\Acme.ttf", reg_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        usable("REG_SZ keeps %", u"C:\\Fonts\\%SystemRoot%.ttf", reg_sz, u"C:\\Fonts\\%SystemRoot%.ttf"),
        usable("REG_EXPAND_SZ", u"%SystemRoot%\\Fonts\\Acme.ttf", reg_expand_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        usable("two variables", u"%Drive%\\%Folder%\\Acme.ttf", reg_expand_sz, u"D:\\Shared Fonts\\Acme.ttf"),
        usable("an expanded % is not expanded again", u"C:\\x\\%Percent%.ttf", reg_expand_sz, u"C:\\x\\%SystemRoot%.ttf"),
        usable("a variable holding a bare name", u"%FontFile%", reg_expand_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        refused("unknown variable", u"%WinDir%\\Fonts\\Acme.ttf", reg_expand_sz, "%WinDir% is not set"),
        refused("variable names keep their case here", u"%SYSTEMROOT%\\Fonts\\Acme.ttf", reg_expand_sz, "not set"),
        refused("%% names no variable", u"C:\\Fonts\\100%%.ttf", reg_expand_sz, "not set"),
        refused("unclosed %", u"C:\\Fonts\\100%.ttf", reg_expand_sz, "no % closes"),
        refused("expands to nothing", u"%Empty%", reg_expand_sz, "empty"),
        refused("empty REG_SZ", u"", reg_sz, "empty"),
        refused("REG_MULTI_SZ", u"C:\\Windows\\Fonts\\Acme.ttf", 7, "neither"),
        usable("bare name", u"\u00C9lan.ttf", reg_sz, u"C:\\Windows\\Fonts\\\u00C9lan.ttf"),
        usable("forward slashes", u"C:/Windows/Fonts/Acme.ttf", reg_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        usable("\\\\?\\ prefix", u"\\\\?\\C:\\Windows\\Fonts\\Acme.ttf", reg_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        usable("\\??\\ prefix", u"\\??\\C:\\Windows\\Fonts\\Acme.ttf", reg_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        usable("\\\\.\\ prefix", u"\\\\.\\C:\\Windows\\Fonts\\Acme.ttf", reg_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        usable("//?/ prefix", u"//?/C:/Windows/Fonts/Acme.ttf", reg_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        usable("\\\\?\\UNC\\", u"\\\\?\\UNC\\server\\share\\Acme.ttf", reg_sz, u"\\\\server\\share\\Acme.ttf"),
        usable("\\??\\unc\\", u"\\??\\unc\\server\\share\\Acme.ttf", reg_sz, u"\\\\server\\share\\Acme.ttf"),
        usable("UNC path", u"//server/share/Fonts/Acme.ttf", reg_sz, u"\\\\server\\share\\Fonts\\Acme.ttf"),
        usable("runs of backslashes", u"C:\\\\Windows\\\\\\Fonts/\\Acme.ttf", reg_sz, u"C:\\Windows\\Fonts\\Acme.ttf"),
        usable("runs after a share", u"\\\\server\\share\\\\Acme.ttf", reg_sz, u"\\\\server\\share\\Acme.ttf"),
        usable("leading space and non-ASCII kept", u"c:\\Windows\\Fonts\\ \u00E9lan.ttf", reg_sz,
               u"c:\\Windows\\Fonts\\ \u00E9lan.ttf"),
        usable("like a device name but longer", u"C:\\Fonts\\CONSOLE.ttf", reg_sz, u"C:\\Fonts\\CONSOLE.ttf"),
        usable("COM10 is no device", u"C:\\Fonts\\COM10.ttf", reg_sz, u"C:\\Fonts\\COM10.ttf"),
        refused("a run between server and share", u"\\\\server\\\\share\\Acme.ttf", reg_sz, "no server"),
        refused("three leading backslashes", u"\\\\\\server\\share\\Acme.ttf", reg_sz, "no server"),
        refused("server only", u"\\\\server", reg_sz, "no server"),
        refused("share only", u"\\\\server\\share", reg_sz, "folder"),
        refused("ends in a backslash", u"C:\\Windows\\Fonts\\", reg_sz, "folder"),
        refused("a root", u"C:\\", reg_sz, "folder"),
        refused("drive-relative", u"C:Acme.ttf", reg_sz, "not absolute"),
        refused("rooted without a drive", u"\\Windows\\Fonts\\Acme.ttf", reg_sz, "not absolute"),
        refused("no letter before the colon", u"1:\\Acme.ttf", reg_sz, "not absolute"),
        refused("volume name after \\\\?\\", u"\\\\?\\Volume{1}\\Acme.ttf", reg_sz, "not absolute"),
        refused("..", u"C:\\Windows\\Fonts\\..\\System32\\Acme.ttf", reg_sz, ". or .."),
        refused(".", u"C:\\Windows\\.\\Fonts\\Acme.ttf", reg_sz, ". or .."),
        refused("bare ..", u"..", reg_sz, ". or .."),
        refused(". as the server after \\\\?\\UNC", u"\\\\?\\UNC\\.\\C:\\Acme.ttf", reg_sz, ". or .."),
        refused("trailing dot", u"C:\\Windows\\Fonts\\Acme.ttf.", reg_sz, "ends in a dot"),
        refused("trailing space", u"C:\\Windows\\Fonts\\Acme.ttf ", reg_sz, "ends in a dot or a space"),
        refused("folder with a trailing space", u"C:\\Windows \\Fonts\\Acme.ttf", reg_sz, "ends in a dot or a space"),
        refused("stream", u"C:\\Windows\\Fonts\\Acme.ttf::$DATA", reg_sz, "character"),
        refused("wildcard", u"C:\\Windows\\Fonts\\Acme?.ttf", reg_sz, "character"),
        refused("DOS wildcard", u"C:\\Windows\\Fonts\\Acme<.ttf", reg_sz, "character"),
        refused("tab", u"C:\\Windows\\Fonts\\Ac\tme.ttf", reg_sz, "character"),
        refused("a second drive colon", u"C:\\Windows\\D:\\Acme.ttf", reg_sz, "character"),
        refused("NUL with an extension", u"C:\\Windows\\Fonts\\nul.ttf", reg_sz, "device"),
        refused("COM1 before spaces", u"C:\\Windows\\Fonts\\COM1 .ttf", reg_sz, "device"),
        refused("LPT with a superscript", u"C:\\Windows\\Fonts\\LPT\u00B9", reg_sz, "device"),
        refused("CONOUT$", u"C:\\Windows\\Fonts\\conout$", reg_sz, "device"),
        refused("a device as a folder", u"C:\\aux\\Acme.ttf", reg_sz, "device")));

TEST(RegisteredPath, BareNameWithoutAFontsFolderIsRefused) {
    EXPECT_NE(resolve_registered_path(u"Acme.ttf", reg_sz, u"", environment).refusal, u"");
}

struct FolderCase {
    const char* description;
    String path;
    String folder;
    bool inside;
};

void PrintTo(const FolderCase& row, std::ostream* out) { *out << row.description; }

class InsideFolder : public testing::TestWithParam<FolderCase> {};

TEST_P(InsideFolder, DirectChildOnly) {
    EXPECT_EQ(is_inside_folder(GetParam().path, GetParam().folder), GetParam().inside);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InsideFolder,
    testing::Values(FolderCase{"direct child", u"C:\\Windows\\Fonts\\Acme.ttf", fonts, true},
                    FolderCase{"folder in another case", u"c:\\WINDOWS\\fonts\\Acme.ttf", fonts, true},
                    FolderCase{"non-ASCII case", u"C:\\Users\\\u00E9lan\\Fonts\\a.ttf", u"C:\\Users\\\u00C9LAN\\Fonts", true},
                    FolderCase{"Kelvin sign is no K", u"C:\\\u212Aits\\a.ttf", u"C:\\Kits", false},
                    FolderCase{"folder given with a backslash", u"C:\\Windows\\Fonts\\Acme.ttf", u"C:\\Windows\\Fonts\\", true},
                    FolderCase{"root folder", u"C:\\Acme.ttf", u"C:\\", true},
                    FolderCase{"UNC folder", u"\\\\server\\share\\Acme.ttf", u"\\\\server\\share", true},
                    FolderCase{"grandchild", u"C:\\Windows\\Fonts\\Sub\\Acme.ttf", fonts, false},
                    FolderCase{"parent", u"C:\\Windows\\Acme.ttf", fonts, false},
                    FolderCase{"folder name as a prefix", u"C:\\Windows\\FontsX\\Acme.ttf", fonts, false},
                    FolderCase{"the folder itself", fonts, fonts, false},
                    FolderCase{"ends in a backslash", u"C:\\Windows\\Fonts\\", fonts, false},
                    FolderCase{"..", u"C:\\Windows\\Fonts\\..", fonts, false},
                    FolderCase{".", u"C:\\Windows\\Fonts\\.", fonts, false},
                    FolderCase{"no folder part", u"Acme.ttf", fonts, false},
                    FolderCase{"no folder", u"C:\\Acme.ttf", u"", false}));

}  // namespace
