// The INI model on in-memory bytes: the line rules of loading, the encodings,
// the file Save writes, and survival of bytes that are no INI file at all.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "infra/IniFile.h"
#include "platform/text/Text.h"

namespace {

// UTF-16LE bytes of `utf8`, with the byte order mark in front.
std::string Utf16File(std::string_view utf8) {
  return std::string(text::kUtf16LeBom) + text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(utf8));
}

// A string literal with its embedded NULs.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

CIniFile Loaded(std::string_view bytes) {
  CIniFile ini;
  ini.LoadFromBytes(bytes);
  return ini;
}

std::vector<std::string> KeysOf(const CIniSection& section) {
  std::vector<std::string> keys;
  for (const auto& value : section.Values()) keys.push_back(value->GetKey());
  return keys;
}

std::vector<std::string> SectionNames(const CIniFile& ini) {
  std::vector<std::string> names;
  for (const auto& section : ini.Sections()) names.push_back(section->GetName());
  return names;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(byte(generator));
  return bytes;
}

// --- Line rules -----------------------------------------------------------

TEST(IniFileLines, SplitsKeyAndValueAtTheFirstEqualsSignAndTrimsBoth) {
  const CIniFile ini = Loaded("[S]\r\n  key = a = b  \r\nk2=\r\n\tk3\t=\tv ; not a comment # nor this\r\n");
  EXPECT_EQ(ini.GetValue("S", "key"), "a = b");
  ASSERT_NE(ini.FindSection("S")->FindValue("k2"), nullptr);
  EXPECT_EQ(ini.GetValue("S", "k2"), "");
  // No quoting and no inline comments: all after the first "=" is the value.
  EXPECT_EQ(ini.GetValue("S", "k3"), "v ; not a comment # nor this");
}

TEST(IniFileLines, OnlyLettersUnderscoreAndBracketStartAnItem) {
  const CIniFile ini = Loaded("[S]\r\n1key=5\r\n=x\r\n#h=1\r\n;c=2\r\n_under=1\r\n\xE4k=1\r\nlast=1\r\n");
  EXPECT_EQ(KeysOf(*ini.FindSection("S")), (std::vector<std::string>{"_under", "last"}));
  // The other lines are comments of the item that follows them.
  const CIniValue* under = ini.FindSection("S")->FindValue("_under");
  EXPECT_EQ(under->GetComments(), (std::vector<std::string>{"1key=5", "=x", "#h=1", ";c=2"}));
  EXPECT_EQ(ini.FindSection("S")->FindValue("last")->GetComments(), (std::vector<std::string>{"\xC3\xA4k=1"}));
}

TEST(IniFileLines, LineWithoutEqualsSignIsAKeyWithEmptyValue) {
  const CIniFile ini = Loaded("[S]\r\n[abc\r\nflag\r\n");
  const CIniSection& section = *ini.FindSection("S");
  EXPECT_EQ(KeysOf(section), (std::vector<std::string>{"[abc", "flag"}));
  EXPECT_EQ(section.GetValue("[abc"), "");
  EXPECT_EQ(section.GetValue("missing"), "");
  EXPECT_EQ(section.FindValue("missing"), nullptr);
}

TEST(IniFileLines, BlanksInsideTheBracketsBelongToTheSectionName) {
  const CIniFile ini = Loaded("[ Sec ]\r\nk=1\r\n[Sec]\r\nk=2\r\n");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{" Sec ", "Sec"}));
  EXPECT_EQ(ini.GetValue(" Sec ", "k"), "1");
  EXPECT_EQ(ini.GetValue("Sec", "k"), "2");
}

TEST(IniFileLines, SectionsOfTheSameNameInAnyCaseMergeUnderTheFirstSpelling) {
  const CIniFile ini = Loaded("[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\nX=3\r\n");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"A", "B"}));
  // A repeated key keeps its first place and spelling and takes the last value.
  EXPECT_EQ(KeysOf(*ini.FindSection("a")), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(ini.GetValue("A", "x"), "3");
}

TEST(IniFileLines, LookupIgnoresAsciiCaseOnly) {
  const CIniFile ini = Loaded("[GENERAL]\r\nLogfilePath=C:\\logs\\\r\n[\xC4rger]\r\nk=1\r\n");
  EXPECT_EQ(ini.GetValue("general", "logfilepath"), "C:\\logs\\");
  EXPECT_EQ(ini.GetValue("\xC3\x84rger", "K"), "1");
  EXPECT_EQ(ini.FindSection("\xC3\xA4rger"), nullptr);  // a-umlaut is not folded
  EXPECT_EQ(ini.GetValue("nosuch", "k"), "");
  EXPECT_EQ(ini.FindSection("nosuch"), nullptr);  // reading never creates a section
}

TEST(IniFileLines, KeysBeforeTheFirstSectionAreDroppedAndTheirCommentsGoToIt) {
  const CIniFile ini = Loaded("; top\r\nearly=1\r\n\r\n[First]\r\nk=1\r\n");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"First"}));
  EXPECT_EQ(KeysOf(*ini.FindSection("First")), (std::vector<std::string>{"k"}));
  EXPECT_EQ(ini.FindSection("First")->GetComments(), (std::vector<std::string>{"; top", ""}));
}

TEST(IniFileLines, LinesAfterTheLastItemStayPending) {
  const CIniFile ini = Loaded("[S]\r\nk=1\r\n\r\n ; end \r\n");
  EXPECT_EQ(ini.GetPendingComments(), (std::vector<std::string>{"", "; end"}));
}

TEST(IniFileLines, SetValueAppendsNewSectionsAndKeysAndReplacesInPlace) {
  CIniFile ini = Loaded("[S]\r\na=1\r\nb=2\r\n");
  ini.SetValue("s", "A", "changed");
  ini.SetValue("S", "c", "3");
  ini.SetValue("New", "k", "v");
  EXPECT_EQ(KeysOf(*ini.FindSection("S")), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(ini.GetValue("S", "a"), "changed");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"S", "New"}));
  EXPECT_EQ(&ini.GetSection("NEW"), ini.FindSection("new"));
}

TEST(IniFileLines, LoadingAgainReplacesTheModel) {
  CIniFile ini = Loaded("[Old]\r\nk=1\r\n; tail\r\n");
  ini.LoadFromBytes("; only a comment\r\n");
  EXPECT_TRUE(ini.Sections().empty());
  EXPECT_EQ(ini.GetPendingComments(), (std::vector<std::string>{"; only a comment"}));
  ini.LoadFromBytes("; only a comment\r\n");
  EXPECT_EQ(ini.GetPendingComments().size(), 1u);
}

// --- Encodings ------------------------------------------------------------

TEST(IniFileEncoding, ByteOrderMarkSelectsUtf16AndItsAbsenceCodePage1252) {
  const std::string content = "[S]\r\nk=\xC3\xA4\xE2\x82\xAC\xE4\xB8\xAD\r\n";  // a-umlaut, euro, CJK
  const CIniFile unicode = Loaded(Utf16File(content));
  EXPECT_TRUE(unicode.IsUnicode());
  EXPECT_EQ(unicode.GetValue("S", "k"), "\xC3\xA4\xE2\x82\xAC\xE4\xB8\xAD");

  // The same UTF-16 text without the mark is 8-bit text: every line ends at
  // its first NUL byte, so "[S]" is never seen.
  const std::string noMark = Utf16File(content).substr(2);
  const CIniFile ansi = Loaded(noMark);
  EXPECT_FALSE(ansi.IsUnicode());
  EXPECT_TRUE(ansi.Sections().empty());

  const CIniFile cp1252 = Loaded("[S]\r\nk=\xE4\x80\r\n");
  EXPECT_FALSE(cp1252.IsUnicode());
  EXPECT_EQ(cp1252.GetValue("S", "k"), "\xC3\xA4\xE2\x82\xAC");
}

TEST(IniFileEncoding, ALongLineIsOneLineInEitherEncoding) {
  // The line's first 4095 bytes end where text that reads like a key
  // begins: the whole line is the value, and no key "b" appears.
  const std::string value = std::string(4093, 'a') + "b=1";
  const std::string text = "[S]\r\nk=" + value + "\r\nz=2\r\n";
  for (const std::string& file : {text, Utf16File(text)}) {
    const CIniFile ini = Loaded(file);
    EXPECT_EQ(ini.GetValue("S", "k"), value);
    EXPECT_EQ(ini.GetValue("S", "z"), "2");
    EXPECT_EQ(ini.FindSection("S")->Values().size(), 2u);
  }
}

TEST(IniFileEncoding, LineBreaksOfEitherKindAndTheLastLineWithoutOne) {
  const CIniFile ansi = Loaded("[S]\na=1\r\nb=2\r\r\nc=3");
  EXPECT_EQ(ansi.GetValue("S", "a"), "1");
  EXPECT_EQ(ansi.GetValue("S", "b"), "2");
  EXPECT_EQ(ansi.GetValue("S", "c"), "3");
  const CIniFile wide = Loaded(Utf16File("[S]\na=1\r\nc=3"));
  EXPECT_EQ(wide.GetValue("S", "a"), "1");
  EXPECT_EQ(wide.GetValue("S", "c"), "3");
}

// --- Bad input ------------------------------------------------------------

TEST(IniFileBadInput, NulCharactersEndTheirLine) {
  const CIniFile ansi = Loaded(Bytes("[S]\r\nk=ab\0cd\r\n\0[T]\r\nz=1\r\n"));
  EXPECT_EQ(ansi.GetValue("S", "k"), "ab");
  EXPECT_EQ(ansi.FindSection("T"), nullptr);
  EXPECT_EQ(ansi.GetValue("S", "z"), "1");
  const CIniFile wide = Loaded(Utf16File(Bytes("[S]\r\nk=ab\0cd\r\n")));
  EXPECT_EQ(wide.GetValue("S", "k"), "ab");
}

TEST(IniFileBadInput, Utf16FileWithOddByteCountDropsTheLastByte) {
  const CIniFile ini = Loaded(Utf16File("[S]\r\nk=1\r\nlast=xy") + "\x41");
  EXPECT_EQ(ini.GetValue("S", "k"), "1");
  EXPECT_EQ(ini.GetValue("S", "last"), "xy");
  const CIniFile tiny = Loaded("\xFF\xFE\x41");
  EXPECT_TRUE(tiny.IsUnicode());
  EXPECT_TRUE(tiny.Sections().empty());
  EXPECT_TRUE(tiny.GetPendingComments().empty());
}

TEST(IniFileBadInput, LoneSurrogatesBecomeReplacementCharacters) {
  const CIniFile ini = Loaded(Utf16File("[S]\r\nk=") + Bytes("\x00\xD8z\0\r\0\n\0"));
  EXPECT_EQ(ini.GetValue("S", "k"), "\xEF\xBF\xBDz");
}

TEST(IniFileBadInput, MegabyteLineLoads) {
  const std::string line(1 << 20, 'v');
  const CIniFile ansi = Loaded("[S]\r\nk=" + line + "\r\n");
  EXPECT_EQ(ansi.GetValue("S", "k"), line);
  const CIniFile wide = Loaded(Utf16File("[S]\r\nk=" + line + "\r\n"));
  EXPECT_EQ(wide.GetValue("S", "k"), line);
}

// Random bytes load without harm, and what Save makes of them loads back to
// the same model: the writer and the reader agree on every line they meet.
TEST(IniFileBadInput, RandomBytesLoadAndSurviveARoundTrip) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    // Even seeds make UTF-16 files, of odd and even sizes in turn.
    const bool unicode = seed % 2 == 0;
    std::string bytes = RandomBytes(32 * 1024 + (unicode ? seed / 2 : seed), seed);
    if (unicode) bytes = std::string(text::kUtf16LeBom) + bytes;
    const CIniFile first = Loaded(bytes);
    const std::string saved = first.ToBytes();
    const CIniFile second = Loaded(saved);
    EXPECT_EQ(second.ToBytes(), saved) << "seed " << seed;
  }
}

TEST(IniFileBadInput, BracketLinesThatAreNoHeaders) {
  const CIniFile ini = Loaded("[S]\r\n[\r\n]\r\n[]\r\nafter=1\r\n");
  // "[" alone is a key; "]" a comment; "[]" a section without a name, whose
  // keys are dropped like those before the first section.
  EXPECT_EQ(KeysOf(*ini.FindSection("S")), (std::vector<std::string>{"["}));
  ASSERT_NE(ini.FindSection(""), nullptr);
  EXPECT_TRUE(ini.FindSection("")->Values().empty());
}

// --- Save -----------------------------------------------------------------

TEST(IniFileSave, WritesUtf16WithMarkAndCrLfKeepingCommentsAboveTheirItems) {
  const CIniFile ini = Loaded(
      "; head\n"
      "stray=1\n"
      "[General]\r\n"
      "  ; about key\r\n"
      "  Key = V\xE4l \r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1\r\n"
      "[general]\r\n"
      "Second=2\r\n"
      "; tail\r\n"
      "\r\n");
  EXPECT_EQ(ini.ToBytes(), Utf16File("; head\r\n"
                                     "[General]\r\n"
                                     "; about key\r\n"
                                     "Key=V\xC3\xA4l\r\n"
                                     "Second=2\r\n"
                                     "\r\n"
                                     "[Other]\r\n"
                                     "x=1\r\n"
                                     "; tail\r\n"
                                     "\r\n"));
}

TEST(IniFileSave, KeysBeginningWithTheDummyPrefixAreWrittenAsTheirValueAlone) {
  CIniFile ini;
  ini.SetValue("S", "LogValueNameDummy1", "bare line");
  ini.SetValue("S", "LogValueNameDummy", "exact prefix");
  ini.SetValue("S", "logValueNameDummy2", "other case");
  ini.SetValue("S", "LogValueNameDumm", "too short");
  EXPECT_EQ(ini.ToBytes(), Utf16File("[S]\r\n"
                                     "bare line\r\n"
                                     "exact prefix\r\n"
                                     "logValueNameDummy2=other case\r\n"
                                     "LogValueNameDumm=too short\r\n"));
}

TEST(IniFileSave, LineBreaksInsideAValueCannotForgeLines) {
  CIniFile ini;
  ini.SetValue("S", "Message", "first\r\nErrorOccured=0\nthird");
  const CIniFile reloaded = Loaded(ini.ToBytes());
  EXPECT_EQ(KeysOf(*reloaded.FindSection("S")), (std::vector<std::string>{"Message"}));
  EXPECT_EQ(reloaded.GetValue("S", "Message"), "first ErrorOccured=0 third");
}

TEST(IniFileSave, EmptyModelIsJustTheMark) {
  const CIniFile ini;
  EXPECT_EQ(ini.ToBytes(), std::string(text::kUtf16LeBom));
}

}  // namespace
