// Security of registry keys on the simulated host: the access check when a
// key is opened, inheritance from the keys above, the hive defaults for an
// administrator and a standard user, RegGet/SetKeySecurity with their
// security-information bits, and the registry names of the named-object calls.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/WinError.h"
#include "platform/host/Host.h"
#include "platform/winsec/Sddl.h"
#include "support/TestHost.h"

namespace {

using namespace winsec;
using plat::HKey;
using plat::SeObjectType;

class KeySecurityTest : public ::testing::Test {
 protected:
  explicit KeySecurityTest(bool process32Bit = false) : host_("win7-sp1-x64", "en-US", process32Bit) {}

  plat::IRegistry& reg() { return host_.Platform().Registry(); }
  plat::ISecurity& security() { return host_.Platform().Security(); }

  void Make(std::string_view path) {
    HKey key = plat::kNullKey;
    ASSERT_EQ(reg().CreateKey(plat::kHkeyLocalMachine, path, plat::kKeyAllAccess, &key, nullptr), 0u) << path;
    reg().CloseKey(key);
  }
  uint32_t Open(std::string_view path, uint32_t sam, HKey root = plat::kHkeyLocalMachine) {
    HKey key = plat::kNullKey;
    const uint32_t rc = reg().OpenKey(root, path, sam, &key);
    if (rc == 0) reg().CloseKey(key);
    return rc;
  }
  uint32_t SetDacl(std::string_view objectName, const std::string& daclSddl, uint32_t extra = 0,
                   SeObjectType type = SeObjectType::kRegistryKey) {
    SecurityDescriptor sd;
    EXPECT_EQ(SecurityDescriptorFromSddl(daclSddl, &sd), 0u) << daclSddl;
    return security().SetNamedSecurityInfo(objectName, type, plat::kDaclSecurityInformation | extra, nullptr,
                                           nullptr, sd.Dacl(), nullptr);
  }
  std::string Dacl(std::string_view objectName, SeObjectType type = SeObjectType::kRegistryKey) {
    SecurityDescriptor sd;
    if (uint32_t rc = security().GetNamedSecurityInfo(objectName, type, plat::kDaclSecurityInformation, &sd)) {
      return "error " + std::to_string(rc);
    }
    std::string sddl;
    SecurityDescriptorToSddl(sd, kAllSddlSecurityInformation, &sddl);
    return sddl;
  }

  TestHost host_;
};

TEST_F(KeySecurityTest, AKeyCanExistAndStillRefuseWrites) {
  Make("SOFTWARE\\Vendor\\Locked");
  ASSERT_EQ(SetDacl("MACHINE\\SOFTWARE\\Vendor\\Locked", "D:(A;CI;KR;;;WD)", plat::kProtectedDaclSecurityInformation),
            0u);
  EXPECT_EQ(Open("SOFTWARE\\Vendor\\Locked", plat::kKeyRead), winerr::kSuccess);
  EXPECT_EQ(Open("SOFTWARE\\Vendor\\Locked", plat::kKeySetValue), winerr::kAccessDenied);
  EXPECT_EQ(Open("SOFTWARE\\Vendor\\Locked", plat::kKeySetValue | plat::kKeyCreateSubKey), winerr::kAccessDenied);
  // Existing is one thing, opening another: a missing key is still 2.
  EXPECT_EQ(Open("SOFTWARE\\Vendor\\Missing", plat::kKeySetValue), winerr::kFileNotFound);
  // Creating an existing key checks the same access.
  HKey key = plat::kNullKey;
  EXPECT_EQ(reg().CreateKey(plat::kHkeyLocalMachine, "SOFTWARE\\Vendor\\Locked", plat::kKeyWrite, &key, nullptr),
            winerr::kAccessDenied);
}

TEST_F(KeySecurityTest, SubkeysInheritTheRefusalAndTheOwnerCanUndoIt) {
  Make("SOFTWARE\\Vendor\\Locked\\Sub");
  ASSERT_EQ(SetDacl("MACHINE\\SOFTWARE\\Vendor\\Locked", "D:(A;CI;KR;;;WD)", plat::kProtectedDaclSecurityInformation),
            0u);
  EXPECT_EQ(Dacl("MACHINE\\SOFTWARE\\Vendor\\Locked\\Sub"), "D:AI(A;CIID;KR;;;WD)");
  EXPECT_EQ(Open("SOFTWARE\\Vendor\\Locked\\Sub", plat::kKeySetValue), winerr::kAccessDenied);
  // The owner (Administrators) may still change the DACL.
  ASSERT_EQ(SetDacl("MACHINE\\SOFTWARE\\Vendor\\Locked", "D:(A;CI;KA;;;BA)", plat::kProtectedDaclSecurityInformation),
            0u);
  EXPECT_EQ(Open("SOFTWARE\\Vendor\\Locked\\Sub", plat::kKeySetValue), winerr::kSuccess);
}

TEST_F(KeySecurityTest, NewKeysInheritFromSoftwareAsWindowsSetsItUp) {
  Make("SOFTWARE\\Vendor");
  // HKLM\SOFTWARE's CI|IO generic ACEs arrive split: a mapped effective ACE
  // and the inheritable generic one.
  EXPECT_EQ(Dacl("MACHINE\\SOFTWARE\\Vendor"),
            "D:AI(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;ID;KA;;;SY)(A;CIIOID;GA;;;SY)(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)"
            "(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)");
  EXPECT_EQ(Dacl("CLASSES_ROOT\\CLSID").substr(0, 4), "D:AI");
  EXPECT_EQ(Dacl("machine\\software").substr(0, 5), "D:PAI");
}

TEST_F(KeySecurityTest, RegistryObjectNames) {
  EXPECT_EQ(Dacl("MACHINE\\SOFTWARE\\NoSuchKey"), "error 2");
  EXPECT_EQ(Dacl("HKEY_LOCAL_MACHINE\\SOFTWARE"), "error 87");
  EXPECT_EQ(Dacl("SOFTWARE"), "error 87");
  EXPECT_NE(Dacl("CURRENT_USER\\Software").find("(A;CIID;KA;;;" + host_.Host().UserSid() + ")"), std::string::npos);
  EXPECT_EQ(Dacl("USERS").substr(0, 5), "D:PAI");
}

TEST_F(KeySecurityTest, TheViewsAreSeparateKeys) {
  // The 32-bit view of SOFTWARE\X is SOFTWARE\Wow6432Node\X.
  HKey key = plat::kNullKey;
  ASSERT_EQ(reg().CreateKey(plat::kHkeyLocalMachine, "SOFTWARE\\Vendor32", plat::kKeyAllAccess | plat::kKeyWow64_32Key,
                            &key, nullptr),
            0u);
  reg().CloseKey(key);
  EXPECT_EQ(Dacl("MACHINE\\SOFTWARE\\Vendor32"), "error 2");
  ASSERT_EQ(SetDacl("MACHINE\\SOFTWARE\\Vendor32", "D:(A;;KR;;;WD)", plat::kProtectedDaclSecurityInformation,
                    SeObjectType::kRegistryWow64_32Key),
            0u);
  EXPECT_EQ(Dacl("MACHINE\\SOFTWARE\\Wow6432Node\\Vendor32"), "D:PAI(A;;KR;;;WD)");
  EXPECT_EQ(Open("SOFTWARE\\Vendor32", plat::kKeySetValue | plat::kKeyWow64_32Key), winerr::kAccessDenied);
}

TEST_F(KeySecurityTest, RegGetKeySecurityReturnsTheNamedPartsOnly) {
  Make("SOFTWARE\\Vendor");
  HKey key = plat::kNullKey;
  ASSERT_EQ(reg().OpenKey(plat::kHkeyLocalMachine, "SOFTWARE\\Vendor", plat::kKeyRead, &key), 0u);
  std::string bytes;
  ASSERT_EQ(reg().GetKeySecurity(key, plat::kOwnerSecurityInformation, &bytes), 0u);
  SecurityDescriptor sd;
  ASSERT_EQ(SecurityDescriptor::FromSelfRelative(AsBytes(bytes), &sd), 0u);
  EXPECT_EQ(sd.Owner(), Sid::BuiltinAdministrators());
  EXPECT_FALSE(sd.DaclPresent());
  ASSERT_EQ(reg().GetKeySecurity(key, plat::kDaclSecurityInformation, &bytes), 0u);
  ASSERT_EQ(SecurityDescriptor::FromSelfRelative(AsBytes(bytes), &sd), 0u);
  EXPECT_FALSE(sd.Owner().has_value());
  ASSERT_TRUE(sd.Dacl());
  EXPECT_TRUE(sd.Dacl()->Aces().front().IsInherited());
  reg().CloseKey(key);
}

TEST_F(KeySecurityTest, RegSetKeySecurityStoresTheNamedPartsAsGiven) {
  Make("SOFTWARE\\Vendor\\Sub");
  HKey key = plat::kNullKey;
  ASSERT_EQ(reg().OpenKey(plat::kHkeyLocalMachine, "SOFTWARE\\Vendor", plat::kKeyAllAccess, &key), 0u);
  SecurityDescriptor given;
  ASSERT_EQ(SecurityDescriptorFromSddl("O:SYD:(A;CI;KR;;;BU)(A;CI;KA;;;BA)", &given), 0u);
  Bytes bytes;
  ASSERT_EQ(given.ToSelfRelative(&bytes), 0u);
  // Only the DACL is named: the owner stays Administrators.
  ASSERT_EQ(reg().SetKeySecurity(key, plat::kDaclSecurityInformation, ToByteString(bytes)), 0u);
  EXPECT_EQ(Dacl("MACHINE\\SOFTWARE\\Vendor"), "D:(A;CI;KR;;;BU)(A;CI;KA;;;BA)") << "no inherited ACEs added";
  EXPECT_EQ(Dacl("MACHINE\\SOFTWARE\\Vendor\\Sub"), "D:AI(A;CIID;KR;;;BU)(A;CIID;KA;;;BA)");
  SecurityDescriptor owner;
  ASSERT_EQ(security().GetNamedSecurityInfo("MACHINE\\SOFTWARE\\Vendor", SeObjectType::kRegistryKey,
                                            plat::kOwnerSecurityInformation, &owner),
            0u);
  EXPECT_EQ(owner.Owner(), Sid::BuiltinAdministrators());
  EXPECT_EQ(reg().SetKeySecurity(key, plat::kDaclSecurityInformation, "garbage"), winerr::kInvalidSecurityDescr);
  reg().CloseKey(key);
}

// A host whose user is a standard user.
class KeySecurityStandardUserTest : public ::testing::Test {
 protected:
  KeySecurityStandardUserTest() : folder_(MakeTempFolder("tarvo-keysec")) {
    host::CreateOptions create;
    create.clock = "virtual";
    create.userName = "tester";
    create.userIsAdmin = false;
    std::string error;
    host_ = host::Host::Create(folder_, create, false, host::OpenOptions{false}, &error);
    EXPECT_TRUE(host_) << error;
  }
  ~KeySecurityStandardUserTest() override {
    host_.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  uint32_t Open(HKey root, std::string_view path, uint32_t sam) {
    HKey key = plat::kNullKey;
    const uint32_t rc = host_->Registry().OpenKey(root, path, sam, &key);
    if (rc == 0) host_->Registry().CloseKey(key);
    return rc;
  }

  std::string folder_;
  std::unique_ptr<host::Host> host_;
};

TEST_F(KeySecurityStandardUserTest, MachineKeysAreReadOnlyAndTheUsersHiveIsItsOwn) {
  EXPECT_EQ(Open(plat::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", plat::kKeyRead),
            winerr::kSuccess);
  EXPECT_EQ(Open(plat::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", plat::kKeySetValue),
            winerr::kAccessDenied);
  EXPECT_EQ(Open(plat::kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services", plat::kKeyAllAccess),
            winerr::kAccessDenied);
  EXPECT_EQ(Open(plat::kHkeyCurrentUser, "Software", plat::kKeyAllAccess), winerr::kSuccess);
  // Setup wrote the machine keys before the user ever logged on.
  plat::RegValue value;
  HKey key = plat::kNullKey;
  ASSERT_EQ(host_->Registry().OpenKey(plat::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                      plat::kKeyRead, &key),
            0u);
  EXPECT_EQ(host_->Registry().QueryValue(key, "CurrentVersion", &value), 0u);
  host_->Registry().CloseKey(key);
}

}  // namespace
