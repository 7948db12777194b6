#pragma once

#include <cstdint>

#include "common/strings.h"

// Names as Windows compares them, and the names the deploy gives its own
// files: string helpers that both the readings and the planner use.

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
