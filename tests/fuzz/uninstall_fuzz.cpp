// Arbitrary value sets and titles in the in-memory registry: the uninstall job
// must delete exactly the REG_SZ values whose names begin with the title, after
// the scan and in scan order, write exactly the expected lines, and close what
// it opened.
//
// Input tokens (see decode_tokens):
//   token 0: one flag unit (bit 0: open fails, bit 1: count fails), then the title;
//   every further token: one selector unit, then the value's name. Selector bits
//   0-2 pick the type, bit 3 makes enumerating this index fail, bit 4 makes
//   deleting this name fail, bits 8-9 = 1 or 2 pad the name to 16,383 or 16,384
//   units (the enumeration limit and one past it). Padding needs an escaped
//   selector, so that most inputs stay small and fast.

#include <algorithm>
#include <set>
#include <string>

#include "common/console_text.h"
#include "fonts/jobs.h"
#include "platform/memory/memory_machine.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr PlatformStatus access_denied = status_access_denied;
constexpr uint32_t types[8] = {1, 1, 1, 2, 7, 3, 4, 0};  // REG_SZ weighted; EXPAND_SZ, MULTI_SZ, ...

String number(size_t n) {
    const std::string digits = std::to_string(n);
    return String(digits.begin(), digits.end());
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<String> tokens = decode_tokens(data, size);
    if (tokens.empty() || tokens[0].size() < 2) return 0;  // a job never runs without a title
    const char16_t flags = tokens[0][0];
    const String title = tokens[0].substr(1);

    reset_memory_machine();
    auto& failures = memory_machine().failures;
    if (flags & 1) failures[{Operation::open_font_registration_key}] = access_denied;
    if (flags & 2) failures[{Operation::count_values}] = access_denied;

    // A registry key never holds two names equal but for case (the memory
    // registry folds ASCII letters, as its lookups do): a later one is dropped.
    std::vector<MemoryValue> values;
    std::set<size_t> enumerate_fails;
    for (size_t t = 1; t < tokens.size(); ++t) {
        const char16_t selector = tokens[t].empty() ? 0 : tokens[t][0];
        String name = tokens[t].empty() ? String() : tokens[t].substr(1);
        const unsigned pad = (selector >> 8) & 3;
        if (pad == 1 || pad == 2) {
            const size_t length = pad == 1 ? value_name_capacity : value_name_capacity + 1;
            if (name.size() < length) name.append(length - name.size(), name.empty() ? u'x' : name.back());
        }
        if (std::any_of(values.begin(), values.end(),
                        [&](const MemoryValue& v) { return equals_ignoring_ascii_case(v.name, name); })) {
            continue;
        }
        if (selector & 8) enumerate_fails.insert(values.size());
        if (selector & 16) failures[{Operation::delete_value, name.substr(0, name.find(u'\0'))}] = access_denied;
        values.push_back({name, types[selector & 7], u"C:\\Windows\\Fonts\\" + number(t) + u".ttf"});
    }
    // The scan enumerates index i on its (i + 1)-th call.
    for (size_t index : enumerate_fails) {
        failures[{Operation::enumerate_value, std::nullopt, static_cast<uint32_t>(index + 1)}] = access_denied;
    }
    memory_font_values() = values;

    uninstall_fonts(title);

    const std::vector<MemoryValue>& after = memory_font_values();

    // What is gone is exactly
    // the REG_SZ values named with the title first, with no null unit in the
    // name, that the scan could read and whose deletion was not refused.
    {
        std::vector<MemoryValue> kept;
        for (size_t i = 0; i < values.size(); ++i) {
            const MemoryValue& v = values[i];
            const bool doomed = !(flags & 3) && !enumerate_fails.count(i) && v.type == 1 &&
                                v.name.size() <= value_name_capacity && v.name.rfind(title, 0) == 0 &&
                                v.name.find(u'\0') == String::npos &&
                                !failures.count({Operation::delete_value, v.name});
            if (!doomed) kept.push_back(v);
        }
        FUZZ_CHECK(after.size() == kept.size());
        for (size_t i = 0; i < after.size(); ++i) {
            FUZZ_CHECK(after[i].name == kept[i].name);
            FUZZ_CHECK(after[i].type == kept[i].type);
            FUZZ_CHECK(after[i].data == kept[i].data);
        }
    }
    // One header line, then one result line for each value the job tried to delete.
    const std::string& output = memory_machine().output.console;
    FUZZ_CHECK(output.starts_with(console_bytes(u"Uninstall Font : " + title + u"\r\n")));
    return 0;
}
