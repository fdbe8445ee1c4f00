// The history document kept between features: whatever another writer did
// to the file since our last save is read before the next feature is added.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <string>

#include "features/FeatureFixture.h"
#include "features/WUA.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "securityfiles/RepositoryMgr.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;
using feature_test::SecurityFile;

constexpr const char* kHistory = "C:\\Windows\\Security\\Kelmar\\History.xml";

class HistoryTest : public ::testing::Test {
 protected:
  void Record(std::string_view session) {
    const xml::Document source = SecurityFile("<t:wua value='pause' adaptionmoment='AfterInstallation'/>");
    CWUA feature;
    ASSERT_TRUE(feature.GetFeatureFromXml(errorMgr_, FirstNode(source, "//t:wua"), session));
    CRepositoryMgr::AddFeatureToHistory(errorMgr_, feature, kHistoryTargetValue);
    for (const auto& entry : errorMgr_.Entries()) ADD_FAILURE() << entry->function << ": " << entry->message;
  }
  std::string HistoryBytes() { return host_.ReadHostFile(kHistory); }
  static std::string HistoryText() {
    const xml::Document document = xml::Document::Create();
    EXPECT_TRUE(document.Load(kHistory));
    return document.Xml();
  }

  TestHost host_;
  CErrorMgr errorMgr_;
};

// The history's UTF-16 bytes with one session id renamed: the same size.
std::string Renamed(std::string bytes, char from, char to) {
  const std::string id = std::string("S\0-\0", 4) + from + '\0';
  const size_t at = bytes.find(id);
  EXPECT_NE(at, std::string::npos);
  if (at != std::string::npos) bytes[at + 4] = to;
  return bytes;
}

void WriteInPlace(const std::string& hostPath, const std::string& bytes) {
  std::ofstream(hostPath, std::ios::binary | std::ios::trunc) << bytes;
}

void MoveWriteTimeAhead(const std::string& hostPath) {
  struct stat st;
  ASSERT_EQ(stat(hostPath.c_str(), &st), 0);
  timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_sec += 5;
  ASSERT_EQ(utimensat(AT_FDCWD, hostPath.c_str(), times, 0), 0);
}

TEST_F(HistoryTest, AnotherWritersChangeBetweenTwoFeaturesIsKept) {
  // Each writer leaves one stamp component as it was, so each must count.
  const struct {
    const char* how;
    std::function<void(const std::string& hostPath, const std::string& bytes)> write;
  } writers[] = {
      {"replaced whole: same size and write time, new file",
       [](const std::string& hostPath, const std::string& bytes) {
         struct stat before;
         ASSERT_EQ(stat(hostPath.c_str(), &before), 0);
         ASSERT_EQ(plat::WriteFileAtomically(plat::Current().Files(), kHistory, bytes), 0u);
         timespec times[2] = {before.st_atim, before.st_mtim};
         ASSERT_EQ(utimensat(AT_FDCWD, hostPath.c_str(), times, 0), 0);
       }},
      {"rewritten in place, longer", [](const std::string& hostPath,
                                        const std::string& bytes) { WriteInPlace(hostPath, bytes + std::string("\r\0\n\0", 4)); }},
      {"rewritten in place, same size, later write time",
       [](const std::string& hostPath, const std::string& bytes) {
         WriteInPlace(hostPath, bytes);
         MoveWriteTimeAhead(hostPath);
       }},
  };
  for (const auto& writer : writers) {
    SCOPED_TRACE(writer.how);
    host_.Platform().Files().RemoveFile(kHistory);
    Record("S-A");
    writer.write(host_.HostPath(kHistory), Renamed(HistoryBytes(), 'A', 'X'));
    Record("S-B");
    const std::string history = HistoryText();
    EXPECT_NE(history.find("SessionId=\"S-X\""), std::string::npos) << history;
    EXPECT_EQ(history.find("SessionId=\"S-A\""), std::string::npos) << history;
    EXPECT_NE(history.find("SessionId=\"S-B\""), std::string::npos) << history;
  }
}

// A history this run started is kept as its file loads, a document whose
// text need not be read back at the next save, and stays so through the
// features that follow.
TEST_F(HistoryTest, TheKeptHistoryReadsBackAsTheFileLoads) {
  for (const char* session : {"S-A", "S-A", "S-B"}) {
    Record(session);
    const xml::Document kept = CurrentProcessState().history.Take(kHistory);
    ASSERT_FALSE(kept.IsNull()) << session;
    EXPECT_TRUE(kept.ReadsBackAsItIs()) << session;
    EXPECT_EQ(kept.Xml(), HistoryText()) << session;
    CurrentProcessState().history.Keep(kHistory, kept);
  }
}

}  // namespace
