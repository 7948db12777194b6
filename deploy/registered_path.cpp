#include "deploy/registered_path.h"

#include "platform/registry.h"

#include <vector>

#include "deploy/registry_names.h"
#include "platform/registry.h"

namespace {

ResolvedPath refuse(StringView why) { return ResolvedPath{String(), String(why)}; }

// %NAME% replaced by its value, once: a value holding % is not expanded again.
std::optional<String> expand(StringView data, const std::function<std::optional<String>(StringView name)>& environment,
                             String& refusal) {
    String expanded;
    size_t at = 0;
    for (;;) {
        const size_t open = data.find(u'%', at);
        if (open == StringView::npos) return expanded + String(data.substr(at));
        expanded += data.substr(at, open - at);
        const size_t close = data.find(u'%', open + 1);
        if (close == StringView::npos) {
            refusal = u"the data holds a % that no % closes";
            return std::nullopt;
        }
        const StringView name = data.substr(open + 1, close - open - 1);
        std::optional<String> value = name.empty() ? std::nullopt : environment(name);
        if (!value) {
            refusal = u"the variable %" + String(name) + u"% is not set";
            return std::nullopt;
        }
        expanded += *value;
        at = close + 1;
    }
}

bool is_ascii_letter(char16_t unit) { return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z'); }

bool starts_with_ignoring_ascii_case(StringView text, StringView prefix) {
    return text.size() >= prefix.size() && equals_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

// The names Win32 takes to a device in any folder, with any extension.
bool is_device_name(StringView component) {
    StringView base = component.substr(0, component.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    for (StringView device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (equals_ignoring_ascii_case(base, device)) return true;
    }
    if (base.size() != 4 || !(starts_with_ignoring_ascii_case(base, u"COM") || starts_with_ignoring_ascii_case(base, u"LPT"))) {
        return false;
    }
    const char16_t number = base[3];
    return (number >= u'0' && number <= u'9') || number == u'\u00B9' || number == u'\u00B2' || number == u'\u00B3';
}

// Why Windows would not keep the component as it is written, or empty.
StringView component_refusal(StringView component) {
    if (component == u"." || component == u"..") return u"the path has a . or .. component";
    for (char16_t unit : component) {
        if (unit < 0x20 || StringView(u"<>:\"|?*").find(unit) != StringView::npos) {
            return u"a path component holds a character Windows does not allow in a file name";
        }
    }
    if (component.back() == u'.' || component.back() == u' ') return u"a path component ends in a dot or a space";
    if (is_device_name(component)) return u"a path component is a device name";
    return u"";
}

std::vector<StringView> split_at_backslashes(StringView text) {
    std::vector<StringView> parts;
    for (size_t at = 0;;) {
        const size_t end = text.find(u'\\', at);
        parts.push_back(text.substr(at, end == StringView::npos ? StringView::npos : end - at));
        if (end == StringView::npos) return parts;
        at = end + 1;
    }
}

// \\?\, \\.\ and \??\ go; UNC\server\share after one is \\server\share.
void drop_namespace_prefix(String& text) {
    for (StringView prefix : {u"\\\\?\\", u"\\\\.\\", u"\\??\\"}) {
        if (!text.starts_with(prefix)) continue;
        text.erase(0, prefix.size());
        if (starts_with_ignoring_ascii_case(text, u"UNC\\")) text.replace(0, 3, u"\\");
        return;
    }
}

}  // namespace

ResolvedPath resolve_registered_path(StringView data, uint32_t type, StringView fonts_folder,
                                     const std::function<std::optional<String>(StringView name)>& environment) {
    String text;
    if (type == registry_expand_string_type) {
        String refusal;
        std::optional<String> expanded = expand(data, environment, refusal);
        if (!expanded) return refuse(refusal);
        text = *expanded;
    } else if (type == registry_string_type) {
        text = data;
    } else {
        return refuse(u"the data is neither REG_SZ nor REG_EXPAND_SZ");
    }
    if (text.empty()) return refuse(u"the data is empty");
    for (char16_t& unit : text) {
        if (unit == u'/') unit = u'\\';
    }
    if (text.find_first_of(u"\\:") == String::npos) text = String(fonts_folder) + u"\\" + text;
    drop_namespace_prefix(text);

    // The root, then the components after it with runs of backslashes collapsed.
    String resolved;
    std::vector<StringView> parts;
    if (text.size() >= 3 && is_ascii_letter(text[0]) && text[1] == u':' && text[2] == u'\\') {
        resolved = text.substr(0, 3);
        parts = split_at_backslashes(StringView(text).substr(3));
    } else if (text.starts_with(u"\\\\")) {
        parts = split_at_backslashes(StringView(text).substr(2));
        if (parts.size() < 2 || parts[0].empty() || parts[1].empty()) return refuse(u"the path names no server and share");
        for (StringView part : {parts[0], parts[1]}) {
            if (StringView why = component_refusal(part); !why.empty()) return refuse(why);
        }
        resolved = u"\\\\" + String(parts[0]) + u"\\" + String(parts[1]) + u"\\";
        parts.erase(parts.begin(), parts.begin() + 2);
    } else {
        return refuse(u"the path is not absolute");
    }
    if (parts.empty() || parts.back().empty()) return refuse(u"the path names a folder, not a file");
    bool first = true;
    for (StringView part : parts) {
        if (part.empty()) continue;
        if (StringView why = component_refusal(part); !why.empty()) return refuse(why);
        if (!first) resolved += u'\\';
        resolved += part;
        first = false;
    }
    return ResolvedPath{resolved, String()};
}

bool is_inside_folder(StringView path, StringView folder) {
    while (!folder.empty() && folder.back() == u'\\') folder.remove_suffix(1);
    const size_t slash = path.rfind(u'\\');
    if (folder.empty() || slash == StringView::npos) return false;
    const StringView name = path.substr(slash + 1);
    if (name.empty() || name == u"." || name == u"..") return false;
    return same_registry_name(path.substr(0, slash), folder);
}
