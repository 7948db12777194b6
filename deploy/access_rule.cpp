#include "deploy/access_rule.h"

namespace {

constexpr uint8_t object_inherit = 0x1;
constexpr uint8_t inherit_only = 0x8;

struct Right {
    uint32_t bits;
    StringView name;
};

// Every right that changes a file, a folder's contents or who may do so, as
// named in a refusal; a group's name stands for all of its rights at once.
constexpr Right change_rights[] = {
    {0x000D0156, u"full control"},                  // every right below
    {0x00000116, u"write"},                         // the changes FILE_GENERIC_WRITE grants
    {0x02000000, u"whatever access it is allowed"}, // MAXIMUM_ALLOWED
    {0x00000002, u"write data or add files"},       // FILE_WRITE_DATA, FILE_ADD_FILE
    {0x00000004, u"append data or add folders"},    // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
    {0x00000010, u"write extended attributes"},     // FILE_WRITE_EA
    {0x00000040, u"delete what it holds"},          // FILE_DELETE_CHILD
    {0x00000100, u"write attributes"},              // FILE_WRITE_ATTRIBUTES
    {0x00010000, u"delete"},                        // DELETE
    {0x00040000, u"change permissions"},            // WRITE_DAC
    {0x00080000, u"take ownership"},                // WRITE_OWNER
};

// An entry keeps generic rights unmapped while it is inherit-only; a file
// created inside gets the file rights they stand for ("File Security and
// Access Rights"), so they are judged as those.
uint32_t file_rights(uint32_t mask) {
    constexpr struct {
        uint32_t generic;
        uint32_t rights;
    } mapping[] = {
        {0x80000000, 0x00120089},  // GENERIC_READ: FILE_GENERIC_READ
        {0x40000000, 0x00120116},  // GENERIC_WRITE: FILE_GENERIC_WRITE
        {0x20000000, 0x001200A0},  // GENERIC_EXECUTE: FILE_GENERIC_EXECUTE
        {0x10000000, 0x001F01FF},  // GENERIC_ALL: FILE_ALL_ACCESS
    };
    for (const auto& generic : mapping) {
        if (mask & generic.generic) mask = (mask & ~generic.generic) | generic.rights;
    }
    return mask;
}

struct WellKnown {
    StringView sid;
    StringView name;
};

constexpr StringView trusted_installer = u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr StringView creator_owner = u"S-1-3-0";

constexpr WellKnown well_known[] = {
    {u"S-1-5-18", u"SYSTEM"},
    {u"S-1-5-32-544", u"Administrators"},
    {trusted_installer, u"TrustedInstaller"},
    {u"S-1-5-32-545", u"Users"},
    {u"S-1-5-32-546", u"Guests"},
    {u"S-1-5-11", u"Authenticated Users"},
    {u"S-1-5-4", u"INTERACTIVE"},
    {u"S-1-1-0", u"Everyone"},
    {creator_owner, u"CREATOR OWNER"},
    {u"S-1-3-1", u"CREATOR GROUP"},
};

// The relative ID of a domain's account: S-1-5-21, the domain's three
// numbers, then the RID. Anything else gives false.
bool domain_rid(StringView sid, uint32_t& rid) {
    constexpr StringView domain_prefix = u"S-1-5-21-";
    if (!sid.starts_with(domain_prefix)) return false;
    sid.remove_prefix(domain_prefix.size());
    int numbers = 0;
    while (true) {
        size_t end = sid.find(u'-');
        StringView number = sid.substr(0, end);
        if (number.empty() || number.size() > 10) return false;
        uint64_t value = 0;
        for (char16_t unit : number) {
            if (unit < u'0' || unit > u'9') return false;
            value = value * 10 + (unit - u'0');
        }
        if (value > UINT32_MAX) return false;
        rid = static_cast<uint32_t>(value);
        ++numbers;
        if (end == StringView::npos) break;
        sid.remove_prefix(end + 1);
    }
    return numbers == 4;
}

bool is_trusted(StringView sid, Trust trust) {
    if (sid == u"S-1-5-18" || sid == u"S-1-5-32-544" || sid == trusted_installer) return true;
    uint32_t rid = 0;
    // Domain Admins and Enterprise Admins; Domain Users (513), Domain
    // Computers (515) and every other domain account stay untrusted.
    return trust == Trust::domain_admins_too && domain_rid(sid, rid) && (rid == 512 || rid == 519);
}

String trustee_text(StringView sid) {
    for (const WellKnown& known : well_known) {
        if (known.sid == sid) return String(known.name) + u" (" + String(sid) + u")";
    }
    uint32_t rid = 0;
    if (domain_rid(sid, rid) && rid == 512) return u"Domain Admins (" + String(sid) + u")";
    if (domain_rid(sid, rid) && rid == 513) return u"Domain Users (" + String(sid) + u")";
    if (domain_rid(sid, rid) && rid == 515) return u"Domain Computers (" + String(sid) + u")";
    if (domain_rid(sid, rid) && rid == 519) return u"Enterprise Admins (" + String(sid) + u")";
    return String(sid);
}

// Whether the entry is part of the target's own access list: a file created
// in the folder inherits the object-inherit entries, inherit-only or not.
bool applies_to(const AccessEntry& entry, AccessTarget target) {
    if (target == AccessTarget::object_itself) return !(entry.flags & inherit_only);
    return entry.flags & object_inherit;
}

}  // namespace

bool owner_is_trusted(const ObjectSecurity& security, Trust trust) {
    return !security.owner.empty() && is_trusted(security.owner, trust);
}

namespace {

// The rights of an entry that change the target, named; empty when none do.
String change_names(uint32_t mask) {
    mask = file_rights(mask);
    String names;
    for (const Right& right : change_rights) {
        if ((mask & right.bits) != right.bits) continue;
        names += (names.empty() ? u"" : u", ") + String(right.name);
        mask &= ~right.bits;
    }
    return names;
}

// The first untrusted allow entry that may change the target.
// A CREATOR OWNER entry gives its rights to whoever creates the file, and
// becomes its owner. When only trusted accounts may change the folder itself
// (so only they may add files or folders to it, or give themselves that
// right), every creator is trusted and the entry is passed over. CREATOR
// GROUP is not: it names the creator's primary group (Domain Users or None
// for an administrator), never the creator.
String entries_refusal(const ObjectSecurity& security, AccessTarget target, Trust trust) {
    const bool creators_trusted = target == AccessTarget::file_created_inside &&
                                  entries_refusal(security, AccessTarget::object_itself, trust).empty();
    String what = target == AccessTarget::object_itself ? u"it" : u"a file created inside it";
    for (const AccessEntry& entry : security.dacl) {
        if (entry.other_type && applies_to(entry, target)) {
            return u"an access entry of a type not judged here (neither allow nor deny) applies to " + what;
        }
        if (!entry.allow || !applies_to(entry, target) || is_trusted(entry.trustee, trust)) continue;
        if (creators_trusted && entry.trustee == creator_owner) continue;
        if (String rights = change_names(entry.mask); !rights.empty()) {
            return trustee_text(entry.trustee) + u" may change " + what + u" (" + rights + u")";
        }
    }
    return String();
}

}  // namespace

String access_refusal(const ObjectSecurity& security, AccessTarget target, Trust trust) {
    if (security.owner.empty()) return u"it has no owner";
    if (!owner_is_trusted(security, trust)) {
        return u"it is owned by " + trustee_text(security.owner) + u", who may change its permissions";
    }
    if (!security.has_dacl) return u"it has no access list (a NULL DACL), so everyone may change it";
    // Deny entries are not weighed: a deny names one trustee, while an allow
    // for another group may reach the same accounts. Each allow is judged alone.
    return entries_refusal(security, target, trust);
}
