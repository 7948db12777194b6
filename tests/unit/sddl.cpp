#include "sddl.h"

#include <algorithm>
#include <map>

#include "test_support.h"

const std::string test_domain = "S-1-5-21-1004336348-1177238915-682003330";

std::string sid_of(const std::string& alias) {
    static const std::map<std::string, std::string> aliases = {
        {"SY", "S-1-5-18"},       {"BA", "S-1-5-32-544"},        {"BU", "S-1-5-32-545"},
        {"SO", "S-1-5-32-549"},   {"AU", "S-1-5-11"},            {"WD", "S-1-1-0"},
        {"PS", "S-1-5-10"},       {"CO", "S-1-3-0"},             {"CG", "S-1-3-1"},
        {"OW", "S-1-3-4"},        {"AC", "S-1-15-2-1"},
        {"TI", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
        {"LA", test_domain + "-500"}, {"DA", test_domain + "-512"}, {"DU", test_domain + "-513"},
        {"DC", test_domain + "-515"}, {"EA", test_domain + "-519"}, {"PA", test_domain + "-520"},
    };
    auto found = aliases.find(alias);
    return found == aliases.end() ? alias : found->second;
}

namespace {

// Rights as hex or as two-letter names; the directory-service letters are
// the same bits on a file (DCLCRPCR is 0x116).
uint32_t rights_of(const std::string& text) {
    static const std::map<std::string, uint32_t> letters = {
        {"GA", 0x10000000}, {"GX", 0x20000000}, {"GW", 0x40000000}, {"GR", 0x80000000},
        {"FA", 0x1F01FF},   {"FR", 0x120089},   {"FW", 0x120116},   {"FX", 0x1200A9},
        {"SD", 0x10000},    {"RC", 0x20000},    {"WD", 0x40000},    {"WO", 0x80000},
        {"CC", 0x1},        {"DC", 0x2},        {"LC", 0x4},        {"SW", 0x8},
        {"RP", 0x10},       {"WP", 0x20},       {"DT", 0x40},       {"LO", 0x80},
        {"CR", 0x100},
    };
    if (text.starts_with("0x")) return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    uint32_t mask = 0;
    for (size_t i = 0; i < text.size(); i += 2) mask |= letters.at(text.substr(i, 2));
    return mask;
}

AccessEntry entry_of(const std::string& text) {
    static const std::map<std::string, uint8_t> flags = {{"OI", 0x1}, {"CI", 0x2}, {"NP", 0x4}, {"IO", 0x8}, {"ID", 0x10}};
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ';') fields.emplace_back(); else fields.back() += c;
    }
    AccessEntry entry;
    entry.allow = fields.at(0) == "A";
    entry.other_type = fields[0] != "A" && fields[0] != "D";  // OA, XA, ...: object or callback entries
    for (size_t i = 0; i < fields.at(1).size(); i += 2) entry.flags |= flags.at(fields[1].substr(i, 2));
    entry.mask = rights_of(fields.at(2));
    entry.trustee = ascii(sid_of(fields.at(5)));
    return entry;
}

}  // namespace

ObjectSecurity from_sddl(const std::string& text) {
    ObjectSecurity security;
    size_t dacl = text.find("D:");
    size_t owner_end = std::min(text.find("G:"), dacl);
    security.owner = ascii(sid_of(text.substr(2, owner_end - 2)));
    security.has_dacl = text.find("NO_ACCESS_CONTROL", dacl) == std::string::npos;
    for (size_t open = text.find('(', dacl); open != std::string::npos; open = text.find('(', open + 1)) {
        security.dacl.push_back(entry_of(text.substr(open + 1, text.find(')', open) - open - 1)));
    }
    return security;
}
