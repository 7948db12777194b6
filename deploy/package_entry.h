#pragma once

#include <cstdint>
#include <vector>

#include "common/strings.h"
#include "platform/deploy/clock.h"
#include "platform/deploy/registry_values.h"

// A title's Apps & features entry: one key per title under the Uninstall key
// (64-bit view), which fleet inventories read and detection rules test. Pure
// rules over names and values; platform/deploy/registry_keys.h reaches the key.

inline constexpr StringView uninstall_key_path = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr StringView entry_key_prefix = u"Typeloader ";

// The registry's limit for a key name, in code units.
inline constexpr size_t key_name_capacity = 255;

// The entry key's name: "Typeloader " and the title.
String entry_key_name(StringView title);
// Its path under HKEY_LOCAL_MACHINE.
String entry_key_path(StringView title);

// Whether a key name can hold the title: no backslash (it would make a
// subkey), and the name within key_name_capacity.
bool title_fits_entry_key(StringView title);

// The value that marks an entry as this program's own, holding the title: an
// entry of the same name without it is another product's.
inline constexpr StringView own_entry_mark = u"TypeloaderTitle";

// What an entry says about its title.
struct EntryFacts {
    String title;
    String version;       // as given on the command line; empty: no DisplayVersion
    String install_date;  // yyyymmdd
    uint64_t font_bytes = 0;   // of the title's fonts
    String kept_program;  // the kept copy of Typeloader-Deploy.exe, full path
};

// Every value of the entry: DisplayName, DisplayVersion (when a version is
// given), InstallDate, EstimatedSize (REG_DWORD, KiB rounded up),
// UninstallString and QuietUninstallString, NoModify and NoRepair
// (REG_DWORD 1) and the mark.
std::vector<RegistryValue> entry_values(const EntryFacts& facts);

// yyyymmdd, the form InstallDate takes.
String install_date_text(const LocalTime& time);

// The quoted program, "uninstall" and the title quoted so that the program's
// own split of its command line gives the title back unchanged.
String uninstall_command(StringView kept_program, StringView title);

// Whether the values hold the mark.
bool is_own_entry(const std::vector<RegistryValue>& values);

// The names of the expected values that the entry lacks or holds otherwise,
// and of the entry's values that are not expected, InstallDate left out (it
// changes only with the rest); names compared as the registry compares them.
std::vector<String> entry_differences(const std::vector<RegistryValue>& expected, const std::vector<RegistryValue>& actual);
