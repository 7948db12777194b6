#pragma once

#include <vector>

#include "common/strings.h"
#include "deploy/log.h"
#include "platform/deploy/file_entries.h"
#include "platform/files.h"
#include "deploy/snapshot.h"
#include "platform/deploy/open_files.h"

// The copy of the bundle a run acts on: Typeloader.exe and the fonts it
// checked, in a fresh folder that only SYSTEM and Administrators may change,
// so that nothing another account does to the bundle after the checks
// reaches the install. It is removed at the end of the run, whatever its
// outcome.

struct PrivateBundle {
    String folder;
    String typeloader;             // the folder, "\Typeloader.exe"
    String font_folder;            // the folder, "\Font"
    String aside_folder;           // the folder, "\Aside": copies' bytes kept for putting them back
    std::vector<CheckedFont> fonts;  // the copied fonts with their digests as checked, no handle held
};

// The folder's name in the log folder, which is checked private already.
inline constexpr char16_t private_bundle_name[] = u"\\Run";

// Makes the folder (after removing one a run that ended abnormally left) and
// copies each file into it through a handle that keeps others from writing
// the original meanwhile: Typeloader.exe and each font through the handle its check read
// (closed then), and a copy whose bytes are not those checked fails. False,
// with the reason logged, when any step fails; what was made is removed
// again. No fonts: a bundle of Typeloader.exe alone.
bool make_private_bundle(DeployLog& log, CheckedFont& typeloader, std::vector<CheckedFont>& fonts, PrivateBundle& bundle);

// Removes the folder and what this run put in it.
void remove_private_bundle(DeployLog& log, const PrivateBundle& bundle);

// Removes the private copy a run that ended before its verdict left (links
// in it as links), logging what stays.
void remove_unfinished_private_bundle(DeployLog& log);
