#pragma once

#include <vector>

#include "common/strings.h"
#include "platform/registry.h"

// Copies every "*.ttf" entry of the folder Font beside the executable into the
// Fonts folder and registers each copy as "<title> <file title>".
void install_fonts(const String& title);

// Removes every REG_SZ registration whose name begins with the title.
void uninstall_fonts(const String& title);

// The names the uninstall job removes from the open font registration key for
// this title, in the key's enumeration order.
std::vector<String> uninstall_scan(const RegistryKey& key, const String& title);
