// The file-system permission feature and the permission engine on a host
// folder tree C:\Plant\A\B, on English and German hosts: merges, protection,
// the subtree rewrite, ownership repair, the error paths, and the feature
// read back from the system and written as the history keeps it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "access/FilePermission.h"
#include "features/FeatureFixture.h"
#include "infra/ErrorMgr.h"
#include "platform/Forwarding.h"
#include "platform/Platform.h"
#include "platform/winsec/Sddl.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;
using feature_test::SecurityFile;

constexpr const char* kPathQuery = "/t:vscSetup/t:host/t:body/t:fileSystemPermissions/t:fileSystemPath";

std::string Sddl(std::string_view path, uint32_t information = plat::kDaclSecurityInformation) {
  winsec::SecurityDescriptor sd;
  EXPECT_EQ(plat::Current().Security().GetNamedSecurityInfo(path, plat::SeObjectType::kFile, information, &sd), 0u)
      << path;
  std::string text;
  winsec::SecurityDescriptorToSddl(sd, information, &text);
  return text;
}

std::vector<std::string> Lines(const CErrorMgr& errorMgr) {
  std::vector<std::string> lines;
  for (const auto& entry : errorMgr.Entries()) lines.push_back(std::to_string(entry->level) + "|" + entry->message);
  return lines;
}

bool Has(const std::vector<std::string>& lines, std::string_view part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

std::string Entry(std::string_view user, std::string_view applyOnto, std::string_view rights) {
  return "<t:filePermissions user='" + std::string(user) + "' domain='' applyOnto='" + std::string(applyOnto) +
         "' applyWithinThisContainerOnly='false'>" + std::string(rights) + "</t:filePermissions>";
}

std::string Settings(std::string_view inherit, std::string_view inherited, std::string_view replace) {
  return "<t:inheritFromParentToChild value='" + std::string(inherit) + "' inherited='" + std::string(inherited) +
         "'/><t:replaceAllChild value='" + std::string(replace) + "'/>";
}

// Remembers the objects whose security is written.
class RecordingSecurity : public plat::ForwardingSecurity {
 public:
  using ForwardingSecurity::ForwardingSecurity;
  std::vector<std::string> written;
  uint32_t SetNamedSecurityInfo(std::string_view name, plat::SeObjectType type, uint32_t information,
                                const winsec::Sid* owner, const winsec::Sid* group, const winsec::Acl* dacl,
                                const winsec::Acl* sacl) override {
    written.emplace_back(name);
    return base_.SetNamedSecurityInfo(name, type, information, owner, group, dacl, sacl);
  }
};

class FilePermissionFeature : public ::testing::TestWithParam<const char*> {
 protected:
  FilePermissionFeature() : host_("win7-sp1-x64", GetParam()) {
    host_.WriteHostFile("C:\\Plant\\A\\B\\deep.txt", "x");
    host_.WriteHostFile("C:\\Plant\\A\\top.txt", "x");
  }

  std::unique_ptr<CFilePermission> Read(std::string_view path, std::string_view children) {
    document_ = SecurityFile("<t:fileSystemPermissions><t:fileSystemPath value='" + std::string(path) + "'>" +
                             std::string(children) + "</t:fileSystemPath></t:fileSystemPermissions>");
    auto feature = std::make_unique<CFilePermission>();
    EXPECT_TRUE(feature->GetFeatureFromXml(errorMgr_, FirstNode(document_, kPathQuery), "S1"));
    return feature;
  }
  bool Apply(std::string_view path, std::string_view children) { return Read(path, children)->ApplyFeature(errorMgr_); }
  void Protect(std::string_view path, std::string_view sddl) {
    winsec::SecurityDescriptor sd;
    ASSERT_EQ(winsec::SecurityDescriptorFromSddl(sddl, &sd), 0u);
    ASSERT_EQ(plat::Current().Security().SetNamedSecurityInfo(
                  path, plat::SeObjectType::kFile,
                  plat::kDaclSecurityInformation | plat::kProtectedDaclSecurityInformation, nullptr, nullptr, sd.Dacl(),
                  nullptr),
              0u);
  }

  TestHost host_;
  CErrorMgr errorMgr_;
  xml::Document document_;
};

INSTANTIATE_TEST_SUITE_P(Languages, FilePermissionFeature, ::testing::Values("en-US", "de-DE"));

// Entries are merged before what the folder inherits; a second apply of the
// same feature leaves the DACL as the first left it.
TEST_P(FilePermissionFeature, MergesOnceAndKeepsInheriting) {
  const std::string children =
      Entry("Users", "This folder and subfolders", "<t:delete/><t:deleteSubfoldersAndFiles/>") +
      Entry("Everyone", "This folder only", "<t:listFolder_readData allow='true' deny='false'/>") +
      Settings("true", "CopyInherited", "false");
  ASSERT_TRUE(Apply("C:\\Plant\\A\\", children));
  const std::string first = Sddl("C:\\Plant\\A");
  EXPECT_EQ(first.substr(0, first.find("ID;")),
            "D:AI(D;CI;DTSD;;;BU)(A;;0x100001;;;WD)(A;OICI");  // denies first, no SYNCHRONIZE in a deny
  ASSERT_TRUE(Apply("C:\\Plant\\A", children));
  EXPECT_EQ(Sddl("C:\\Plant\\A"), first);
  EXPECT_FALSE(errorMgr_.IsError());
}

// A protected DACL keeps what it inherited as its own entries, or drops it.
TEST_P(FilePermissionFeature, ProtectionCopiesOrRemovesTheInheritedEntries) {
  const std::string entry = Entry("Administrators", "This folder, subfolders and files", "<t:fullControl allow='true' deny='false'/>");
  ASSERT_TRUE(Apply("C:\\Plant\\A", entry + Settings("false", "RemoveInherited", "false")));
  EXPECT_EQ(Sddl("C:\\Plant\\A"), "D:PAI(A;OICI;FA;;;BA)");
  ASSERT_TRUE(Apply("C:\\Plant", entry + Settings("false", "CopyInherited", "false")));
  const std::string copied = Sddl("C:\\Plant");
  EXPECT_EQ(copied.find("ID;"), std::string::npos) << copied;
  EXPECT_NE(copied.find("(A;OICI;FA;;;SY)"), std::string::npos) << copied;
  EXPECT_EQ(copied.rfind("D:PAI(", 0), 0u) << copied;
}

// replaceAllChild resets a protected folder two levels down to inherit, and
// keeps every entry's own ACE on the object.
TEST_P(FilePermissionFeature, ReplaceAllChildResetsTheTreeBelow) {
  Protect("C:\\Plant\\A\\B", "D:P(A;OICI;FA;;;WD)");
  // A link in the tree to a folder outside it is not part of the tree.
  host_.WriteHostFile("C:\\Outside\\kept.txt", "x");
  Protect("C:\\Outside", "D:P(A;OICI;FA;;;WD)");
  std::filesystem::create_directory_symlink(host_.HostPath("C:\\Outside"), host_.HostPath("C:\\Plant\\A\\out"));
  plat::ForwardingPlatform platform(host_.Platform());
  RecordingSecurity security(host_.Platform().Security());
  platform.SetSecurity(&security);
  plat::ScopedPlatform installed(platform);
  const std::string children =
      Entry("Users", "This folder, subfolders and files", "<t:readPermissions allow='true' deny='false'/>") +
      Entry("Guests", "This folder only", "<t:delete/>") +
      Entry("Everyone", "This folder, subfolders and files", "<t:readAttributes allow='true' deny='false'/>") +
      Settings("true", "CopyInherited", "true");
  ASSERT_TRUE(Apply("C:\\Plant", children));
  const std::string plant = Sddl("C:\\Plant");
  for (const char* ace : {"(D;;SD;;;BG)", "(A;OICI;0x120000;;;BU)", "(A;OICI;0x100080;;;WD)"}) {
    EXPECT_NE(plant.find(ace), std::string::npos) << ace << " " << plant;
  }
  for (const char* below : {"C:\\Plant\\A", "C:\\Plant\\A\\B", "C:\\Plant\\A\\B\\deep.txt", "C:\\Plant\\A\\top.txt"}) {
    const std::string sddl = Sddl(below);
    EXPECT_EQ(sddl.rfind("D:AI(", 0), 0u) << below << " " << sddl;  // open to inheritance again
    EXPECT_EQ(sddl.find(";;;WD)(A;OICI;FA"), std::string::npos) << below << " " << sddl;
    EXPECT_NE(sddl.find("ID;0x120000;;;BU)"), std::string::npos) << below << " " << sddl;
    EXPECT_EQ(sddl.find("BG)"), std::string::npos) << below << " " << sddl;  // "This folder only" stops at C:\Plant
  }
  EXPECT_EQ(Sddl("C:\\Outside"), "D:PAI(A;OICI;FA;;;WD)");
  for (const std::string& written : security.written) EXPECT_EQ(written.find("\\out"), std::string::npos) << written;
  EXPECT_NE(std::find(security.written.begin(), security.written.end(), "C:\\Plant\\A\\B\\deep.txt"),
            security.written.end());
}

// An account's old ACE is found by the ACE it was read from, also behind an
// inherited ACE that stands first.
TEST_P(FilePermissionFeature, OldAcesAreReplacedWhereTheyStand) {
  Protect("C:\\Plant\\A", "D:P(A;OICIID;FA;;;SY)(A;OICI;FA;;;WD)(A;OICI;FR;;;BG)");
  ASSERT_EQ(Sddl("C:\\Plant\\A"), "D:PAI(A;OICIID;FA;;;SY)(A;OICI;FA;;;WD)(A;OICI;FR;;;BG)");
  ASSERT_TRUE(Apply("C:\\Plant\\A", Entry("Guests", "This folder only", "<t:readAttributes allow='true' deny='false'/>") +
                                        Settings("true", "CopyInherited", "false")));
  const std::string sddl = Sddl("C:\\Plant\\A");
  EXPECT_EQ(sddl.rfind("D:AI(A;;0x100080;;;BG)(A;OICI;FA;;;WD)(A;OICIID;", 0), 0u) << sddl;
}

// An entry for SYSTEM hands a tree owned by SYSTEM to the Administrators.
TEST_P(FilePermissionFeature, OwnershipMovesFromSystemOnlyForASystemEntry) {
  plat::ISecurity& security = plat::Current().Security();
  uint64_t restore = 0;
  ASSERT_EQ(security.LookupPrivilegeValue("SeRestorePrivilege", &restore), 0u);
  ASSERT_EQ(security.AdjustTokenPrivilege(restore, plat::kSePrivilegeEnabled), 0u);
  const winsec::Sid system = winsec::Sid::LocalSystem();
  for (const char* path : {"C:\\Plant\\A", "C:\\Plant\\A\\B", "C:\\Plant\\A\\B\\deep.txt"}) {
    ASSERT_EQ(security.SetNamedSecurityInfo(path, plat::SeObjectType::kFile, plat::kOwnerSecurityInformation, &system,
                                            nullptr, nullptr, nullptr),
              0u);
  }
  ASSERT_EQ(security.AdjustTokenPrivilege(restore, 0), 0u);
  const std::string readOnly = "<t:listFolder_readData allow='true' deny='false'/>";
  ASSERT_TRUE(Apply("C:\\Plant\\A", Entry("Users", "This folder only", readOnly) + Settings("true", "", "false")));
  EXPECT_EQ(Sddl("C:\\Plant\\A\\B", plat::kOwnerSecurityInformation), "O:SY");
  ASSERT_TRUE(Apply("C:\\Plant\\A", Entry("SYSTEM", "This folder only", readOnly) + Settings("true", "", "false")));
  for (const char* path : {"C:\\Plant\\A", "C:\\Plant\\A\\B", "C:\\Plant\\A\\B\\deep.txt"}) {
    EXPECT_EQ(Sddl(path, plat::kOwnerSecurityInformation), "O:BA") << path;
  }
  uint64_t takeOwnership = 0;
  ASSERT_EQ(security.LookupPrivilegeValue(plat::kSeTakeOwnershipPrivilege, &takeOwnership), 0u);
  EXPECT_FALSE(security.IsPrivilegeEnabled(takeOwnership));
}

// Refusals and mistakes: what is recorded, and that nothing is written.
TEST_P(FilePermissionFeature, FailuresAreReportedAndWriteNothingWrong) {
  const std::string before = Sddl("C:\\Plant\\A");
  // Allowed and denied at once: an error, and no DACL is written.
  EXPECT_FALSE(Apply("C:\\Plant\\A", Entry("Users", "This folder only", "<t:delete allow='true'/>") +
                                         Settings("false", "RemoveInherited", "false")));
  EXPECT_TRUE(Has(Lines(errorMgr_), "5|   There is an Permission accessright set both true"));
  EXPECT_EQ(Sddl("C:\\Plant\\A"), before);

  errorMgr_.ResetMessages();
  EXPECT_TRUE(Apply("C:\\Plant\\A", Entry("Nobody", "This folder only", "<t:delete/>") +
                                        Entry("Guests", "This folder only", "<t:delete/>") + Settings("true", "", "false")));
  EXPECT_TRUE(Has(Lines(errorMgr_), "4|  User or group Nobody does not exist;"));
  EXPECT_NE(Sddl("C:\\Plant\\A").find("(D;;SD;;;BG)"), std::string::npos);

  errorMgr_.ResetMessages();
  EXPECT_TRUE(Apply("C:\\Plant\\Missing", Entry("Guests", "This folder only", "<t:delete/>")));
  EXPECT_TRUE(Has(Lines(errorMgr_), "4|    GetNamedSecurityInfo( file=\"C:\\Plant\\Missing\")  trustee=\"Guests\"  error=2"));

  // A refused DACL write is an error of the run.
  class RefusingSecurity : public plat::ForwardingSecurity {
   public:
    using ForwardingSecurity::ForwardingSecurity;
    uint32_t SetNamedSecurityInfo(std::string_view, plat::SeObjectType, uint32_t information, const winsec::Sid*,
                                  const winsec::Sid*, const winsec::Acl*, const winsec::Acl*) override {
      return (information & plat::kDaclSecurityInformation) ? winerr::kAccessDenied : 0;
    }
  };
  plat::ForwardingPlatform platform(host_.Platform());
  RefusingSecurity security(host_.Platform().Security());
  platform.SetSecurity(&security);
  plat::ScopedPlatform installed(platform);
  errorMgr_.ResetMessages();
  EXPECT_FALSE(Apply("C:\\Plant\\A", Entry("Guests", "This folder only", "<t:delete/>")));
  EXPECT_TRUE(Has(Lines(errorMgr_), "5|    SetNamedSecurityInfo(file=\"C:\\Plant\\A\") trustee=\"Guests\" error=5"));
}

// The system's state read back, written as the history keeps it.
TEST_P(FilePermissionFeature, CurrentValuesReadBackAndWritten) {
  Protect("C:\\Plant\\A", "D:PAI(A;OICI;FA;;;BA)(D;NP;SD;;;BG)(A;OICIID;FA;;;SY)");
  const std::unique_ptr<CFilePermission> feature = Read("C:\\Plant\\A", Entry("Users", "This folder only", "<t:delete/>"));
  const std::unique_ptr<CFeature> current = feature->GetCurrentFeature(errorMgr_);
  ASSERT_TRUE(current);
  xml::Document history = xml::Document::Create();
  ASSERT_TRUE(history.LoadXml("<t:Product xmlns:t='urn:history'/>"));
  current->SetFeatureToXml(errorMgr_, history.DocumentElement(), false);
  const std::string written = history.DocumentElement().Xml();
  const bool german = std::string(GetParam()) == "de-DE";
  const std::string administrators = german ? "Administratoren\" domain=\"VORDEFINIERT" : "Administrators\" domain=\"BUILTIN";
  const std::string guests = german ? "Gäste\" domain=\"VORDEFINIERT" : "Guests\" domain=\"BUILTIN";
  EXPECT_NE(written.find("<t:filePermissions user=\"" + administrators +
                         "\" applyOnto=\"This folder, subfolders and files\" "
                         "applyWithinThisContainerOnly=\"false\"><t:fullControl allow=\"true\" deny=\"false\"/>"
                         "<t:traverseFolder_executeFile allow=\"true\" deny=\"false\"/>"),
            std::string::npos)
      << written;
  EXPECT_NE(written.find("user=\"" + guests + "\" applyOnto=\"This folder only\" "
                         "applyWithinThisContainerOnly=\"true\"><t:delete allow=\"false\" deny=\"true\"/>"),
            std::string::npos)
      << written;
  EXPECT_NE(written.find("user=\"_All_Inherited_Users_Rights_\""), std::string::npos) << written;
  EXPECT_NE(written.find("<t:inheritFromParentToChild value=\"true\" inherited=\"CopyInherited\"/>"
                         "<t:replaceAllChild value=\"true\"/>"),
            std::string::npos)
      << written;
  EXPECT_FALSE(errorMgr_.IsError());
}

// Doublets: same type, flags and SID. The first stays and takes the rights
// of the later ones; ACEs that differ in any of the three stay apart.
TEST(PermissionDoublets, FoldIntoTheFirstOfTheirKind) {
  winsec::SecurityDescriptor sd;
  ASSERT_EQ(winsec::SecurityDescriptorFromSddl(
                "D:(A;;FR;;;BU)(A;CI;FR;;;BU)(D;;SD;;;BU)(A;;0x40000;;;BU)(A;;FR;;;WD)(A;;0x80000;;;BU)", &sd),
            0u);
  winsec::Acl acl = *sd.Dacl();
  CErrorMgr errorMgr;
  CPermission::RemoveAllDoublets(errorMgr, &acl);
  sd.SetDacl(acl);
  std::string sddl;
  winsec::SecurityDescriptorToSddl(sd, plat::kDaclSecurityInformation, &sddl);
  EXPECT_EQ(sddl, "D:(A;;0x1e0089;;;BU)(A;CI;FR;;;BU)(D;;SD;;;BU)(A;;FR;;;WD)");
}

TEST(FilePermissionPath, OneTrailingBackslashGoesButADriveRootKeepsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Data\\", "C:\\Data"}, {"C:\\Data", "C:\\Data"}, {"C:\\", "C:\\"}, {"C:\\Data\\\\", "C:\\Data\\"}, {"", ""}};
  for (const auto& [value, path] : cases) EXPECT_EQ(CFilePermission::RemoveTrailingBackslash(value), path) << value;
}

}  // namespace
