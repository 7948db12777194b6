#pragma once

#include <cstdint>
#include <vector>

#include "common/strings.h"
#include "fonts/file_title.h"

// What Typeloader.exe reads, writes and prints: its own jobs follow it, and
// Typeloader-Deploy.exe checks a run against it.

inline constexpr StringView source_folder_name = u"Font";  // beside the executable
inline constexpr StringView font_pattern = u"*.ttf";
inline constexpr StringView fallback_folder_name = u"LumoraFonts";

inline constexpr StringView install_header = u"Install Font : ";
inline constexpr StringView install_ok = u"Install OK : ";
inline constexpr StringView install_fail = u"Install FAIL : ";
inline constexpr StringView uninstall_header = u"Uninstall Font : ";
inline constexpr StringView uninstall_ok = u"Uninstall OK : ";
inline constexpr StringView uninstall_fail = u"Uninstall FAIL : ";

inline constexpr uint32_t registration_type = 1;  // REG_SZ

// The value name of a font file: the title, a space and the file title.
inline String registration_name(StringView title, StringView file_name) {
    return String(title) + u" " + file_title(file_name);
}

// The folder copies go to when the Fonts folder cannot be located: under the
// temporary folder (which ends in a backslash), or beside the executable
// when even that is unknown.
inline String fallback_folder(StringView temporary_folder, StringView executable_folder) {
    return (temporary_folder.empty() ? String(executable_folder) + u"\\" : String(temporary_folder)) +
           String(fallback_folder_name);
}

// Every folder a copy may have gone to besides the Fonts folder.
inline std::vector<String> fallback_folders(StringView temporary_folder, StringView executable_folder) {
    std::vector<String> folders{String(executable_folder) + u"\\" + String(fallback_folder_name)};
    if (!temporary_folder.empty()) folders.insert(folders.begin(), fallback_folder(temporary_folder, executable_folder));
    return folders;
}

// The uninstall removes a value when it is a string value whose whole name
// (no null unit in it, which a delete could not name) begins with the title,
// unit for unit.
inline bool uninstall_takes(StringView title, StringView name, uint32_t type) {
    return type == registration_type && name.find(u'\0') == StringView::npos && name.starts_with(title);
}
