// The DCOM descriptor tools and entries on English and German hosts: the
// standard descriptors, canonical ACE order, the masks of the entries,
// values that are no descriptors, and the current values of a machine
// without any machine-wide value.
#include <gtest/gtest.h>

#include <string>

#include "dcom/DCOM.h"
#include "dcom/DCOMTool.h"
#include "features/FeatureFixture.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/winsec/Sddl.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;
using feature_test::SecurityFile;

std::string DaclSddl(const winsec::Acl& acl) {
  winsec::SecurityDescriptor sd;
  sd.SetDacl(acl);
  std::string sddl;
  EXPECT_EQ(winsec::SecurityDescriptorToSddl(sd, winsec::kDaclSecurityInformation, &sddl), winerr::kSuccess);
  return sddl;
}

winsec::Acl AclOf(const char* sddl) {
  winsec::SecurityDescriptor sd;
  EXPECT_EQ(winsec::SecurityDescriptorFromSddl(sddl, &sd), winerr::kSuccess) << sddl;
  return *sd.Dacl();
}

class DcomTool : public ::testing::TestWithParam<const char*> {
 protected:
  DcomTool() : host_("win7-sp1-x64", GetParam()) {}

  void SetOleValue(const char* name, uint32_t type, const std::string& data) {
    plat::IRegistry& registry = plat::Current().Registry();
    plat::HKey key = plat::kNullKey;
    ASSERT_EQ(registry.OpenKey(plat::kHkeyLocalMachine, kOleKey, plat::kKeyAllAccess, &key), winerr::kSuccess);
    registry.SetValue(key, name, type, data);
    registry.CloseKey(key);
  }

  TestHost host_;
  CErrorMgr errorMgr_;
};

INSTANTIATE_TEST_SUITE_P(Languages, DcomTool, ::testing::Values("en-US", "de-DE"));

// Built from the accounts' SIDs, the descriptors are the same in every
// language; looking up the English names would fail on a German machine.
TEST_P(DcomTool, StandardDescriptorsNameTheSameAccountsInEveryLanguage) {
  const std::pair<int, const char*> expected[] = {
      {1, "D:(A;;CCDCLCSWRP;;;BA)(A;;CCDCSW;;;IU)(A;;CCDCSW;;;SY)"},
      {2, "D:(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)"},
      {3, "D:(A;;CCDCLCSW;;;BA)(A;;CCDCSW;;;WD)"},
      {4, "D:(A;;CCDCLC;;;WD)(A;;CCDC;;;AN)"},
      {5, "D:"},
  };
  winsec::Sid user;
  ASSERT_EQ(plat::Current().Security().GetTokenUser(&user), winerr::kSuccess);
  for (const auto& [type, sddl] : expected) {
    winsec::SecurityDescriptor sd;
    ASSERT_EQ(CDCOMTool::CreateStandardSD(errorMgr_, &sd, type), winerr::kSuccess) << type;
    EXPECT_EQ(DaclSddl(*sd.Dacl()), sddl) << type;
    EXPECT_EQ(sd.Owner(), user);
    EXPECT_EQ(sd.Group(), user);
  }
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

TEST_P(DcomTool, AddedAcesKeepTheCanonicalOrderAndRemovalTakesTheFirstOnly) {
  const bool english = std::string(GetParam()) == "en-US";
  winsec::Acl acl = AclOf("D:(D;;CC;;;BG)(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)");
  ASSERT_EQ(CDCOMTool::AddUserToACL(errorMgr_, &acl, 3, "", english ? "Everyone" : "Jeder", false), winerr::kSuccess);
  ASSERT_EQ(CDCOMTool::AddSidToACL(errorMgr_, &acl, 7, winsec::Sid::BuiltinUsers(), true), winerr::kSuccess);
  ASSERT_EQ(CDCOMTool::AddSidToACL(errorMgr_, &acl, 1, winsec::Sid::BuiltinUsers(), false), winerr::kSuccess);
  EXPECT_EQ(DaclSddl(acl), "D:(D;;CC;;;BU)(D;;CCDC;;;WD)(D;;CC;;;BG)(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)(A;;CCDCLC;;;BU)");
  // The single-ACE primitive: the denied ACE of Users goes, the allowed one stays.
  ASSERT_EQ(CDCOMTool::RemovePrincipalFromACL(errorMgr_, &acl, english ? "Users" : "Benutzer"), winerr::kSuccess);
  EXPECT_EQ(DaclSddl(acl).find("(D;;CC;;;BU)"), std::string::npos);
  EXPECT_NE(DaclSddl(acl).find("(A;;CCDCLC;;;BU)"), std::string::npos);
  EXPECT_EQ(CDCOMTool::RemoveAllAcesOf(&acl, winsec::Sid::BuiltinGuests()), 1u);
}

TEST_P(DcomTool, EntryMasksFollowTheRightsAndStopAtOneBothAllowedAndDenied) {
  struct Case {
    const char* element;
    uint32_t grant, deny;
    bool valid;
  };
  const Case cases[] = {
      {"<t:launch user='U'><t:localLaunch allow='true' deny='false'/></t:launch>", 3, 0, true},
      {"<t:launch user='U'><t:remoteActivation allow='true' deny='false'/><t:execute allow='false' deny='true'/>"
       "</t:launch>",
       17, 1, true},
      {"<t:launch user='U'><t:localLaunch allow='false' deny='false'/></t:launch>", 0, 0, true},
      {"<t:access user='U'><t:localAccess allow='false' deny='true'/><t:remoteAccess allow='true' deny='false'/>"
       "</t:access>",
       5, 3, true},
      // Local access both allowed and denied: remote access is not evaluated.
      {"<t:access user='U'><t:localAccess allow='true' deny='true'/><t:remoteAccess allow='true' deny='false'/>"
       "</t:access>",
       0, 0, false},
  };
  for (const Case& c : cases) {
    const xml::Document doc = SecurityFile(c.element);
    const xml::Node node = FirstNode(doc, "//t:launch | //t:access");
    CLaunchPerm launch;
    CAccessPerm access;
    CDCOMPerm& entry = node.NodeName() == "t:launch" ? static_cast<CDCOMPerm&>(launch) : access;
    entry.Read(node);
    CErrorMgr errors;
    uint32_t grant = 99;
    uint32_t deny = 99;
    EXPECT_EQ(entry.GetMasks(errors, &grant, &deny), c.valid) << c.element;
    if (c.valid) {
      EXPECT_EQ(grant, c.grant) << c.element;
      EXPECT_EQ(deny, c.deny) << c.element;
    }
    EXPECT_EQ(errors.GetHighestLevel(), c.valid ? -1 : kLevelError) << c.element;
  }
}

// Values that are no self-relative descriptor are reported and left as
// they are; a missing value means the system default.
TEST_P(DcomTool, StoredValuesThatAreNoDescriptorsAreErrors) {
  SetOleValue("DefaultAccessPermission", plat::kRegSz, plat::MakeRegSz("O:BAG:BAD:"));
  SetOleValue("MachineAccessRestriction", plat::kRegBinary, std::string("\x01\x00\x04\x80\xff", 5));
  for (const char* name : {"DefaultAccessPermission", "MachineAccessRestriction"}) {
    CErrorMgr errors;
    bool isNew = true;
    winsec::Bytes bytes;
    EXPECT_EQ(CDCOMTool::GetSecurityDescriptorFromRegistry(errors, kOleKey, name, &isNew, &bytes),
              winerr::kInvalidSecurityDescr);
    EXPECT_FALSE(isNew);
    EXPECT_EQ(errors.GetHighestLevel(), kLevelError);
  }
  CErrorMgr errors;
  bool isNew = false;
  winsec::Bytes bytes;
  EXPECT_EQ(CDCOMTool::GetSecurityDescriptorFromRegistry(errors, kOleKey, "NoSuchValue", &isNew, &bytes), 0u);
  EXPECT_TRUE(isNew);
}

// A machine without any of the four values: every system-default flag and
// no entries, and the document says so under t:defaults and t:limits.
TEST_P(DcomTool, CurrentValuesOfAMachineWithoutMachineWideValues) {
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  ASSERT_EQ(registry.OpenKey(plat::kHkeyLocalMachine, kOleKey, plat::kKeyAllAccess, &key), winerr::kSuccess);
  for (int kind = 1; kind <= 4; ++kind) registry.DeleteValue(key, CDCOMTool::LimitDefaultValueName(kind));
  registry.CloseKey(key);
  const xml::Document file = SecurityFile("<t:componentService><t:dcom/></t:componentService>");
  CDCOM feature;
  ASSERT_TRUE(feature.GetFeatureFromXml(errorMgr_, FirstNode(file, "//t:componentService"), "S"));
  const std::unique_ptr<CFeature> current = feature.GetCurrentFeature(errorMgr_);
  const auto& dcom = static_cast<const CDCOM&>(*current);
  for (const CLimitsDefaults* object : {dcom.Defaults(), dcom.Limits()}) {
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(object->LaunchUsesSystemDefault() && object->AccessUsesSystemDefault());
    EXPECT_TRUE(object->LaunchEntries().empty() && object->AccessEntries().empty());
  }
  xml::Document document = xml::Document::Create();
  ASSERT_TRUE(document.LoadXml("<t:Tarvo xmlns:t='urn:x'/>"));
  current->SetFeatureToXml(errorMgr_, document.SelectSingleNode("t:Tarvo"), false);
  const std::string text = document.Xml();
  EXPECT_NE(text.find("<t:dcom><t:defaults DefaultAccessPerm=\"true\" DefaultLaunchPerm=\"true\"/><t:limits "
                      "DefaultAccessPerm=\"true\" DefaultLaunchPerm=\"true\"/></t:dcom>"),
            std::string::npos)
      << text;
}

// Entries are found again by domain and user, whatever characters they hold.
TEST(DcomEntries, AnEntryIsWrittenOnceWhateverItsUserNameHolds) {
  const xml::Document file =
      SecurityFile("<t:access domain='' user=\"O'Brien &quot;Jr&quot;\"><t:localAccess allow='true'/></t:access>");
  CAccessPerm entry;
  entry.Read(FirstNode(file, "//t:access"));
  xml::Document document = xml::Document::Create();
  ASSERT_TRUE(document.LoadXml("<t:accessPermissions xmlns:t='urn:x'/>"));
  const xml::Node parent = document.SelectSingleNode("t:accessPermissions");
  entry.SetFeatureToXml(parent, false);
  entry.SetFeatureToXml(parent, false);
  EXPECT_EQ(parent.SelectNodes("t:access").Length(), 1u) << document.Xml();
}

}  // namespace
