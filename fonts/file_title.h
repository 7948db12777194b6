#pragma once

#include "common/strings.h"

// A font file's title: its name without the part from its last "." on. It is
// the table's key and the end of the font's registration name.
String file_title(StringView name);
