// The language resource manager: the line rules of the files, loading with
// its fallbacks and retries, and text lookups with their marker texts.
#include "resources/ResourceMgr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "infra/ErrorMgr.h"
#include "platform/Forwarding.h"
#include "platform/WinError.h"
#include "resources/ResourceMgrFixture.h"
#include "platform/SystemMessages.h"

namespace resources_test {
namespace {

using Lines = std::vector<std::string>;
using R = CResourceMgr;

constexpr char kNoLanguage[] = "###_NO_LANGUAGE_LOADED_###";
constexpr char kNotFound[] = "###_RESOURCE_NOT_FOUND_###";
constexpr char kNotInEnglish[] = "###_RESOURCE_DOES_NOT_EXIST_IN_ORIGINAL_ENGLISH_FILE###";

// ---------------------------------------------------------------- line rules

class ResourceMgrLineTest : public ResourceMgrTest {};

TEST_F(ResourceMgrLineTest, KeepsTrimmedPairsAndIgnoresEverythingElse) {
  WriteLanguageFile("C:\\lang", 1031,
                    "; 1=a comment\r\n"
                    "[Texts]\r\n"
                    "=5\r\n"
                    "-6=starts with a dash\r\n"
                    "  12 = Hello  \r\n"
                    "\t13=\tTabs\t\r\n"
                    "14 has no equals sign\r\n"
                    "15=a = b\r\n"
                    "16=first\r\n"
                    "16=second\r\n"
                    "020=a key is matched as written\r\n"
                    "17=");  // the last line needs no line end
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\lang", 1031));

  EXPECT_EQ(R::GetResourceText(12), "Hello");
  EXPECT_EQ(R::GetResourceText(13), "Tabs");
  EXPECT_EQ(R::GetResourceText(15), "a = b");  // the first "=" separates
  EXPECT_EQ(R::GetResourceText(16), "second");
  // No English beside the program: whatever the table lacks is "not found".
  for (int missing : {1, 5, 6, 14, 20, 17}) EXPECT_EQ(R::GetResourceText(missing), kNotFound) << missing;
}

TEST_F(ResourceMgrLineTest, EmptyTextIsTreatedAsMissing) {
  WriteLanguageFile("C:\\lang", 1031, "12=\r\n13=Dreizehn\r\n");
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\lang", 1031));
  EXPECT_EQ(R::GetResourceText(12), kNotFound);

  WriteProgramEnglish("12=Twelve\r\n13=Thirteen\r\n");
  EXPECT_EQ(R::GetResourceText(12), "Twelve");
  EXPECT_EQ(R::GetResourceText(13), "Dreizehn");
}

TEST_F(ResourceMgrLineTest, Utf16AndAnsiFilesGiveTheSameTable) {
  // Code page 1252 on the host: E4 is a-umlaut, DF sharp s, 80 the euro sign.
  WriteLanguageFile("C:\\ansi", 1031, "; Deutsch\r\n1=Gr\xFC\xDF" "e\r\n  2 = 5 \x80  \r\n3=\xC4nderung\n4=plain\r\n");
  WriteLanguageFile("C:\\utf16", 1031,
                    Utf16File(u"; Deutsch\r\n1=Gr\u00FC\u00DFe\r\n  2 = 5 \u20AC  \r\n3=\u00C4nderung\n4=plain\r\n"));
  const Lines expected = {"Gr\xC3\xBC\xC3\x9F" "e", "5 \xE2\x82\xAC", "\xC3\x84nderung", "plain"};

  for (const char* directory : {"C:\\ansi", "C:\\utf16"}) {
    R::Reset();
    CErrorMgr errorMgr;
    ASSERT_TRUE(R::LoadResource(errorMgr, directory, 1031)) << directory;
    Lines texts;
    for (int number = 1; number <= 4; ++number) texts.push_back(R::GetResourceText(number));
    EXPECT_EQ(texts, expected) << directory;
  }
}

TEST_F(ResourceMgrLineTest, ArbitraryBytesDoNotStopTheReader) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  constexpr char kTail[] = "\r\n8=a\0b\r\n\r\r7=ok\r\n";
  bytes.append(kTail, sizeof kTail - 1);
  WriteLanguageFile("C:\\ansi", 1031, bytes);
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\ansi", 1031));
  EXPECT_EQ(R::GetResourceText(7), "ok");
  EXPECT_EQ(R::GetResourceText(8), "a");  // a text ends at its NUL

  // A lone surrogate becomes U+FFFD; an odd byte at the end is dropped.
  WriteLanguageFile("C:\\utf16", 1033, Utf16File(u"7=x\xD800y\r\n8=last\r\n") + "\x41");
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\utf16", 1033));
  EXPECT_EQ(R::GetResourceText(7), "x\xEF\xBF\xBDy");
  EXPECT_EQ(R::GetResourceText(8), "last");
}

// ------------------------------------------------------------------- loading

class ResourceMgrLoadTest : public ResourceMgrTest {};

TEST_F(ResourceMgrLoadTest, LoadedLanguageIsNotReadAgainEvenFromAnotherDirectory) {
  WriteLanguageFile("C:\\a", 1031, "1=from a\r\n");
  WriteLanguageFile("C:\\b", 1031, "1=from b\r\n");
  CErrorMgr first;
  ASSERT_TRUE(R::LoadResource(first, "C:\\a", 1031));
  EXPECT_EQ(R::LoadedLanguage(), 1031);

  CErrorMgr second;
  EXPECT_TRUE(R::LoadResource(second, "C:\\b", 1031));
  EXPECT_TRUE(R::LoadResourceP(second, "C:\\b", 1031, false));
  EXPECT_EQ(Entries(second), Lines{});  // not even the existence check
  EXPECT_EQ(R::GetResourceText(1), "from a");
}

TEST_F(ResourceMgrLoadTest, FamilyLanguageStandsInForAMissingOne) {
  WriteLanguageFile("C:\\lang", 2055, "1=Schweiz\r\n");
  CErrorMgr errorMgr;
  EXPECT_TRUE(R::LoadResource(errorMgr, "C:\\lang\\\\", 1031));  // trailing backslashes are dropped
  EXPECT_EQ(R::LoadedLanguage(), 2055);
  EXPECT_EQ(R::GetResourceText(1), "Schweiz");
  EXPECT_EQ(Entries(errorMgr),
            (Lines{
                "4|CResourceMgr::LoadResourceP|CStdTool::FileExists():  Tarvo_1031.ulf  NOT exist",
                "4|CResourceMgr::LoadResourceP|The primary ressource file C:\\lang\\Tarvo_1031.ulf could not be found",
                "2|CResourceMgr::ReturnAllLanguagesIds|Looking for available language resource files:",
                "2|CResourceMgr::ReturnAllLanguagesIds|  found Tarvo_2055.ulf",
                "2|CResourceMgr::LoadResource| Using found family language \"2055\" instead of the missing language "
                "\"1031\"",
                "2|CResourceMgr::LoadResource|LoadResourceP  second Language",
                "0|CResourceMgr::LoadResourceP|  CStdTool::FileExists():  Tarvo_2055.ulf  exist",
                "2|CResourceMgr::LoadResourceP|Language resources were loaded: C:\\lang\\Tarvo_2055.ulf",
            }));
  EXPECT_EQ(errorMgr.GetHighestLevel(), kLevelWarning);
}

TEST_F(ResourceMgrLoadTest, WithoutTheLanguageOrItsFamilyEnglishIsLoadedButTheCallFails) {
  WriteLanguageFile("C:\\lang", 1033, "1=English\r\n");
  WriteLanguageFile("C:\\lang", 1036, "1=Fran\xE7" "ais\r\n");
  CErrorMgr errorMgr;
  EXPECT_FALSE(R::LoadResource(errorMgr, "C:\\lang", 1031));
  EXPECT_EQ(R::LoadedLanguage(), 1033);
  EXPECT_EQ(R::GetResourceText(1), "English");
  EXPECT_EQ(Entries(errorMgr),
            (Lines{
                "4|CResourceMgr::LoadResourceP|CStdTool::FileExists():  Tarvo_1031.ulf  NOT exist",
                "4|CResourceMgr::LoadResourceP|The primary ressource file C:\\lang\\Tarvo_1031.ulf could not be found",
                "2|CResourceMgr::ReturnAllLanguagesIds|Looking for available language resource files:",
                "2|CResourceMgr::ReturnAllLanguagesIds|  found Tarvo_1033.ulf",
                "2|CResourceMgr::ReturnAllLanguagesIds|  found Tarvo_1036.ulf",
                "2|CResourceMgr::LoadResource| No matching family language was found.",
                "2|CResourceMgr::LoadResource|  try backup language to load",
                "0|CResourceMgr::LoadResourceP|  CStdTool::FileExists():  Tarvo_1033.ulf  exist",
                "2|CResourceMgr::LoadResourceP|Language resources were loaded: C:\\lang\\Tarvo_1033.ulf",
                "2|CResourceMgr::LoadResourceP|Backup language resources could be loaded successfully",
            }));
}

TEST_F(ResourceMgrLoadTest, MissingEnglishBackupIsCritical) {
  WriteLanguageFile("C:\\lang", 1036, "1=Fran\xE7" "ais\r\n");
  CErrorMgr errorMgr;
  EXPECT_FALSE(R::LoadResource(errorMgr, "C:\\lang", 1031));
  EXPECT_EQ(R::LoadedLanguage(), 0);
  EXPECT_EQ(errorMgr.GetHighestLevel(), kLevelCritical);
  const Lines entries = Entries(errorMgr);
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(Lines(entries.end() - 2, entries.end()),
            (Lines{
                "4|CResourceMgr::LoadResourceP|CStdTool::FileExists():  Tarvo_1033.ulf  NOT exist",
                "6|CResourceMgr::LoadResourceP|The primary and the backup ressource file C:\\lang\\Tarvo_1033.ulf "
                "could not be found",
            }));
}

TEST_F(ResourceMgrLoadTest, MissingEnglishAskedForItselfIsOnlyAWarning) {
  CErrorMgr errorMgr;
  EXPECT_FALSE(R::LoadResource(errorMgr, "C:\\nowhere", 1033));
  EXPECT_EQ(errorMgr.GetHighestLevel(), kLevelWarning);
  EXPECT_EQ(Entries(errorMgr),
            (Lines{
                "4|CResourceMgr::LoadResourceP|CStdTool::FileExists():  Tarvo_1033.ulf  NOT exist",
                "4|CResourceMgr::LoadResourceP|The primary ressource file C:\\nowhere\\Tarvo_1033.ulf could not be "
                "found",
                "2|CResourceMgr::ReturnAllLanguagesIds|Looking for available language resource files:",
                "4|CResourceMgr::ReturnAllLanguagesIds| No language resource files found at C:\\nowhere",
                "2|CResourceMgr::LoadResource| No matching family language was found.",
            }));
}

TEST_F(ResourceMgrLoadTest, FileShorterThanTenBytesIsEmptyAndKeepsThePreviousTable) {
  WriteLanguageFile("C:\\a", 1031, "1=Deutsch\r\n");
  WriteLanguageFile("C:\\b", 1033, "1=abcdefg");  // 9 bytes
  WriteLanguageFile("C:\\c", 1033, "1=abcdefgh");  // 10 bytes
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\a", 1031));

  CErrorMgr empty;
  EXPECT_TRUE(R::LoadResource(empty, "C:\\b", 1033));
  EXPECT_EQ(Entries(empty), (Lines{
                                "0|CResourceMgr::LoadResourceP|  CStdTool::FileExists():  Tarvo_1033.ulf  exist",
                                "4|CResourceMgr::LoadResourceP|Language resources is empty: C:\\b\\Tarvo_1033.ulf",
                            }));
  EXPECT_EQ(R::LoadedLanguage(), 1031);
  EXPECT_EQ(R::GetResourceText(1), "Deutsch");

  EXPECT_TRUE(R::LoadResource(errorMgr, "C:\\c", 1033));
  EXPECT_EQ(R::LoadedLanguage(), 1033);
  EXPECT_EQ(R::GetResourceText(1), "abcdefgh");
}

TEST_F(ResourceMgrLoadTest, FileWithoutAnyPairLeavesNothingLoaded) {
  WriteLanguageFile("C:\\a", 1031, "1=Deutsch\r\n");
  WriteLanguageFile("C:\\b", 1033, "; nothing but a comment\r\n[Texts]\r\n");
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\a", 1031));
  EXPECT_TRUE(R::LoadResource(errorMgr, "C:\\b", 1033));
  EXPECT_EQ(R::LoadedLanguage(), 0);
  EXPECT_EQ(R::GetResourceText(1), kNoLanguage);

  // German is read again instead of being taken for loaded over an empty table.
  EXPECT_TRUE(R::LoadResource(errorMgr, "C:\\a", 1031));
  EXPECT_EQ(R::GetResourceText(1), "Deutsch");
}

TEST_F(ResourceMgrLoadTest, LanguageZeroIsNeverTakenForLoaded) {
  CErrorMgr errorMgr;
  EXPECT_FALSE(R::LoadResourceP(errorMgr, "C:\\lang", 0, true));
  EXPECT_EQ(Entries(errorMgr),
            (Lines{
                "4|CResourceMgr::LoadResourceP|CStdTool::FileExists():  Tarvo_0.ulf  NOT exist",
                "4|CResourceMgr::LoadResourceP|The primary ressource file C:\\lang\\Tarvo_0.ulf could not be found",
            }));
}

// ------------------------------------------------------------ locked files

// A file service whose language files cannot be opened until the virtual
// clock reaches `freeAt` (never, by default).
class LockedLanguageFiles : public plat::ForwardingFiles {
 public:
  LockedLanguageFiles(plat::IFiles& base, plat::ISystem& clock, uint32_t code)
      : ForwardingFiles(base), clock_(clock), code_(code) {}
  uint32_t OpenStream(std::string_view path, plat::OpenMode mode, std::unique_ptr<plat::IFileStream>* stream) override {
    if (path.ends_with(".ulf") && clock_.TickCount() < freeAt_) return code_;
    return base_.OpenStream(path, mode, stream);
  }
  void FreeAt(uint32_t tick) { freeAt_ = tick; }

 private:
  plat::ISystem& clock_;
  uint32_t code_;
  uint32_t freeAt_ = UINT32_MAX;
};

class ResourceMgrRetryTest : public ResourceMgrTest {
 protected:
  void Lock(uint32_t code) {
    files_ = std::make_unique<LockedLanguageFiles>(host_.Platform().Files(), host_.Platform().System(), code);
    platform_.SetFiles(files_.get());
  }
  uint32_t Now() { return host_.Platform().System().TickCount(); }

  std::unique_ptr<LockedLanguageFiles> files_;
};

TEST_F(ResourceMgrRetryTest, LockedFileIsTriedElevenMoreTimesOneSecondApart) {
  WriteLanguageFile("C:\\lang", 1031, "1=Deutsch\r\n");
  Lock(winerr::kSharingViolation);
  const uint32_t start = Now();
  CErrorMgr errorMgr;
  EXPECT_FALSE(R::LoadResourceP(errorMgr, "C:\\lang", 1031, true));
  EXPECT_EQ(Now() - start, 11000u);
  EXPECT_EQ(R::LoadedLanguage(), 0);

  Lines expected = {"0|CResourceMgr::LoadResourceP|  CStdTool::FileExists():  Tarvo_1031.ulf  exist"};
  for (int retry = 0; retry < 11; ++retry) {
    expected.push_back(
        "2|CResourceMgr::LoadResourceP|    Language resource  C:\\lang\\Tarvo_1031.ulf  cannot be loaded:  "
        "errorcode=32  try agein after delay");
  }
  expected.push_back(
      "4|CResourceMgr::LoadResourceP|Language resource  C:\\lang\\Tarvo_1031.ulf  cannot be loaded:  errorcode=32 "
      "->The process cannot access the file because it is being used by another process.");
  EXPECT_EQ(Entries(errorMgr), expected);
}

TEST_F(ResourceMgrRetryTest, FileThatBecomesFreeDuringTheRetriesIsLoaded) {
  WriteLanguageFile("C:\\lang", 1031, "1=Deutsch\r\n");
  Lock(winerr::kAccessDenied);
  files_->FreeAt(Now() + 2500);
  CErrorMgr errorMgr;
  EXPECT_TRUE(R::LoadResourceP(errorMgr, "C:\\lang", 1031, true));
  EXPECT_EQ(R::GetResourceText(1), "Deutsch");
  const Lines entries = Entries(errorMgr);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[1], entries[3]);
  EXPECT_EQ(entries[3],
            "2|CResourceMgr::LoadResourceP|    Language resource  C:\\lang\\Tarvo_1031.ulf  cannot be loaded:  "
            "errorcode=5  try agein after delay");
  EXPECT_EQ(entries[4], "2|CResourceMgr::LoadResourceP|Language resources were loaded: C:\\lang\\Tarvo_1031.ulf");
}

TEST(ResourceMgrSystemMessageTest, EnglishTextOfAnErrorCode) {
  EXPECT_EQ(SystemMessageText(winerr::kFileNotFound), "The system cannot find the file specified.");
  EXPECT_EQ(SystemMessageText(winerr::kAccessDenied), "Access is denied.");
  EXPECT_EQ(SystemMessageText(9999), "Unknown error 9999");
  EXPECT_EQ(SystemMessageText(0xFFFFFFFF), "Unknown error -1");
}

// --------------------------------------------------------- language lists

class ResourceMgrLanguageListTest : public ResourceMgrTest {};

TEST_F(ResourceMgrLanguageListTest, ListsLanguageFilesOnly) {
  WriteLanguageFile("C:\\lang", 2055, "1=x\r\n");
  host_.WriteHostFile("C:\\lang\\TARVO_1031.ULF", "1=x\r\n");
  host_.WriteHostFile("C:\\lang\\Tarvo_1033.ulf.bak", "1=x\r\n");
  host_.WriteHostFile("C:\\lang\\Other_1036.ulf", "1=x\r\n");
  std::filesystem::create_directories(host_.HostPath("C:\\lang") + "/Tarvo_3079.ulf");
  CErrorMgr errorMgr;
  const auto languages = R::ReturnAllLanguagesIds(errorMgr, "C:\\lang");
  ASSERT_TRUE(languages.has_value());
  EXPECT_EQ(*languages, (Lines{"1031", "2055"}));
  EXPECT_EQ(Entries(errorMgr),
            (Lines{
                "2|CResourceMgr::ReturnAllLanguagesIds|Looking for available language resource files:",
                "2|CResourceMgr::ReturnAllLanguagesIds|  found TARVO_1031.ULF",
                "2|CResourceMgr::ReturnAllLanguagesIds|  found Tarvo_2055.ulf",
            }));
  EXPECT_FALSE(R::ReturnAllLanguagesIds(errorMgr, "C:\\nowhere").has_value());
}

TEST_F(ResourceMgrLanguageListTest, FamilyIsTheFirstListedLanguageWithTheSamePrimaryLanguage) {
  using List = std::optional<std::vector<std::string>>;
  EXPECT_EQ(R::FindFamilyLanguage(std::nullopt, 1031), -1);
  EXPECT_EQ(R::FindFamilyLanguage(List(Lines{}), 1031), -1);
  EXPECT_EQ(R::FindFamilyLanguage(List(Lines{"1036", "3079", "2055"}), 1031), 3079);
  EXPECT_EQ(R::FindFamilyLanguage(List(Lines{"1036", "3084"}), 1031), -1);
  EXPECT_EQ(R::FindFamilyLanguage(List(Lines{"abc", "2057"}), 1033), 2057);
  EXPECT_EQ(R::FindFamilyLanguage(List(Lines{"1031"}), 1031), 1031);
}

TEST_F(ResourceMgrLanguageListTest, HasLanguageFileLooksForTheExactName) {
  WriteLanguageFile("C:\\lang", 1031, "1=x\r\n");
  EXPECT_TRUE(R::HasLanguageFile("C:\\lang", 1031));
  EXPECT_TRUE(R::HasLanguageFile("C:\\lang\\", 1031));
  EXPECT_FALSE(R::HasLanguageFile("C:\\lang", 2055));
  EXPECT_FALSE(R::HasLanguageFile("C:\\nowhere", 1031));
}

// ------------------------------------------------------------------ lookups

class ResourceMgrLookupTest : public ResourceMgrTest {};

TEST_F(ResourceMgrLookupTest, WithoutALoadedLanguageEveryLookupAnswersTheMarker) {
  WriteProgramEnglish("1=One\r\n");
  for (int number : {0, 1, 191, -1}) EXPECT_EQ(R::GetResourceText(number), kNoLanguage) << number;

  WriteLanguageFile("C:\\lang", 1031, "1=Eins\r\n4=Vier\r\n");
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\lang", 1031));
  R::Reset();
  EXPECT_EQ(R::LoadedLanguage(), 0);
  EXPECT_EQ(R::GetResourceText(1), kNoLanguage);
}

TEST_F(ResourceMgrLookupTest, MissingTextComesFromTheEnglishFileBesideTheProgram) {
  WriteProgramEnglish("1=One\r\n2=Two\r\n");
  WriteLanguageFile("C:\\lang", 1031, "1=Eins\r\n4=Vier\r\n");
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\lang", 1031));
  const size_t entries = errorMgr.Entries().size();

  EXPECT_EQ(R::GetResourceText(2), "Two");
  EXPECT_EQ(R::GetResourceText(3), kNotInEnglish);
  // German stays loaded, although the program's folder has no German file.
  EXPECT_EQ(R::LoadedLanguage(), 1031);
  EXPECT_EQ(R::GetResourceText(1), "Eins");
  EXPECT_EQ(errorMgr.Entries().size(), entries);  // the lookup reports nothing
}

TEST_F(ResourceMgrLookupTest, WithoutEnglishBesideTheProgramTheTextIsNotFound) {
  WriteLanguageFile(kProgramFolder, 2057, "2=Two (GB)\r\n");  // not English 1033, but its family
  WriteLanguageFile("C:\\lang", 1031, "1=Eins\r\n4=Vier\r\n");
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\lang", 1031));
  EXPECT_EQ(R::GetResourceText(2), "Two (GB)");  // the family stands in for English here too

  std::filesystem::remove(host_.HostPath(std::string(kProgramFolder) + "\\Tarvo_2057.ulf"));
  EXPECT_EQ(R::GetResourceText(2), kNotFound);
  EXPECT_EQ(R::GetResourceText(1), "Eins");
}

TEST_F(ResourceMgrLookupTest, LoadedEnglishIsTheOriginalEnglish) {
  // English loaded from elsewhere counts as loaded: the program's copy is not read.
  WriteProgramEnglish("1=One\r\n2=Two\r\n");
  WriteLanguageFile("C:\\lang", 1033, "; English\r\n1=One\r\n");
  CErrorMgr errorMgr;
  ASSERT_TRUE(R::LoadResource(errorMgr, "C:\\lang", 1033));
  EXPECT_EQ(R::GetResourceText(2), kNotInEnglish);
  EXPECT_EQ(R::GetResourceText(1), "One");
}

}  // namespace
}  // namespace resources_test
