#include "deploy/font_file.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace {

// The largest read: a whole number of 32-bit words, so that table checksums
// can be summed piece by piece.
constexpr size_t piece_limit = 64 * 1024;
constexpr size_t offset_table_size = 12;
constexpr size_t table_record_size = 16;
constexpr size_t collection_header_size = 12;
// A damaged font could have thousands of wrong checksums; the list stays short.
constexpr uint64_t listed_checksum_faults = 10;

const String not_a_font = u"it is not a TrueType or OpenType font (by its first four bytes)";
const String unreadable = u"it could not be read";

uint16_t big_endian_16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1]));
}

uint32_t big_endian_32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(big_endian_16(bytes, at)) << 16 | big_endian_16(bytes, at + 2);
}

// The sum of the big-endian words of bytes whose size is a multiple of four:
// every byte of every font passes through here, so it is one plain loop.
uint32_t sum_of_words(const std::string& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    uint32_t sum = 0;
    for (size_t at = 0; at < bytes.size(); at += 4) {
        sum += static_cast<uint32_t>(data[at]) << 24 | static_cast<uint32_t>(data[at + 1]) << 16 |
               static_cast<uint32_t>(data[at + 2]) << 8 | data[at + 3];
    }
    return sum;
}

// A reader that hands back fewer bytes than asked has not read them.
bool read_exactly(const ReadAt& read_at, uint64_t offset, size_t length, std::string& bytes) {
    bytes.clear();
    return read_at(offset, length, bytes) && bytes.size() == length;
}

bool is_font_tag(const std::string& bytes) {
    return bytes == std::string("\0\1\0\0", 4) || bytes == "true" || bytes == "OTTO";
}

// A table tag as text; a byte that is not printable ASCII shows as '?'.
String tag_text(const std::string& bytes, size_t at) {
    String text;
    for (size_t i = at; i < at + 4; ++i) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        text += (byte >= 0x20 && byte < 0x7F) ? static_cast<char16_t>(byte) : u'?';
    }
    return text;
}

String hex_text(uint32_t number) {
    String text = u"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += u"0123456789ABCDEF"[(number >> shift) & 0xF];
    return text;
}

// A part of the file already read: the collection header, a table
// directory or a table. Microsoft's "The OpenType Font File" page asks that
// distinct tables not overlap and lets the fonts of a collection share whole
// tables, so parts are disjoint except a table shared whole, which is read
// once. Each byte is then read at most once, but for the first four and the
// first twelve of a member refused on them: at most size + 16 bytes, under
// twice the size, whatever the directories say.
enum class PartKind { header, directory, table };

struct Part {
    uint64_t end;
    PartKind kind;
    uint32_t sum = 0;         // a table's: the sum of its words
    uint32_t third_word = 0;  // a table's: 'head' leaves it out of the sum
};

using Parts = std::map<uint64_t, Part>;  // by where each begins

// Whether [start, end) meets no part: disjoint parts end in the order they begin.
bool is_free(const Parts& parts, uint64_t start, uint64_t end) {
    auto after = parts.lower_bound(end);
    return after == parts.begin() || std::prev(after)->second.end <= start;
}

struct FontReading {
    uint64_t size;
    const ReadAt& read_at;
    FontFileVerdict& verdict;
    uint64_t checksum_faults = 0;
    Parts parts;
};

const String overlaps = u" overlaps another table or a directory";

// The sum of the table's big-endian words, the last one padded with zeros,
// and its third word: in 'head' the checkSumAdjustment word (at 8) counts as
// zero, since it is set after the sum is taken.
bool table_sums(FontReading& reading, uint64_t offset, uint64_t length, Part& table) {
    std::string piece;
    for (uint64_t done = 0; done < length;) {
        size_t piece_length = static_cast<size_t>(std::min<uint64_t>(piece_limit, length - done));
        if (!read_exactly(reading.read_at, offset + done, piece_length, piece)) return false;
        piece.resize((piece_length + 3) / 4 * 4, '\0');
        table.sum += sum_of_words(piece);
        if (done == 0 && piece.size() >= 12) table.third_word = big_endian_32(piece, 8);
        done += piece_length;
    }
    return true;
}

// The computed checksum of the table at [offset, offset + length): read
// unless the same range was read before, refused when it overlaps another part.
String table_checksum(FontReading& reading, uint64_t offset, uint64_t length, bool is_head, uint32_t& computed) {
    computed = 0;
    if (length == 0) return String();
    auto known = reading.parts.find(offset);
    bool shared = known != reading.parts.end() && known->second.kind == PartKind::table && known->second.end == offset + length;
    if (!shared) {
        if (!is_free(reading.parts, offset, offset + length)) return overlaps;
        Part table{offset + length, PartKind::table};
        if (!table_sums(reading, offset, length, table)) return unreadable;
        known = reading.parts.emplace(offset, table).first;
    }
    computed = known->second.sum - (is_head ? known->second.third_word : 0);
    return String();
}

// One table record: the table lies inside the file and apart from the
// others; a wrong checksum is only warned about.
String check_table_record(FontReading& reading, const std::string& bytes, size_t record, const String& label) {
    String tag = tag_text(bytes, record);
    uint32_t recorded = big_endian_32(bytes, record + 4);
    uint64_t offset = big_endian_32(bytes, record + 8);
    uint32_t length = big_endian_32(bytes, record + 12);
    if (offset + length > reading.size) return label + u"its table '" + tag + u"' lies outside the file";
    uint32_t computed = 0;
    String refusal = table_checksum(reading, offset, length, tag == u"head", computed);
    if (refusal == unreadable) return unreadable;
    if (!refusal.empty()) return label + u"its table '" + tag + u"'" + refusal;
    if (computed != recorded && ++reading.checksum_faults <= listed_checksum_faults) {
        reading.verdict.warnings.push_back(label + u"its table '" + tag + u"' has a wrong checksum (" +
                                           hex_text(recorded) + u" recorded, " + hex_text(computed) + u" computed)");
    }
    return String();
}

// Checks the offset table at `start` and every table it lists. `label` goes
// before each text: empty for a single font, "font N of the collection: " for
// a member of a collection.
String check_table_directory(FontReading& reading, uint64_t start, const String& label, bool member) {
    const String cut_off = label + u"its table directory is cut off";
    std::string bytes;
    if (start > reading.size || reading.size - start < offset_table_size) return cut_off;
    if (!read_exactly(reading.read_at, start, offset_table_size, bytes)) return unreadable;
    if (member && !is_font_tag(bytes.substr(0, 4))) return label + not_a_font;
    uint16_t table_count = big_endian_16(bytes, 4);
    if (table_count == 0) return label + u"its table directory lists no tables";
    uint64_t records_start = start + offset_table_size;
    if (reading.size - records_start < uint64_t{table_count} * table_record_size) return cut_off;
    uint64_t directory_end = records_start + uint64_t{table_count} * table_record_size;
    if (!is_free(reading.parts, start, directory_end)) return label + u"its table directory" + overlaps;
    reading.parts.emplace(start, Part{directory_end, PartKind::directory});

    constexpr size_t records_per_piece = piece_limit / table_record_size;
    for (size_t first = 0; first < table_count; first += records_per_piece) {
        size_t count = std::min<size_t>(records_per_piece, table_count - first);
        if (!read_exactly(reading.read_at, records_start + first * table_record_size, count * table_record_size, bytes))
            return unreadable;
        for (size_t record = 0; record < count * table_record_size; record += table_record_size) {
            String refusal = check_table_record(reading, bytes, record, label);
            if (!refusal.empty()) return refusal;
        }
    }
    return String();
}

// A collection: its header and each member font's directory.
String check_collection(FontReading& reading) {
    const String cut_off = u"its collection header is cut off";
    std::string bytes;
    if (reading.size < collection_header_size) return cut_off;
    if (!read_exactly(reading.read_at, 0, collection_header_size, bytes)) return unreadable;
    uint32_t font_count = big_endian_32(bytes, 8);
    if (font_count == 0) return u"its collection holds no fonts";
    if (reading.size - collection_header_size < uint64_t{font_count} * 4) return cut_off;
    reading.parts.emplace(0, Part{collection_header_size + uint64_t{font_count} * 4, PartKind::header});

    constexpr size_t offsets_per_piece = piece_limit / 4;
    for (uint64_t first = 0; first < font_count; first += offsets_per_piece) {
        size_t count = static_cast<size_t>(std::min<uint64_t>(offsets_per_piece, font_count - first));
        if (!read_exactly(reading.read_at, collection_header_size + first * 4, count * 4, bytes)) return unreadable;
        for (size_t i = 0; i < count; ++i) {
            uint64_t start = big_endian_32(bytes, i * 4);
            // A member at the offset of one checked before is the same font.
            auto known = reading.parts.find(start);
            if (known != reading.parts.end() && known->second.kind == PartKind::directory) continue;
            String label = u"font " + decimal_text(first + i + 1) + u" of the collection: ";
            String refusal = check_table_directory(reading, start, label, true);
            if (!refusal.empty()) return refusal;
        }
    }
    return String();
}

}  // namespace

FontFileVerdict inspect_font_file(uint64_t size, const ReadAt& read_at) {
    FontFileVerdict verdict;
    FontReading reading{size, read_at, verdict};
    std::string first_four;
    if (size == 0) {
        verdict.refusal = u"the file is empty";
    } else if (size < 4) {
        verdict.refusal = not_a_font;
    } else if (!read_exactly(read_at, 0, 4, first_four)) {
        verdict.refusal = unreadable;
    } else if (first_four == "ttcf") {
        verdict.refusal = check_collection(reading);
    } else if (is_font_tag(first_four)) {
        verdict.refusal = check_table_directory(reading, 0, String(), false);
    } else {
        verdict.refusal = not_a_font;
    }
    if (reading.checksum_faults > listed_checksum_faults) {
        verdict.warnings.push_back(decimal_text(reading.checksum_faults - listed_checksum_faults) +
                                   u" more tables have a wrong checksum");
    }
    return verdict;
}
