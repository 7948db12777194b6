#include "fonts/font_table.h"

namespace {

// Spreads the stored hash over the slots; the hash itself samples long keys
// and is fixed, so its low bits alone would cluster.
size_t first_slot(uint32_t hash, size_t mask) {
    return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

void index_insert(std::vector<uint32_t>& index, const std::vector<FontTableEntry>& entries,
                  uint32_t at) {
    const size_t mask = index.size() - 1;
    size_t slot = first_slot(entries[at].hash, mask);
    while (index[slot] != FontTable::no_entry) slot = (slot + 1) & mask;
    index[slot] = at;
}

void index_grow(FontTable& table) {
    const size_t size = table.index.empty() ? 64 : table.index.size() * 2;
    table.index.assign(size, FontTable::no_entry);
    for (uint32_t at = 0; at < table.entries.size(); ++at) index_insert(table.index, table.entries, at);
}

}  // namespace

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
    if (!table.index.empty()) {
        // A key is in the table at most once, so the index finds the same
        // entry that a walk of its chain would.
        const size_t mask = table.index.size() - 1;
        for (size_t slot = first_slot(hash, mask); table.index[slot] != FontTable::no_entry;
             slot = (slot + 1) & mask) {
            FontTableEntry& entry = table.entries[table.index[slot]];
            if (entry.hash == hash && entry.key == key) {
                entry.value = String(value);
                return;
            }
        }
    }
    if (!table.buckets) {
        table.buckets = std::make_unique<uint32_t[]>(font_table_bucket_count);
        for (uint32_t i = 0; i < font_table_bucket_count; ++i) table.buckets[i] = FontTable::no_entry;
    }
    table.entries.push_back({String(key), String(value), hash, table.buckets[bucket]});
    const uint32_t added = static_cast<uint32_t>(table.entries.size() - 1);
    table.buckets[bucket] = added;
    if (table.entries.size() * 2 > table.index.size()) {
        index_grow(table);  // re-inserts every entry, the new one included
    } else {
        index_insert(table.index, table.entries, added);
    }
}

void font_table_walk(const FontTable& table,
                     const std::function<void(const String& key, const String& value)>& visit) {
    if (!table.buckets) return;
    for (uint32_t bucket = 0; bucket < font_table_bucket_count; ++bucket) {
        for (uint32_t at = table.buckets[bucket]; at != FontTable::no_entry;
             at = table.entries[at].next) {
            visit(table.entries[at].key, table.entries[at].value);
        }
    }
}
