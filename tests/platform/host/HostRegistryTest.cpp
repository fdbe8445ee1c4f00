#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "platform/WinError.h"
#include "support/TestHost.h"

namespace {

using namespace plat;

class RegistryTest : public ::testing::Test {
 protected:
  explicit RegistryTest(std::string_view profile = "win7-sp1-x64", bool process32Bit = false)
      : host_(profile, "en-US", process32Bit) {}
  IRegistry& reg() { return host_.Platform().Registry(); }

  HKey Create(HKey root, std::string_view path, uint32_t sam = kKeyAllAccess) {
    HKey key = kNullKey;
    EXPECT_EQ(reg().CreateKey(root, path, sam, &key, nullptr), winerr::kSuccess) << path;
    return key;
  }
  // The physical path an opened key reaches.
  std::string Physical(HKey root, std::string_view path, uint32_t sam) {
    HKey key = kNullKey;
    if (reg().OpenKey(root, path, sam, &key) != winerr::kSuccess) return "missing";
    std::string joined;
    for (const auto& part : host_.Host().RegistryImpl().PhysicalPathOf(host_.Host().RegistryImpl().KeyIdOf(key))) {
      joined += (joined.empty() ? "" : "\\") + part;
    }
    reg().CloseKey(key);
    return joined;
  }
  TestHost host_;
};

TEST_F(RegistryTest, ValuesRoundTripWithTypesAndCaseInsensitiveNames) {
  HKey key = Create(kHkeyLocalMachine, "SOFTWARE\\Norvale\\OXLAN\\Global");
  ASSERT_EQ(reg().SetValue(key, "LOGGINGLEVEL", kRegDword, MakeRegDword(11)), winerr::kSuccess);
  ASSERT_EQ(reg().SetValue(key, "SharedPath", kRegSz, MakeRegSz("C:\\Shared")), winerr::kSuccess);
  ASSERT_EQ(reg().SetValue(key, "List", kRegMultiSz, MakeRegMultiSz({"a", "b"})), winerr::kSuccess);
  RegValue value;
  ASSERT_EQ(reg().QueryValue(key, "loggingLevel", &value), winerr::kSuccess);
  EXPECT_EQ(value.type, kRegDword);
  EXPECT_EQ(RegDwordValue(value.data), 11u);
  ASSERT_EQ(reg().QueryValue(key, "SHAREDPATH", &value), winerr::kSuccess);
  EXPECT_EQ(RegSzText(value.data), "C:\\Shared");
  ASSERT_EQ(reg().QueryValue(key, "List", &value), winerr::kSuccess);
  EXPECT_EQ(RegMultiSzItems(value.data), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(reg().QueryValue(key, "Missing", &value), winerr::kFileNotFound);
  reg().CloseKey(key);
}

// "SOFTWARE\k\k...": `levels` keys below the root.
std::string DeepPath(size_t levels) {
  std::string path = "SOFTWARE";
  for (size_t i = 1; i < levels; ++i) path += "\\k";
  return path;
}

TEST_F(RegistryTest, KeysNestAtMost512LevelsBelowTheirRoot) {
  HKey key = kNullKey;
  EXPECT_EQ(reg().CreateKey(kHkeyLocalMachine, DeepPath(513), kKeyAllAccess, &key, nullptr),
            winerr::kInvalidParameter);
  EXPECT_EQ(Physical(kHkeyLocalMachine, DeepPath(2), kKeyRead), "missing");  // no level of it was made
  HKey deep = Create(kHkeyLocalMachine, DeepPath(511));
  reg().CloseKey(Create(deep, "k"));
  // Below an open key the levels still count from the root.
  EXPECT_EQ(reg().CreateKey(deep, "k\\k", kKeyAllAccess, &key, nullptr), winerr::kInvalidParameter);
  reg().CloseKey(deep);
  // In the 32-bit view Wow6432Node is a level of its own.
  EXPECT_EQ(reg().CreateKey(kHkeyLocalMachine, DeepPath(512), kKeyAllAccess | kKeyWow64_32Key, &key, nullptr),
            winerr::kInvalidParameter);
  reg().CloseKey(Create(kHkeyLocalMachine, DeepPath(511), kKeyAllAccess | kKeyWow64_32Key));
}

TEST_F(RegistryTest, QueryWithSmallBufferReportsMoreData) {
  HKey key = Create(kHkeyCurrentUser, "Software\\T");
  reg().SetValue(key, "v", kRegSz, MakeRegSz("hello"));
  RegValue value;
  uint32_t needed = 0;
  EXPECT_EQ(reg().QueryValue(key, "v", &value, &needed, 4), winerr::kMoreData);
  EXPECT_EQ(needed, 12u);  // five characters and the NUL, in UTF-16
  EXPECT_EQ(reg().QueryValue(key, "v", &value, &needed, 12), winerr::kSuccess);
}

TEST_F(RegistryTest, EnumeratesKeysAlphabeticallyAndValuesInCreationOrder) {
  HKey key = Create(kHkeyLocalMachine, "SOFTWARE\\EnumTest");
  reg().CloseKey(Create(key, "beta"));
  reg().CloseKey(Create(key, "Alpha"));
  reg().SetValue(key, "z", kRegSz, MakeRegSz("1"));
  reg().SetValue(key, "a", kRegSz, MakeRegSz("2"));
  reg().SetValue(key, "z", kRegSz, MakeRegSz("3"));  // replacing keeps the position
  std::string name;
  ASSERT_EQ(reg().EnumKey(key, 0, &name), winerr::kSuccess);
  EXPECT_EQ(name, "Alpha");
  ASSERT_EQ(reg().EnumKey(key, 1, &name), winerr::kSuccess);
  EXPECT_EQ(name, "beta");
  EXPECT_EQ(reg().EnumKey(key, 2, &name), winerr::kNoMoreItems);
  RegValue value;
  ASSERT_EQ(reg().EnumValue(key, 0, &name, &value), winerr::kSuccess);
  EXPECT_EQ(name, "z");
  EXPECT_EQ(RegSzText(value.data), "3");
  EXPECT_EQ(reg().EnumValue(key, 2, &name, &value), winerr::kNoMoreItems);
}

TEST_F(RegistryTest, DeleteKeyRefusesKeysWithSubKeysAndDeleteTreeRemovesAll) {
  HKey key = Create(kHkeyLocalMachine, "SOFTWARE\\Del\\Sub");
  reg().CloseKey(key);
  EXPECT_EQ(reg().DeleteKey(kHkeyLocalMachine, "SOFTWARE\\Del", 0), winerr::kAccessDenied);
  EXPECT_EQ(reg().DeleteKey(kHkeyLocalMachine, "SOFTWARE\\Del\\Missing", 0), winerr::kFileNotFound);
  EXPECT_EQ(reg().DeleteTree(kHkeyLocalMachine, "SOFTWARE\\Del", 0), winerr::kSuccess);
  HKey gone = kNullKey;
  EXPECT_EQ(reg().OpenKey(kHkeyLocalMachine, "SOFTWARE\\Del", kKeyRead, &gone), winerr::kFileNotFound);
}

TEST_F(RegistryTest, HandlesOfDeletedKeysAndBadHandlesFail) {
  HKey key = Create(kHkeyLocalMachine, "SOFTWARE\\Gone");
  ASSERT_EQ(reg().DeleteKey(kHkeyLocalMachine, "SOFTWARE\\Gone", 0), winerr::kSuccess);
  EXPECT_EQ(reg().SetValue(key, "v", kRegSz, MakeRegSz("x")), winerr::kKeyDeleted);
  EXPECT_EQ(reg().SetValue(0x4242, "v", kRegSz, MakeRegSz("x")), winerr::kInvalidHandle);
  EXPECT_EQ(reg().CloseKey(0x4242), winerr::kInvalidHandle);
}

TEST_F(RegistryTest, ThirtyTwoBitViewIsRedirectedOnSixtyFourBitWindows) {
  HKey key = Create(kHkeyLocalMachine, "SOFTWARE\\Norvale\\OxLan\\Global", kKeyAllAccess | kKeyWow64_32Key);
  reg().SetValue(key, "SharedPath", kRegSz, MakeRegSz("C:\\x86"));
  reg().CloseKey(key);
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SOFTWARE\\Norvale", kKeyRead | kKeyWow64_32Key),
            "HKLM\\SOFTWARE\\Wow6432Node\\Norvale");
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SOFTWARE\\Norvale", kKeyRead | kKeyWow64_64Key), "missing");
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SOFTWARE\\Wow6432Node\\Norvale", kKeyRead), "HKLM\\SOFTWARE\\Wow6432Node\\Norvale");
}

TEST_F(RegistryTest, SharedKeysAndClassesFollowTheWindows7Rules) {
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Ole", kKeyRead | kKeyWow64_32Key),
            "HKLM\\SOFTWARE\\Microsoft\\Ole");
  EXPECT_EQ(Physical(kHkeyClassesRoot, "AppID", kKeyRead | kKeyWow64_32Key), "HKLM\\SOFTWARE\\Classes\\AppID");
  EXPECT_EQ(Physical(kHkeyClassesRoot, "CLSID", kKeyRead | kKeyWow64_32Key),
            "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID");
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet", kKeyRead | kKeyWow64_32Key),
            "HKLM\\SYSTEM\\CurrentControlSet");
}

TEST_F(RegistryTest, BothViewFlagsTogetherAreAnInvalidParameter) {
  HKey key = kNullKey;
  EXPECT_EQ(reg().OpenKey(kHkeyLocalMachine, "SOFTWARE", kKeyRead | kKeyWow64Res, &key), winerr::kInvalidParameter);
}

TEST_F(RegistryTest, ProfileSeedsVersionAndFolders) {
  HKey key = kNullKey;
  ASSERT_EQ(reg().OpenKey(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", kKeyRead, &key),
            winerr::kSuccess);
  RegValue value;
  ASSERT_EQ(reg().QueryValue(key, "CurrentVersion", &value), winerr::kSuccess);
  EXPECT_EQ(RegSzText(value.data), "6.1");
  ASSERT_EQ(reg().OpenKey(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                          kKeyRead | kKeyWow64_32Key, &key),
            winerr::kSuccess);
  ASSERT_EQ(reg().QueryValue(key, "ProgramFilesDir", &value), winerr::kSuccess);
  EXPECT_EQ(RegSzText(value.data), "C:\\Program Files (x86)");
}

class Registry32BitProfileTest : public RegistryTest {
 protected:
  Registry32BitProfileTest() : RegistryTest("winxp-sp3-x86", true) {}
};

TEST_F(Registry32BitProfileTest, BothViewsAreTheSame) {
  reg().CloseKey(Create(kHkeyLocalMachine, "SOFTWARE\\Same", kKeyAllAccess | kKeyWow64_32Key));
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SOFTWARE\\Same", kKeyRead | kKeyWow64_64Key), "HKLM\\SOFTWARE\\Same");
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SOFTWARE\\Same", kKeyRead), "HKLM\\SOFTWARE\\Same");
}

class RegistryWow64ProcessTest : public RegistryTest {
 protected:
  RegistryWow64ProcessTest() : RegistryTest("win7-sp1-x64", true) {}
};

TEST_F(RegistryWow64ProcessTest, A32BitProcessDefaultsToThe32BitView) {
  reg().CloseKey(Create(kHkeyLocalMachine, "SOFTWARE\\Mine"));
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SOFTWARE\\Mine", kKeyRead), "HKLM\\SOFTWARE\\Wow6432Node\\Mine");
  EXPECT_EQ(Physical(kHkeyLocalMachine, "SOFTWARE\\Mine", kKeyRead | kKeyWow64_64Key), "missing");
}

}  // namespace

namespace {

// A handle holds the rights it was opened with, as on Windows.
TEST_F(RegistryTest, HandlesAllowOnlyTheRightsTheyWereOpenedWith) {
  reg().CloseKey(Create(kHkeyLocalMachine, "SOFTWARE\\Rights"));
  HKey readOnly = kNullKey;
  ASSERT_EQ(reg().OpenKey(kHkeyLocalMachine, "SOFTWARE\\Rights", kKeyRead, &readOnly), winerr::kSuccess);
  RegValue value;
  EXPECT_EQ(reg().QueryValue(readOnly, "none", &value), winerr::kFileNotFound);
  EXPECT_EQ(reg().SetValue(readOnly, "v", kRegSz, MakeRegSz("x")), winerr::kAccessDenied);
  EXPECT_EQ(reg().DeleteValue(readOnly, "v"), winerr::kAccessDenied);
  HKey sub = kNullKey;
  EXPECT_EQ(reg().CreateKey(readOnly, "Sub", kKeyAllAccess, &sub, nullptr), winerr::kAccessDenied);
  HKey writeOnly = kNullKey;
  ASSERT_EQ(reg().OpenKey(kHkeyLocalMachine, "SOFTWARE\\Rights", kKeySetValue, &writeOnly), winerr::kSuccess);
  EXPECT_EQ(reg().SetValue(writeOnly, "v", kRegSz, MakeRegSz("x")), winerr::kSuccess);
  EXPECT_EQ(reg().QueryValue(writeOnly, "v", &value), winerr::kAccessDenied);
  std::string name;
  EXPECT_EQ(reg().EnumKey(writeOnly, 0, &name), winerr::kAccessDenied);
  HKey all = kNullKey;
  ASSERT_EQ(reg().OpenKey(kHkeyLocalMachine, "SOFTWARE\\Rights", kMaximumAllowed, &all), winerr::kSuccess);
  EXPECT_EQ(reg().QueryValue(all, "v", &value), winerr::kSuccess);
  EXPECT_EQ(reg().CreateKey(all, "Sub", kKeyRead, &sub, nullptr), winerr::kSuccess);
  // Opening an existing key needs no create right on the parent.
  EXPECT_EQ(reg().CreateKey(readOnly, "Sub", kKeyRead, &sub, nullptr), winerr::kSuccess);
}

}  // namespace
