#include "deploy/names.h"

#include <algorithm>

#include "common/paths.h"
#include "deploy/registry_names.h"
#include "fonts/file_title.h"
#include "platform/registry.h"

String comparison_key(StringView text) {
    String key(text);
    for (char16_t& unit : key) unit = registry_upcase(unit);
    return key;
}

bool is_text_type(uint32_t type) { return type == registry_string_type || type == registry_expand_string_type; }

String registered_file(StringView fonts_folder, StringView data) {
    if (data.find_first_of(u"\\/") == StringView::npos) return String(fonts_folder) + u"\\" + String(data);
    return String(data);
}

bool is_own_registration(StringView title, StringView name, StringView data) {
    if (name.size() <= title.size() || !name.starts_with(title) || name[title.size()] != u' ') return false;
    return file_title(file_name_of(data)) == name.substr(title.size() + 1);
}

bool is_staged_name_of(StringView path, StringView copy) {
    const size_t base = copy.size() + staged_suffix.size();
    if (path.size() < base || !same_registry_name(path.substr(0, base), String(copy) + String(staged_suffix))) return false;
    StringView rest = path.substr(base);
    if (rest.empty()) return true;
    if (rest.size() < 2 || rest[0] != u'.') return false;
    return std::all_of(rest.begin() + 1, rest.end(), [](char16_t unit) { return unit >= u'0' && unit <= u'9'; });
}

StringView staged_base(StringView path) {
    StringView base = path;
    const size_t dot = base.rfind(u'.');
    if (dot != StringView::npos && dot + 1 < base.size() &&
        std::all_of(base.begin() + dot + 1, base.end(), [](char16_t unit) { return unit >= u'0' && unit <= u'9'; })) {
        base = base.substr(0, dot);
    }
    if (base.size() <= staged_suffix.size() || !same_registry_name(base.substr(base.size() - staged_suffix.size()), staged_suffix)) {
        return path;
    }
    return base.substr(0, base.size() - staged_suffix.size());
}

String quoted(StringView text) { return u"\"" + String(text) + u"\""; }

String with_error(StringView what, PlatformStatus status) { return String(what) + u" (error " + decimal_text(status) + u")"; }
