#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/strings.h"

// The install job's table of file titles and copy paths. Its walk order is the
// order of registration and of the result lines, so it is fixed: 17 buckets
// that never grow, walked in ascending order, each chain newest first.
inline constexpr uint32_t font_table_bucket_count = 17;

struct FontTableEntry {
    String key;
    String value;
    uint32_t hash = 0;
    uint32_t next = 0;  // index of the next entry in the chain, or font_table_end
};

inline constexpr uint32_t font_table_end = UINT32_MAX;

struct FontTable {
    std::vector<uint32_t> chains;  // the 17 chain heads, made at the first insertion
    std::vector<FontTableEntry> entries;
};

uint32_t font_table_hash(StringView key);

// Replaces the value of an existing key in place, or adds the key at the head
// of its bucket's chain.
void font_table_set(FontTable& table, StringView key, StringView value);

void font_table_walk(const FontTable& table,
                     const std::function<void(const String& key, const String& value)>& visit);
