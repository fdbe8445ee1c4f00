#include <gtest/gtest.h>

#include "cli/Results.h"
#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "infra/ProfileString.h"
#include "platform/text/Text.h"
#include "support/TestHost.h"

namespace {

std::string Utf16File(std::u16string_view text) {
  return std::string(text::kUtf16LeBom) + text::Utf16ToUtf16LeBytes(text);
}

class ResultsTest : public ::testing::Test {
 protected:
  std::string Result(std::string_view key) { return model_.GetValue(kResultsSection, key); }
  TestHost host_;
  CIniFile model_;
};

TEST_F(ResultsTest, RebootRequirementIsRaisedButNeverLowered) {
  const std::vector<std::vector<int>> orders = {{2, 2, 4}, {4, 2, 2}, {2, 4, 2}, {1, 4, -1, 2}};
  for (const auto& codes : orders) {
    model_.SetValue(kResultsSection, "RebootRequirement", "0");
    for (int code : codes) SetRebootRequirement(model_, code);
    EXPECT_EQ(Result("RebootRequirement"), "2");
  }
  model_.SetValue(kResultsSection, "RebootRequirement", "0");
  SetRebootRequirement(model_, kRebootAfterInstallation);
  EXPECT_EQ(Result("RebootRequirement"), "1");
  SetRebootRequirement(model_, kRebootNo);
  SetRebootRequirement(model_, kRebootUnset);
  EXPECT_EQ(Result("RebootRequirement"), "1");
}

TEST_F(ResultsTest, ErrorKeysFollowTheEntries) {
  CErrorMgr mgr;
  mgr.AddMessage(kLevelError, "F::A", "A");
  mgr.AddMessage(kLevelError, "F::B", "B");
  mgr.AddMessage(kLevelCritical, "F::C", "");
  model_.SetValue(kResultsSection, "CriticalErrorMessage", "before");
  SetResults(model_, mgr);
  EXPECT_EQ(Result("ErrorOccured"), "1");
  EXPECT_EQ(Result("ErrorMessage"), "B");
  EXPECT_EQ(Result("CriticalError"), "1");
  EXPECT_EQ(Result("CriticalErrorMessage"), "before");
  EXPECT_EQ(Result("CriticalFeatureError"), "");
  // ErrorMessage holds the last message of level 5 or 6.
  mgr.AddMessage(kLevelCritical, "F::D", "D");
  mgr.AddMessage(kLevelWarning, "F::E", "E");
  SetResults(model_, mgr);
  EXPECT_EQ(Result("ErrorMessage"), "D");
  EXPECT_EQ(Result("CriticalErrorMessage"), "D");
}

TEST_F(ResultsTest, CriticalFeatureErrorsListEveryMessage) {
  CErrorMgr mgr;
  mgr.SetCriticalFeature(true);
  for (const char* m : {"one", "two", "three"}) mgr.AddMessage(kLevelError, "F::A", m);
  SetResults(model_, mgr);
  EXPECT_EQ(Result("CriticalFeatureError"), "1");
  EXPECT_EQ(Result("CriticalFeatureErrorMessage1"), "one");
  EXPECT_EQ(Result("CriticalFeatureErrorMessage3"), "three");
  EXPECT_EQ(model_.FindSection(kResultsSection)->FindValue("CriticalFeatureErrorMessage4"), nullptr);
  // The entries keep level 5 here although the highest level became 6.
  EXPECT_EQ(Result("CriticalError"), "");
}

TEST_F(ResultsTest, MessageFullPathTakesTheFolderOfLogfilePath) {
  EXPECT_EQ(MessageFullPath("C:\\logs\\"), "C:\\logs\\ReturnedFeatures.xml");
  EXPECT_EQ(MessageFullPath("C:\\logs"), "C:\\ReturnedFeatures.xml");
  EXPECT_EQ(MessageFullPath(""), "ReturnedFeatures.xml");
}

TEST_F(ResultsTest, InitAndWriteResultsGoIntoTheUtf16OpFile) {
  host_.WriteHostFile("C:\\op.ini", Utf16File(u"[GENERAL]\r\nLogfilePath=C:\\logs\\\r\n[RESULTS]\r\n"));
  ASSERT_EQ(InitResults("C:\\op.ini", model_, "C:\\logs\\"), 0);
  // Until the end writes the real values, the file says the run failed; the
  // model starts from success.
  for (const char* key : {"ErrorOccured", "CriticalError"}) {
    EXPECT_EQ(profile::GetPrivateString("RESULTS", key, "?", "C:\\op.ini"), "1") << key;
    EXPECT_EQ(Result(key), "0") << key;
  }
  for (const char* key : {"ErrorMessage", "CriticalErrorMessage"}) {
    EXPECT_EQ(profile::GetPrivateString("RESULTS", key, "?", "C:\\op.ini"), kUnfinishedRunMessage) << key;
    EXPECT_EQ(Result(key), "") << key;
  }
  EXPECT_EQ(profile::GetPrivateString("RESULTS", "RebootRequirement", "absent", "C:\\op.ini"), "absent");
  CErrorMgr mgr;
  mgr.AddMessage(kLevelError, "F::A", "went wrong");
  SetRebootRequirement(model_, kRebootBeforeInstallation);
  SetResults(model_, mgr);
  WriteResults("C:\\op.ini", model_);
  const std::string bytes = host_.ReadHostFile("C:\\op.ini");
  ASSERT_EQ(bytes.substr(0, 2), std::string(text::kUtf16LeBom));
  const std::string content = text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(bytes.substr(2)));
  EXPECT_EQ(content,
            "[GENERAL]\r\nLogfilePath=C:\\logs\\\r\n[RESULTS]\r\nErrorOccured=1\r\nErrorMessage=went wrong\r\n"
            "CriticalError=0\r\nCriticalErrorMessage=\r\nContainCriticalFeatures=0\r\nCriticalFeatureError=0\r\n"
            "RebootRequirement=2\r\nMessageFullPath=C:\\logs\\ReturnedFeatures.xml\r\n");
}

TEST_F(ResultsTest, AReadOnlyOpFileGivesFour) {
  host_.WriteHostFile("C:\\op.ini", Utf16File(u"[GENERAL]\r\n"));
  host_.Platform().Files().SetReadOnly("C:\\op.ini", true);
  EXPECT_EQ(InitResults("C:\\op.ini", model_, ""), 4);
  EXPECT_EQ(host_.ReadHostFile("C:\\op.ini"), Utf16File(u"[GENERAL]\r\n"));
}

// A run whose OPFile was just marked does not write the same keys again:
// that holds only while marking again leaves every byte as it is.
TEST_F(ResultsTest, MarkingAMarkedOpFileAgainChangesNoByte) {
  const std::u16string files[] = {
      u"[GENERAL]\r\nLogfilePath=C:\\logs\\\r\n",
      u"[GENERAL]\r\n[RESULTS]\r\nErrorOccured=0\r\nMessageFullPath=x\r\n[Product1]\r\nA=1\r\n",
      u"[RESULTS]\r\nErrorOccured=0\r\n\r\n[GENERAL]\r\nSessionID=S",
      u"",
  };
  for (const std::u16string& text : files) {
    host_.WriteHostFile("C:\\op.ini", Utf16File(text));
    ASSERT_TRUE(CutResultsAndMarkUnfinished("C:\\op.ini"));
    const std::string marked = host_.ReadHostFile("C:\\op.ini");
    ASSERT_EQ(InitResults("C:\\op.ini", model_, ""), 0);
    EXPECT_EQ(host_.ReadHostFile("C:\\op.ini"), marked) << text::Utf16ToUtf8(text);
  }
  host_.WriteHostFile("C:\\op.ini", std::string("\0\1binary", 8));
  EXPECT_FALSE(CutResultsAndMarkUnfinished("C:\\op.ini")) << "not INI text: left alone, and not marked";
}

}  // namespace
