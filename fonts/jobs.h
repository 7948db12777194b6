#pragma once

#include "common/strings.h"

// Copies every "*.ttf" entry of the folder Font beside the executable into the
// Fonts folder and registers each copy as "<title> <file title>".
void install_fonts(const String& title);

// Removes every REG_SZ registration whose name begins with the title.
void uninstall_fonts(const String& title);
