// Single-key writes and reads straight into INI files: what changes in the
// bytes (only the key's line), where new keys and sections go, the two
// encodings, bad input, and the failures a setup must learn about.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "infra/IniFile.h"
#include "infra/ProfileString.h"
#include "platform/Forwarding.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "support/TestHost.h"

namespace {

std::string Utf16(std::string_view utf8) { return text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(utf8)); }
std::string Utf16File(std::string_view utf8) { return std::string(text::kUtf16LeBom) + Utf16(utf8); }

template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string Written(std::string_view bytes, std::string_view section, std::string_view key, std::string_view value) {
  return profile::WriteStringInBytes(bytes, section, key, value).value_or("<rejected>");
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(byte(generator));
  return bytes;
}

// --- Replacing a value ------------------------------------------------------

TEST(ProfileStringWrite, ReplacingAValueInAUtf16FileChangesOnlyThatKeysBytes) {
  // Around the key: a lone surrogate, a LF-only break, another section with
  // the same key, and an odd trailing byte; none of it may change.
  const std::string head = Utf16File("; setup file\r\n[GENERAL]\r\n") + Bytes("\x00\xD8;\x00\n\x00");
  const std::string tail = Utf16("ResourcePath = C:\\x\r\n[Product1]\r\nSessionID=keep\r\n") + "\x5A";
  const std::string before = head + Utf16("SessionID=88  Tarvo GUI\r\n") + tail;
  EXPECT_EQ(Written(before, "general", "sessionid", "Session_ExportLastFirewall"),
            head + Utf16("SessionID=Session_ExportLastFirewall\r\n") + tail);
}

TEST(ProfileStringWrite, AReplacedLineKeepsTheKeysIndentAndSpelling) {
  EXPECT_EQ(Written("[S]\r\n  errorOCCURED = 1 ; old\r\nnext=1\r\n", "s", "ErrorOccured", "0"),
            "[S]\r\n  errorOCCURED=0\r\nnext=1\r\n");
  EXPECT_EQ(Written("[S]\r\nflag\r\n", "S", "flag", "on"), "[S]\r\nflag=on\r\n");
  EXPECT_EQ(Written("[S]\r\nk=1", "S", "k", ""), "[S]\r\nk=");
}

TEST(ProfileStringWrite, TheFirstMatchingSectionAndKeyCount) {
  EXPECT_EQ(Written("[results]\r\nerroroccured=1\r\nErrorOccured=2\r\n[RESULTS]\r\nErrorOccured=3\r\n", "RESULTS",
                    "ErrorOccured", "0"),
            "[results]\r\nerroroccured=0\r\nErrorOccured=2\r\n[RESULTS]\r\nErrorOccured=3\r\n");
}

TEST(ProfileStringWrite, OnlyKeyLinesInsideTheSectionMatch) {
  // Before the first header and in comments the key does not count.
  EXPECT_EQ(Written("k=1\r\n[S]\r\n;k=2\r\n[T]\r\nk=3\r\n", "S", "k", "9"),
            "k=1\r\n[S]\r\nk=9\r\n;k=2\r\n[T]\r\nk=3\r\n");
  // A header is found by its trimmed name up to the last "]".
  EXPECT_EQ(Written("  [ S ] ; note\r\nk=1\r\n", "S", "K", "2"), "  [ S ] ; note\r\nk=2\r\n");
}

// --- Adding keys and sections -----------------------------------------------

TEST(ProfileStringWrite, ANewKeyGoesAfterTheLastKeyOfItsSection) {
  // Blank and comment lines above the next header stay with that header.
  EXPECT_EQ(Written("[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\ny=2\r\n", "a", "z", "3"),
            "[A]\r\nx=1\r\nz=3\r\n\r\n; about B\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(Written("[A]\r\n[B]\r\n", "A", "z", "3"), "[A]\r\nz=3\r\n[B]\r\n");
  // After a last line without a break, the break comes first.
  EXPECT_EQ(Written("[A]\r\nx=1", "A", "z", "3"), "[A]\r\nx=1\r\nz=3\r\n");
  EXPECT_EQ(Written("[RESULTS]", "RESULTS", "z", "3"), "[RESULTS]\r\nz=3\r\n");
}

TEST(ProfileStringWrite, AMissingSectionIsAddedAtTheEnd) {
  EXPECT_EQ(Written("[A]\r\nx=1\r\n; tail\r\n", "RESULTS", "ErrorOccured", "0"),
            "[A]\r\nx=1\r\n; tail\r\n[RESULTS]\r\nErrorOccured=0\r\n");
  EXPECT_EQ(Written("[A]\r\nx=1", "RESULTS", "ErrorOccured", "0"), "[A]\r\nx=1\r\n[RESULTS]\r\nErrorOccured=0\r\n");
  EXPECT_EQ(Written("", "RESULTS", "ErrorOccured", "0"), "[RESULTS]\r\nErrorOccured=0\r\n");
  EXPECT_EQ(Written(text::kUtf16LeBom, "RESULTS", "ErrorOccured", "0"),
            Utf16File("[RESULTS]\r\nErrorOccured=0\r\n"));
}

TEST(ProfileStringWrite, NewLinesFollowTheFilesLineBreaks) {
  EXPECT_EQ(Written("[A]\nx=1\n", "A", "y", "2"), "[A]\nx=1\ny=2\n");
  EXPECT_EQ(Written("[A]\nx=1", "B", "y", "2"), "[A]\nx=1\n[B]\ny=2\n");
  EXPECT_EQ(Written(Utf16File("[A]\nx=1\n"), "B", "y", "2"), Utf16File("[A]\nx=1\n[B]\ny=2\n"));
}

// --- Encodings and what may be written --------------------------------------

TEST(ProfileStringWrite, EightBitFilesStayInCodePage1252) {
  // Euro and a-umlaut have 1252 bytes; a CJK character does not.
  EXPECT_EQ(Written("[S]\r\nk=\xE4\r\n", "S", "k", "\xE2\x82\xAC\xC3\xA4\xE4\xB8\xAD"), "[S]\r\nk=\x80\xE4?\r\n");
  EXPECT_EQ(Written("[S]\r\n", "S", "\xC3\xA4", "1"), "[S]\r\n\xE4=1\r\n");
  EXPECT_EQ(Written(Utf16File("[S]\r\n"), "S", "k", "\xE4\xB8\xAD"), Utf16File("[S]\r\nk=\xE4\xB8\xAD\r\n"));
}

TEST(ProfileStringWrite, OneWriteIsAlwaysOneLine) {
  EXPECT_EQ(Written("[RESULTS]\r\n", "RESULTS", "ErrorMessage", "Failed:\r\nErrorOccured=0\n\nend"),
            "[RESULTS]\r\nErrorMessage=Failed: ErrorOccured=0 end\r\n");
  EXPECT_EQ(Written("[S]\r\n", "S", "k", Bytes("ab\0cd")), "[S]\r\nk=ab\r\n");
  // Keys that would read back as something else are refused.
  for (std::string_view key : {"", "  ", "a=b", "[x]", ";c"}) {
    EXPECT_FALSE(profile::WriteStringInBytes("[S]\r\n", "S", key, "v").has_value()) << key;
  }
}

// --- Bad input --------------------------------------------------------------

TEST(ProfileStringWrite, OddSizedUtf16FileKeepsItsLastByteBehindTheText) {
  EXPECT_EQ(Written(Utf16File("[RESULTS]\r\n") + "\x7F", "RESULTS", "k", "v"),
            Utf16File("[RESULTS]\r\nk=v\r\n") + "\x7F");
  EXPECT_EQ(Written(Utf16File("[A]\r\n") + "\x7F", "R", "k", "v"), Utf16File("[A]\r\n[R]\r\nk=v\r\n") + "\x7F");
  EXPECT_EQ(Written("\xFF\xFE\x7F", "R", "k", "v"), Utf16File("[R]\r\nk=v\r\n") + "\x7F");
}

TEST(ProfileStringWrite, MegabyteLinesAndNulCharacters) {
  const std::string big(1 << 20, 'v');
  EXPECT_EQ(Written("[S]\r\nk=" + big + "\r\nnext=1\r\n", "S", "k", "small"), "[S]\r\nk=small\r\nnext=1\r\n");
  EXPECT_EQ(Written(Utf16File("[S]\r\nk=" + big), "S", "k", "small"), Utf16File("[S]\r\nk=small"));
  const std::string nuls = Bytes("\0\0[S]\0\r\n\0k=1\r\n");
  EXPECT_EQ(Written(nuls, "S", "k", "2"), nuls + "[S]\r\nk=2\r\n");
}

// Whatever the file holds, the write appends cleanly behind it and reads
// back; the old bytes stay in front untouched.
TEST(ProfileStringWrite, RandomBytesKeepTheirContentAndReadBack) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    // Even seeds make UTF-16 files, of odd and even sizes in turn.
    const bool unicode = seed % 2 == 0;
    std::string bytes = RandomBytes(32 * 1024 + (unicode ? seed / 2 : seed), seed);
    if (unicode) bytes = std::string(text::kUtf16LeBom) + bytes;
    // The lone last byte of an odd UTF-16 file stays last, behind the new text.
    const size_t textEnd = unicode ? bytes.size() - bytes.size() % 2 : bytes.size();
    const std::string updated = Written(bytes, "Tarvo test section", "ErrorOccured", "0");
    EXPECT_EQ(updated.substr(0, textEnd), bytes.substr(0, textEnd)) << "seed " << seed;
    EXPECT_EQ(updated.substr(updated.size() - (bytes.size() - textEnd)), bytes.substr(textEnd)) << "seed " << seed;
    EXPECT_EQ(profile::ReadStringFromBytes(updated, "TARVO TEST SECTION", "erroroccured"), "0") << "seed " << seed;
  }
}

TEST(ProfileStringWrite, WhatIniTextIs) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"[S]\r\n\tk=\xE4\x80\n", true},
      {Utf16File("[S]\r\nk=\xF0\x9F\x98\x80\r\n"), true},  // a surrogate pair
      {Bytes("[S]\r\nk=1\0\r\n"), false},
      {"[S]\r\nSessionID=a\x01""b\r\n", true},  // a control character in a value
      {Utf16("[S]\r\n"), false},                                 // no byte order mark
      {Utf16File("[S]\r\n") + "\x7F", false},                    // half a code unit
      {Utf16File("[S]\r\n") + Bytes("\x00\xD8k\x00"), false},    // a lone high surrogate
      {Utf16File("[S]\r\n") + Bytes("\x00\xDC"), false},          // a lone low surrogate
  };
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(profile::IsIniText(cases[i].first), cases[i].second) << i;
}

// --- Reading ----------------------------------------------------------------

TEST(ProfileStringRead, FindsTrimmedValuesAndDropsOnePairOfQuotes) {
  const std::string file = "[S]\r\n a = 1 \r\nq=\"quoted\"\r\np='x'\r\nhalf=\"x\r\nbare\r\n[T]\r\na=2\r\n";
  EXPECT_EQ(profile::ReadStringFromBytes(file, "s", "A"), "1");
  EXPECT_EQ(profile::ReadStringFromBytes(file, "S", "q"), "quoted");
  EXPECT_EQ(profile::ReadStringFromBytes(file, "S", "p"), "x");
  EXPECT_EQ(profile::ReadStringFromBytes(file, "S", "half"), "\"x");
  EXPECT_EQ(profile::ReadStringFromBytes(file, "S", "bare"), "");
  EXPECT_EQ(profile::ReadStringFromBytes(file, "T", "a"), "2");
  EXPECT_EQ(profile::ReadStringFromBytes(file, "S", "missing"), std::nullopt);
  EXPECT_EQ(profile::ReadStringFromBytes(file, "U", "a"), std::nullopt);
}

// --- Files ------------------------------------------------------------------

// The host's file service with one file held open elsewhere: every open of
// it fails with a sharing violation, as a file locked by another process.
class LockingFiles : public plat::ForwardingFiles {
 public:
  LockingFiles(plat::IFiles& base, std::string locked) : ForwardingFiles(base), locked_(std::move(locked)) {}
  uint32_t OpenStream(std::string_view path, plat::OpenMode mode, std::unique_ptr<plat::IFileStream>* stream) override {
    if (text::EqualsNoCase(path, locked_)) return winerr::kSharingViolation;
    return ForwardingFiles::OpenStream(path, mode, stream);
  }
  uint32_t MoveReplace(std::string_view from, std::string_view to) override {
    if (text::EqualsNoCase(to, locked_)) return winerr::kSharingViolation;
    return ForwardingFiles::MoveReplace(from, to);
  }

 private:
  std::string locked_;
};

class ProfileStringFile : public ::testing::Test {
 protected:
  TestHost host_;
};

TEST_F(ProfileStringFile, WritesIntoTheFileAndReadsBack) {
  host_.WriteHostFile("C:\\Setup\\OPFile.ini", Utf16File("[GENERAL]\r\nSessionID=1\r\n"));
  uint32_t error = 99;
  EXPECT_TRUE(profile::WritePrivateString("RESULTS", "ErrorOccured", "0", "c:\\setup\\opfile.ini", &error));
  EXPECT_EQ(error, winerr::kSuccess);
  EXPECT_EQ(host_.ReadHostFile("C:\\Setup\\OPFile.ini"),
            Utf16File("[GENERAL]\r\nSessionID=1\r\n[RESULTS]\r\nErrorOccured=0\r\n"));
  EXPECT_EQ(profile::GetPrivateString("results", "erroroccured", "dflt", "C:\\Setup\\OPFile.ini"), "0");
  EXPECT_EQ(profile::GetPrivateString("results", "missing", "dflt", "C:\\Setup\\OPFile.ini"), "dflt");
  EXPECT_EQ(profile::GetPrivateString("results", "erroroccured", "dflt", "C:\\Setup\\none.ini"), "dflt");
}

TEST_F(ProfileStringFile, AMissingFileIsCreatedAsEightBitText) {
  EXPECT_TRUE(profile::WritePrivateString("RESULTS", "ErrorOccured", "0", "C:\\new.ini"));
  EXPECT_EQ(host_.ReadHostFile("C:\\new.ini"), "[RESULTS]\r\nErrorOccured=0\r\n");
}

TEST_F(ProfileStringFile, FailuresReturnFalseWithTheWin32CodeAndLeaveTheFile) {
  const std::string content = Utf16File("[RESULTS]\r\nErrorOccured=0\r\n");
  const std::string roHost = host_.WriteHostFile("C:\\ro.ini", content);
  chmod(roHost.c_str(), 0444);
  uint32_t error = 0;
  // Even a write that would change nothing reports the read-only file.
  EXPECT_FALSE(profile::WritePrivateString("RESULTS", "ErrorOccured", "0", "C:\\ro.ini", &error));
  EXPECT_EQ(error, winerr::kAccessDenied);
  EXPECT_EQ(host_.ReadHostFile("C:\\ro.ini"), content);

  EXPECT_FALSE(profile::WritePrivateString("RESULTS", "ErrorOccured", "0", "C:\\no\\such\\op.ini", &error));
  EXPECT_EQ(error, winerr::kPathNotFound);

  EXPECT_FALSE(profile::WritePrivateString("RESULTS", "a=b", "0", "C:\\fresh.ini", &error));
  EXPECT_EQ(error, winerr::kInvalidParameter);
  EXPECT_FALSE(plat::PathExists(host_.Platform().Files(), "C:\\fresh.ini"));

  host_.WriteHostFile("C:\\locked.ini", content);
  {
    LockingFiles files(host_.Platform().Files(), "C:\\locked.ini");
    plat::ForwardingPlatform locking(host_.Platform());
    locking.SetFiles(&files);
    plat::ScopedPlatform installed(locking);
    EXPECT_FALSE(profile::WritePrivateString("RESULTS", "ErrorOccured", "1", "C:\\locked.ini", &error));
    EXPECT_EQ(error, winerr::kSharingViolation);
  }
  EXPECT_EQ(host_.ReadHostFile("C:\\locked.ini"), content);
}

// The start of a run: the old results are cut, then the first keys are
// written one by one and land, in order, at the end of the file.
TEST_F(ProfileStringFile, ResultsWrittenAfterTheCutFollowTheHeader) {
  const std::string head = "[GENERAL]\r\nSessionID=7\r\n[Product1]\r\nUpgradeCode={X}\r\n[RESULTS]\r\n";
  host_.WriteHostFile("C:\\op.ini", Utf16File(head + "ErrorOccured=1\r\nErrorMessage=old\r\n"));
  CIniFile ini;
  ini.CutResultsSection("C:\\op.ini");
  for (auto [key, value] : {std::pair{"ErrorOccured", "0"}, {"ErrorMessage", ""}, {"CriticalError", "0"}}) {
    EXPECT_TRUE(profile::WritePrivateString("RESULTS", key, value, "C:\\op.ini")) << key;
  }
  EXPECT_EQ(host_.ReadHostFile("C:\\op.ini"),
            Utf16File(head + "ErrorOccured=0\r\nErrorMessage=\r\nCriticalError=0\r\n"));
  ASSERT_EQ(ini.Load("C:\\op.ini"), "");
  EXPECT_EQ(ini.GetValue("Results", "ErrorOccured"), "0");
}

// Several keys in one replacement: the bytes of one write after the other,
// and nothing at all when one of the keys cannot be written.
TEST_F(ProfileStringFile, SeveralKeysAtOnceGiveTheBytesOfSingleWrites) {
  const std::string start = Utf16File("[GENERAL]\r\nSessionID=7\r\n[RESULTS]\r\nErrorMessage=old\r\n");
  host_.WriteHostFile("C:\\one.ini", start);
  host_.WriteHostFile("C:\\all.ini", start);
  const profile::KeyValues keys = {{"ErrorOccured", "1"}, {"errormessage", "new"}, {"ErrorOccured", "2"}};
  for (const auto& [key, value] : keys) EXPECT_TRUE(profile::WritePrivateString("RESULTS", key, value, "C:\\one.ini"));
  EXPECT_TRUE(profile::WritePrivateStrings("RESULTS", keys, "C:\\all.ini"));
  EXPECT_EQ(host_.ReadHostFile("C:\\all.ini"), host_.ReadHostFile("C:\\one.ini"));
  EXPECT_EQ(profile::GetPrivateString("RESULTS", "ErrorOccured", "", "C:\\all.ini"), "2");

  uint32_t error = 0;
  EXPECT_FALSE(profile::WritePrivateStrings("RESULTS", {{"CriticalError", "1"}, {"a=b", "0"}}, "C:\\all.ini", &error));
  EXPECT_EQ(error, winerr::kInvalidParameter);
  EXPECT_EQ(host_.ReadHostFile("C:\\all.ini"), host_.ReadHostFile("C:\\one.ini"));
}

}  // namespace
