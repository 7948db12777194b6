#pragma once

#include <vector>

#include "common/strings.h"

// CommandLineToArgvW's rules, written from its documentation: the oracle for
// quoted command lines, and the split of the in-memory Typeloader.exe.
std::vector<String> split_like_windows(StringView line);
