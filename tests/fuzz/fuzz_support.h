#pragma once

// Shared by the fuzz targets: turning bytes into UTF-16 tokens, the console
// bytes a line should give, and a check that stops the run loudly.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/console_text.h"
#include "common/strings.h"

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                    \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

// Every byte is one code unit of that value, so seeds stay readable, except:
// 0xFE ends a token, and 0xFF takes the next two bytes (little-endian) as one
// unit, so every unit value is reachable. No bytes, no tokens.
inline std::vector<String> decode_tokens(const uint8_t* data, size_t size) {
    std::vector<String> tokens;
    if (size == 0) return tokens;
    tokens.emplace_back();
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFE) {
            tokens.emplace_back();
        } else if (data[i] == 0xFF) {
            if (i + 2 >= size) break;  // a cut-off escape is dropped
            tokens.back() += static_cast<char16_t>(data[i + 1] | (data[i + 2] << 8));
            i += 2;
        } else {
            tokens.back() += static_cast<char16_t>(data[i]);
        }
    }
    return tokens;
}

// What one console line puts on standard output.
inline std::string expected_line(StringView message) { return console_bytes(String(message) + u"\r\n"); }
