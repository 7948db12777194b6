#include <gtest/gtest.h>

#include "fonts/jobs.h"
#include "test_support.h"

namespace {

const String font_folder = u"C:\\Tools\\Font";
const String fonts = u"C:\\Windows\\Fonts";

class Install : public testing::Test {
protected:
    void SetUp() override {
        reset_machine();
        add_memory_folder(font_folder);
    }

    void add_font(const String& name, const std::string& contents = "glyphs") {
        add_memory_file(font_folder + u"\\" + name, contents);
    }

    std::vector<std::pair<String, String>> registrations() {
        std::vector<std::pair<String, String>> values;
        for (const MemoryValue& value : memory_font_values()) {
            EXPECT_EQ(value.type, registry_string_type);
            values.emplace_back(value.name, value.data);
        }
        return values;
    }
};

TEST_F(Install, CopiesAndRegistersInTableOrder) {
    add_font(u"FontA.ttf", "a");
    add_font(u"FontB.ttf", "b");
    add_font(u"FontC.ttf", "c");
    add_font(u"Notes.txt");
    install_fonts(u"Acme");
    EXPECT_EQ(memory_machine().output.console,
              console_lines({"Install Font : Acme", "Install OK : Acme FontB", "Install OK : Acme FontC",
                             "Install OK : Acme FontA"}));
    EXPECT_EQ(registrations(), (std::vector<std::pair<String, String>>{
                                   {u"Acme FontB", fonts + u"\\FontB.ttf"},
                                   {u"Acme FontC", fonts + u"\\FontC.ttf"},
                                   {u"Acme FontA", fonts + u"\\FontA.ttf"}}));
    ASSERT_NE(find_memory_entry(fonts + u"\\FontA.ttf"), nullptr);
    EXPECT_EQ(find_memory_entry(fonts + u"\\FontA.ttf")->contents, "a");
    EXPECT_EQ(find_memory_entry(fonts + u"\\Notes.txt"), nullptr);
}

TEST_F(Install, FileTitlesFromAwkwardNames) {
    add_font(u"My.Font.ttf");
    add_font(u".ttf");
    add_font(u"Sans.ttf", "first");
    add_font(u"Sans.ttfx", "second");  // matched through its short name
    add_memory_folder(font_folder + u"\\Folder.ttf");
    install_fonts(u"Acme");
    // The empty title is copied but never registered; the later Sans wins.
    EXPECT_NE(find_memory_entry(fonts + u"\\.ttf"), nullptr);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Folder.ttf"), nullptr);  // a folder cannot be copied
    auto values = registrations();
    std::map<String, String> by_name(values.begin(), values.end());
    EXPECT_EQ(by_name.size(), 3u);
    EXPECT_EQ(by_name[u"Acme My.Font"], fonts + u"\\My.Font.ttf");
    EXPECT_EQ(by_name[u"Acme Sans"], fonts + u"\\Sans.ttfx");
    EXPECT_EQ(by_name[u"Acme Folder"], fonts + u"\\Folder.ttf");
    EXPECT_EQ(find_memory_entry(fonts + u"\\Sans.ttf")->contents, "first");
}

TEST_F(Install, MissingFontFolderGivesHeaderOnly) {
    reset_machine();
    install_fonts(u"Acme");
    EXPECT_EQ(memory_machine().output.console, console_lines({"Install Font : Acme"}));
    EXPECT_TRUE(registrations().empty());
}

TEST_F(Install, FallsBackToTemporaryFolderWhenFontsFolderIsUnknown) {
    memory_machine().failures[{Operation::system_fonts_folder}] = status_hresult_file_not_found;
    add_font(u"Sans.ttf", "s");
    install_fonts(u"Acme");
    const String fallback = u"C:\\Temp\\LumoraFonts";
    EXPECT_NE(find_memory_entry(fallback), nullptr);
    EXPECT_EQ(find_memory_entry(fallback + u"\\Sans.ttf")->contents, "s");
    EXPECT_EQ(registrations(), (std::vector<std::pair<String, String>>{{u"Acme Sans", fallback + u"\\Sans.ttf"}}));
}

TEST_F(Install, FallsBackBesideTheExecutableWithoutATemporaryFolder) {
    memory_machine().failures[{Operation::system_fonts_folder}] = status_module_not_found;
    memory_machine().files.temporary_folder.clear();
    add_font(u"Sans.ttf");
    install_fonts(u"Acme");
    EXPECT_EQ(registrations(),
              (std::vector<std::pair<String, String>>{{u"Acme Sans", u"C:\\Tools\\LumoraFonts\\Sans.ttf"}}));
    EXPECT_NE(find_memory_entry(u"C:\\Tools\\LumoraFonts\\Sans.ttf"), nullptr);
}

TEST_F(Install, SecondInstallRewritesTheSameValues) {
    add_font(u"Sans.ttf", "v1");
    install_fonts(u"Acme");
    add_font(u"Sans.ttf", "v2");
    memory_machine().output.console.clear();
    install_fonts(u"Acme");
    EXPECT_EQ(memory_machine().output.console, console_lines({"Install Font : Acme", "Install OK : Acme Sans"}));
    EXPECT_EQ(registrations().size(), 1u);
    EXPECT_EQ(find_memory_entry(fonts + u"\\Sans.ttf")->contents, "v2");
}

TEST_F(Install, InstallThenUninstallLeavesOtherValuesAndCopies) {
    memory_font_values() = {{u"Wine Font", registry_string_type, u"w.ttf"}};
    add_font(u"Sans.ttf");
    add_font(u"Serif.ttf");
    install_fonts(u"Acme Corp");
    uninstall_fonts(u"Acme Corp");
    EXPECT_EQ(registrations(), (std::vector<std::pair<String, String>>{{u"Wine Font", u"w.ttf"}}));
    EXPECT_NE(find_memory_entry(fonts + u"\\Serif.ttf"), nullptr);
}

}  // namespace
