#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Every text the tool handles is a sequence of UTF-16 code units, as Windows
// hands it over. wchar_t is 32 bits on Linux, so the portable code uses
// char16_t and the Win32 layer passes the units to the wide API unchanged.
using String = std::u16string;
using StringView = std::u16string_view;

// Maps the ASCII letters A to Z onto a to z and leaves every other unit alone.
// Locale-aware compares differ between runtimes; option words must not.
char16_t fold_ascii_letter(char16_t unit);

bool equals_ignoring_ascii_case(StringView left, StringView right);

// The number in decimal digits.
String decimal_text(uint64_t number);

// UTF-8 of the units, a lone surrogate as U+FFFD.
std::string utf8(StringView text);
