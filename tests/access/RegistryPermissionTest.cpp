// The registry permission feature on 64-bit and 32-bit hosts: REG_DWORD
// texts, object names, keys and values made when missing, the 32-bit view,
// current values, and the walk over the keys below.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "access/RegistryPermission.h"
#include "features/FeatureFixture.h"
#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "infra/Tool.h"
#include "platform/Forwarding.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/winsec/Sddl.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;
using feature_test::SecurityFile;

constexpr const char* kPathQuery = "/t:vscSetup/t:host/t:body/t:registry/t:path";

TEST(RegistryPermissionText, DwordTextsAndObjectNames) {
  const std::pair<const char*, uint32_t> dwords[] = {
      {"16", 16}, {"0x10", 16}, {"010", 8}, {"0X1f", 31}, {"4294967295", 0xFFFFFFFF}, {"0xFFFFFFFF", 0xFFFFFFFF},
      {"-1", 0xFFFFFFFF}, {"12abc", 12}, {"09", 0}, {"", 0}, {"2147483648", 0x80000000},
  };
  for (const auto& [text, expected] : dwords) {
    uint32_t value = 7;
    EXPECT_TRUE(CRegistryPermission::ParseDword(text, &value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  uint32_t value = 7;
  for (const char* tooBig : {"4294967296", "0x100000000", "99999999999999999999", "-2147483649"}) {
    EXPECT_FALSE(CRegistryPermission::ParseDword(tooBig, &value)) << tooBig;
  }
  EXPECT_EQ(CRegistryPermission::ObjectNameOf("HKEY_LOCAL_MACHINE", "SOFTWARE\\Vendor\\HKEY_Settings"),
            "MACHINE\\SOFTWARE\\Vendor\\HKEY_Settings");
  EXPECT_EQ(CRegistryPermission::ObjectNameOf("HKEY_USERS", ".DEFAULT\\Software"), "USERS\\.DEFAULT\\Software");
  EXPECT_EQ(CRegistryPermission::ObjectNameOf("HKEY_CLASSES_ROOT", "AppID"), "CLASSES_ROOT\\AppID");
}

struct Profile {
  const char* name;
  const char* language;
};

class RegistryPermissionFeature : public ::testing::TestWithParam<Profile> {
 protected:
  RegistryPermissionFeature() : host_(GetParam().name, GetParam().language) {}

  std::unique_ptr<CRegistryPermission> Read(std::string_view attributes, std::string_view children) {
    document_ = SecurityFile("<t:registry><t:path hkey='HKEY_LOCAL_MACHINE' value='SOFTWARE\\Plant' " +
                             std::string(attributes) + ">" + std::string(children) + "</t:path></t:registry>");
    auto feature = std::make_unique<CRegistryPermission>();
    EXPECT_TRUE(feature->GetFeatureFromXml(errorMgr_, FirstNode(document_, kPathQuery), "S1"));
    return feature;
  }
  // The value's data as reg query shows it, read in the 32-bit or the 64-bit view.
  static std::string ValueIn(std::string_view subkey, std::string_view name, bool view32) {
    plat::IRegistry& registry = plat::Current().Registry();
    plat::HKey key = plat::kNullKey;
    if (registry.OpenKey(plat::kHkeyLocalMachine, subkey, plat::kKeyQueryValue | (view32 ? plat::kKeyWow64_32Key : plat::kKeyWow64_64Key),
                         &key) != 0) {
      return "<no key>";
    }
    plat::RegValue value;
    const uint32_t rc = registry.QueryValue(key, name, &value);
    registry.CloseKey(key);
    if (rc != 0) return "<no value>";
    if (value.type == plat::kRegDword) {
      uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<uint8_t>(value.data[i]);
      return std::to_string(number);
    }
    return text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(value.data)).c_str();
  }
  static std::string Sddl(std::string_view objectName, plat::SeObjectType type = plat::SeObjectType::kRegistryKey) {
    winsec::SecurityDescriptor sd;
    if (plat::Current().Security().GetNamedSecurityInfo(objectName, type, plat::kDaclSecurityInformation, &sd) != 0) {
      return "<none>";
    }
    std::string text;
    winsec::SecurityDescriptorToSddl(sd, plat::kDaclSecurityInformation, &text);
    return text;
  }

  TestHost host_;
  CErrorMgr errorMgr_;
  xml::Document document_;
};

INSTANTIATE_TEST_SUITE_P(Profiles, RegistryPermissionFeature,
                         ::testing::Values(Profile{"win7-sp1-x64", "en-US"}, Profile{"win7-sp1-x64", "de-DE"},
                                           Profile{"vista-sp2-x86", "en-US"}));

constexpr const char* kValues =
    "<t:key name='Port' keytype='REG_DWORD' value='0x10'/><t:key name='Max' keytype='REG_DWORD' value='4294967295'/>"
    "<t:key name='Root' keytype='REG_EXPAND_SZ' value='%SystemDrive%\\Plant'/>"
    "<t:key name='Huge' keytype='REG_DWORD' value='4294967296'/>"
    "<t:key name='Odd' keytype='REG_MULTI_SZ' value='x'/>";

// The key and values are made when missing; values that exist are left
// alone until one declared value is missing, which writes them all again.
TEST_P(RegistryPermissionFeature, MakesKeyAndValuesWhenMissing) {
  const bool is64Bit = host_.Host().ProfileDef().is64Bit;
  const std::unique_ptr<CRegistryPermission> feature = Read("oswow='YES'", kValues);
  EXPECT_TRUE(feature->GetCurrentFeature(errorMgr_));
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Port", true), "16");
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Max", true), "4294967295");
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Root", true), "%SystemDrive%\\Plant");
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Huge", true), "<no value>");
  // oswow is the 32-bit view of a 64-bit Windows and the one view of a 32-bit one.
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Port", false), is64Bit ? "<no key>" : "16");
  std::vector<std::string> errors;
  for (const auto& entry : errorMgr_.Entries()) {
    if (entry->level >= kLevelError) errors.push_back(entry->message);
  }
  EXPECT_EQ(errors, (std::vector<std::string>{
                        "  The value '4294967296' of Regname=Huge does not fit a REG_DWORD (32 bits); it is not written",
                        "  unknown  KeyType=REG_MULTI_SZ  for Regname=Odd"}));

  // Existing values are not written again, however they differ.
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  ASSERT_EQ(registry.OpenKey(plat::kHkeyLocalMachine, "SOFTWARE\\Plant", plat::kKeySetValue | plat::kKeyWow64_32Key, &key), 0u);
  ASSERT_EQ(registry.SetValue(key, "Port", plat::kRegDword, std::string("\x05\0\0\0", 4)), 0u);
  ASSERT_EQ(registry.SetValue(key, "Huge", plat::kRegSz, std::string("x\0\0\0", 4)), 0u);
  ASSERT_EQ(registry.SetValue(key, "Odd", plat::kRegSz, std::string("x\0\0\0", 4)), 0u);
  const std::unique_ptr<CRegistryPermission> again = Read("oswow='YES'", kValues);
  again->GetCurrentFeature(errorMgr_);
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Port", true), "5");
  ASSERT_EQ(registry.DeleteValue(key, "Root"), 0u);
  registry.CloseKey(key);
  Read("oswow='YES'", kValues)->GetCurrentFeature(errorMgr_);
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Port", true), "16");
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Root", true), "%SystemDrive%\\Plant");
}

// With OnlyTarget no current values are read first; applying still makes
// the key before merging its DACL.
TEST_P(RegistryPermissionFeature, ApplyMakesTheKeyAndMergesItsDacl) {
  const std::string entry =
      "<t:registryPermissions user='Users' domain='' applyOntoReg='This key and subkeys' "
      "applyWithinThisContainerOnly='false'><t:setValue allow='true' deny='false'/></t:registryPermissions>"
      "<t:inheritFromParentToChild value='true' inherited='CopyInherited'/><t:replaceAllChild value='false'/>";
  ASSERT_TRUE(Read("", "<t:key name='Port' keytype='REG_DWORD' value='8'/>" + entry)->ApplyFeature(errorMgr_));
  // Without oswow the key is in the program's own view.
  EXPECT_EQ(ValueIn("SOFTWARE\\Plant", "Port", std::string_view(kBuildPlatform) == "X86"), "8");
  const std::string sddl = Sddl("MACHINE\\SOFTWARE\\Plant");
  EXPECT_EQ(sddl.rfind("D:AI(A;CI;DC;;;BU)", 0), 0u) << sddl;
  ASSERT_TRUE(Read("", "<t:key name='Port' keytype='REG_DWORD' value='8'/>" + entry)->ApplyFeature(errorMgr_));
  EXPECT_EQ(Sddl("MACHINE\\SOFTWARE\\Plant"), sddl);
}

// Refuses every change of the key SOFTWARE\Plant\B.
class LockedKeySecurity : public plat::ForwardingSecurity {
 public:
  using ForwardingSecurity::ForwardingSecurity;
  uint32_t SetNamedSecurityInfo(std::string_view name, plat::SeObjectType type, uint32_t information,
                                const winsec::Sid* owner, const winsec::Sid* group, const winsec::Acl* dacl,
                                const winsec::Acl* sacl) override {
    if (name == "MACHINE\\SOFTWARE\\Plant\\B") return winerr::kAccessDenied;
    return base_.SetNamedSecurityInfo(name, type, information, owner, group, dacl, sacl);
  }
};

// replaceAllChild walks the keys below, also when a key refuses the change:
// that key is reported by its own name and the others are still done.
TEST_P(RegistryPermissionFeature, TheWalkGoesOnPastAKeyItCannotChange) {
  plat::IRegistry& registry = plat::Current().Registry();
  for (const char* subkey : {"SOFTWARE\\Plant\\A\\Deep", "SOFTWARE\\Plant\\B", "SOFTWARE\\Plant\\C"}) {
    plat::HKey key = plat::kNullKey;
    bool created = false;
    ASSERT_EQ(registry.CreateKey(plat::kHkeyLocalMachine, subkey, plat::kKeyWrite, &key, &created), 0u);
    registry.CloseKey(key);
  }
  plat::ForwardingPlatform platform(host_.Platform());
  LockedKeySecurity security(host_.Platform().Security());
  platform.SetSecurity(&security);
  plat::ScopedPlatform installed(platform);
  const std::string entry =
      "<t:registryPermissions user='Users' domain='' applyOntoReg='This key and subkeys' "
      "applyWithinThisContainerOnly='false'><t:queryValue allow='true' deny='false'/></t:registryPermissions>"
      "<t:inheritFromParentToChild value='true' inherited='CopyInherited'/><t:replaceAllChild value='true'/>";
  EXPECT_FALSE(Read("", entry)->ApplyFeature(errorMgr_));
  std::vector<std::string> walkErrors;
  for (const auto& e : errorMgr_.Entries()) {
    if (e->function == "CRegistryPermission::ReplaceAllChildFileAccess") walkErrors.push_back(e->message);
  }
  EXPECT_EQ(walkErrors, (std::vector<std::string>{"AceToObjectsSecurityDescriptor(MACHINE\\SOFTWARE\\Plant\\B) failed 5"}));
  for (const char* below : {"MACHINE\\SOFTWARE\\Plant\\A", "MACHINE\\SOFTWARE\\Plant\\A\\Deep", "MACHINE\\SOFTWARE\\Plant\\C"}) {
    const std::string sddl = Sddl(below);
    EXPECT_EQ(sddl.rfind("D:AI(", 0), 0u) << below << " " << sddl;
    EXPECT_NE(sddl.find("(A;CIID;CC;;;BU)"), std::string::npos) << below << " " << sddl;
  }
}

// Current values: the types the feature names, a REG_BINARY by its first byte.
TEST_P(RegistryPermissionFeature, CurrentValuesAreReadAsTheFeatureNamesThem) {
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  bool created = false;
  ASSERT_EQ(registry.CreateKey(plat::kHkeyLocalMachine, "SOFTWARE\\Plant", plat::kKeyWrite, &key, &created), 0u);
  ASSERT_EQ(registry.SetValue(key, "Bytes", plat::kRegBinary, std::string("\x01\x02\x03", 3)), 0u);
  ASSERT_EQ(registry.SetValue(key, "Signed", plat::kRegDword, std::string("\xff\xff\xff\xff", 4)), 0u);
  ASSERT_EQ(registry.SetValue(key, "Many", plat::kRegMultiSz, std::string("a\0\0\0\0\0", 6)), 0u);
  ASSERT_EQ(registry.SetValue(key, "Long", plat::kRegBinary, std::string(300, 'x')), 0u);
  registry.CloseKey(key);
  const std::vector<RegistryValueEntry> values = Read("", "")->ReadCurrentValues();
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name + "|" + values[0].keytype + "|" + values[0].value, "Bytes|REG_BINARY|1");
  EXPECT_EQ(values[1].name + "|" + values[1].keytype + "|" + values[1].value, "Signed|REG_DWORD|-1");
}

}  // namespace
