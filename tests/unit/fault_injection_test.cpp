// Every platform operation that can fail is made to fail in turn, on one small
// machine: the job must go on as far as it can, write exactly the expected
// lines, leave exactly the expected values and files. This is the one table of
// the jobs' failure paths; the other host tests keep to runs that succeed.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fonts/jobs.h"
#include "platform/memory/memory_machine.h"
#include "test_support.h"

namespace {

constexpr PlatformStatus access_denied = status_access_denied;
constexpr PlatformStatus more_data = status_more_data;
constexpr PlatformStatus no_more_items = status_no_more_items;
constexpr PlatformStatus fonts_folder_not_found = status_hresult_file_not_found;

const String key_path(font_registration_key_path);
const String fonts = u"C:\\Windows\\Fonts";
const String source = u"C:\\Tools\\Font";
const String fallback = u"C:\\Temp\\LumoraFonts";

using Values = std::vector<std::pair<String, String>>;  // name, data

// The scan enumerates index i on its (i + 1)-th call.
FailurePoint enumerate_of_index(uint32_t index) { return {Operation::enumerate_value, std::nullopt, index + 1}; }

// The values the machine starts with; the uninstall rows use title Acme.
const Values baseline = {{u"Acme A", u"a"}, {u"Other", u"o"}, {u"Acme B", u"b"}, {u"Acme C", u"c"}};

Values baseline_and(const Values& added) {
    Values values = baseline;
    values.insert(values.end(), added.begin(), added.end());
    return values;
}

// A folder of `length` units directly under C:\ that holds the executable and
// its Font folder, so that the finder's pattern is length + 14 units long.
void move_executable_to_folder_of(size_t length) {
    const String folder = u"C:\\" + String(length, u'd');
    memory_machine().process.executable_path = folder + u"\\Typeloader.exe";
    add_memory_folder(folder);
    add_memory_folder(folder + u"\\Font");
    add_memory_file(folder + u"\\Font\\Serif.ttf", "serif");
    add_memory_file(folder + u"\\Font\\Sans.ttf", "sans");
}

struct Fault {
    const char* name;
    bool uninstall;
    std::function<void()> arrange;
    std::string output;
    Values values_after;
    std::vector<String> present;  // files or folders that must exist afterwards
    std::vector<String> absent;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class FaultInjection : public testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        reset_memory_machine();
        // Found as Serif then Sans; registered as Sans (bucket 5) then Serif (bucket 7).
        add_memory_folder(source);
        add_memory_file(source + u"\\Serif.ttf", "serif");
        add_memory_file(source + u"\\Sans.ttf", "sans");
        for (const auto& [name, data] : baseline) memory_font_values().push_back({name, registry_string_type, data});
    }
};

TEST_P(FaultInjection, JobGoesOnAsFarAsItCan) {
    const Fault& fault = GetParam();
    fault.arrange();
    if (fault.uninstall) {
        uninstall_fonts(u"Acme");
    } else {
        install_fonts(u"Acme");
    }

    EXPECT_EQ(memory_machine().output.console, fault.output);
    Values values;
    for (const MemoryValue& value : memory_machine().registry.keys[key_path]) {
        EXPECT_EQ(value.type, registry_string_type) << std::string(value.name.begin(), value.name.end());
        values.emplace_back(value.name, value.data);
    }
    EXPECT_EQ(values, fault.values_after);
    for (const String& path : fault.present) {
        EXPECT_NE(find_memory_entry(path), nullptr) << std::string(path.begin(), path.end());
    }
    for (const String& path : fault.absent) {
        EXPECT_EQ(find_memory_entry(path), nullptr) << std::string(path.begin(), path.end());
    }
}

const std::string installed_both =
    console_lines({"Install Font : Acme", "Install OK : Acme Sans", "Install OK : Acme Serif"});

INSTANTIATE_TEST_SUITE_P(
    EachOperation, FaultInjection,
    testing::Values(
        // Install: registry writes.
        Fault{"create_key_fails_every_write",
              false,
              [] { memory_machine().failures[{Operation::create_key, key_path}] = access_denied; },
              console_lines({"Install Font : Acme", "Install FAIL : Acme Sans", "Install FAIL : Acme Serif"}),
              baseline,
              {fonts + u"\\Sans.ttf", fonts + u"\\Serif.ttf"},
              {}},
        Fault{"set_value_fails_for_the_first_in_walk_order",
              false,
              [] { memory_machine().failures[{Operation::set_value, u"Acme Sans"}] = access_denied; },
              console_lines({"Install Font : Acme", "Install FAIL : Acme Sans", "Install OK : Acme Serif"}),
              baseline_and({{u"Acme Serif", fonts + u"\\Serif.ttf"}}),
              {fonts + u"\\Sans.ttf", fonts + u"\\Serif.ttf"},
              {}},
        // Install: files.
        Fault{"every_copy_fails_and_both_are_registered_all_the_same",
              false,
              [] {
                  memory_machine().failures[{Operation::copy_file, fonts + u"\\Serif.ttf"}] = status_access_denied;
                  memory_machine().failures[{Operation::copy_file, fonts + u"\\Sans.ttf"}] = status_access_denied;
              },
              installed_both,
              baseline_and({{u"Acme Sans", fonts + u"\\Sans.ttf"}, {u"Acme Serif", fonts + u"\\Serif.ttf"}}),
              {},
              {fonts + u"\\Sans.ttf", fonts + u"\\Serif.ttf"}},
        Fault{"find_pattern_of_259_units_still_finds",
              false,
              [] { move_executable_to_folder_of(245); },
              installed_both,
              baseline_and({{u"Acme Sans", fonts + u"\\Sans.ttf"}, {u"Acme Serif", fonts + u"\\Serif.ttf"}}),
              {fonts + u"\\Sans.ttf", fonts + u"\\Serif.ttf"},
              {}},
        Fault{"find_pattern_of_260_units_finds_nothing",
              false,
              [] { move_executable_to_folder_of(246); },
              console_lines({"Install Font : Acme"}),
              baseline,
              {},
              {fonts + u"\\Sans.ttf", fonts + u"\\Serif.ttf"}},
        Fault{"find_on_a_font_entry_that_is_a_file_finds_nothing",
              false,
              [] {
                  std::erase_if(memory_machine().files.entries,
                                [](const MemoryEntry& entry) { return entry.path.starts_with(source); });
                  add_memory_file(source, "not a folder");
              },
              console_lines({"Install Font : Acme"}),
              baseline,
              {},
              {fonts + u"\\Sans.ttf", fonts + u"\\Serif.ttf"}},
        Fault{"fonts_folder_unknown_and_fallback_already_there",
              false,
              [] {
                  memory_machine().failures[{Operation::system_fonts_folder}] = fonts_folder_not_found;
                  add_memory_folder(fallback);
              },
              installed_both,
              baseline_and({{u"Acme Sans", fallback + u"\\Sans.ttf"}, {u"Acme Serif", fallback + u"\\Serif.ttf"}}),
              {fallback + u"\\Sans.ttf", fallback + u"\\Serif.ttf"},
              {fonts + u"\\Sans.ttf"}},
        Fault{"fonts_folder_unknown_and_fallback_cannot_be_made",
              false,
              [] {
                  memory_machine().failures[{Operation::system_fonts_folder}] = fonts_folder_not_found;
                  memory_machine().failures[{Operation::create_folder, fallback}] = status_access_denied;
              },
              installed_both,
              baseline_and({{u"Acme Sans", fallback + u"\\Sans.ttf"}, {u"Acme Serif", fallback + u"\\Serif.ttf"}}),
              {},
              {fallback, fonts + u"\\Sans.ttf"}},
        Fault{"empty_temporary_folder_is_never_asked_for_while_fonts_folder_is_known",
              false,
              [] { memory_machine().files.temporary_folder.clear(); },
              installed_both,
              baseline_and({{u"Acme Sans", fonts + u"\\Sans.ttf"}, {u"Acme Serif", fonts + u"\\Serif.ttf"}}),
              {fonts + u"\\Sans.ttf", fonts + u"\\Serif.ttf"},
              {u"C:\\Tools\\LumoraFonts"}},
        // Uninstall: open, count, enumerate, delete.
        Fault{"font_key_missing_so_open_fails",
              true,
              [] { memory_machine().registry.keys.clear(); },
              console_lines({"Uninstall Font : Acme"}),
              {},
              {},
              {}},
        Fault{"count_fails_so_nothing_is_enumerated",
              true,
              [] { memory_machine().failures[{Operation::count_values}] = access_denied; },
              console_lines({"Uninstall Font : Acme"}),
              baseline,
              {},
              {}},
        Fault{"enumerate_of_the_first_index_fails",
              true,
              [] { memory_machine().failures[enumerate_of_index(0)] = access_denied; },
              console_lines({"Uninstall Font : Acme", "Uninstall OK : Acme B", "Uninstall OK : Acme C"}),
              {{u"Acme A", u"a"}, {u"Other", u"o"}},
              {},
              {}},
        Fault{"enumerate_says_no_more_items_early_and_the_scan_goes_on",
              true,
              [] { memory_machine().failures[enumerate_of_index(2)] = no_more_items; },
              console_lines({"Uninstall Font : Acme", "Uninstall OK : Acme A", "Uninstall OK : Acme C"}),
              {{u"Other", u"o"}, {u"Acme B", u"b"}},
              {},
              {}},
        Fault{"enumerate_of_the_last_index_gives_more_data",
              true,
              [] { memory_machine().failures[enumerate_of_index(3)] = more_data; },
              console_lines({"Uninstall Font : Acme", "Uninstall OK : Acme A", "Uninstall OK : Acme B"}),
              {{u"Other", u"o"}, {u"Acme C", u"c"}},
              {},
              {}},
        Fault{"delete_of_the_first_fails",
              true,
              [] { memory_machine().failures[{Operation::delete_value, u"Acme A"}] = access_denied; },
              console_lines({"Uninstall Font : Acme", "Uninstall FAIL : Acme A", "Uninstall OK : Acme B",
                     "Uninstall OK : Acme C"}),
              {{u"Acme A", u"a"}, {u"Other", u"o"}},
              {},
              {}},
        Fault{"every_delete_fails",
              true,
              [] {
                  for (const char16_t* name : {u"Acme A", u"Acme B", u"Acme C"}) {
                      memory_machine().failures[{Operation::delete_value, name}] = access_denied;
                  }
              },
              console_lines({"Uninstall Font : Acme", "Uninstall FAIL : Acme A", "Uninstall FAIL : Acme B",
                     "Uninstall FAIL : Acme C"}),
              baseline,
              {},
              {}}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
