#include "deploy/digest.h"

#include <cstring>

namespace {

constexpr uint64_t prime_3 = 0x165667B19E3779F9u;
constexpr uint64_t prime_4 = 0x85EBCA77C2B2AE63u;
constexpr uint64_t prime_5 = 0x27D4EB2F165667C5u;

uint64_t rotate_left(uint64_t value, int bits) { return value << bits | value >> (64 - bits); }

// Little-endian, whatever the machine's order.
uint64_t read_64(const unsigned char* bytes) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

uint32_t read_32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 | static_cast<uint32_t>(bytes[2]) << 16 |
           static_cast<uint32_t>(bytes[3]) << 24;
}

uint64_t round_of(uint64_t lane, uint64_t input) { return rotate_left(lane + input * xxh64_prime_2, 31) * xxh64_prime_1; }

uint64_t merged(uint64_t sum, uint64_t lane) { return (sum ^ round_of(0, lane)) * xxh64_prime_1 + prime_4; }

void add_stripe(uint64_t (&lanes)[4], const unsigned char* stripe) {
    for (int i = 0; i < 4; ++i) lanes[i] = round_of(lanes[i], read_64(stripe + 8 * i));
}

}  // namespace

void digest_add(Digest& digest, const char* text, size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    digest.total_size += size;
    if (digest.pending_size > 0) {
        const size_t taken = size < 32 - digest.pending_size ? size : 32 - digest.pending_size;
        memcpy(digest.pending + digest.pending_size, bytes, taken);
        digest.pending_size += taken;
        bytes += taken;
        size -= taken;
        if (digest.pending_size < 32) return;
        add_stripe(digest.lanes, digest.pending);
        digest.pending_size = 0;
    }
    for (; size >= 32; bytes += 32, size -= 32) add_stripe(digest.lanes, bytes);
    memcpy(digest.pending, bytes, size);
    digest.pending_size = size;
}

uint64_t digest_value(const Digest& digest) {
    const uint64_t* lanes = digest.lanes;
    uint64_t value = prime_5;
    if (digest.total_size >= 32) {
        value = rotate_left(lanes[0], 1) + rotate_left(lanes[1], 7) + rotate_left(lanes[2], 12) + rotate_left(lanes[3], 18);
        for (uint64_t lane : digest.lanes) value = merged(value, lane);
    }
    value += digest.total_size;
    const unsigned char* rest = digest.pending;
    size_t left = digest.pending_size;
    for (; left >= 8; rest += 8, left -= 8) value = rotate_left(value ^ round_of(0, read_64(rest)), 27) * xxh64_prime_1 + prime_4;
    if (left >= 4) {
        value = rotate_left(value ^ read_32(rest) * xxh64_prime_1, 23) * xxh64_prime_2 + prime_3;
        rest += 4;
        left -= 4;
    }
    for (; left > 0; ++rest, --left) value = rotate_left(value ^ *rest * prime_5, 11) * xxh64_prime_1;
    value ^= value >> 33;
    value *= xxh64_prime_2;
    value ^= value >> 29;
    value *= prime_3;
    value ^= value >> 32;
    return value;
}
