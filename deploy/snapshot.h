#pragma once

#include <string>
#include <vector>

#include "common/strings.h"
#include "deploy/log.h"
#include "deploy/plan.h"
#include "platform/files.h"
#include "platform/open_files.h"

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

// The machine as the planner needs it. `entries` are the bundle's fonts, each
// read through one handle: checked as a whole font when `check_entries` (a
// font held open by another program tried again for a while), and who may
// change it when `check_security`; its copy measured against it.
// `add_registered_copies` adds the copies that the title's registrations
// name, and `extra_copies` others. With `held`, each entry's handle is kept
// there (none for one refused), in the order of `entries`, so that what was
// read stays as it was until it is copied.
DeploySnapshot take_snapshot(const String& title, const DeployPlaces& places, const std::vector<FoundFile>& entries,
                             bool check_entries, bool check_security, bool add_registered_copies,
                             const std::vector<String>& extra_copies = {}, std::vector<HeldFile>* held = nullptr);

// The state of `path` against the bytes of `source`.
FileState file_state(const String& source, const String& path);
