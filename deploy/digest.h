#pragma once

#include <cstddef>
#include <cstdint>

// A digest of bytes fed piece by piece: it tells whether a private copy or an
// installed copy holds the bytes that were checked, without holding either.
// xxHash's XXH64 with seed 0, step for step as xxHash documents it:
// eight bytes a step on four independent lanes, so a large font costs
// about what reading it costs.
inline constexpr uint64_t xxh64_prime_1 = 0x9E3779B185EBCA87u;
inline constexpr uint64_t xxh64_prime_2 = 0xC2B2AE3D27D4EB4Fu;

struct Digest {
    uint64_t lanes[4] = {xxh64_prime_1 + xxh64_prime_2, xxh64_prime_2, 0, 0 - xxh64_prime_1};
    unsigned char pending[32] = {};  // the bytes of a stripe not yet whole
    size_t pending_size = 0;
    uint64_t total_size = 0;
};

void digest_add(Digest& digest, const char* bytes, size_t size);
uint64_t digest_value(const Digest& digest);

inline uint64_t digest_of(const char* bytes, size_t size) {
    Digest digest;
    digest_add(digest, bytes, size);
    return digest_value(digest);
}
