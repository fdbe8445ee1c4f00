#include <gtest/gtest.h>

#include "infra/BuildInfo.h"
#include "infra/Tool.h"
#include "platform/Registry.h"
#include "support/TestHost.h"

namespace {

TEST(ToolPathTest, CombinePathKeepsUncAndCollapsesBackslashes) {
  EXPECT_EQ(CStdTool::CombinePath("C:\\dir\\", "file.xml"), "C:\\dir\\file.xml");
  EXPECT_EQ(CStdTool::CombinePath("\\\\server\\share", "x"), "\\\\server\\share\\x");
  EXPECT_EQ(CStdTool::CombinePath("\\\\server\\share", "x", false), "*server\\share\\x");
  EXPECT_EQ(CStdTool::CombinePath("", "x"), "\\x");
}

TEST(ToolPathTest, DirectoryOfPathAndBackslashCollapse) {
  EXPECT_EQ(CStdTool::GetDirectoryOfPath("C:\\logs\\Tarvo.log"), "C:\\logs\\");
  EXPECT_EQ(CStdTool::GetDirectoryOfPath("Tarvo.log"), "");
  EXPECT_EQ(CStdTool::CollapseBackslashes("C:\\\\a\\\\\\\\b"), "C:\\a\\b");
  EXPECT_EQ(CStdTool::CollapseBackslashes("\\\\server\\\\share"), "\\\\server\\share");
}

TEST(ToolRootKeyTest, RootNamesAreExactAndCaseSensitive) {
  EXPECT_EQ(CTool::GetRootKeyFromName("HKEY_LOCAL_MACHINE"), plat::kHkeyLocalMachine);
  EXPECT_EQ(CTool::GetRootKeyFromName("hkey_local_machine"), plat::kNullKey);
  EXPECT_EQ(CTool::GetRootKeyFromName("HKLM"), plat::kNullKey);
  EXPECT_EQ(CTool::GetRootKeyName(plat::kHkeyClassesRoot), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(CTool::GetRootKeyName(plat::kHkeyUsers), "");
}

class ToolHostTest : public ::testing::Test {
 protected:
  TestHost host_;
};

TEST_F(ToolHostTest, UniqueFileNameSkipsExistingNames) {
  host_.WriteHostFile("C:\\Repo\\a.xml", "");
  host_.WriteHostFile("C:\\Repo\\a_0.xml", "");
  EXPECT_EQ(CStdTool::GetUniqueFileName("C:\\Repo", "a", ".xml"), "a_1.xml");
  EXPECT_EQ(CStdTool::GetUniqueFileName("C:\\Repo\\", "b", "xml"), "b.xml");
  EXPECT_TRUE(CStdTool::FileExists("C:\\Repo\\a_*.xml"));
  EXPECT_FALSE(CStdTool::FileExists("C:\\Repo\\c.xml"));
}

TEST_F(ToolHostTest, RegistryKeyExistsInTheAskedView) {
  plat::HKey key = plat::kNullKey;
  host_.Platform().Registry().CreateKey(plat::kHkeyLocalMachine, "SOFTWARE\\Only32", plat::kKeyAllAccess | plat::kKeyWow64_32Key,
                                        &key, nullptr);
  host_.Platform().Registry().SetValue(key, "Path", plat::kRegSz, plat::MakeRegSz("C:\\x"));
  EXPECT_TRUE(CTool::RegistryKeyExists("HKEY_LOCAL_MACHINE", "SOFTWARE\\Only32", true));
  // Without the 32-bit flag the program asks in its own view: a 32-bit build sees the key there.
  EXPECT_EQ(CTool::RegistryKeyExists("HKEY_LOCAL_MACHINE", "SOFTWARE\\Only32", false), !kBuildIs64Bit);
  EXPECT_EQ(CTool::GetRegistryString(key, "Path"), "C:\\x");
  EXPECT_EQ(CTool::GetRegistryString(key, "Missing"), "");
}

TEST_F(ToolHostTest, ExePathEndsWithABackslash) {
  const std::string exe = CStdTool::GetExePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.back(), '\\');
  EXPECT_EQ(exe.substr(0, 3), "Z:\\");
}

}  // namespace
