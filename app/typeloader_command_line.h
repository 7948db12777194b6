#pragma once

#include <vector>

#include "common/strings.h"

struct CommandChoice {
    String title;  // empty: no job runs
    bool uninstall = false;
};

// Reads the options from every argument after the program name. The last
// title option wins, even an empty one; other arguments are ignored.
CommandChoice parse_arguments(const std::vector<String>& arguments);

// Start-up, parsing and dispatch; returns the process exit code.
int run_typeloader();

inline constexpr StringView usage_line = u"Usage : Typeloader [/uninstall] </title:title_string>";
