#include "fonts/file_title.h"

String file_title(StringView name) {
    size_t dot = name.rfind(u'.');
    return String(dot == StringView::npos ? name : name.substr(0, dot));
}
