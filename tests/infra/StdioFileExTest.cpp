// Reading and writing text files through the simulated host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "infra/StdioFileEx.h"
#include "platform/Files.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "support/TestHost.h"

namespace {

using F = CStdioFileEx;

std::string Utf16Le(std::u16string_view text) { return text::Utf16ToUtf16LeBytes(text); }

class StdioFileExTest : public ::testing::Test {
 protected:
  plat::IFiles& files() { return host_.Platform().Files(); }
  bool Exists(std::string_view path) { return plat::PathExists(files(), path); }

  // Every line of the file, read with `flags` in `codePage`.
  std::vector<std::u16string> Lines(std::string_view path, int codePage = 1252, unsigned flags = F::kTypeText) {
    CStdioFileEx file;
    file.SetCodePage(codePage);
    EXPECT_TRUE(file.Open(path, F::kModeRead | flags));
    std::vector<std::u16string> lines;
    std::u16string line;
    while (file.ReadString(line)) lines.push_back(line);
    EXPECT_EQ(file.LastError(), 0u);
    return lines;
  }

  TestHost host_;
};

using LineList = std::vector<std::u16string>;

TEST_F(StdioFileExTest, ReadsUtf16WithMarkAndCrLfAsPlainLines) {
  host_.WriteHostFile("C:\\t\\u.ini", "\xFF\xFE" + Utf16Le(u"[GENERAL]\r\nK=\u4E2D\u00E4\r\n\r\nlast"));
  EXPECT_EQ(Lines("C:\\t\\u.ini"), (LineList{u"[GENERAL]", u"K=\u4E2D\u00E4", u"", u"last"}));

  CStdioFileEx file;
  ASSERT_TRUE(file.Open("c:\\T\\U.INI", F::kModeRead | F::kTypeText));
  EXPECT_TRUE(file.IsUnicode());
  EXPECT_EQ(file.GetOpenFlags(), F::kModeRead | F::kTypeBinary);
  std::string utf8;
  ASSERT_TRUE(file.ReadString(utf8));
  ASSERT_TRUE(file.ReadString(utf8));
  EXPECT_EQ(utf8, "K=\xE4\xB8\xAD\xC3\xA4");
}

TEST_F(StdioFileExTest, Utf16LinesKeepInnerCrAndLoseAnOddLastByte) {
  host_.WriteHostFile("C:\\u.txt", "\xFF\xFE" + Utf16Le(u"a\r\r\nb\rc\n\U0001F600") + "x");
  EXPECT_EQ(Lines("C:\\u.txt"), (LineList{u"a\r", u"b\rc", u"\U0001F600"}));
  host_.WriteHostFile("C:\\mark.txt", "\xFF\xFE");
  EXPECT_EQ(Lines("C:\\mark.txt"), LineList{});
}

TEST_F(StdioFileExTest, ReadsEightBitTextInTheCodePage) {
  host_.WriteHostFile("C:\\a.ini", "Gr\xE4" "fe \x80\r\nzwei\n");
  EXPECT_EQ(Lines("C:\\a.ini"), (LineList{u"Gr\u00E4fe \u20AC", u"zwei"}));
  host_.WriteHostFile("C:\\u8.txt", "Gr\xC3\xA4" "fe\n");
  EXPECT_EQ(Lines("C:\\u8.txt", 65001), LineList{u"Gr\u00E4fe"});
  // The language files keep the default: the host's ANSI code page.
  EXPECT_EQ(Lines("C:\\a.ini", F::kAnsiCodePage), (LineList{u"Gr\u00E4fe \u20AC", u"zwei"}));
}

TEST_F(StdioFileExTest, EmptyFileHasNoLines) {
  host_.WriteHostFile("C:\\empty.txt", "");
  EXPECT_EQ(Lines("C:\\empty.txt"), LineList{});
}

TEST_F(StdioFileExTest, TextModeTurnsCrLfIntoLfBinaryModeDoesNot) {
  host_.WriteHostFile("C:\\cr.txt", "a\r\r\nb\rc\r\nd\r");
  // Text mode: "a\r\r\n" arrives as "a\r\n", whose line end goes as a whole.
  EXPECT_EQ(Lines("C:\\cr.txt"), (LineList{u"a", u"b\rc", u"d"}));
  EXPECT_EQ(Lines("C:\\cr.txt", 1252, F::kTypeBinary), (LineList{u"a\r", u"b\rc", u"d"}));
}

// A line is one line whatever its length: a cut piece would pass for a line
// of its own. Lengths around the 4096-byte buffers of the framework reader.
TEST_F(StdioFileExTest, LongLinesOfEitherEncodingStayWhole) {
  for (const size_t length : {4095u, 4096u, 5000u, 70000u}) {
    host_.WriteHostFile("C:\\long.txt", std::string(length, 'x') + "\xE4\r\nk=1\n");
    EXPECT_EQ(Lines("C:\\long.txt"), (LineList{std::u16string(length, u'x') + u"\u00E4", u"k=1"})) << length;
    host_.WriteHostFile("C:\\long16.txt", "\xFF\xFE" + Utf16Le(std::u16string(length, u'\u4E2D') + u"\r\nk=1"));
    EXPECT_EQ(Lines("C:\\long16.txt"), (LineList{std::u16string(length, u'\u4E2D'), u"k=1"})) << length;
  }
}

TEST_F(StdioFileExTest, LinesEndAtTheirFirstNulWithoutEndingTheFile) {
  host_.WriteHostFile("C:\\nul8.txt", std::string("ab\0cd\n\0x\nef\n", 12));
  EXPECT_EQ(Lines("C:\\nul8.txt"), (LineList{u"ab", u"", u"ef"}));
  host_.WriteHostFile("C:\\nul16.txt", "\xFF\xFE" + Utf16Le(std::u16string(u"ab\0cd\r\n\0x\nef", 12)));
  EXPECT_EQ(Lines("C:\\nul16.txt"), (LineList{u"ab", u"", u"ef"}));
}

TEST_F(StdioFileExTest, DetectsTheMarkOnlyWhenOpeningTextForReading) {
  host_.WriteHostFile("C:\\u.txt", "\xFF\xFE" + Utf16Le(u"x"));
  CStdioFileEx file;
  ASSERT_TRUE(file.Open("C:\\u.txt", F::kModeReadWrite | F::kTypeText));
  EXPECT_TRUE(file.IsUnicode());
  // Byte mode reads the same bytes as 8-bit text, mark included.
  EXPECT_EQ(Lines("C:\\u.txt", 1252, F::kTypeBinary), LineList{u"\u00FF\u00FEx"});
  ASSERT_TRUE(file.Open("C:\\u.txt", F::kModeCreate | F::kModeNoTruncate | F::kModeReadWrite | F::kTypeText));
  EXPECT_FALSE(file.IsUnicode());
}

TEST_F(StdioFileExTest, PositionCountsTheBytesOnDisk) {
  host_.WriteHostFile("C:\\p.txt", "ab\r\ncd\n");
  CStdioFileEx file;
  ASSERT_TRUE(file.Open("C:\\p.txt", F::kModeRead | F::kTypeText));
  std::string line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(file.GetPosition(), 4u);
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(file.GetPosition(), 7u);
  EXPECT_EQ(file.GetLength(), 7u);
  EXPECT_FALSE(file.ReadString(line));
}

TEST_F(StdioFileExTest, WriteUnicodePutsTheMarkBeforeTheFirstWriteOnly) {
  CStdioFileEx file;
  ASSERT_TRUE(file.Open("C:\\out.ini", F::kModeCreate | F::kModeWrite | F::kTypeBinary | F::kModeWriteUnicode));
  ASSERT_TRUE(file.WriteString(u"[A]\r\n"));
  ASSERT_TRUE(file.WriteString("k=\xE2\x82\xAC\n"));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(host_.ReadHostFile("C:\\out.ini"), "\xFF\xFE" + Utf16Le(u"[A]\r\nk=\u20AC\n"));
}

TEST_F(StdioFileExTest, WritesEightBitTextExactlyAsConverted) {
  CStdioFileEx file;
  file.SetCodePage(1252);
  ASSERT_TRUE(file.Open("C:\\out.txt", F::kModeCreate | F::kModeWrite | F::kTypeText));
  ASSERT_TRUE(file.WriteString(u"\u20AC \u4E2D\n"));
  ASSERT_TRUE(file.WriteString("\xC3\xA4\r\n"));
  ASSERT_TRUE(file.WriteString(std::u16string_view(u"cut\0off", 7)));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(host_.ReadHostFile("C:\\out.txt"), "\x80 #\n\xE4\r\ncut");

  file.SetCodePage(65001);
  ASSERT_TRUE(file.Open("C:\\out.txt", F::kModeCreate | F::kModeWrite));
  ASSERT_TRUE(file.WriteString(u"\u4E2D"));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(host_.ReadHostFile("C:\\out.txt"), "\xE4\xB8\xAD");
}

TEST_F(StdioFileExTest, UnknownCodePageWritesNothing) {
  CStdioFileEx file;
  file.SetCodePage(437);
  ASSERT_TRUE(file.Open("C:\\out.txt", F::kModeCreate | F::kModeWrite));
  EXPECT_FALSE(file.WriteString("abc"));
  file.Close();
  EXPECT_EQ(host_.ReadHostFile("C:\\out.txt"), "");
}

TEST_F(StdioFileExTest, WritingAfterReadingContinuesWhereTheReaderStands) {
  host_.WriteHostFile("C:\\rw.txt", "line1\nline2\n");
  CStdioFileEx file;
  ASSERT_TRUE(file.Open("C:\\rw.txt", F::kModeReadWrite | F::kTypeBinary));
  std::string line;
  ASSERT_TRUE(file.ReadString(line));
  ASSERT_TRUE(file.WriteString("XX"));
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "ne2");
  file.Close();
  EXPECT_EQ(host_.ReadHostFile("C:\\rw.txt"), "line1\nXXne2\n");
}

TEST_F(StdioFileExTest, CreateTruncatesUnlessAskedNotTo) {
  host_.WriteHostFile("C:\\keep.txt", "old content");
  CStdioFileEx file;
  ASSERT_TRUE(file.Open("C:\\keep.txt", F::kModeCreate | F::kModeNoTruncate | F::kModeWrite));
  ASSERT_TRUE(file.WriteString("new"));
  file.Close();
  EXPECT_EQ(host_.ReadHostFile("C:\\keep.txt"), "new content");
  ASSERT_TRUE(file.Open("C:\\keep.txt", F::kModeCreate | F::kModeReadWrite));
  std::string line;
  EXPECT_FALSE(file.ReadString(line));
  file.Close();
  EXPECT_EQ(host_.ReadHostFile("C:\\keep.txt"), "");
}

TEST_F(StdioFileExTest, OpenFailuresGiveWindowsCodesAndCreateNothing) {
  CStdioFileEx file;
  uint32_t error = 0;
  EXPECT_FALSE(file.Open("C:\\missing.txt", F::kModeRead | F::kTypeText, &error));
  EXPECT_EQ(error, winerr::kFileNotFound);
  EXPECT_FALSE(file.Open("C:\\no\\such\\out.txt", F::kModeCreate | F::kModeWrite, &error));
  EXPECT_EQ(error, winerr::kPathNotFound);
  EXPECT_EQ(file.LastError(), winerr::kPathNotFound);
  EXPECT_FALSE(Exists("C:\\no"));
  EXPECT_FALSE(file.IsOpen());

  std::string line;
  EXPECT_FALSE(file.ReadString(line));
  EXPECT_FALSE(file.WriteString("x"));
  EXPECT_EQ(file.LastError(), winerr::kInvalidHandle);
}

TEST_F(StdioFileExTest, IsFileUnicodeLooksAtTheFirstTwoBytesOnly) {
  host_.WriteHostFile("C:\\le.txt", "\xFF\xFE");
  host_.WriteHostFile("C:\\be.txt", "\xFE\xFFxx");
  host_.WriteHostFile("C:\\one.txt", "\xFF");
  EXPECT_TRUE(CStdioFileEx::IsFileUnicode("C:\\le.txt"));
  EXPECT_FALSE(CStdioFileEx::IsFileUnicode("C:\\be.txt"));
  EXPECT_FALSE(CStdioFileEx::IsFileUnicode("C:\\one.txt"));
  EXPECT_FALSE(CStdioFileEx::IsFileUnicode("C:\\missing.txt"));
  EXPECT_FALSE(CStdioFileEx::IsFileUnicode("C:\\Windows"));
}

TEST_F(StdioFileExTest, CanOpenForWritingCreatesAnEmptyFileOnlyWhereItCan) {
  EXPECT_FALSE(CStdioFileEx::CanOpenForWriting("C:\\no\\such\\Tarvo.log"));
  EXPECT_FALSE(Exists("C:\\no"));

  ASSERT_TRUE(files().MakeDirectory("C:\\logs") == winerr::kSuccess);
  EXPECT_TRUE(CStdioFileEx::CanOpenForWriting("C:\\logs\\Tarvo.log"));
  EXPECT_TRUE(Exists("C:\\logs\\Tarvo.log"));
  EXPECT_EQ(host_.ReadHostFile("C:\\logs\\Tarvo.log"), "");

  host_.WriteHostFile("C:\\logs\\old.log", "kept");
  EXPECT_TRUE(CStdioFileEx::CanOpenForWriting("C:\\logs\\old.log"));
  EXPECT_EQ(host_.ReadHostFile("C:\\logs\\old.log"), "kept");

  ASSERT_EQ(files().SetReadOnly("C:\\logs\\old.log", true), winerr::kSuccess);
  EXPECT_FALSE(CStdioFileEx::CanOpenForWriting("C:\\logs\\old.log"));
  EXPECT_FALSE(CStdioFileEx::CanOpenForWriting("C:\\logs"));
}

}  // namespace
