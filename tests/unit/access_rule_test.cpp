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

// Descriptors Windows ships, as SDDL. A folder created inside gets its
// parent's inheritable entries (ID), and the CREATOR OWNER entry becomes one
// for its owner: an elevated administrator's objects are owned by
// Administrators. Every row names where its listing comes from.
TEST(AccessRule, WindowsDescriptors) {
    const std::string user = test_domain + "-1001";
    const std::string creator_owner_refusal = "CREATOR OWNER (S-1-3-0) may change a file created inside it (full control)";
    struct {
        const char* name;
        std::string sddl;
        Trust trust;
        std::string object_itself;
        std::string file_created_inside;
    } cases[] = {
        // icacls C:\Windows (TrustedInstaller full, SYSTEM and Administrators
        // modify and full to what is created, Users read, CREATOR OWNER full
        // to what is created): "ACL Enhancements in Windows Vista and Windows
        // Server 2008", http://www.sqlmag.com/content1/topic/acl-enhancements-in-windows-vista-and-windows-server-2008/catpath/security/page/2
        {"C:\\Windows", "O:TIG:TID:PAI(A;OICIIO;GA;;;CO)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;BA)"
         "(A;;0x1301bf;;;BA)(A;OICIIO;GXGR;;;BU)(A;;0x1200a9;;;BU)(A;CIIO;GA;;;TI)(A;;FA;;;TI)(A;;0x1200a9;;;AC)"
         "(A;OICIIO;GXGR;;;AC)", Trust::local_only, "", ""},
        // What C:\Program Files (the row above in Refusals) passes to a folder
        // an administrator creates in it.
        {"folder an administrator creates in C:\\Program Files", "O:BAG:DUD:AI(A;ID;FA;;;TI)(A;CIIOID;GA;;;TI)"
         "(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)"
         "(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)(A;ID;0x1200a9;;;AC)(A;OICIIOID;GXGR;;;AC)",
         Trust::local_only, "", ""},
        // C:\Windows\ccmcache ("Configure the content cache for Configuration
        // Manager clients", https://learn.microsoft.com/mem/configmgr/core/clients/manage/configure-client-cache:
        // %windir%\ccmcache) and C:\Windows\IMECache, made by SYSTEM: what
        // C:\Windows passes on, if the agent sets no list of its own.
        {"folder SYSTEM creates in C:\\Windows", "O:SYG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;TI)(A;CIIOID;GA;;;TI)"
         "(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)"
         "(A;OICIIOID;GA;;;CO)(A;ID;0x1200a9;;;AC)(A;OICIIOID;GXGR;;;AC)", Trust::local_only, "", ""},
        // icacls C:\ProgramData: SYSTEM and Administrators full, CREATOR OWNER
        // full to what is created, Users read and (CI)(WD,AD,WEA,WA), owner
        // SYSTEM: "The Windows Concept Journey — ProgramData Directory",
        // https://medium.com/@boutnaru/windows-programdata-directory-b2aaa9c71a38;
        // "Changes to the default NTFS DACL settings in Windows Vista",
        // http://support.microsoft.com/kb/949608. Users may add files, so
        // the creator of a file may be anyone.
        {"C:\\ProgramData", "O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
         "(A;CI;DCLCRPCR;;;BU)", Trust::local_only, "Users (S-1-5-32-545) may change it (write)",
         creator_owner_refusal},
        // Users' (CI) entry reaches every folder created in it.
        {"folder an administrator creates in C:\\ProgramData", "O:BAG:DUD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)"
         "(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)(A;CIID;DCLCRPCR;;;BU)", Trust::local_only,
         "Users (S-1-5-32-545) may change it (write)", creator_owner_refusal},
        {"folder a user creates in C:\\ProgramData", "O:" + user + "G:DUD:AI(A;ID;FA;;;" + user + ")(A;OICIIOID;GA;;;CO)"
         "(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)(A;CIID;DCLCRPCR;;;BU)", Trust::local_only,
         "it is owned by " + user + ", who may change its permissions",
         "it is owned by " + user + ", who may change its permissions"},
        // "Authenticated users have the ability to create, modify, and delete
        // files and folders in this folder and its subfolders": "Default
        // Folder Permissions", https://voyager.deanza.edu/~hso/cis170f/lecture/ch05/win05/default.html
        {"folder an administrator creates at the root of C:", "O:BAG:DUD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)"
         "(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)", Trust::local_only,
         "Authenticated Users (S-1-5-11) may change it (write, delete)",
         "Authenticated Users (S-1-5-11) may change a file created inside it (write, delete)"},
        // icacls C:\Windows\SYSVOL on a domain controller: Windows Server 2019
        // STIG SV-205740 (mitre/inspec-profile-update-action,
        // benchmarks/old/inspec_stubs/Windows_Server_2019_STIG/controls/SV-205740.rb).
        {"SYSVOL", "O:BAG:SYD:PAI(A;;0x1200a9;;;AU)(A;OICIIO;GXGR;;;AU)(A;;0x1200a9;;;SO)(A;OICIIO;GXGR;;;SO)"
         "(A;;0x1f01bf;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)(A;OICIIO;GA;;;CO)",
         Trust::domain_admins_too, "", ""},
        // NETLOGON (SYSVOL\<domain>\scripts) holds what SYSVOL passes on; a
        // domain administrator's folder there, with Domain Admins added.
        {"folder a domain administrator creates in NETLOGON", "O:BAG:DUD:AI(A;OICI;FA;;;DA)(A;ID;FA;;;BA)"
         "(A;ID;0x1200a9;;;AU)(A;OICIIOID;GXGR;;;AU)(A;ID;0x1200a9;;;SO)(A;OICIIOID;GXGR;;;SO)(A;OICIIOID;GA;;;BA)"
         "(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;OICIIOID;GA;;;CO)", Trust::domain_admins_too, "", ""},
        // SYSVOL's Policies folder as Samba provisions it to match Windows
        // (samba-team/samba, python/samba/provision/__init__.py, POLICIES_ACL):
        // owned by the domain's Administrator account, not a group.
        {"SYSVOL Policies as Samba sets it", "O:LAG:BAD:P(A;OICI;0x001f01ff;;;BA)(A;OICI;0x001200a9;;;SO)"
         "(A;OICI;0x001f01ff;;;SY)(A;OICI;0x001200a9;;;AU)(A;OICI;0x001301bf;;;PA)", Trust::domain_admins_too,
         "it is owned by " + test_domain + "-500, who may change its permissions",
         "it is owned by " + test_domain + "-500, who may change its permissions"},
        // Group Policy Creator Owners (RID 520) may modify it, owner aside.
        {"SYSVOL Policies, Group Policy Creator Owners", "O:BAG:BAD:P(A;OICI;0x001f01ff;;;BA)"
         "(A;OICI;0x001f01ff;;;SY)(A;OICI;0x001200a9;;;AU)(A;OICI;0x001301bf;;;PA)", Trust::domain_admins_too,
         test_domain + "-520 may change it (write, delete)",
         test_domain + "-520 may change a file created inside it (write, delete)"},
        // A folder made in a profile inherits SYSTEM, Administrators and the
        // user, each (OI)(CI)(F): begin-again/info, windows/files.md.
        {"user profile folder", "O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + ")",
         Trust::local_only, user + " may change it (full control)",
         user + " may change a file created inside it (full control)"},
        // No entry grants anything; the owner alone may change the list.
        {"empty DACL owned by a user", "O:" + user + "D:P", Trust::local_only,
         "it is owned by " + user + ", who may change its permissions",
         "it is owned by " + user + ", who may change its permissions"},
        // The creator's primary group (Domain Users or None for an
        // administrator), not the creator: never passed over.
        {"CREATOR GROUP full control, inherit-only", "O:BAD:P" + system_and_admins + "(A;OICIIO;GA;;;CG)",
         Trust::local_only, "", "CREATOR GROUP (S-1-3-1) may change a file created inside it (full control)"},
        // Who may change the folder's permissions may give themselves the
        // right to create, and so become a creator.
        {"Users may change permissions, CREATOR OWNER", "O:BAD:P" + system_and_admins + "(A;;WD;;;BU)(A;OICIIO;GA;;;CO)",
         Trust::local_only, "Users (S-1-5-32-545) may change it (change permissions)", creator_owner_refusal},
        {"Users GENERIC_WRITE on the folder, CREATOR OWNER", "O:BAD:P" + system_and_admins + "(A;;GW;;;BU)(A;OICIIO;GA;;;CO)",
         Trust::local_only, "Users (S-1-5-32-545) may change it (write)", creator_owner_refusal},
        {"Users GENERIC_ALL, inherit-only to files", "O:BAD:P" + system_and_admins + "(A;OIIO;GA;;;BU)",
         Trust::local_only, "", "Users (S-1-5-32-545) may change a file created inside it (full control)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ObjectSecurity security = from_sddl(c.sddl);
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
