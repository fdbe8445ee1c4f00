#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Files.h"
#include "platform/WinError.h"
#include "support/TestHost.h"

namespace {

class HostFilesTest : public ::testing::Test {
 protected:
  TestHost host_;
  plat::IFiles& files() { return host_.Platform().Files(); }
};

TEST_F(HostFilesTest, ReadsWritesAndAppends) {
  ASSERT_EQ(plat::WriteWholeFile(files(), "C:\\Temp1.txt", "abc"), winerr::kSuccess);
  ASSERT_EQ(plat::AppendToFile(files(), "c:\\temp1.TXT", "def"), winerr::kSuccess);
  std::string content;
  ASSERT_EQ(plat::ReadWholeFile(files(), "C:\\Temp1.txt", &content), winerr::kSuccess);
  EXPECT_EQ(content, "abcdef");
}

TEST_F(HostFilesTest, ReportsMissingFilesAndFoldersWithWindowsCodes) {
  std::string content;
  EXPECT_EQ(plat::ReadWholeFile(files(), "C:\\nothing.txt", &content), winerr::kFileNotFound);
  EXPECT_EQ(plat::ReadWholeFile(files(), "C:\\no\\such\\file.txt", &content), winerr::kPathNotFound);
  EXPECT_EQ(plat::WriteWholeFile(files(), "C:\\no\\file.txt", "x"), winerr::kPathNotFound);
  EXPECT_EQ(plat::ReadWholeFile(files(), "\\\\server\\share\\f.txt", &content), winerr::kBadNetPath);
  EXPECT_EQ(plat::ReadWholeFile(files(), "C:\\Windows", &content), winerr::kAccessDenied);
}

TEST_F(HostFilesTest, CreatesOneFolderLevelLikeCreateDirectory) {
  EXPECT_EQ(files().MakeDirectory("C:\\Repo"), winerr::kSuccess);
  EXPECT_EQ(files().MakeDirectory("C:\\repo"), winerr::kAlreadyExists);
  EXPECT_EQ(files().MakeDirectory("C:\\a\\b"), winerr::kPathNotFound);
  EXPECT_TRUE(plat::IsDirectory(files(), "C:\\REPO"));
  EXPECT_EQ(files().RemoveFolder("C:\\Repo"), winerr::kSuccess);
}

TEST_F(HostFilesTest, ReadOnlyFilesRefuseWritesEvenForRoot) {
  host_.WriteHostFile("C:\\ro.ini", "keep");
  ASSERT_EQ(files().SetReadOnly("C:\\ro.ini", true), winerr::kSuccess);
  uint32_t attributes = 0;
  ASSERT_EQ(files().GetAttributes("C:\\ro.ini", &attributes), winerr::kSuccess);
  EXPECT_TRUE(attributes & plat::kFileAttributeReadOnly);
  EXPECT_EQ(plat::WriteWholeFile(files(), "C:\\ro.ini", "x"), winerr::kAccessDenied);
  EXPECT_EQ(plat::AppendToFile(files(), "C:\\ro.ini", "x"), winerr::kAccessDenied);
  EXPECT_EQ(plat::WriteFileAtomically(files(), "C:\\ro.ini", "x"), winerr::kAccessDenied);
  EXPECT_EQ(files().RemoveFile("C:\\ro.ini"), winerr::kAccessDenied);
  EXPECT_EQ(host_.ReadHostFile("C:\\ro.ini"), "keep");
  // A Linux file without write bits is read-only too.
  const std::string hostFile = host_.WriteHostFile("C:\\ro2.ini", "x");
  chmod(hostFile.c_str(), 0444);
  EXPECT_EQ(plat::WriteWholeFile(files(), "C:\\ro2.ini", "y"), winerr::kAccessDenied);
}

TEST_F(HostFilesTest, AtomicWriteReplacesContentAndLeavesNoTemporaryFile) {
  host_.WriteHostFile("C:\\Data\\History.xml", "old");
  ASSERT_EQ(plat::WriteFileAtomically(files(), "C:\\data\\history.xml", "new"), winerr::kSuccess);
  EXPECT_EQ(host_.ReadHostFile("C:\\Data\\History.xml"), "new");
  std::vector<plat::FileEntry> found;
  ASSERT_EQ(files().Find("C:\\Data\\*", &found), winerr::kSuccess);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "History.xml");
}

TEST_F(HostFilesTest, AtomicWriteThroughASymbolicLinkReplacesItsTarget) {
  const std::string target = host_.WriteHostFile("C:\\Data\\op.ini", "old");
  const std::string link = host_.HostPath("C:\\Setup\\op.ini");
  std::filesystem::create_directories(std::filesystem::path(link).parent_path());
  std::filesystem::create_symlink(target, link);
  ASSERT_EQ(plat::WriteFileAtomically(files(), "C:\\Setup\\op.ini", "new"), winerr::kSuccess);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(host_.ReadHostFile("C:\\Data\\op.ini"), "new");
}

// A temporary left by a writer that died, under the name this process would
// choose next, is skipped: creation is exclusive.
TEST_F(HostFilesTest, AtomicWriteNeverSharesATemporaryName) {
  host_.WriteHostFile("C:\\Data\\h.xml", "old");
  const uint32_t pid = host_.Platform().System().CurrentProcessId();
  for (int n = 0; n < 50; ++n) {
    host_.WriteHostFile("C:\\Data\\h.xml.tmp" + std::to_string(pid) + "-" + std::to_string(n), "other's");
  }
  ASSERT_EQ(plat::WriteFileAtomically(files(), "C:\\Data\\h.xml", "new"), winerr::kSuccess);
  EXPECT_EQ(host_.ReadHostFile("C:\\Data\\h.xml"), "new");
  EXPECT_EQ(host_.ReadHostFile("C:\\Data\\h.xml.tmp" + std::to_string(pid) + "-0"), "other's");
}

TEST_F(HostFilesTest, AnExclusiveLockWaitsForItsHolder) {
  std::unique_ptr<plat::IFileLock> first, second;
  ASSERT_EQ(files().LockExclusive("C:\\Data.lock", 0, &first), winerr::kSuccess);
  EXPECT_EQ(files().LockExclusive("C:\\Data.lock", 20, &second), winerr::kLockViolation);
  first.reset();
  EXPECT_EQ(files().LockExclusive("C:\\Data.lock", 0, &second), winerr::kSuccess);
  EXPECT_EQ(files().LockExclusive("C:\\no\\Data.lock", 0, &first), winerr::kPathNotFound);
}

TEST_F(HostFilesTest, FileIdsAreEqualForEveryPathToOneFile) {
  const std::string original = host_.WriteHostFile("C:\\Data\\a.txt", "a");
  host_.WriteHostFile("C:\\Data\\b.txt", "a");
  std::filesystem::create_hard_link(original, host_.HostPath("C:\\Data\\hard.txt"));
  std::filesystem::create_symlink(original, host_.HostPath("C:\\Data\\soft.txt"));
  std::filesystem::create_symlink(host_.HostPath("C:\\gone"), host_.HostPath("C:\\Data\\dangling.txt"));

  plat::FileId a, other;
  ASSERT_EQ(files().GetFileId("C:\\Data\\a.txt", &a), winerr::kSuccess);
  for (const char* same : {"c:\\data\\A.TXT", "C:\\Data\\hard.txt", "C:\\Data\\soft.txt"}) {
    ASSERT_EQ(files().GetFileId(same, &other), winerr::kSuccess) << same;
    EXPECT_EQ(other, a) << same;
  }
  ASSERT_EQ(files().GetFileId("C:\\Data\\b.txt", &other), winerr::kSuccess);
  EXPECT_NE(other, a);
  EXPECT_EQ(files().GetFileId("C:\\Data\\missing.txt", &other), winerr::kFileNotFound);
  EXPECT_EQ(files().GetFileId("C:\\Data\\dangling.txt", &other), winerr::kFileNotFound);
  EXPECT_EQ(files().GetFileId("C:\\No\\a.txt", &other), winerr::kPathNotFound);
}

TEST_F(HostFilesTest, FindMatchesWildcardsAndReportsNothingFound) {
  host_.WriteHostFile("C:\\Lang\\Tarvo_1033.ulf", "e");
  host_.WriteHostFile("C:\\Lang\\Tarvo_1031.ulf", "d");
  host_.WriteHostFile("C:\\Lang\\other.txt", "o");
  std::vector<plat::FileEntry> found;
  ASSERT_EQ(files().Find("C:\\lang\\tarvo_*.ULF", &found), winerr::kSuccess);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].name, "Tarvo_1031.ulf");
  EXPECT_EQ(files().Find("C:\\Lang\\*.xml", &found), winerr::kFileNotFound);
  EXPECT_EQ(files().Find("C:\\Nope\\*.xml", &found), winerr::kPathNotFound);
  ASSERT_EQ(files().Find("C:\\Lang", &found), winerr::kSuccess);
  EXPECT_TRUE(found[0].IsDirectory());
}

// A symbolic link is a reparse point of its own, as Windows reports links
// and junctions: Find and GetAttributes report it without following it, so
// a walk over folders can stay out of a link to "/".
TEST_F(HostFilesTest, SymbolicLinksAreReparsePointsNotTheirTargets) {
  const std::string target = host_.WriteHostFile("C:\\Data\\a.txt", "abc");
  const std::string links = host_.HostPath("C:\\Links");
  std::filesystem::create_directories(links + "/plain");
  std::filesystem::create_symlink(host_.HostPath("C:\\gone"), links + "/dangling");
  std::filesystem::create_symlink(target, links + "/file");
  std::filesystem::create_directory_symlink(host_.HostPath("C:\\Data"), links + "/folder");
  std::filesystem::create_directory_symlink("/", links + "/root");

  constexpr uint32_t kLink = plat::kFileAttributeReparsePoint;
  const struct {
    std::string name;
    uint32_t attributes;
  } entries[] = {
      {"dangling", kLink | plat::kFileAttributeArchive},
      {"file", kLink | plat::kFileAttributeArchive},
      {"folder", kLink | plat::kFileAttributeDirectory},
      {"plain", plat::kFileAttributeDirectory},
      {"root", kLink | plat::kFileAttributeDirectory},
  };
  std::vector<plat::FileEntry> found, one;
  ASSERT_EQ(files().Find("C:\\Links\\*", &found), winerr::kSuccess);
  ASSERT_EQ(found.size(), std::size(entries));
  for (size_t i = 0; i < found.size(); ++i) {
    const std::string& name = entries[i].name;
    EXPECT_EQ(found[i].name, name);
    EXPECT_EQ(found[i].attributes, entries[i].attributes) << name;
    ASSERT_EQ(files().Find("C:\\links\\" + name, &one), winerr::kSuccess) << name;
    EXPECT_EQ(one[0].attributes, entries[i].attributes) << name;
    uint32_t attributes = 0;
    ASSERT_EQ(files().GetAttributes("Z:" + links + "/" + name, &attributes), winerr::kSuccess) << name;
    EXPECT_EQ(attributes, entries[i].attributes) << name;
  }
  EXPECT_EQ(found[1].size, 0u);  // a link's own size

  // A link on the way is followed, as FindFirstFile follows it.
  ASSERT_EQ(files().Find("C:\\Links\\folder\\*", &found), winerr::kSuccess);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "a.txt");
  EXPECT_EQ(found[0].attributes, plat::kFileAttributeArchive);
}

}  // namespace
