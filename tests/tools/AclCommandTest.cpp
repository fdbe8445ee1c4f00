// End-to-end tests of "tarvo-host acl": the built binary shows and sets the
// security descriptors of folders, files and registry keys of a host in a
// temporary folder, as text and as JSON.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

class AclCommandTest : public ::testing::Test {
 protected:
  AclCommandTest() : folder_(MakeTempFolder("tarvo-acl-cmd")) {
    const ProgramResult init = Run({"init", "--clock", "virtual"});
    EXPECT_EQ(init.exitCode, 0) << init.err;
    std::filesystem::create_directories(folder_ + "/drive_c/Product/Data");
    std::ofstream(folder_ + "/drive_c/Product/Data/a.txt") << "x";
  }
  ~AclCommandTest() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(BinaryPath("tarvo-host"), args, {{"TARVO_HOST", folder_}, {"USER", "tester"}});
  }
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

  std::string folder_;
};

TEST_F(AclCommandTest, AFolderShowsOwnerFlagsSddlAndOneLinePerAce) {
  const ProgramResult r = Run({"acl", "C:\\Product"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Object: C:\\Product (folder)\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Owner:  BUILTIN\\Administrators  S-1-5-32-544\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Flags:  inherits from parent, auto-inherited\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "SDDL:   O:BAG:S-1-5-21-")) << r.out;
  EXPECT_TRUE(Has(r.out, "D:AI(A;OICIID;FA;;;BA)")) << r.out;
  EXPECT_TRUE(Has(r.out, "\n  allow  BUILTIN\\Administrators  full (FA)  inherited from parent, this folder, "
                         "subfolders and files\n"))
      << r.out;
  EXPECT_TRUE(Has(r.out, "\n  allow  NT AUTHORITY\\Authenticated Users  modify (SDGXGWGR)  inherited from parent, "
                         "subfolders and files only\n"))
      << r.out;
}

TEST_F(AclCommandTest, SetThenShowAsJson) {
  const ProgramResult set = Run({"acl", "set", "C:\\Product", "D:P(A;OICI;FA;;;BA)(D;;WD;;;BU)(A;OICIIO;GR;;;BU)"});
  ASSERT_EQ(set.exitCode, 0) << set.err;
  EXPECT_EQ(set.out, "Set C:\\Product\n");
  const ProgramResult r = Run({"--json", "acl", "C:\\Product\\Data\\a.txt"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 51), "{\"object\":\"C:\\\\Product\\\\Data\\\\a.txt\",\"kind\":\"file\",");
  EXPECT_TRUE(Has(r.out, "\"sddl\":\"O:BAG:S-1-5-21-")) << r.out;
  EXPECT_TRUE(Has(r.out, "D:AI(A;ID;FA;;;BA)(A;ID;FR;;;BU)\"")) << r.out;
  EXPECT_TRUE(Has(r.out, "\"protected\":false,\"autoInherited\":true,\"nullDacl\":false")) << r.out;
  EXPECT_TRUE(Has(r.out, "{\"type\":\"allow\",\"flags\":\"ID\",\"inherited\":true,\"sid\":\"S-1-5-32-545\","
                         "\"account\":\"BUILTIN\\\\Users\",\"mask\":1179785,\"rights\":\"FR\",\"rightsText\":\"read\","
                         "\"appliesTo\":\"this file\"}"))
      << r.out;

  const ProgramResult folder = Run({"acl", "C:\\Product"});
  EXPECT_TRUE(Has(folder.out, "Flags:  protected, auto-inherited\n")) << folder.out;
  EXPECT_TRUE(Has(folder.out, "\n  deny   BUILTIN\\Users  special (WD)  this folder only\n")) << folder.out;
  EXPECT_TRUE(Has(folder.out, "\n  allow  BUILTIN\\Users  read (GR)  subfolders and files only\n")) << folder.out;
}

TEST_F(AclCommandTest, RegistryKeysInBothViews) {
  ASSERT_EQ(Run({"reg", "add", "HKLM\\SOFTWARE\\Vendor", "/reg:32", "/f"}).exitCode, 0);
  const ProgramResult set = Run({"acl", "--reg", "set", "HKLM\\SOFTWARE\\Vendor", "D:P(A;CI;KR;;;WD)", "/reg:32"});
  ASSERT_EQ(set.exitCode, 0) << set.err;
  const ProgramResult r = Run({"acl", "--reg", "HKLM\\SOFTWARE\\Vendor", "/reg:32"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Object: HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor (key)\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "\n  allow  Everyone  read (KR)  this key and subkeys\n")) << r.out;
  // The 64-bit view has no such key.
  const ProgramResult missing = Run({"acl", "--reg", "HKLM\\SOFTWARE\\Vendor"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "tarvo-host: acl: HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor: not found (2)\n");
  const ProgramResult hkcu = Run({"--json", "acl", "--reg", "HKCU"});
  EXPECT_TRUE(Has(hkcu.out, "\"protected\":true")) << hkcu.out;
}

// The tool enables SeRestorePrivilege for the call, so an administrator
// gives any owner; a standard user holds no such privilege and is refused.
TEST_F(AclCommandTest, SetGivesAnyOwnerToFoldersAndKeys) {
  const ProgramResult folder = Run({"acl", "set", "C:\\Product", "O:SYD:PAI(A;OICI;FA;;;BA)"});
  ASSERT_EQ(folder.exitCode, 0) << folder.err;
  const ProgramResult shownFolder = Run({"acl", "C:\\Product"});
  EXPECT_TRUE(Has(shownFolder.out, "SDDL:   O:SYG:")) << shownFolder.out;

  ASSERT_EQ(Run({"reg", "add", "HKLM\\SOFTWARE\\Vendor", "/f"}).exitCode, 0);
  const ProgramResult key = Run({"acl", "--reg", "set", "HKLM\\SOFTWARE\\Vendor", "O:SY"});
  ASSERT_EQ(key.exitCode, 0) << key.err;
  const ProgramResult shownKey = Run({"acl", "--reg", "HKLM\\SOFTWARE\\Vendor"});
  EXPECT_TRUE(Has(shownKey.out, "Owner:  NT AUTHORITY\\SYSTEM  S-1-5-18\n")) << shownKey.out;
}

TEST_F(AclCommandTest, AStandardUserMayNotGiveAnotherOwner) {
  // Full control lets the user ask; only the owner check may refuse.
  ASSERT_EQ(Run({"acl", "set", "C:\\Product", "D:PAI(A;OICI;FA;;;BU)"}).exitCode, 0);
  ASSERT_EQ(Run({"localgroup", "Administrators", "tester", "/delete"}).exitCode, 0);
  const ProgramResult r = Run({"acl", "set", "C:\\Product", "O:SY"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "acl: cannot set C:\\Product: invalid owner (1307): the host's user holds no "
                         "SeRestorePrivilege")) << r.err;
  EXPECT_TRUE(Has(Run({"acl", "C:\\Product"}).out, "SDDL:   O:BAG:"));
}

TEST_F(AclCommandTest, PosixPathsAreTheZDrive) {
  const ProgramResult r = Run({"acl", folder_});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Object: Z:\\")) << r.out;
}

TEST_F(AclCommandTest, BadCalls) {
  EXPECT_EQ(Run({"acl", "C:\\missing"}).err, "tarvo-host: acl: C:\\missing: not found (2)\n");
  EXPECT_EQ(Run({"acl"}).exitCode, 1);
  EXPECT_EQ(Run({"acl", "set", "C:\\Product", "D:(X;;;;;)"}).exitCode, 1);
  EXPECT_EQ(Run({"acl", "--reg", "HKXX\\SOFTWARE"}).exitCode, 1);
  EXPECT_EQ(Run({"acl", "C:\\Product", "extra"}).exitCode, 1);
}

}  // namespace
