#include <gtest/gtest.h>

#include "infra/ErrorMgr.h"
#include "platform/Registry.h"
#include "support/TestHost.h"

namespace {

class ErrorMgrTest : public ::testing::Test {
 protected:
  ErrorMgrTest() { mainLog_.Init("C:\\logs\\Tarvo.log"); host_.Platform().Files().MakeDirectory("C:\\logs"); }
  std::string Log() { return host_.ReadHostFile("C:\\logs\\Tarvo.log"); }
  TestHost host_;
  CLogFile mainLog_;
};

TEST_F(ErrorMgrTest, LineFormatReplacesCommasAndPadsTheFunctionColumn) {
  CErrorMgr mgr;
  mgr.AttachLogFiles(&mainLog_, nullptr);
  mgr.AddMessage(kLevelError, "CTarvo::OpenResources", "a, b");
  EXPECT_EQ(Log(), "10:00:00|ADS_ERROR  |CTarvo::OpenResources                  |a| b\r\n");
}

// Every entry is one line of the time|label|function |text shape: a line
// break inside a text is written as one blank, other control characters too.
TEST_F(ErrorMgrTest, LineBreaksInsideATextKeepOneLinePerEntry) {
  CErrorMgr mgr;
  mgr.AttachLogFiles(&mainLog_, nullptr);
  mgr.AddMessage(kLevelError, "F::A", "first\r\nsecond\n\nthird\rfourth");
  mgr.AddMessage(kLevelInfo, "F::B", std::string("tab\tnul\0bell\a", 13));
  EXPECT_EQ(Log(),
            "10:00:00|ADS_ERROR  |F::A                                   |first second third fourth\r\n"
            "10:00:00|           |F::B                                   |tab\tnul bell \r\n");
  EXPECT_TRUE(CLogFile::IsLogText(Log()));
}

TEST_F(ErrorMgrTest, LongFunctionLabelsAreCutAfter45Characters) {
  CErrorMgr mgr;
  mgr.AttachLogFiles(&mainLog_, nullptr);
  const std::string label(50, 'F');
  mgr.AddMessage(kLevelInfo, label, "x");
  EXPECT_EQ(Log(), "10:00:00|           |" + std::string(45, 'F') + " |x\r\n");
}

TEST_F(ErrorMgrTest, DebugEntriesAreHeldBackUntilTheFirstWarning) {
  CErrorMgr mgr;
  mgr.AttachLogFiles(&mainLog_, nullptr);
  mgr.AddMessage(kLevelDebug, "F::A", "trace");
  mgr.AddMessage(kLevelInfo, "F::B", "info");
  EXPECT_EQ(Log().find("trace"), std::string::npos);
  mgr.AddMessage(kLevelWarning, "F::C", "careful");
  // The flush that wrote the warning had passed the debug entry already; the
  // next one writes it first, right after the warning's line.
  EXPECT_EQ(Log().find("trace"), std::string::npos);
  mgr.AddMessage(kLevelInfo, "F::D", "next");
  const std::string log = Log();
  const size_t info = log.find("|info"), warning = log.find("careful"), trace = log.find("DB:  trace");
  ASSERT_NE(trace, std::string::npos);
  EXPECT_LT(info, warning);
  EXPECT_LT(warning, trace);
  EXPECT_LT(trace, log.find("|next"));
}

TEST_F(ErrorMgrTest, DebugEntriesNeverAppearWithoutAWarning) {
  {
    CErrorMgr mgr;
    mgr.AttachLogFiles(&mainLog_, nullptr);
    mgr.AddMessage(kLevelDebug, "F::A", "trace");
    mgr.AddMessage(kLevelInfo, "F::B", "info");
  }
  EXPECT_EQ(Log().find("trace"), std::string::npos);
}

TEST_F(ErrorMgrTest, LoggingLevelAboveTenWritesDebugEntriesAtOnce) {
  plat::HKey key = plat::kNullKey;
  host_.Platform().Registry().CreateKey(plat::kHkeyLocalMachine, "SOFTWARE\\Norvale\\OXLAN\\Global",
                                        plat::kKeyAllAccess, &key, nullptr);
  host_.Platform().Registry().SetValue(key, "LOGGINGLEVEL", plat::kRegSz, plat::MakeRegSz("11"));
  CErrorMgr mgr;
  mgr.AttachLogFiles(&mainLog_, nullptr);
  mgr.AddMessage(kLevelDebug, "F::A", "trace");
  EXPECT_EQ(Log(), "10:00:00|           |F::A                                   |DB:  trace\r\n");
}

TEST_F(ErrorMgrTest, CriticalFeatureFlagRaisesErrorsToCritical) {
  CErrorMgr mgr;
  mgr.AttachLogFiles(&mainLog_, nullptr);
  mgr.AddMessage(kLevelWarning, "F::A", "w");
  EXPECT_EQ(mgr.GetHighestLevel(), kLevelWarning);
  EXPECT_FALSE(mgr.IsError());
  mgr.SetCriticalFeature(true);
  mgr.AddMessage(kLevelError, "F::B", "e");
  EXPECT_EQ(mgr.GetHighestLevel(), kLevelCritical);
  EXPECT_TRUE(mgr.IsError());
  EXPECT_NE(Log().find("|ADS_ERROR  |F::B"), std::string::npos);
  std::vector<std::string> messages;
  mgr.GetErrorMessages(&messages);
  EXPECT_EQ(messages, std::vector<std::string>{"e"});
  mgr.ResetMessages();
  EXPECT_EQ(mgr.GetHighestLevel(), -1);
  EXPECT_FALSE(mgr.IsCriticalFeature());
  EXPECT_TRUE(mgr.IsDebug());  // the debug flag survives a reset
}

TEST_F(ErrorMgrTest, EveryErrorSetsTheErrorFlagAgain) {
  CErrorMgr mgr;
  mgr.AddMessage(kLevelCritical, "F::A", "first");
  mgr.SetError(false);
  mgr.AddMessage(kLevelWarning, "F::B", "warning");
  EXPECT_FALSE(mgr.IsError());
  mgr.AddMessage(kLevelError, "F::C", "below the highest level");
  EXPECT_TRUE(mgr.IsError());
  EXPECT_EQ(mgr.GetHighestLevel(), kLevelCritical);
}

TEST_F(ErrorMgrTest, PendingEntriesAreWrittenOnceLogsAreAttached) {
  CErrorMgr mgr;
  mgr.AddMessage(kLevelInfo, "F::A", "early", "early log text");
  EXPECT_EQ(Log(), "");
  mgr.AttachLogFiles(&mainLog_, nullptr);
  mgr.FlushToLog();
  EXPECT_NE(Log().find("|early log text\r\n"), std::string::npos);
  EXPECT_EQ(mgr.Entries()[0]->message, "early");
}

TEST_F(ErrorMgrTest, RepositoryLogDifferingOnlyInCaseGetsEveryLine) {
  host_.Platform().Files().MakeDirectory("C:\\Repo");
  auto repository = std::make_unique<CLogFile>();
  repository->Init("C:\\LOGS\\tarvo.log");
  CErrorMgr mgr;
  mgr.AttachLogFiles(&mainLog_, std::move(repository));
  ASSERT_NE(mgr.RepositoryLog(), nullptr);
  mgr.AddMessage(kLevelInfo, "F::A", "once");
  // Both names reach one file on this host: the line arrives twice.
  const std::string log = Log();
  EXPECT_NE(log.find("once"), log.rfind("once"));
  auto same = std::make_unique<CLogFile>();
  same->Init("C:\\logs\\Tarvo.log");
  CErrorMgr other;
  other.AttachLogFiles(&mainLog_, std::move(same));
  EXPECT_EQ(other.RepositoryLog(), nullptr);
}

TEST_F(ErrorMgrTest, HeaderDescribesTheCallAndTheMachine) {
  host_.Platform().Files().MakeDirectory("C:\\Repo");
  auto repository = std::make_unique<CLogFile>();
  repository->Init("C:\\Repo\\Tarvo.log");
  CErrorMgr mgr;
  mgr.AttachLogFiles(&mainLog_, std::move(repository));
  mgr.WriteLogHeader("{SESSION}", "ApplyFeatures");
#ifdef TARVO_BUILD_X86
  const std::string platform = "X86", bitness = "  Running on 64-bit Windows";
#else
  const std::string platform = "X64", bitness = "  Running on 64bit Windows";
#endif
  const std::string body = "*** Tarvo " + platform + " is called:   Version 204.0.101.5   2015-12-07\r\n"
                           "*** Date: 2015.12.07 10:00:00\r\n"
                           "*** operating system that is installed:  VersionNT:601  Service Pack:1" + bitness + "\r\n"
                           "*** Setup-SessionId: {SESSION}\r\n"
                           "*** Action: ApplyFeatures\r\n";
  EXPECT_EQ(Log(), "\r\n" + body);
  EXPECT_EQ(host_.ReadHostFile("C:\\Repo\\Tarvo.log"), "WinLog\r\n" + body);
}

// The log stays open between lines, yet each line is readable at once, and
// a log that someone else deletes or renames is made again at its path.
TEST_F(ErrorMgrTest, LogLinesFollowTheFileAtThePath) {
  plat::IFiles& files = host_.Platform().Files();
  ASSERT_TRUE(mainLog_.AppendLine("one"));
  EXPECT_EQ(Log(), "one\r\n");
  ASSERT_EQ(files.RemoveFile("C:\\logs\\Tarvo.log"), 0u);
  ASSERT_TRUE(mainLog_.AppendLine("two"));
  EXPECT_EQ(Log(), "two\r\n");
  ASSERT_EQ(files.MoveReplace("C:\\logs\\Tarvo.log", "C:\\logs\\Old.log"), 0u);
  ASSERT_TRUE(mainLog_.AppendLine("three"));
  EXPECT_EQ(Log(), "three\r\n");
  EXPECT_EQ(host_.ReadHostFile("C:\\logs\\Old.log"), "two\r\n");
  // Another writer appending between our lines is not overwritten.
  ASSERT_EQ(plat::AppendToFile(files, "C:\\logs\\Tarvo.log", "other\r\n"), 0u);
  ASSERT_TRUE(mainLog_.AppendLine("four"));
  EXPECT_EQ(Log(), "three\r\nother\r\nfour\r\n");
}

TEST(LogFileTest, EightBitEncodingOfLogLines) {
  EXPECT_EQ(CLogFile::ToLogBytes("Pr\xC3\xBC" "fung"), "Pr\xFC" "fung");  // U+00FC
  EXPECT_EQ(CLogFile::ToLogBytes("\xE2\x82\xAC"), "\x80");                 // the euro sign
  EXPECT_EQ(CLogFile::ToLogBytes("\xE4\xB8\xAD"), "?");                    // U+4E2D
  EXPECT_EQ(CLogFile::ToLogBytes("\xC2\x80"), "\x80");                     // U+0080 keeps its byte
}


TEST(LogFileTest, LabelTableRows) {
  EXPECT_STREQ(CLogFile::LabelOfRow(CLogFile::RowOfLevel(6)), "CRIT_ERROR ");
  EXPECT_STREQ(CLogFile::LabelOfRow(CLogFile::RowOfLevel(4)), "ADS_WARNING");
  EXPECT_STREQ(CLogFile::LabelOfRow(CLogFile::RowOfLevel(0)), "           ");
  EXPECT_STREQ(CLogFile::LabelOfRow(5), "ADS_WARNING");
  EXPECT_STREQ(CLogFile::LabelOfRow(12), "");
}

}  // namespace
