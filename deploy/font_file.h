#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/strings.h"

// Whether a file is a whole TrueType or OpenType font (or a collection of
// them): its table directory fits the file, every table lies inside it, and
// no table or directory overlaps another (the fonts of a collection may share
// a whole table, or a whole font). The file is read in pieces of at most
// 64 KiB, each part once, so that at most twice the file's size is read; the
// memory used grows with the number of tables, not with their lengths.

// Reads `length` bytes at `offset` into `bytes`; false when they could not be read.
using ReadAt = std::function<bool(uint64_t offset, size_t length, std::string& bytes)>;

struct FontFileVerdict {
    String refusal;                 // empty when the font may be installed
    std::vector<String> warnings;   // wrong table checksums: Windows loads such fonts
};

FontFileVerdict inspect_font_file(uint64_t size, const ReadAt& read_at);
