// Language resources: the numbered texts that feature documents show to the
// user, read from one language file Tarvo_<LCID>.ulf per language. One file
// at a time fills a process-wide table; a missing file falls back to a
// language of the same family and then to English, and a missing text is
// looked up in the English file beside the program or answered with a
// marker text, so a lookup never fails.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CErrorMgr;
class CStdioFileEx;

// Every operation is static: the table is shared by the whole process, so an
// object of the class carries nothing and callers may use either form.
class CResourceMgr {
 public:
  static constexpr int kEnglish = 1033;
  static constexpr std::string_view kNoLanguageLoaded = "###_NO_LANGUAGE_LOADED_###";
  static constexpr std::string_view kResourceNotFound = "###_RESOURCE_NOT_FOUND_###";
  static constexpr std::string_view kNotInEnglishFile = "###_RESOURCE_DOES_NOT_EXIST_IN_ORIGINAL_ENGLISH_FILE###";

  // Loads `lcid` from `directory` (trailing backslashes ignored), else the
  // first language of its family found there. True when one of them is now
  // loaded. When neither is, English from the same directory is loaded as a
  // backup, if it can be, and the result is still false; a missing English
  // backup is recorded as critical.
  static bool LoadResource(CErrorMgr& errorMgr, std::string_view directory, int lcid);
  // Loads one file; `primary` false marks the English backup, whose absence is
  // critical. True without reading when `lcid` is the language loaded already,
  // and for a file shorter than 10 bytes (reported empty, table unchanged).
  // False when the file is missing or stays unreadable through 11 retries at
  // 1000 ms; the table is then unchanged.
  static bool LoadResourceP(CErrorMgr& errorMgr, std::string_view directory, int lcid, bool primary);
  // The LCID texts ("1031") of the files Tarvo_*.ulf in `directory`, in the
  // order the file system lists them; nullopt when there is none.
  static std::optional<std::vector<std::string>> ReturnAllLanguagesIds(CErrorMgr& errorMgr,
                                                                       std::string_view directory);
  // The first listed language whose primary language (the low 8 bits) is that
  // of `lcid`, 1031 and 2055 being one family; -1 when none is, or no list.
  static int FindFamilyLanguage(const std::optional<std::vector<std::string>>& languages, int lcid);
  static bool HasLanguageFile(std::string_view directory, int lcid);
  // The text of `number` in the loaded language, else in the English file in
  // the program's folder, else a marker text (kNoLanguageLoaded,
  // kResourceNotFound, kNotInEnglishFile). The loaded language and its table
  // are the same afterwards.
  static std::string GetResourceText(int number);

  // The LCID whose file filled the table; 0 when nothing is loaded.
  static int LoadedLanguage();
  // Forgets the table and the loaded language (tests).
  static void Reset();

 private:
  // The process-wide state, shared by every user of the class.
  struct Table {
    std::map<std::string, std::string, std::less<>> texts;
    int language = 0;
  };

  static bool OpenWithRetries(CErrorMgr& errorMgr, const std::string& path, CStdioFileEx& file);
  static void ReadTable(CStdioFileEx& file, int lcid);
  static std::optional<std::string> Lookup(int number);
  static std::string LookUpInProgramEnglish(int number);

  static Table table_;
};
