#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/WinError.h"
#include "platform/host/PathMap.h"
#include "support/TestHost.h"

namespace {

class PathMapTest : public ::testing::Test {
 protected:
  TestHost host_;
  const host::PathMap& paths() { return host_.Host().Paths(); }
  std::string Normal(std::string_view p) {
    host::WinPath parsed;
    const uint32_t rc = paths().Parse(p, &parsed);
    return rc ? "error " + std::to_string(rc) : parsed.ToString();
  }
};

TEST_F(PathMapTest, NormalisesSeparatorsDotsAndDriveCase) {
  EXPECT_EQ(Normal("c:/Windows\\.\\system32\\..\\Temp"), "C:\\Windows\\Temp");
  EXPECT_EQ(Normal("C:\\..\\..\\Windows"), "C:\\Windows");
  EXPECT_EQ(Normal("C:\\dir.\\file. "), "C:\\dir\\file");
  EXPECT_EQ(Normal("\\\\?\\C:\\Windows"), "C:\\Windows");
}

TEST_F(PathMapTest, RefusesUncUnknownDrivesAndBadNames) {
  EXPECT_EQ(Normal("\\\\server\\share\\x"), "error 53");
  EXPECT_EQ(Normal("//server/share"), "error 53");
  EXPECT_EQ(Normal("D:\\data"), "error 3");
  EXPECT_EQ(Normal(""), "error 3");
  EXPECT_EQ(Normal("C:\\a<b"), "error 123");
  EXPECT_EQ(Normal("C:\\a*b"), "error 123");
  host::WinPath parsed;
  EXPECT_EQ(paths().Parse("C:\\dir\\*.xml", &parsed, true), winerr::kSuccess);
}

TEST_F(PathMapTest, PosixPathsBecomeZDriveAndDriveCMapsBack) {
  EXPECT_EQ(paths().WindowsPathOf("/tmp/op.ini"), "Z:\\tmp\\op.ini");
  EXPECT_EQ(paths().WindowsPathOf(host_.Folder() + "/drive_c/Windows"), "C:\\Windows");
  EXPECT_EQ(host_.HostPath("Z:\\tmp\\op.ini"), "/tmp/op.ini");
  EXPECT_EQ(host_.HostPath("C:\\"), host_.Folder() + "/drive_c");
}

TEST_F(PathMapTest, RelativePathsResolveAgainstTheCurrentDirectory) {
  const std::string before = std::filesystem::current_path();
  std::filesystem::current_path(host_.HostPath("C:\\Windows"));
  EXPECT_EQ(Normal("system32\\drivers"), "C:\\Windows\\system32\\drivers");
  EXPECT_EQ(Normal("..\\Users"), "C:\\Users");
  EXPECT_EQ(Normal("\\ProgramData"), "C:\\ProgramData");
  EXPECT_EQ(Normal("C:notes.txt"), "C:\\Windows\\notes.txt");
  EXPECT_EQ(Normal("Z:notes.txt"), "Z:\\notes.txt");
  std::filesystem::current_path(before);
}

TEST_F(PathMapTest, ComponentsMatchExistingEntriesIgnoringCase) {
  host_.WriteHostFile("C:\\Data\\Config.XML", "x");
  host::MappedPath mapped;
  ASSERT_EQ(paths().Resolve("c:\\DATA\\config.xml", &mapped), winerr::kSuccess);
  EXPECT_TRUE(mapped.exists);
  EXPECT_EQ(mapped.hostPath, host_.Folder() + "/drive_c/Data/Config.XML");
  ASSERT_EQ(paths().Resolve("C:\\data\\New.txt", &mapped), winerr::kSuccess);
  EXPECT_FALSE(mapped.exists);
  EXPECT_TRUE(mapped.parentExists);
  EXPECT_EQ(mapped.hostPath, host_.Folder() + "/drive_c/Data/New.txt");
  ASSERT_EQ(paths().Resolve("C:\\missing\\New.txt", &mapped), winerr::kSuccess);
  EXPECT_FALSE(mapped.parentExists);
}

TEST(WildcardMatchTest, FollowsWindowsRules) {
  EXPECT_TRUE(host::WildcardMatch("*.xml", "Security.XML"));
  EXPECT_TRUE(host::WildcardMatch("a?c", "abc"));
  EXPECT_FALSE(host::WildcardMatch("a?c", "ac"));
  EXPECT_TRUE(host::WildcardMatch("*.*", "README"));
  EXPECT_TRUE(host::WildcardMatch("*", ""));
  EXPECT_FALSE(host::WildcardMatch("*.xml", "a.xml.bak"));
  EXPECT_TRUE(host::WildcardMatch("Tarvo_*.ulf", "Tarvo_1033.ulf"));
}

}  // namespace
