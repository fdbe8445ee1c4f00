#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "platform/Files.h"
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

// Names spelled otherwise are found through a kept listing of the folder:
// it must follow every change, whether made through the files service or
// by another process straight on the disk, each checked right after it.
TEST_F(PathMapTest, AKeptListingFollowsEveryChangeOfTheFolder) {
  plat::IFiles& files = host_.Host().Files();
  const std::string data = host_.HostPath("C:\\Data");
  const auto touch = [&](const char* name) {
    std::unique_ptr<plat::IFileStream> stream;
    return files.OpenStream(std::string("C:\\Data\\") + name, plat::OpenMode::kWrite, &stream);
  };
  struct Step {
    std::function<void()> change;
    const char* spelled;  // looked up right after the change
    const char* stored;   // "" when it must not exist
  };
  const std::vector<Step> steps = {
      {[&] { host_.WriteHostFile("C:\\Data\\a.txt", "x"); }, "A.TXT", "a.txt"},
      {[&] { EXPECT_EQ(touch("b.txt"), 0u); }, "B.TXT", "b.txt"},
      {[&] { EXPECT_EQ(files.MoveReplace("C:\\Data\\b.txt", "C:\\Data\\c.txt"), 0u); }, "B.TXT", ""},
      {[] {}, "C.Txt", "c.txt"},
      {[&] { std::ofstream(data + "/d.txt") << "x"; }, "D.TXT", "d.txt"},
      {[&] { std::filesystem::remove(data + "/a.txt"); }, "A.TXT", ""},
      {[&] { std::filesystem::rename(data + "/d.txt", data + "/e.txt"); }, "D.TXT", ""},
      {[&] { EXPECT_EQ(files.RemoveFile("C:\\Data\\c.txt"), 0u); }, "C.TXT", ""},
      {[&] { EXPECT_EQ(files.MakeDirectory("C:\\Data\\Sub"), 0u); }, "SUB", "Sub"},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    steps[i].change();
    host::MappedPath mapped;
    ASSERT_EQ(paths().Resolve(std::string("C:\\DATA\\") + steps[i].spelled, &mapped), winerr::kSuccess);
    const std::string expected = *steps[i].stored ? data + "/" + steps[i].stored : "(none)";
    EXPECT_EQ(mapped.exists ? mapped.hostPath : "(none)", expected) << "step " << i;
  }
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
