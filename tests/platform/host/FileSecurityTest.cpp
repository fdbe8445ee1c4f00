// Security descriptors of files and folders on the simulated host: the
// defaults of a fresh installation, ACE inheritance down a folder tree for
// every inheritance flag, protection, SetNamedSecurityInfoW's
// PROTECTED / UNPROTECTED / plain DACL semantics and SetFileSecurityW.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Security.h"
#include "platform/WinError.h"
#include "platform/host/DefaultSecurity.h"
#include "platform/host/Host.h"
#include "platform/winsec/Sddl.h"
#include "support/TestHost.h"

namespace {

using namespace winsec;
using plat::SeObjectType;

constexpr uint32_t kAll = plat::kOwnerSecurityInformation | plat::kGroupSecurityInformation |
                          plat::kDaclSecurityInformation;

class FileSecurityTest : public ::testing::Test {
 protected:
  explicit FileSecurityTest(std::string_view profile = "win7-sp1-x64") : host_(profile, "en-US") {}

  plat::ISecurity& security() { return host_.Platform().Security(); }
  SddlDomains Domains() {
    SddlDomains domains;
    Sid machine;
    Sid::FromString(host_.Host().DomainSid(), &machine);
    domains.machine = machine;
    return domains;
  }
  // The DACL of a path as SDDL ("D:AI(...)"), or "error N".
  std::string Dacl(std::string_view path) { return Part(path, plat::kDaclSecurityInformation); }
  std::string Part(std::string_view path, uint32_t info) {
    SecurityDescriptor sd;
    if (uint32_t rc = security().GetNamedSecurityInfo(path, SeObjectType::kFile, info, &sd)) {
      return "error " + std::to_string(rc);
    }
    std::string sddl;
    EXPECT_EQ(SecurityDescriptorToSddl(sd, kAllSddlSecurityInformation, &sddl, Domains()), 0u);
    return sddl;
  }
  Acl AclOf(const std::string& sddl) {
    SecurityDescriptor sd;
    EXPECT_EQ(SecurityDescriptorFromSddl(sddl, &sd, Domains()), 0u) << sddl;
    return sd.Dacl() ? *sd.Dacl() : Acl();
  }
  uint32_t SetDacl(std::string_view path, const std::string& daclSddl, uint32_t extra = 0) {
    const Acl acl = AclOf(daclSddl);
    return security().SetNamedSecurityInfo(path, SeObjectType::kFile, plat::kDaclSecurityInformation | extra, nullptr,
                                           nullptr, &acl, nullptr);
  }
  void Folder(std::string_view windowsPath) {
    std::filesystem::create_directories(host_.HostPath(windowsPath));
  }
  void File(std::string_view windowsPath) { host_.WriteHostFile(windowsPath, "x"); }

  TestHost host_;
};

class FileSecurityXpTest : public FileSecurityTest {
 protected:
  FileSecurityXpTest() : FileSecurityTest("winxp-sp3-x86") {}
};

TEST_F(FileSecurityTest, TheDriveRootAndTheWindowsFolderCarryTheInstallationDefaults) {
  const host::Profile& profile = host_.Host().ProfileDef();
  SecurityDescriptor root;
  ASSERT_EQ(security().GetNamedSecurityInfo("C:\\", SeObjectType::kFile, kAll, &root), 0u);
  std::string sddl;
  SecurityDescriptorToSddl(root, kAllSddlSecurityInformation, &sddl, Domains());
  EXPECT_EQ(sddl, host::DefaultSddlOf(host::DefaultObject::kDriveRoot, profile));
  EXPECT_EQ(root.Control() & (kSeDaclProtected | kSeDaclAutoInherited), kSeDaclProtected | kSeDaclAutoInherited);
  EXPECT_EQ(Part("c:\\WINDOWS", kAll), host::DefaultSddlOf(host::DefaultObject::kWindowsFolder, profile));
  // Every drive's root starts from the same default.
  EXPECT_EQ(Dacl("Z:\\"), Dacl("C:\\"));
}

TEST_F(FileSecurityXpTest, XpDefaultsGivePowerUsersModifyOnTheWindowsFolder) {
  EXPECT_NE(Dacl("C:\\WINDOWS").find("(A;;0x1301bf;;;PU)"), std::string::npos) << Dacl("C:\\WINDOWS");
  EXPECT_EQ(Part("C:\\WINDOWS", plat::kOwnerSecurityInformation), "O:BA");
}

TEST_F(FileSecurityTest, AFolderWithoutItsOwnDescriptorInheritsFromTheRoot) {
  Folder("C:\\Product");
  File("C:\\Product\\a.txt");
  // The root's OI|CI ACEs stay inheritable on the folder and take effect on
  // the file; its OI|CI|IO "modify" for Authenticated Users splits on the
  // folder into an effective mapped copy and an inherit-only one.
  EXPECT_EQ(Dacl("C:\\Product"),
            "D:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)"
            "(A;OICIIOID;SDGXGWGR;;;AU)");
  EXPECT_EQ(Dacl("C:\\Product\\a.txt"),
            "D:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)");
  // Objects made after setup belong to the user's elevated token.
  EXPECT_EQ(Part("C:\\Product\\a.txt", plat::kOwnerSecurityInformation), "O:BA");
}

// A three-level tree T -> Mid -> Leaf with a file on each level below T,
// for each inheritance flag combination of one ACE on T. Each field is the
// DACL that object reads, null where nothing of T reaches it.
struct InheritanceCase {
  const char* flags;
  const char* topFile;   // T\t.txt
  const char* mid;       // T\Mid
  const char* midFile;   // T\Mid\f.txt
  const char* leaf;      // T\Mid\Leaf
  const char* leafFile;  // T\Mid\Leaf\g.txt
};

class FileSecurityInheritanceTest : public FileSecurityTest,
                                    public ::testing::WithParamInterface<InheritanceCase> {};

TEST_P(FileSecurityInheritanceTest, OneAceOnTopReachesTheTreeByItsFlags) {
  const InheritanceCase& c = GetParam();
  Folder("C:\\T\\Mid\\Leaf");
  File("C:\\T\\t.txt");
  File("C:\\T\\Mid\\f.txt");
  File("C:\\T\\Mid\\Leaf\\g.txt");
  ASSERT_EQ(SetDacl("C:\\T", std::string("D:(A;") + c.flags + ";FA;;;S-1-5-32-555)",
                    plat::kProtectedDaclSecurityInformation),
            0u);
  // What an object gets that inherits nothing: its creator's default DACL.
  const auto expected = [](const char* ace) {
    return ace ? std::string("D:AI") + ace : std::string("D:(A;;FA;;;SY)(A;;FA;;;BA)");
  };
  EXPECT_EQ(Dacl("C:\\T\\t.txt"), expected(c.topFile)) << c.flags;
  EXPECT_EQ(Dacl("C:\\T\\Mid"), expected(c.mid)) << c.flags;
  EXPECT_EQ(Dacl("C:\\T\\Mid\\f.txt"), expected(c.midFile)) << c.flags;
  EXPECT_EQ(Dacl("C:\\T\\Mid\\Leaf"), expected(c.leaf)) << c.flags;
  EXPECT_EQ(Dacl("C:\\T\\Mid\\Leaf\\g.txt"), expected(c.leafFile)) << c.flags;
}

constexpr const char* kFile = "(A;ID;FA;;;RD)";
INSTANTIATE_TEST_SUITE_P(
    FileSecurityFlags, FileSecurityInheritanceTest,
    ::testing::Values(
        // Object and container inherit: everything below, still inheritable on folders.
        InheritanceCase{"OICI", kFile, "(A;OICIID;FA;;;RD)", kFile, "(A;OICIID;FA;;;RD)", kFile},
        // Container inherit only: folders, never files.
        InheritanceCase{"CI", nullptr, "(A;CIID;FA;;;RD)", nullptr, "(A;CIID;FA;;;RD)", nullptr},
        // Object inherit only: files; folders pass it on inherit-only.
        InheritanceCase{"OI", kFile, "(A;OIIOID;FA;;;RD)", kFile, "(A;OIIOID;FA;;;RD)", kFile},
        // No propagation: the direct children only, without inheritance flags.
        InheritanceCase{"OICINP", kFile, "(A;ID;FA;;;RD)", nullptr, nullptr, nullptr},
        // Inherit only on T does not make the copies inherit-only.
        InheritanceCase{"OICIIO", kFile, "(A;OICIID;FA;;;RD)", kFile, "(A;OICIID;FA;;;RD)", kFile},
        InheritanceCase{"CIIONP", nullptr, "(A;ID;FA;;;RD)", nullptr, nullptr, nullptr}));

TEST_F(FileSecurityTest, NothingToInheritGivesTheCreatorsDefaultDacl) {
  Folder("C:\\T\\Mid");
  ASSERT_EQ(SetDacl("C:\\T", "D:(A;;FA;;;BA)", plat::kProtectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:(A;;FA;;;SY)(A;;FA;;;BA)");
}

TEST_F(FileSecurityTest, CreatorOwnerStandsForTheChildsOwnerWhereItTakesEffect) {
  Folder("C:\\T\\Mid");
  File("C:\\T\\f.txt");
  ASSERT_EQ(SetDacl("C:\\T", "D:(A;OICIIO;GA;;;CO)", plat::kProtectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\T\\f.txt"), "D:AI(A;ID;FA;;;BA)");
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)");
}

TEST_F(FileSecurityTest, ExplicitAcesComeFirstAndAProtectedFolderStopsInheritance) {
  Folder("C:\\T\\Mid\\Leaf");
  ASSERT_EQ(SetDacl("C:\\T", "D:(A;OICI;FA;;;BA)", plat::kProtectedDaclSecurityInformation), 0u);
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:(A;OICI;FR;;;BU)"), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:AI(A;OICI;FR;;;BU)(A;OICIID;FA;;;BA)");
  EXPECT_EQ(Dacl("C:\\T\\Mid\\Leaf"), "D:AI(A;OICIID;FR;;;BU)(A;OICIID;FA;;;BA)");

  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:(A;OICI;FR;;;BU)", plat::kProtectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:PAI(A;OICI;FR;;;BU)");
  EXPECT_EQ(Dacl("C:\\T\\Mid\\Leaf"), "D:AI(A;OICIID;FR;;;BU)");
  // A change above a protected folder no longer reaches it or its children.
  ASSERT_EQ(SetDacl("C:\\T", "D:(A;OICI;FA;;;SY)", plat::kProtectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid\\Leaf"), "D:AI(A;OICIID;FR;;;BU)");
}

TEST_F(FileSecurityTest, UnprotectedDropsSuppliedInheritedAcesAndRecomputesThem) {
  Folder("C:\\T\\Mid");
  ASSERT_EQ(SetDacl("C:\\T", "D:(A;OICI;FA;;;BA)", plat::kProtectedDaclSecurityInformation), 0u);
  // Inherited ACEs passed in are ignored; what the parent passes on returns.
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:(A;;FR;;;BU)(A;ID;FA;;;WD)", plat::kUnprotectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:AI(A;;FR;;;BU)(A;OICIID;FA;;;BA)");
  // An empty DACL set this way still leaves the inherited ACEs.
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:", plat::kUnprotectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:AI(A;OICIID;FA;;;BA)");
}

TEST_F(FileSecurityTest, ProtectedKeepsExactlyTheSuppliedAcl) {
  Folder("C:\\T\\Mid");
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:(A;;FR;;;BU)(A;OICIID;FA;;;BA)", plat::kProtectedDaclSecurityInformation), 0u);
  // The INHERITED_ACE flag of a supplied ACE stays (kProtectedDaclKeepsInheritedFlags).
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:PAI(A;;FR;;;BU)(A;OICIID;FA;;;BA)");
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:", plat::kProtectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:PAI");
}

TEST_F(FileSecurityTest, APlainDaclKeepsTheProtectionTheObjectHas) {
  Folder("C:\\T\\Mid");
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:(A;;FR;;;BU)", plat::kProtectedDaclSecurityInformation), 0u);
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:(A;;FA;;;BU)"), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:PAI(A;;FA;;;BU)");
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:(A;;FR;;;BU)", plat::kUnprotectedDaclSecurityInformation), 0u);
  ASSERT_EQ(SetDacl("C:\\T\\Mid", "D:(A;;FA;;;BU)"), 0u);
  EXPECT_EQ(Dacl("C:\\T\\Mid").substr(0, 15), "D:AI(A;;FA;;;BU");
}

TEST_F(FileSecurityTest, GenericRightsOfEffectiveAcesAreMappedWhenStored) {
  File("C:\\g.txt");
  ASSERT_EQ(SetDacl("C:\\g.txt", "D:(A;;GA;;;BA)(A;;GRGX;;;BU)", plat::kProtectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\g.txt"), "D:PAI(A;;FA;;;BA)(A;;0x1200a9;;;BU)");
  Folder("C:\\G");
  ASSERT_EQ(SetDacl("C:\\G", "D:(A;OICIIO;GA;;;BA)", plat::kProtectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("C:\\G"), "D:PAI(A;OICIIO;GA;;;BA)") << "inherit-only ACEs stay generic";
}

TEST_F(FileSecurityTest, ANullDaclReadsBackAsNull) {
  File("C:\\n.txt");
  ASSERT_EQ(security().SetNamedSecurityInfo("C:\\n.txt", SeObjectType::kFile, plat::kDaclSecurityInformation,
                                            nullptr, nullptr, nullptr, nullptr),
            0u);
  SecurityDescriptor sd;
  ASSERT_EQ(security().GetNamedSecurityInfo("C:\\n.txt", SeObjectType::kFile, plat::kDaclSecurityInformation, &sd),
            0u);
  EXPECT_TRUE(sd.HasNullDacl());
}

TEST_F(FileSecurityTest, MissingObjectsAndBadNames) {
  EXPECT_EQ(SetDacl("C:\\missing.txt", "D:"), winerr::kFileNotFound);
  EXPECT_EQ(Dacl("C:\\missing.txt"), "error 2");
  EXPECT_EQ(Dacl("C:\\no\\such\\file.txt"), "error 3");
  EXPECT_EQ(Dacl("\\\\server\\share\\x"), "error 53");
}

TEST_F(FileSecurityTest, OnlyTheRequestedPartsAreReturned) {
  EXPECT_EQ(Part("C:\\Windows", plat::kOwnerSecurityInformation),
            "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
  EXPECT_EQ(Part("C:\\Windows", 0), "");
}

TEST_F(FileSecurityTest, OwnersTheCallerMayNotSetAreRefused) {
  File("C:\\o.txt");
  const Sid system = Sid::LocalSystem();
  const Sid admins = Sid::BuiltinAdministrators();
  auto setOwner = [&](const Sid& owner) {
    return security().SetNamedSecurityInfo("C:\\o.txt", SeObjectType::kFile, plat::kOwnerSecurityInformation,
                                           &owner, nullptr, nullptr, nullptr);
  };
  // WRITE_OWNER is granted by the DACL (full control for Administrators).
  EXPECT_EQ(setOwner(system), winerr::kInvalidOwner);
  EXPECT_EQ(setOwner(admins), winerr::kSuccess);
  uint64_t restore = 0;
  security().LookupPrivilegeValue("SeRestorePrivilege", &restore);
  ASSERT_EQ(security().AdjustTokenPrivilege(restore, plat::kSePrivilegeEnabled), 0u);
  EXPECT_EQ(setOwner(system), winerr::kSuccess);
  EXPECT_EQ(Part("C:\\o.txt", plat::kOwnerSecurityInformation), "O:SY");
}

TEST_F(FileSecurityTest, AnObjectThatRefusesReadControlCannotBeRead) {
  File("C:\\secret.txt");
  ASSERT_EQ(SetDacl("C:\\secret.txt", "D:(A;;FA;;;SY)", plat::kProtectedDaclSecurityInformation), 0u);
  // The owner (Administrators, which the user is in) still reads the DACL.
  EXPECT_EQ(Dacl("C:\\secret.txt"), "D:PAI(A;;FA;;;SY)");
  // Giving it to SYSTEM takes ownership rights (the DACL grants none) and
  // SeRestorePrivilege (SYSTEM is no owner the token may name).
  const Sid system = Sid::LocalSystem();
  for (const char* privilege : {plat::kSeTakeOwnershipPrivilege, "SeRestorePrivilege"}) {
    uint64_t luid = 0;
    security().LookupPrivilegeValue(privilege, &luid);
    ASSERT_EQ(security().AdjustTokenPrivilege(luid, plat::kSePrivilegeEnabled), 0u);
  }
  ASSERT_EQ(security().SetNamedSecurityInfo("C:\\secret.txt", SeObjectType::kFile, plat::kOwnerSecurityInformation,
                                            &system, nullptr, nullptr, nullptr),
            0u);
  EXPECT_EQ(Dacl("C:\\secret.txt"), "error 5");
}

TEST_F(FileSecurityTest, SetFileSecurityStoresTheDaclAsGiven) {
  Folder("C:\\T\\Mid");
  ASSERT_EQ(SetDacl("C:\\T", "D:(A;OICI;FA;;;BA)", plat::kProtectedDaclSecurityInformation), 0u);
  SecurityDescriptor sd;
  ASSERT_EQ(SecurityDescriptorFromSddl("D:(A;;FR;;;BU)", &sd), 0u);
  ASSERT_EQ(security().SetFileSecurity("C:\\T\\Mid", plat::kDaclSecurityInformation, sd), 0u);
  // No auto-inheritance: nothing of the parent is added.
  EXPECT_EQ(Dacl("C:\\T\\Mid"), "D:(A;;FR;;;BU)");
}

TEST_F(FileSecurityTest, AFileMadeAnewDoesNotTakeOverTheOldDescriptor) {
  File("C:\\T\\f.txt");
  ASSERT_EQ(SetDacl("C:\\T\\f.txt", "D:(A;;FA;;;BG)", plat::kProtectedDaclSecurityInformation), 0u);
  const std::string hostPath = host_.HostPath("C:\\T\\f.txt");
  // Keep the old inode busy so that the new file cannot get the same number.
  const std::string aside = hostPath + ".old";
  std::filesystem::rename(hostPath, aside);
  File("C:\\T\\f.txt");
  EXPECT_EQ(Dacl("C:\\T\\f.txt").substr(0, 4), "D:AI") << Dacl("C:\\T\\f.txt");
}

// What one connection has read of the folders above an entry is not used
// once it is out of date: another connection changed a folder, or the
// folder went and was made anew through the files service.
TEST_F(FileSecurityTest, FoldersReadEarlierAreReadAgainOnceChanged) {
  Folder("C:\\T\\Sub");
  File("C:\\T\\Sub\\f.txt");
  const std::string before = Dacl("C:\\T\\Sub\\f.txt");
  {
    std::string error;
    std::unique_ptr<host::Host> other = host::Host::Open(host_.Folder(), {}, &error);
    ASSERT_TRUE(other) << error;
    const Acl acl = AclOf("D:(A;OICI;FA;;;BG)");
    const uint32_t info = plat::kDaclSecurityInformation | plat::kProtectedDaclSecurityInformation;
    ASSERT_EQ(other->Security().SetNamedSecurityInfo("C:\\T\\Sub", SeObjectType::kFile, info, nullptr, nullptr, &acl,
                                                     nullptr),
              0u);
  }
  EXPECT_EQ(Dacl("C:\\T\\Sub\\f.txt"), "D:AI(A;ID;FA;;;BG)") << "before: " << before;

  // Moved aside rather than deleted, so the new folder cannot get the old inode number.
  plat::IFiles& files = host_.Platform().Files();
  ASSERT_EQ(files.MoveReplace("C:\\T\\Sub", "C:\\T\\Aside"), 0u);
  ASSERT_EQ(files.MakeDirectory("C:\\T\\Sub"), 0u);
  File("C:\\T\\Sub\\f.txt");
  EXPECT_EQ(Dacl("C:\\T\\Sub\\f.txt"), before);
}

TEST_F(FileSecurityTest, PathsAreMatchedWithoutRegardToCase) {
  Folder("C:\\Case\\Sub");
  ASSERT_EQ(SetDacl("C:\\CASE", "D:(A;OICI;FR;;;BU)", plat::kProtectedDaclSecurityInformation), 0u);
  EXPECT_EQ(Dacl("c:/case"), "D:PAI(A;OICI;FR;;;BU)");
  EXPECT_EQ(Dacl("C:\\Case\\SUB"), "D:AI(A;OICIID;FR;;;BU)");
}

}  // namespace
