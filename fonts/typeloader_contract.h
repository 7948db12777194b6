#pragma once

#include <cstdint>
#include <vector>

#include "common/strings.h"
#include "fonts/file_title.h"
#include "platform/registry.h"

// What Typeloader.exe reads, writes and prints: its own jobs follow it, and
// Typeloader-Deploy.exe checks a run against it.

// Appended to a folder's path: the Font folder beside the executable, and the
// pattern of the fonts in a folder.
inline constexpr char16_t source_folder_suffix[] = u"\\Font";
inline constexpr char16_t font_pattern_suffix[] = u"\\*.ttf";
inline constexpr char16_t fallback_folder_name[] = u"LumoraFonts";

inline constexpr char16_t install_header[] = u"Install Font : ";
inline constexpr char16_t install_ok[] = u"Install OK : ";
inline constexpr char16_t install_fail[] = u"Install FAIL : ";
inline constexpr char16_t uninstall_header[] = u"Uninstall Font : ";
inline constexpr char16_t uninstall_ok[] = u"Uninstall OK : ";
inline constexpr char16_t uninstall_fail[] = u"Uninstall FAIL : ";

// Typeloader.exe writes, and its uninstall takes, string values only.
inline constexpr uint32_t registration_type = registry_string_type;

// The value name of a font: the title, a space and the file's title
// (file_title.h). Typeloader.exe has the file title already, as its font
// table's key.
inline String registration_name_of_title(StringView title, StringView title_of_file) {
    String name(title);
    name += u' ';
    name += title_of_file;
    return name;
}

// The value name of a font file.
inline String registration_name(StringView title, StringView file_name) {
    return registration_name_of_title(title, file_title(file_name));
}

// The folder copies go to when the Fonts folder cannot be located: under the
// temporary folder (which ends in a backslash), or beside the executable
// when even that is unknown.
inline String fallback_folder(String temporary_folder, const String& executable_folder) {
    if (temporary_folder.empty()) temporary_folder = executable_folder + u"\\";
    return temporary_folder + fallback_folder_name;
}

// Every folder a copy may have gone to besides the Fonts folder.
inline std::vector<String> fallback_folders(const String& temporary_folder, const String& executable_folder) {
    std::vector<String> folders{executable_folder + u"\\" + fallback_folder_name};
    if (!temporary_folder.empty()) folders.insert(folders.begin(), fallback_folder(temporary_folder, executable_folder));
    return folders;
}

// The uninstall removes a value when it is a string value whose whole name
// (no null unit in it, which a delete could not name) begins with the title,
// unit for unit.
inline bool uninstall_takes(StringView title, StringView name, uint32_t type) {
    return type == registration_type && name.find(u'\0') == StringView::npos && name.starts_with(title);
}
