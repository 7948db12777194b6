#include "common/strings.h"

char16_t fold_ascii_letter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

bool equals_ignoring_ascii_case(StringView left, StringView right) {
    if (left.size() != right.size()) return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (fold_ascii_letter(left[i]) != fold_ascii_letter(right[i])) return false;
    }
    return true;
}
