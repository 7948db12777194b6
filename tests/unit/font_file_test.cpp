#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "deploy/font_file.h"
#include "test_support.h"

namespace {

struct Table {
    std::string tag;
    std::string data;
};

void put_32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

uint32_t word_sum(const std::string& bytes, size_t at, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i < length; i += 4) {
        uint32_t word = 0;
        for (size_t j = 0; j < 4; ++j) word = word << 8 | (i + j < length ? static_cast<unsigned char>(bytes[at + i + j]) : 0);
        sum += word;
    }
    return sum;
}

uint32_t get_32(const std::string& bytes, size_t at) { return word_sum(bytes, at, 4); }

// A font laid out as font tools write it: the directory, then each table on a
// four-byte boundary. With a 'head' table, its checkSumAdjustment makes the
// whole file sum to 0xB1B0AFBA.
std::string font_bytes(const std::vector<Table>& tables, std::string version = std::string("\0\1\0\0", 4)) {
    std::string bytes = version;
    bytes += {static_cast<char>(tables.size() >> 8), static_cast<char>(tables.size()), 0, 0, 0, 0, 0, 0};
    size_t directory = bytes.size();
    bytes.resize(directory + 16 * tables.size());
    size_t head_at = 0;
    for (size_t i = 0; i < tables.size(); ++i) {
        size_t record = directory + 16 * i;
        size_t at = bytes.size();
        std::string data = tables[i].data;
        if (tables[i].tag == "head") put_32(data, 8, 0);  // the adjustment, set last
        bytes.replace(record, 4, tables[i].tag);
        put_32(bytes, record + 4, word_sum(data, 0, data.size()));
        put_32(bytes, record + 8, static_cast<uint32_t>(at));
        put_32(bytes, record + 12, static_cast<uint32_t>(data.size()));
        bytes += data;
        bytes.resize((bytes.size() + 3) / 4 * 4, '\0');
        if (tables[i].tag == "head") head_at = at;
    }
    if (head_at != 0) put_32(bytes, head_at + 8, 0xB1B0AFBAu - word_sum(bytes, 0, bytes.size()));
    return bytes;
}

const std::vector<Table> good_tables = {
    {"head", std::string(54, '\x11')},  // as long as a real 'head'
    {"glyf", "some outlines, 29 bytes long."},
    {"name", "Acme"},
};

// A font collection of the given fonts, each placed at its own offset; table
// offsets in a collection count from the start of the file.
std::string collection_bytes(const std::vector<std::string>& fonts) {
    std::string bytes = "ttcf";
    bytes += std::string("\0\2\0\0", 4) + std::string(4, '\0');
    put_32(bytes, 8, static_cast<uint32_t>(fonts.size()));
    bytes.resize(12 + 4 * fonts.size());
    for (size_t i = 0; i < fonts.size(); ++i) {
        size_t base = bytes.size();
        put_32(bytes, 12 + 4 * i, static_cast<uint32_t>(base));
        bytes += fonts[i];
        size_t table_count = static_cast<unsigned char>(fonts[i][4]) << 8 | static_cast<unsigned char>(fonts[i][5]);
        for (size_t record = base + 12; record < base + 12 + 16 * table_count; record += 16)
            put_32(bytes, record + 8, get_32(bytes, record + 8) + static_cast<uint32_t>(base));
    }
    return bytes;
}

// Where the directory record of the table with this tag begins.
size_t record_of(const std::string& font, const std::string& tag) {
    size_t record = 12;
    while (font.compare(record, 4, tag) != 0) record += 16;
    return record;
}

struct Reader {
    const std::string& bytes;
    uint64_t fail_at = UINT64_MAX;  // a read covering this offset fails
    bool short_reads = false;       // hands back one byte fewer than asked
    size_t largest_request = 0;
    uint64_t delivered = 0;
    uint64_t delivery_limit = UINT64_MAX;  // past it reads fail, so an unbounded check ends soon

    ReadAt read_at() {
        return [this](uint64_t offset, size_t length, std::string& out) {
            largest_request = std::max(largest_request, length);
            if (fail_at >= offset && fail_at < offset + length) return false;
            if (offset > bytes.size() || delivered > delivery_limit) return false;
            out = bytes.substr(offset, short_reads ? length - 1 : length);
            delivered += out.size();
            return true;
        };
    }
};

TEST(FontFile, Verdicts) {
    std::string good = font_bytes(good_tables);
    ASSERT_EQ(word_sum(good, 0, good.size()), 0xB1B0AFBAu);
    ASSERT_NE(get_32(good, get_32(good, record_of(good, "head") + 8) + 8), 0u);  // the adjustment

    auto changed = [](std::string bytes, const std::function<void(std::string&)>& change) {
        change(bytes);
        return bytes;
    };
    size_t glyf = record_of(good, "glyf");
    size_t name = record_of(good, "name");
    size_t head = record_of(good, "head");
    // A member whose 'glyf' holds what reads as the start of a one-table directory.
    std::string lookalike = font_bytes({good_tables[0], {"glyf", std::string("true\0\1", 6) + std::string(26, 'x')}});
    size_t member = 12 + 4 * 2;  // where the first of two members begins
    struct {
        const char* name;
        std::string bytes;
        uint64_t size;  // UINT64_MAX: the bytes' own size
        String refusal;
        std::vector<String> warnings;
    } cases[] = {
        {"good TrueType font, head adjustment set", good, UINT64_MAX, u"", {}},
        {"good font with the 'true' tag", font_bytes(good_tables, "true"), UINT64_MAX, u"", {}},
        {"a 'head' of 12 bytes still ends in its adjustment", font_bytes({{"head", std::string(12, '\x22')}}), UINT64_MAX, u"", {}},
        {"good font with the OTTO tag", font_bytes(good_tables, "OTTO"), UINT64_MAX, u"", {}},
        // "abcde" is the words 0x61626364 and 0x65000000.
        {"last word zero-padded",
         changed(font_bytes({{"name", "abcde"}}), [](std::string& b) { put_32(b, 16, 0xC6626364u); }),
         UINT64_MAX, u"", {}},
        {"zero-length file", "", UINT64_MAX, u"the file is empty", {}},
        {"shorter than four bytes", std::string("\0\1\0", 3), UINT64_MAX,
         u"it is not a TrueType or OpenType font (by its first four bytes)", {}},
        {"WOFF font", changed(good, [](std::string& b) { b.replace(0, 4, "wOFF"); }), UINT64_MAX,
         u"it is not a TrueType or OpenType font (by its first four bytes)", {}},
        {"cut off inside the offset table", good, 10, u"its table directory is cut off", {}},
        {"cut off inside the last table record", good, 12 + 16 * 3 - 1, u"its table directory is cut off", {}},
        {"no tables", changed(good, [](std::string& b) { b[4] = b[5] = 0; }), UINT64_MAX,
         u"its table directory lists no tables", {}},
        {"table count past the end", changed(good, [](std::string& b) { b[4] = 0x10; }), UINT64_MAX,
         u"its table directory is cut off", {}},
        {"table past the end", changed(good, [&](std::string& b) { put_32(b, glyf + 12, 0x1000); }), UINT64_MAX,
         u"its table 'glyf' lies outside the file", {}},
        {"table ending one byte past the end",
         changed(good, [&](std::string& b) { put_32(b, glyf + 12, static_cast<uint32_t>(b.size()) - get_32(b, glyf + 8) + 1); }),
         UINT64_MAX, u"its table 'glyf' lies outside the file", {}},
        {"offset plus length overflows 32 bits",
         changed(good, [&](std::string& b) { put_32(b, glyf + 8, 0xFFFFFFF0u); put_32(b, glyf + 12, 0x20); }),
         UINT64_MAX, u"its table 'glyf' lies outside the file", {}},
        {"unprintable tag named with ?",
         changed(good, [&](std::string& b) { b[glyf] = '\x01'; put_32(b, glyf + 12, 0x1000); }), UINT64_MAX,
         u"its table '?lyf' lies outside the file", {}},
        {"bad checksum only warned", changed(good, [&](std::string& b) { b[good.size() - 9] ^= 1; }), UINT64_MAX,
         u"", {u"its table 'glyf' has a wrong checksum (0xBB69B570 recorded, 0xBB69B56F computed)"}},
        {"good collection of two fonts", collection_bytes({good, good}), UINT64_MAX, u"", {}},
        {"collection member outside the file",
         changed(collection_bytes({good, good}), [](std::string& b) { put_32(b, 16, static_cast<uint32_t>(b.size())); }),
         UINT64_MAX, u"font 2 of the collection: its table directory is cut off", {}},
        {"collection member's table outside the file",
         collection_bytes({good, changed(good, [&](std::string& b) { put_32(b, glyf + 12, 0x1000); })}),
         UINT64_MAX, u"font 2 of the collection: its table 'glyf' lies outside the file", {}},
        {"collection member that is not a font",
         changed(collection_bytes({good, good}), [](std::string& b) { put_32(b, 16, 0); }), UINT64_MAX,
         u"font 2 of the collection: it is not a TrueType or OpenType font (by its first four bytes)", {}},
        {"collection count past the end", changed(collection_bytes({good}), [](std::string& b) { put_32(b, 8, 1000); }),
         UINT64_MAX, u"its collection header is cut off", {}},
        {"collection of no fonts", collection_bytes({}), UINT64_MAX, u"its collection holds no fonts", {}},
        {"a table reaching into the one before",
         changed(good, [&](std::string& b) { put_32(b, name + 8, get_32(b, name + 8) - 4); }), UINT64_MAX,
         u"its table 'name' overlaps another table or a directory", {}},
        {"collection members sharing a 'head'",
         changed(collection_bytes({good, good}),
                 [&](std::string& b) { b.replace(member + good.size() + head + 4, 12, b.substr(member + head + 4, 12)); }),
         UINT64_MAX, u"", {}},
        {"collection members sharing one font",
         changed(collection_bytes({good, good, good}), [](std::string& b) { put_32(b, 16, 24); put_32(b, 20, 24); }),
         UINT64_MAX, u"", {}},
        {"collection member's directory inside another member's table",
         changed(collection_bytes({lookalike, good}),
                 [&](std::string& b) { put_32(b, 16, get_32(b, member + record_of(lookalike, "glyf") + 8)); }),
         UINT64_MAX, u"font 2 of the collection: its table directory overlaps another table or a directory", {}},
        {"collection member's table over the collection header",
         changed(collection_bytes({good, good}), [&](std::string& b) { put_32(b, member + name + 8, 0); }), UINT64_MAX,
         u"font 1 of the collection: its table 'name' overlaps another table or a directory", {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reader reader{c.bytes};
        FontFileVerdict verdict = inspect_font_file(c.size == UINT64_MAX ? c.bytes.size() : c.size, reader.read_at());
        EXPECT_EQ(readable(verdict.refusal), readable(c.refusal));
        EXPECT_EQ(readable(verdict.warnings), readable(c.warnings));
    }
}

TEST(FontFile, ReadFailuresRefuse) {
    std::string good = font_bytes(good_tables);
    size_t glyf_data = 12 + 16 * 3 + 56;
    struct {
        const char* name;
        uint64_t fail_at;
        bool short_reads;
    } cases[] = {
        {"first four bytes", 0, false},
        {"table directory", 20, false},
        {"inside a table", glyf_data + 5, false},
        {"short read", UINT64_MAX, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reader reader{good, c.fail_at, c.short_reads};
        EXPECT_EQ(readable(inspect_font_file(good.size(), reader.read_at()).refusal), readable(u"it could not be read"));
    }
}

TEST(FontFile, ReadsInBoundedPieces) {
    // A directory (4,100 records) and a table (200 KiB) each longer than a piece.
    std::vector<Table> tables;
    for (int i = 0; i < 4099; ++i) tables.push_back({"t" + std::to_string(1000 + i).substr(1), "xy"});
    std::string big(200 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    tables.push_back({"glyf", big});
    std::string font = font_bytes(tables);

    Reader reader{font};
    FontFileVerdict verdict = inspect_font_file(font.size(), reader.read_at());
    EXPECT_EQ(readable(verdict.refusal), readable(u""));
    EXPECT_EQ(verdict.warnings.size(), 0u);
    EXPECT_LE(reader.largest_request, 64u * 1024);

    // A change in the table's last piece is still found.
    font[font.size() - 1000] ^= 0x40;
    Reader changed{font};
    verdict = inspect_font_file(font.size(), changed.read_at());
    ASSERT_EQ(verdict.warnings.size(), 1u);
    EXPECT_NE(verdict.warnings[0].find(u"'glyf'"), String::npos);
}

// A file of `size` bytes: `head` at its start, then repeats of `fill`.
std::string filled(const std::string& head, const std::string& fill, size_t size) {
    std::string bytes = head;
    while (bytes.size() < size) bytes += fill;
    bytes.resize(size);
    return bytes;
}

constexpr uint32_t mib = 1024 * 1024;

// A 1 MiB font of 65,535 records from 0, the i-th `shorter_by` times i bytes short of the end.
std::string whole_file_records(uint32_t shorter_by) {
    std::string bytes = std::string("\0\1\0\0\xFF\xFF", 6) + std::string(6, '\0');
    for (uint32_t i = 0; i < 65535; ++i) {
        bytes += "tabl" + std::string(12, '\0');
        put_32(bytes, bytes.size() - 4, mib - shorter_by * i);
    }
    return filled(bytes, "x", mib);
}

// A collection header of `count` members, the i-th at `offset(i)`.
std::string collection_header(size_t count, const std::function<uint32_t(size_t)>& offset) {
    std::string bytes = "ttcf" + std::string("\0\2\0\0", 4) + std::string(4 + 4 * count, '\0');
    put_32(bytes, 8, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i) put_32(bytes, 12 + 4 * i, offset(i));
    return bytes;
}

// Whatever its directories say, a check reads at most twice the file's size.
TEST(FontFile, ReadsAtMostTwiceTheSize) {
    // After a header of 65,536 offsets (262,156 bytes), a font of one table.
    std::string shared_font = font_bytes({{"glyf", std::string(mib - 262156 - 28, 'g')}});
    put_32(shared_font, 20, 262156 + 28);
    // After a header of 1,000 offsets (4,012 bytes), 1,000 directories of one table.
    std::string one_table = std::string("\0\1\0\0\0\1", 6) + std::string(6, '\0') + "glyf" + std::string(12, '\0');
    put_32(one_table, 20, 4012 + 28 * 1000);
    put_32(one_table, 24, mib - (4012 + 28 * 1000));
    struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"65,535 records each covering the whole file", whole_file_records(0)},
        {"65,535 records covering the file, each a word shorter", whole_file_records(4)},
        {"a collection of 65,536 members sharing one directory",
         collection_header(65536, [](size_t) { return 262156; }) + shared_font},
        {"1,000 members, each its own directory, sharing one table",
         filled(collection_header(1000, [](size_t i) { return 4012 + 28 * i; }), one_table, mib)},
        // Each member 8 bytes on, its 12 tables at 768 KiB: the directories overlap, the tables are shared.
        {"65,536 members whose directories overlap",
         filled(collection_header(65536, [](size_t i) { return 262156 + 8 * i; }), std::string("\0\1\0\0\0\x0C\0\0", 8), mib)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.bytes.size(), mib);
        Reader reader{c.bytes};
        reader.delivery_limit = 4 * c.bytes.size();
        inspect_font_file(c.bytes.size(), reader.read_at());
        EXPECT_LE(reader.delivered, 2 * c.bytes.size());
    }
}

TEST(FontFile, ManyBadChecksumsListTenAndCountTheRest) {
    std::vector<Table> tables;
    for (int i = 0; i < 25; ++i) tables.push_back({"t" + std::to_string(100 + i).substr(1) + "x", "data"});
    std::string font = font_bytes(tables);
    for (size_t i = 0; i < tables.size(); ++i) font[12 + 16 * i + 4] ^= 1;
    Reader reader{font};
    FontFileVerdict verdict = inspect_font_file(font.size(), reader.read_at());
    EXPECT_EQ(readable(verdict.refusal), readable(u""));
    ASSERT_EQ(verdict.warnings.size(), 11u);
    EXPECT_EQ(readable(verdict.warnings.back()), readable(u"15 more tables have a wrong checksum"));
}

}  // namespace
