#pragma once

#include <cstddef>
#include <cstdint>

// A 64-bit FNV-1a digest of bytes, fed piece by piece: it tells whether a
// private copy holds the bytes that were checked, without holding either.
inline constexpr uint64_t digest_start = 0xcbf29ce484222325u;

inline uint64_t digest_of(uint64_t digest, const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) digest = (digest ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3u;
    return digest;
}
