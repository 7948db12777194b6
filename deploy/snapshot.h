#pragma once

#include <string>
#include <vector>

#include "common/strings.h"
#include "deploy/log.h"
#include "deploy/plan.h"
#include "platform/deploy/file_entries.h"
#include "platform/files.h"
#include "platform/deploy/open_files.h"
#include "platform/deploy/registry_values.h"
#include "platform/registry.h"

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
// The other way: the text's units, little-endian, and the null unit that
// ends them, as put_value writes a REG_SZ raw.
std::string registry_string_data(StringView text);

// The *.ttf entries of the Font folder, as Typeloader.exe finds them.
std::vector<FoundFile> bundle_entries(const DeployPlaces& places);

// How long a font held open by another program is tried again.
inline constexpr uint32_t source_wait_milliseconds = 10 * 1000;
inline constexpr uint32_t source_wait_step_milliseconds = 250;

// A font of the bundle as its check read it: the entry, the digest of its
// bytes, and the handle it was read through, kept so that what was checked
// stays as it was until it is copied (none once copied, or when refused).
struct CheckedFont {
    FoundFile entry;
    uint64_t digest = 0;
    HeldFile held;
};

// Logs whether the bundle may be trusted as it lies (see bundle_check.h): the
// folder of the programs, Typeloader.exe, and the Font folder where there is
// one; each font is judged by the snapshot that checks it. Typeloader.exe is
// judged again through the handle it stays open by, until its private copy
// is made from it (`typeloader`). Once it passes, logs the two programs'
// versions, which Windows reads by parsing the files.
bool bundle_is_trusted(DeployLog& log, const DeployPlaces& places, CheckedFont& typeloader);


// The readings the jobs take. Each reads the fonts key, the restart-time
// operations and the destination folder, and measures copies; they differ in
// what they read of the bundle's fonts.

// The install's check: every entry opened (one held open by another program
// tried again for a while), checked as a whole font, its owner and access
// judged, its copy measured against it; one CheckedFont per font. The copies
// of the title's other registrations are the dropped fonts. A copy to be
// replaced or deleted is probed for another program holding it.
DeploySnapshot read_checking(const String& title, const DeployPlaces& places, const std::vector<FoundFile>& entries,
                             std::vector<CheckedFont>& checked);

// After the install's run: each copy measured against the digest its font
// had at the check, the font itself not opened again.
DeploySnapshot read_against_checked(const String& title, const DeployPlaces& places, const std::vector<CheckedFont>& fonts);

// The uninstall's: the copies of the entries that can be read, the copies
// the title's registrations name, and `copies` besides (those measured
// before the run, so that the verdict sees them gone).
DeploySnapshot read_for_removal(const String& title, const DeployPlaces& places, const std::vector<FoundFile>& entries,
                                const std::vector<String>& copies);

// The title's Apps & features entry and kept copy, against the running
// program and the checked Typeloader.exe.
PackageState read_package(const String& title, const CheckedFont& typeloader);

// The fonts key's values as they are now. `opened` is the status of opening
// the key; `read`, of reading it (the values read so far are kept).
struct FontsKeyReading {
    PlatformStatus opened = status_success;
    PlatformStatus read = status_success;
    std::vector<RegistryValue> values;
};
FontsKeyReading read_fonts_key();

// The state of `path` against the bytes whose digest is given.
FileState state_against(uint64_t digest, const String& path);
