// The INI model against files of a simulated host: loading and its error
// text, saving, and the cut of an old [RESULTS] section.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "infra/IniFile.h"
#include "platform/text/Text.h"
#include "support/TestHost.h"

namespace {

std::string Utf16File(std::string_view utf8) {
  return std::string(text::kUtf16LeBom) + text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(utf8));
}

class IniFileHost : public ::testing::Test {
 protected:
  void MakeReadOnly(std::string_view windowsPath) { chmod(host_.HostPath(windowsPath).c_str(), 0444); }

  TestHost host_;
};

// --- Load -------------------------------------------------------------------

TEST_F(IniFileHost, LoadsAFileAndRemembersItsPathAndEncoding) {
  host_.WriteHostFile("C:\\Setup\\OPFile.ini", Utf16File("[GENERAL]\r\nSessionID=42\r\n"));
  CIniFile ini;
  EXPECT_EQ(ini.Load("c:\\setup\\opfile.INI"), "");
  EXPECT_EQ(ini.GetPath(), "c:\\setup\\opfile.INI");
  EXPECT_TRUE(ini.IsUnicode());
  EXPECT_EQ(ini.GetValue("General", "sessionid"), "42");
}

TEST_F(IniFileHost, AFailedLoadReportsTheCodeWithItsTextAndKeepsTheModel) {
  host_.WriteHostFile("C:\\ok.ini", "[S]\r\nk=1\r\n");
  CIniFile ini;
  ASSERT_EQ(ini.Load("C:\\ok.ini"), "");
  EXPECT_EQ(ini.Load("C:\\missing.ini"),
            "Can not read C:\\missing.ini, errorcode=2 ->The system cannot find the file specified.");
  EXPECT_EQ(ini.GetPath(), "C:\\missing.ini");
  EXPECT_FALSE(ini.IsUnicode());
  EXPECT_EQ(ini.GetValue("S", "k"), "1");
  EXPECT_EQ(ini.Load("C:\\no\\such\\op.ini"),
            "Can not read C:\\no\\such\\op.ini, errorcode=3 ->The system cannot find the path specified.");
  EXPECT_EQ(ini.Load("C:\\Windows"), "Can not read C:\\Windows, errorcode=5 ->Access is denied.");
}

TEST_F(IniFileHost, AReadOnlyFileStillLoads) {
  host_.WriteHostFile("C:\\ro.ini", "[S]\r\nk=1\r\n");
  MakeReadOnly("C:\\ro.ini");
  CIniFile ini;
  EXPECT_EQ(ini.Load("C:\\ro.ini"), "");
  EXPECT_EQ(ini.GetValue("S", "k"), "1");
}

// --- Save -------------------------------------------------------------------

TEST_F(IniFileHost, SaveOfAnEightBitFileWritesUtf16AndLoadsBackTheSame) {
  host_.WriteHostFile("C:\\Repo\\Export.ini",
                      "[GENERAL]\r\nSessionID=88  Tarvo GUI\r\n; c\r\n[Product1]\r\nk=\xE4\r\n");
  CIniFile ini;
  ASSERT_EQ(ini.Load("C:\\Repo\\Export.ini"), "");
  EXPECT_FALSE(ini.IsUnicode());
  ASSERT_EQ(ini.Save(), 0);
  EXPECT_TRUE(ini.IsUnicode());
  EXPECT_EQ(host_.ReadHostFile("C:\\Repo\\Export.ini"),
            Utf16File("[GENERAL]\r\nSessionID=88  Tarvo GUI\r\n; c\r\n[Product1]\r\nk=\xC3\xA4\r\n"));
  CIniFile again;
  ASSERT_EQ(again.Load("C:\\Repo\\Export.ini"), "");
  EXPECT_EQ(again.GetValue("product1", "K"), "\xC3\xA4");
}

TEST_F(IniFileHost, SaveThatCannotCreateTheFileReportsAndWritesNothing) {
  CIniFile ini;
  ini.SetValue("S", "k", "v");
  ini.SetPath("C:\\no\\such\\folder\\x.ini");
  EXPECT_NE(ini.Save(), 0);
  EXPECT_FALSE(ini.IsUnicode());

  host_.WriteHostFile("C:\\ro.ini", "old");
  MakeReadOnly("C:\\ro.ini");
  ini.SetPath("C:\\ro.ini");
  EXPECT_NE(ini.Save(), 0);
  EXPECT_EQ(host_.ReadHostFile("C:\\ro.ini"), "old");

  ini.SetPath("");
  EXPECT_NE(ini.Save(), 0);
}

// --- CutResultsSection --------------------------------------------------------

struct CutCase {
  const char* name;
  std::string before;
  std::string after;
};

class IniFileCutResults : public IniFileHost, public ::testing::WithParamInterface<CutCase> {};

TEST_P(IniFileCutResults, DropsTheOldResultsKeysAndNothingElse) {
  const CutCase& c = GetParam();
  host_.WriteHostFile("C:\\op.ini", c.before);
  CIniFile ini;
  ini.CutResultsSection("C:\\op.ini");
  EXPECT_EQ(host_.ReadHostFile("C:\\op.ini"), c.after);
  EXPECT_EQ(ini.IsUnicode(), c.before.starts_with(text::kUtf16LeBom));
  EXPECT_EQ(CIniFile::CutResults(c.before).value_or(c.before), c.after);
}

const std::string kHead = "[GENERAL]\r\nSessionID=1\r\n";

INSTANTIATE_TEST_SUITE_P(
    IniFile, IniFileCutResults,
    ::testing::Values(
        CutCase{"Utf16", Utf16File(kHead + "[RESULTS]\r\nErrorOccured=1\r\nErrorMessage=x\r\n"),
                Utf16File(kHead + "[RESULTS]\r\n")},
        CutCase{"Ansi", kHead + "[RESULTS]\r\nErrorOccured=1\r\n", kHead + "[RESULTS]\r\n"},
        CutCase{"AnsiLf", "[A]\n[RESULTS]\nk=1\n", "[A]\n[RESULTS]\n"},
        CutCase{"FirstOfTwo", kHead + "[RESULTS]\r\na=1\r\n[RESULTS]\r\nb=2\r\n", kHead + "[RESULTS]\r\n"},
        CutCase{"BlankBefore", kHead + " [RESULTS]\r\nk=1\r\n", kHead + " [RESULTS]\r\nk=1\r\n"},
        CutCase{"BlankAfter", kHead + "[RESULTS] \r\nk=1\r\n", kHead + "[RESULTS] \r\nk=1\r\n"},
        CutCase{"OtherCase", Utf16File(kHead + "[Results]\r\nk=1\r\n"), Utf16File(kHead + "[Results]\r\nk=1\r\n")},
        CutCase{"NoResults", Utf16File(kHead), Utf16File(kHead)},
        CutCase{"HeaderLast", kHead + "[RESULTS]", kHead + "[RESULTS]"},
        CutCase{"UnicodeOdd", Utf16File(kHead + "[RESULTS]\r\nk=1\r\n") + "\x01",
                Utf16File(kHead + "[RESULTS]\r\n")},
        // Without the mark the UTF-16 text is 8-bit text whose lines end at a NUL.
        CutCase{"UnicodeWithoutMark", Utf16File("[RESULTS]\r\nk=1\r\n").substr(2),
                Utf16File("[RESULTS]\r\nk=1\r\n").substr(2)},
        CutCase{"Empty", "", ""},
        // Sections after the results stay, with the comments above them.
        CutCase{"SectionAfter",
                kHead + "[RESULTS]\r\nErrorOccured=1\r\n; about P2\r\n\r\n[Product2]\r\nk=1\r\n; end\r\n",
                kHead + "[RESULTS]\r\n; about P2\r\n\r\n[Product2]\r\nk=1\r\n; end\r\n"},
        CutCase{"CommentsBetweenResultKeys", "[RESULTS]\r\na=1\r\n; c\r\nb=2\r\n[P]\r\n", "[RESULTS]\r\n[P]\r\n"},
        CutCase{"LaterResultsSection", "[RESULTS]\r\na=1\r\n[P]\r\nk=1\r\n [results] \r\nb=2\r\n[Q]\r\nq=1",
                "[RESULTS]\r\n[P]\r\nk=1\r\n[Q]\r\nq=1"},
        CutCase{"UnicodeOddSectionAfter", Utf16File("[RESULTS]\r\na=1\r\n[P]\r\nk=1\r\n") + "\x01",
                Utf16File("[RESULTS]\r\n[P]\r\nk=1\r\n") + "\x01"}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

TEST_F(IniFileHost, CutLeavesReadOnlyAndMissingFilesAlone) {
  const std::string content = Utf16File("[RESULTS]\r\nk=1\r\n");
  host_.WriteHostFile("C:\\ro.ini", content);
  MakeReadOnly("C:\\ro.ini");
  CIniFile ini;
  ini.CutResultsSection("C:\\ro.ini");
  EXPECT_EQ(host_.ReadHostFile("C:\\ro.ini"), content);
  EXPECT_TRUE(ini.IsUnicode());

  ini.CutResultsSection("C:\\missing.ini");
  EXPECT_FALSE(ini.IsUnicode());
  EXPECT_FALSE(plat::PathExists(host_.Platform().Files(), "C:\\missing.ini"));
}

TEST_F(IniFileHost, CutThenLoadSeesNoOldResults) {
  host_.WriteHostFile("C:\\op.ini", Utf16File(kHead + "[RESULTS]\r\nErrorOccured=1\r\n"));
  CIniFile ini;
  ini.CutResultsSection("C:\\op.ini");
  ASSERT_EQ(ini.Load("C:\\op.ini"), "");
  ASSERT_NE(ini.FindSection("results"), nullptr);
  EXPECT_TRUE(ini.FindSection("results")->Values().empty());
  EXPECT_EQ(ini.GetValue("GENERAL", "SessionID"), "1");
}

}  // namespace
