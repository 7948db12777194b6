#include <gtest/gtest.h>

#include <string>

#include "deploy/access_rule.h"
#include "sddl.h"
#include "test_support.h"

namespace {

const std::string system_and_admins = "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

TEST(AccessRule, Refusals) {
    struct {
        const char* name;
        std::string owner;
        std::string dacl;  // "NULL": no DACL at all
        Trust trust;
        std::string object_itself;
        std::string file_created_inside;
    } cases[] = {
        // C:\Program Files as Windows 10 and 11 set it up. Its CREATOR OWNER
        // entry passes full control to whoever creates a file there, and only
        // trusted accounts may: so the creator is trusted. (This row expected
        // a refusal of a file created inside before; that blocked every fleet.)
        {"Program Files default", "TI",
         "(A;;FA;;;TI)(A;CIIO;GA;;;TI)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
         "(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)"
         "(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)",
         Trust::local_only, "", ""},
        // The root of the system drive: Authenticated Users may add folders
        // to it (FILE_ADD_SUBDIRECTORY), and a folder they add is theirs:
        // beside programs kept in the root, that is a Font folder any user
        // fills. So the root itself is unsafe, not only what it inherits.
        {"system drive root default", "TI",
         "(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x100004;;;AU)",
         Trust::local_only, "Authenticated Users (S-1-5-11) may change it (append data or add folders)",
         "Authenticated Users (S-1-5-11) may change a file created inside it (write, delete)"},
        {"Users full control, inherit-only", "BA", system_and_admins + "(A;OICIIO;FA;;;BU)", Trust::local_only, "",
         "Users (S-1-5-32-545) may change a file created inside it (full control)"},
        {"Users full control, subfolders only", "BA", system_and_admins + "(A;CIIO;FA;;;BU)", Trust::local_only, "",
         ""},
        {"Users may add files, not inherited", "BA", system_and_admins + "(A;;0x2;;;BU)", Trust::local_only,
         "Users (S-1-5-32-545) may change it (write data or add files)", ""},
        {"Authenticated Users write data, object-inherit", "SY", system_and_admins + "(A;OI;0x2;;;AU)",
         Trust::local_only, "Authenticated Users (S-1-5-11) may change it (write data or add files)",
         "Authenticated Users (S-1-5-11) may change a file created inside it (write data or add files)"},
        // Was refused for a file created inside; only trusted accounts may create one.
        {"CREATOR OWNER full control, inherit-only", "BA", system_and_admins + "(A;OICIIO;FA;;;CO)",
         Trust::local_only, "", ""},
        {"domain admins' share, local trust", "DA", "(A;OICI;FA;;;DA)(A;OICI;FA;;;EA)(A;OICI;FA;;;SY)(A;OICI;FX;;;DU)",
         Trust::local_only, "it is owned by Domain Admins (" + test_domain + "-512), who may change its permissions",
         "it is owned by Domain Admins (" + test_domain + "-512), who may change its permissions"},
        {"domain admins' share, domain trust", "DA", "(A;OICI;FA;;;DA)(A;OICI;FA;;;EA)(A;OICI;FA;;;SY)(A;OICI;FX;;;DU)",
         Trust::domain_admins_too, "", ""},
        {"Domain Users write, local trust", "BA", system_and_admins + "(A;OICI;GW;;;DU)", Trust::local_only,
         "Domain Users (" + test_domain + "-513) may change it (write)",
         "Domain Users (" + test_domain + "-513) may change a file created inside it (write)"},
        {"Domain Users write, domain trust", "DA", "(A;OICI;FA;;;DA)(A;OICI;GW;;;DU)", Trust::domain_admins_too,
         "Domain Users (" + test_domain + "-513) may change it (write)",
         "Domain Users (" + test_domain + "-513) may change a file created inside it (write)"},
        {"Domain Computers write, domain trust", "DA", "(A;OICI;FA;;;DA)(A;OICI;GW;;;DC)", Trust::domain_admins_too,
         "Domain Computers (" + test_domain + "-515) may change it (write)",
         "Domain Computers (" + test_domain + "-515) may change a file created inside it (write)"},
        {"RID 512 after two domain numbers", "S-1-5-21-1-2-512", system_and_admins, Trust::domain_admins_too,
         "it is owned by S-1-5-21-1-2-512, who may change its permissions",
         "it is owned by S-1-5-21-1-2-512, who may change its permissions"},
        {"RID 512 after four domain numbers", "S-1-5-21-1-2-3-4-512", system_and_admins, Trust::domain_admins_too,
         "it is owned by S-1-5-21-1-2-3-4-512, who may change its permissions",
         "it is owned by S-1-5-21-1-2-3-4-512, who may change its permissions"},
        {"RID 512 outside a domain", "S-1-5-32-512", system_and_admins, Trust::domain_admins_too,
         "it is owned by S-1-5-32-512, who may change its permissions",
         "it is owned by S-1-5-32-512, who may change its permissions"},
        {"owned by a user", test_domain + "-1001", system_and_admins, Trust::domain_admins_too,
         "it is owned by " + test_domain + "-1001, who may change its permissions",
         "it is owned by " + test_domain + "-1001, who may change its permissions"},
        {"no owner", "", system_and_admins, Trust::local_only, "it has no owner", "it has no owner"},
        {"NULL DACL", "SY", "NULL", Trust::local_only, "it has no access list (a NULL DACL), so everyone may change it",
         "it has no access list (a NULL DACL), so everyone may change it"},
        {"empty DACL: no one but the owner", "BA", "", Trust::local_only, "", ""},
        {"deny entry alone", "BA", "(D;OICI;FA;;;WD)" + system_and_admins, Trust::local_only, "", ""},
        {"deny entry before an allow", "BA", "(D;OICI;0x2;;;BU)(A;OICI;0x2;;;BU)" + system_and_admins,
         Trust::local_only, "Users (S-1-5-32-545) may change it (write data or add files)",
         "Users (S-1-5-32-545) may change a file created inside it (write data or add files)"},
        {"object entry for Everyone, read only", "BA", system_and_admins + "(OA;;FR;;;WD)", Trust::local_only,
         "an access entry of a type not judged here (neither allow nor deny) applies to it", ""},
        {"callback entry for SYSTEM, inherit-only to files", "BA", system_and_admins + "(XA;OIIO;FA;;;SY)",
         Trust::local_only, "",
         "an access entry of a type not judged here (neither allow nor deny) applies to a file created inside it"},
        {"first untrusted writer named", "BA", "(A;OICI;FR;;;WD)(A;;SD;;;WD)(A;;WO;;;BU)", Trust::local_only,
         "Everyone (S-1-1-0) may change it (delete)", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ObjectSecurity security = from_sddl("O:" + c.owner + "D:" + (c.dacl == "NULL" ? "NO_ACCESS_CONTROL" : c.dacl));
        EXPECT_EQ(readable(access_refusal(security, AccessTarget::object_itself, c.trust)), readable(ascii(c.object_itself)));
        EXPECT_EQ(readable(access_refusal(security, AccessTarget::file_created_inside, c.trust)),
                  readable(ascii(c.file_created_inside)));
    }
}

TEST(AccessRule, EachRightThatChangesCounts) {
    struct {
        uint32_t mask;
        bool changes;
    } cases[] = {
        {0x00000001, false},  // FILE_READ_DATA
        {0x00000002, true},   // FILE_WRITE_DATA, FILE_ADD_FILE
        {0x00000004, true},   // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
        {0x00000008, false},  // FILE_READ_EA
        {0x00000010, true},   // FILE_WRITE_EA
        {0x00000020, false},  // FILE_EXECUTE, FILE_TRAVERSE
        {0x00000040, true},   // FILE_DELETE_CHILD
        {0x00000080, false},  // FILE_READ_ATTRIBUTES
        {0x00000100, true},   // FILE_WRITE_ATTRIBUTES
        {0x00010000, true},   // DELETE
        {0x00020000, false},  // READ_CONTROL
        {0x00040000, true},   // WRITE_DAC
        {0x00080000, true},   // WRITE_OWNER
        {0x00100000, false},  // SYNCHRONIZE
        {0x02000000, true},   // MAXIMUM_ALLOWED
        {0x10000000, true},   // GENERIC_ALL
        {0x20000000, false},  // GENERIC_EXECUTE
        {0x40000000, true},   // GENERIC_WRITE
        {0x80000000, false},  // GENERIC_READ
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "mask 0x" << c.mask);
        ObjectSecurity security{u"S-1-5-18", true, {{true, u"S-1-5-32-545", c.mask, 0x1}}};
        EXPECT_EQ(access_refusal(security, AccessTarget::object_itself, Trust::local_only).empty(), !c.changes);
    }
}

}  // namespace
