#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/strings.h"

// Whether a file is a whole TrueType or OpenType font (or a collection of
// them): its table directory fits the file and every table lies inside it.
// The file is read in pieces of at most 64 KiB, so that the memory used does
// not depend on the font's size.

// Reads `length` bytes at `offset` into `bytes`; false when they could not be read.
using ReadAt = std::function<bool(uint64_t offset, size_t length, std::string& bytes)>;

struct FontFileVerdict {
    String refusal;                 // empty when the font may be installed
    std::vector<String> warnings;   // wrong table checksums: Windows loads such fonts
};

FontFileVerdict inspect_font_file(uint64_t size, const ReadAt& read_at);
