#include "fonts/font_table.h"

uint32_t font_table_hash(StringView key) {
    // Long keys are sampled: every unit up to 9 units, every second up to 19,
    // and so on.
    const size_t stride = key.size() / 10 + 1;
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < key.size(); i += stride) {
        hash *= 16777619u;
        hash ^= key[i];
    }
    return hash;
}

void font_table_set(FontTable& table, StringView key, StringView value) {
    const uint32_t hash = font_table_hash(key);
    const uint32_t bucket = hash % font_table_bucket_count;
    if (table.chains.empty()) table.chains.assign(font_table_bucket_count, font_table_end);
    for (uint32_t at = table.chains[bucket]; at != font_table_end; at = table.entries[at].next) {
        FontTableEntry& entry = table.entries[at];
        if (entry.hash == hash && entry.key == key) {
            entry.value = String(value);
            return;
        }
    }
    table.entries.push_back({String(key), String(value), hash, table.chains[bucket]});
    table.chains[bucket] = static_cast<uint32_t>(table.entries.size() - 1);
}

void font_table_walk(const FontTable& table,
                     const std::function<void(const String& key, const String& value)>& visit) {
    for (uint32_t head : table.chains) {
        for (uint32_t at = head; at != font_table_end; at = table.entries[at].next) {
            visit(table.entries[at].key, table.entries[at].value);
        }
    }
}
