#pragma once

#include <string>

// The bytes that console lines written so far would have put on standard output.
std::string& captured_console_output();
