#pragma once

// Shared by the fuzz targets: turning bytes into UTF-16 tokens, the console
// bytes a line should give, and a check that stops the run loudly.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// What one console line puts on standard output, worked out unit by unit:
// a unit up to 0xFF is its own byte, any other is '?', a line feed goes out
// as CR LF, and the line ends with "\r\n", so CR CR LF.
inline std::string expected_line(StringView message) {
    std::string bytes;
    for (char16_t unit : message) {
        if (unit == 0x0A) {
            bytes.push_back('\x0D');
            bytes.push_back('\x0A');
        } else if (unit > 0xFF) {
            bytes.push_back('?');
        } else {
            bytes.push_back(static_cast<char>(static_cast<unsigned char>(unit)));
        }
    }
    return bytes + "\x0D\x0D\x0A";
}
