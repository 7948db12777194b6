#include "common/console_text.h"

std::string console_bytes(StringView text) {
    std::string bytes;
    bytes.reserve(text.size() + 8);
    for (char16_t unit : text) {
        if (unit == u'\n') {
            bytes += "\r\n";
        } else {
            bytes += unit <= 0xFF ? static_cast<char>(unit) : '?';
        }
    }
    return bytes;
}

String console_safe_text(StringView text) {
    String safe(text);
    for (char16_t& unit : safe) {
        if (unit > 0xFF) unit = u'?';
    }
    return safe;
}
