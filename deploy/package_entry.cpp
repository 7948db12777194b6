#include "deploy/package_entry.h"

#include <algorithm>

#include "deploy/command_line.h"
#include "deploy/registry_names.h"
#include "deploy/snapshot.h"
#include "platform/registry.h"

namespace {

constexpr StringView install_date_name = u"InstallDate";

RegistryValue text_value(StringView name, StringView text) {
    return {String(name), registry_string_type, registry_string_data(text)};
}

RegistryValue dword_value(StringView name, uint32_t number) {
    std::string data;
    for (int shift = 0; shift < 32; shift += 8) data += static_cast<char>(number >> shift & 0xFF);
    return {String(name), registry_dword_type, data};
}

// KiB rounded up; a size past what a DWORD holds shows as its largest.
uint32_t kibibytes(uint64_t bytes) {
    const uint64_t kib = bytes / 1024 + (bytes % 1024 != 0);
    return static_cast<uint32_t>(std::min<uint64_t>(kib, UINT32_MAX));
}

String zero_padded(int number, size_t width) {
    String digits = decimal_text(static_cast<uint64_t>(number));
    return String(width > digits.size() ? width - digits.size() : 0, u'0') + digits;
}

const RegistryValue* find_value(const std::vector<RegistryValue>& values, StringView name) {
    for (const RegistryValue& value : values) {
        if (same_registry_name(value.name, name)) return &value;
    }
    return nullptr;
}

}  // namespace

String entry_key_name(StringView title) { return String(entry_key_prefix) + String(title); }

String entry_key_path(StringView title) { return String(uninstall_key_path) + u"\\" + entry_key_name(title); }

bool title_fits_entry_key(StringView title) {
    return title.find(u'\\') == StringView::npos && entry_key_prefix.size() + title.size() <= key_name_capacity;
}

std::vector<RegistryValue> entry_values(const EntryFacts& facts) {
    const String command = uninstall_command(facts.kept_program, facts.title);
    std::vector<RegistryValue> values{text_value(u"DisplayName", facts.title)};
    if (!facts.version.empty()) values.push_back(text_value(u"DisplayVersion", facts.version));
    values.push_back(text_value(install_date_name, facts.install_date));
    values.push_back(dword_value(u"EstimatedSize", kibibytes(facts.font_bytes)));
    values.push_back(text_value(u"UninstallString", command));
    values.push_back(text_value(u"QuietUninstallString", command));
    values.push_back(dword_value(u"NoModify", 1));
    values.push_back(dword_value(u"NoRepair", 1));
    values.push_back(text_value(own_entry_mark, facts.title));
    return values;
}

String install_date_text(const LocalTime& time) {
    return zero_padded(time.year, 4) + zero_padded(time.month, 2) + zero_padded(time.day, 2);
}

String uninstall_command(StringView kept_program, StringView title) {
    return quote_argument(kept_program) + u" uninstall " + quote_argument(title);
}

bool is_own_entry(const std::vector<RegistryValue>& values) { return find_value(values, own_entry_mark) != nullptr; }

std::vector<String> entry_differences(const std::vector<RegistryValue>& expected, const std::vector<RegistryValue>& actual) {
    std::vector<String> names;
    for (const RegistryValue& value : expected) {
        if (same_registry_name(value.name, install_date_name)) continue;
        const RegistryValue* found = find_value(actual, value.name);
        if (!found || found->type != value.type || found->data != value.data) names.push_back(value.name);
    }
    for (const RegistryValue& value : actual) {
        if (!same_registry_name(value.name, install_date_name) && !find_value(expected, value.name)) names.push_back(value.name);
    }
    return names;
}
