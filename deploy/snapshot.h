#pragma once

#include <string>
#include <vector>

#include "common/strings.h"
#include "deploy/log.h"
#include "deploy/plan.h"
#include "platform/files.h"
#include "platform/deploy/open_files.h"

// Where the deploy jobs look, and what they see there: the effects that fill
// the planner's snapshot.

struct DeployPlaces {
    String program_folder;            // the folder of this program and Typeloader.exe
    String typeloader;                // Typeloader.exe beside this program
    String font_folder;               // the Font folder beside this program
    String destination;               // where Typeloader.exe copies: the Fonts folder or its fallback
    String fonts_folder;              // the Fonts folder; empty when it cannot be located
    std::vector<String> own_folders;  // every folder Typeloader.exe may have copied into
};

DeployPlaces deploy_places();

// The text of string data as the registry holds it (UTF-16 units), up to its
// first null unit.
String registry_text(const std::string& data);

// The *.ttf entries of the Font folder, as Typeloader.exe finds them.
std::vector<FoundFile> bundle_entries(const DeployPlaces& places);

// How long a font held open by another program is tried again.
inline constexpr uint32_t source_wait_milliseconds = 10 * 1000;
inline constexpr uint32_t source_wait_step_milliseconds = 250;

// Logs whether the bundle may be trusted as it lies (see bundle_check.h): the
// folder of the programs, Typeloader.exe, and the Font folder where there is
// one; each font is judged by the snapshot that checks it.
bool bundle_is_trusted(DeployLog& log, const DeployPlaces& places);

// What a snapshot reads of the bundle's entries, besides the fonts key, the
// restart-time operations and the destination folder.
struct SnapshotReading {
    bool check_entries = false;   // each entry checked as a whole font, one held open by another program tried again
    bool check_security = false;  // and who may change it
    bool add_registered_copies = false;  // the copies the title's registrations name, measured too
    std::vector<String> extra_copies = {};  // and these
    // Keeps each entry's handle, as read (none for one refused), in the
    // order of the entries, so that what was checked stays as it was until
    // it is copied.
    std::vector<HeldFile>* held = nullptr;
    // The entries' bytes as checked, in their order: the copies are measured
    // against these digests, and the entries are not opened again.
    const std::vector<uint64_t>* digests = nullptr;
};

// The machine as the planner needs it: `entries` are the bundle's fonts, each
// read through one handle and its copy measured against it.
DeploySnapshot take_snapshot(const String& title, const DeployPlaces& places, const std::vector<FoundFile>& entries,
                             const SnapshotReading& reading);

// The state of `path` against the bytes of `source`.
FileState file_state(const String& source, const String& path);
