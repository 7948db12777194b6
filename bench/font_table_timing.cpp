// Times the install job's font table alone (Set for N distinct keys, then one
// Walk), so that its growth with N shows apart from the Windows calls.
// Host build: see bench/README.md.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fonts/font_table.h"

namespace {

String ascii(const std::string& text) { return String(text.begin(), text.end()); }

// Seconds for one fill of `count` keys shaped like the bench's file titles.
double fill_seconds(size_t count, size_t& walked) {
    const String folder = u"C:\\windows\\Fonts\\";
    std::vector<String> keys;
    keys.reserve(count);
    char name[32];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "BenchFont%06zu", i);
        keys.push_back(ascii(name));
    }
    auto start = std::chrono::steady_clock::now();
    FontTable table;
    for (const String& key : keys) font_table_set(table, key, folder + key + u".ttf");
    walked = 0;
    font_table_walk(table, [&](const String&, const String&) { ++walked; });
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

}  // namespace

int main(int argc, char** argv) {
    // Counts to time, e.g. "1000 10000 100000"; three repeats each, best kept.
    std::vector<size_t> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::strtoull(argv[i], nullptr, 10));
    if (counts.empty()) counts = {1000, 10000, 100000};
    std::printf("%10s %12s %14s\n", "keys", "total ms", "ns per key");
    for (size_t count : counts) {
        double best = 1e9;
        size_t walked = 0;
        for (int repeat = 0; repeat < 3; ++repeat) {
            double took = fill_seconds(count, walked);
            if (took < best) best = took;
        }
        if (walked != count) {
            std::fprintf(stderr, "walked %zu of %zu keys\n", walked, count);
            return 1;
        }
        std::printf("%10zu %12.3f %14.1f\n", count, best * 1e3, best * 1e9 / count);
    }
    return 0;
}
