#pragma once

#include <vector>

#include "common/strings.h"

// Whether the bundle can be trusted as it lies: the folder of the two
// programs, its Font folder and Typeloader.exe (each font is judged through
// the handle its check reads, with access_refusal). Each must be
// reached without a link and be changeable by SYSTEM, Administrators and
// TrustedInstaller only (on a network share by the domain's administrator
// groups too); the two folders also must not let anyone else change a file
// created in them later. Empty when all pass; else one sentence per object
// refused, naming it, without a final period. An empty `font_folder` is not
// judged: an uninstall may run from a bundle without one.
// The program folder, too, must be reached through no link: none of the
// folders on its way may be one.
std::vector<String> bundle_refusals(const String& program_folder, const String& typeloader_exe, const String& font_folder);

// The folders a path passes through below its root (a drive's "X:\", a
// share's "\\server\share\", after a "\\?\" or "\\.\" prefix), in order,
// the path itself left out.
std::vector<String> folders_on_the_way(StringView path);
