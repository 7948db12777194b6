#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "deploy/digest.h"

namespace {

// Bytes that differ from position to position, so that a lane read in the
// wrong order or at the wrong offset shows.
std::string pattern(size_t size) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) bytes += static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

struct KnownDigest {
    const char* description;
    size_t size;
    uint64_t expected;
};

void PrintTo(const KnownDigest& row, std::ostream* out) { *out << row.description; }

class DigestOf : public testing::TestWithParam<KnownDigest> {};

// The expected values are xxHash's own (xxhsum -H1 0.8.1 over the same bytes):
// each row reaches another step of the algorithm.
TEST_P(DigestOf, MatchesTheReferenceImplementation) {
    const std::string bytes = pattern(GetParam().size);
    EXPECT_EQ(digest_of(bytes.data(), bytes.size()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DigestOf,
    testing::Values(KnownDigest{"nothing", 0, 0xef46db3751d8e999u},
                    KnownDigest{"one byte", 1, 0x1f25c8d0bc1f4bb6u},
                    KnownDigest{"a four-byte step", 4, 0x9bb64b7d66ee9fdau},
                    KnownDigest{"an eight-byte step", 8, 0xdab99d95c6f90092u},
                    KnownDigest{"one short of a stripe: every step after the stripes", 31, 0xa2aa5f33cc4a6119u},
                    KnownDigest{"one stripe", 32, 0x23c3c17ef790fd97u},
                    KnownDigest{"a stripe and a byte", 33, 0x50a7cfc7ba588784u},
                    KnownDigest{"stripes, then every step after them", 100, 0x778e26df8290f456u},
                    KnownDigest{"more than a read's piece", 65541, 0x7b28c702defab22cu}),
    [](const testing::TestParamInfo<KnownDigest>& info) { return "size_" + std::to_string(info.param.size); });

// Fed in pieces cut anywhere, as files are read, the digest is the whole's.
TEST(Digest, PiecesCutAnywhereGiveTheWholesDigest) {
    const std::string bytes = pattern(1000);
    const uint64_t whole = digest_of(bytes.data(), bytes.size());
    for (size_t piece : {1u, 3u, 31u, 32u, 33u, 64u, 999u}) {
        Digest digest;
        for (size_t at = 0; at < bytes.size(); at += piece) digest_add(digest, bytes.data() + at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(digest_value(digest), whole) << "pieces of " << piece;
    }
}

}  // namespace
