#pragma once

#include <cstdint>

#include "common/strings.h"
#include "platform/status.h"

// Names as Windows compares them, the names the deploy gives its own files,
// and how records show names and failures: string helpers that the readings,
// the planner and the records share.

// Paths and value names compared as Windows compares them: case ignored over
// all of Unicode, unit by unit. Texts with the same key are the same name.
String comparison_key(StringView text);

// REG_SZ and REG_EXPAND_SZ: the types whose data names a font file.
bool is_text_type(uint32_t type);

// The file a registration's data names: a bare file name lies in the Fonts
// folder.
String registered_file(StringView fonts_folder, StringView data);

// A value is the title's own when its name is the title, a space and some x,
// and the file name of its data without its last extension is x: exactly what
// Typeloader.exe writes for a font file titled x.
bool is_own_registration(StringView title, StringView name, StringView data);

// The staged replacement names of a copy: the first is the copy's name with
// this suffix, the later ones add ".2", ".3", ... when an earlier name is
// already taken by a pending operation.
inline constexpr StringView staged_suffix = u".Typeloader-Deploy";
bool is_staged_name_of(StringView path, StringView copy);

// The copy a staged name belongs to, or the path itself when it is no staged name.
StringView staged_base(StringView path);

// The text in double quotes, as records show names and titles.
String quoted(StringView text);

// What failed and the platform's own code for it: "<what> (error N)".
String with_error(StringView what, PlatformStatus status);
