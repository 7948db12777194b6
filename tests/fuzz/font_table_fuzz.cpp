// Arbitrary Set sequences against a list that knows each key's bucket (by the
// table's own hash, whose values the host tests pin) and when it was first
// added: the walk must give every distinct key once, with its latest value,
// by ascending bucket and newest-added first within one.

#include <algorithm>

#include "fonts/font_table.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct ModelEntry {
    String key;
    String value;
    uint32_t bucket;
    size_t added;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Tokens taken in pairs: key, value (a missing last value is empty).
    const std::vector<String> tokens = decode_tokens(data, size);
    FontTable table;
    std::vector<ModelEntry> model;
    for (size_t i = 0; i < tokens.size(); i += 2) {
        const String& key = tokens[i];
        const String value = i + 1 < tokens.size() ? tokens[i + 1] : String();
        font_table_set(table, key, value);
        auto known = std::find_if(model.begin(), model.end(), [&](const ModelEntry& e) { return e.key == key; });
        if (known != model.end()) {
            known->value = value;
        } else {
            model.push_back({key, value, font_table_hash(key) % font_table_bucket_count, model.size()});
        }
    }

    std::vector<ModelEntry> expected = model;
    std::sort(expected.begin(), expected.end(), [](const ModelEntry& a, const ModelEntry& b) {
        return a.bucket != b.bucket ? a.bucket < b.bucket : a.added > b.added;
    });

    std::vector<std::pair<String, String>> walked;
    font_table_walk(table, [&](const String& key, const String& value) { walked.emplace_back(key, value); });
    FUZZ_CHECK(walked.size() == expected.size());
    for (size_t i = 0; i < walked.size(); ++i) {
        FUZZ_CHECK(walked[i].first == expected[i].key);
        FUZZ_CHECK(walked[i].second == expected[i].value);
    }
    return 0;
}
