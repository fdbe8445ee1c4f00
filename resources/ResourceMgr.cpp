#include "resources/ResourceMgr.h"

#include <climits>
#include <cstdint>

#include "infra/ErrorMgr.h"
#include "infra/StdioFileEx.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"
#include "platform/SystemMessages.h"

CResourceMgr::Table CResourceMgr::table_;

namespace {

constexpr std::string_view kLoadResourceLabel = "CResourceMgr::LoadResource";
constexpr std::string_view kLoadResourcePLabel = "CResourceMgr::LoadResourceP";
constexpr std::string_view kLanguagesLabel = "CResourceMgr::ReturnAllLanguagesIds";

constexpr int kNoLanguage = 0;
constexpr int kNoFamily = -1;
constexpr int kOpenRetries = 11;
constexpr uint32_t kRetryDelayMs = 1000;
constexpr uint64_t kMinimumFileBytes = 10;
constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

std::string_view Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kWhiteSpace) - first + 1);
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string WithoutTrailingBackslashes(std::string_view directory) {
  while (!directory.empty() && directory.back() == '\\') directory.remove_suffix(1);
  return std::string(directory);
}

std::string LanguageFilePath(std::string_view directory, int lcid) {
  return text::Format("%s\\Tarvo_%d.ulf", WithoutTrailingBackslashes(directory).c_str(), lcid);
}

// "Tarvo_1031.ulf" -> "1031". The search matched the name without regard to
// case, so the prefix and suffix are taken off the same way.
std::string LanguageIdOfFileName(std::string_view name) {
  constexpr std::string_view kPrefix = "Tarvo_";
  constexpr std::string_view kSuffix = ".ulf";
  if (text::StartsWithNoCase(name, kPrefix)) name.remove_prefix(kPrefix.size());
  if (name.size() >= kSuffix.size() && text::EqualsNoCase(name.substr(name.size() - kSuffix.size()), kSuffix)) {
    name.remove_suffix(kSuffix.size());
  }
  return std::string(name);
}

// The number at the start of the text, as the C library's atoi reads it
// (blanks, a sign, digits; 0 without digits), saturated instead of overflowing.
int LeadingNumber(std::string_view s) {
  size_t i = s.find_first_not_of(kWhiteSpace);
  if (i == std::string_view::npos) return 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
  int64_t value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void ReportMissingFile(CErrorMgr& errorMgr, const std::string& path, int lcid, bool primary) {
  errorMgr.AddMessageF(kLevelWarning, kLoadResourcePLabel, "CStdTool::FileExists():  Tarvo_%d.ulf  NOT exist", lcid);
  // Without the wanted language the setup still runs; without English it has no texts at all.
  errorMgr.AddMessageF(primary ? kLevelWarning : kLevelCritical, kLoadResourcePLabel,
                       "The %s ressource file %s could not be found", primary ? "primary" : "primary and the backup",
                       path.c_str());
}

}  // namespace

bool CResourceMgr::LoadResource(CErrorMgr& errorMgr, std::string_view directory, int lcid) {
  const std::string dir = WithoutTrailingBackslashes(directory);
  bool ok = LoadResourceP(errorMgr, dir, lcid, true);
  if (ok) return true;

  const int family = FindFamilyLanguage(ReturnAllLanguagesIds(errorMgr, dir), lcid);
  if (family != lcid) {
    if (family == kNoFamily) {
      errorMgr.AddMessage(kLevelInfo, kLoadResourceLabel, " No matching family language was found.");
    } else {
      errorMgr.AddMessageF(kLevelInfo, kLoadResourceLabel,
                           " Using found family language \"%d\" instead of the missing language \"%d\"", family, lcid);
      errorMgr.AddMessage(kLevelInfo, kLoadResourceLabel, "LoadResourceP  second Language");
      ok = LoadResourceP(errorMgr, dir, family, true);
    }
  }
  if (!ok && lcid != kEnglish) {
    // English gives the setup texts to show; the caller still learns that its language is missing.
    errorMgr.AddMessage(kLevelInfo, kLoadResourceLabel, "  try backup language to load");
    LoadResourceP(errorMgr, dir, kEnglish, false);
  }
  return ok;
}

bool CResourceMgr::LoadResourceP(CErrorMgr& errorMgr, std::string_view directory, int lcid, bool primary) {
  // Language 0 means "nothing loaded" and is never taken for a loaded file.
  if (table_.language != kNoLanguage && lcid == table_.language) return true;

  const std::string path = LanguageFilePath(directory, lcid);
  if (!CStdTool::FileExists(path)) {
    ReportMissingFile(errorMgr, path, lcid, primary);
    return false;
  }
  errorMgr.AddMessageF(kLevelDebug, kLoadResourcePLabel, "  CStdTool::FileExists():  Tarvo_%d.ulf  exist", lcid);

  CStdioFileEx file;
  if (!OpenWithRetries(errorMgr, path, file)) return false;
  if (file.GetLength() < kMinimumFileBytes) {
    errorMgr.AddMessage(kLevelWarning, kLoadResourcePLabel, "Language resources is empty: " + path);
    file.Close();
    return true;
  }
  errorMgr.AddMessage(kLevelInfo, kLoadResourcePLabel, "Language resources were loaded: " + path);
  ReadTable(file, lcid);
  file.Close();
  if (!primary) {
    errorMgr.AddMessage(kLevelInfo, kLoadResourcePLabel, "Backup language resources could be loaded successfully");
  }
  return true;
}

// A language file may be held open for a moment by whoever copies it into
// place (an installer, a virus scanner), so a failed open is retried.
bool CResourceMgr::OpenWithRetries(CErrorMgr& errorMgr, const std::string& path, CStdioFileEx& file) {
  uint32_t error = 0;
  for (int retry = 0;; ++retry) {
    // Open reads a file with the byte-order mark as UTF-16 without newline
    // translation, any other as ANSI text in text mode.
    file.SetCodePage(CStdioFileEx::kAnsiCodePage);
    if (file.Open(path, CStdioFileEx::kModeRead | CStdioFileEx::kShareDenyWrite | CStdioFileEx::kTypeText, &error)) {
      return true;
    }
    if (retry == kOpenRetries) break;
    errorMgr.AddMessageF(kLevelInfo, kLoadResourcePLabel,
                         "    Language resource  %s  cannot be loaded:  errorcode=%d  try agein after delay",
                         path.c_str(), static_cast<int>(error));
    plat::Current().System().Sleep(kRetryDelayMs);
  }
  errorMgr.AddMessage(kLevelWarning, kLoadResourcePLabel,
                      text::Format("Language resource  %s  cannot be loaded:  errorcode=%d", path.c_str(),
                                   static_cast<int>(error)) +
                          " ->" + SystemMessageText(error));
  return false;
}

void CResourceMgr::ReadTable(CStdioFileEx& file, int lcid) {
  table_.texts.clear();
  std::string line;
  while (file.ReadString(line)) {
    const std::string_view trimmed = Trim(line);
    // Comments, section headers and empty lines.
    if (trimmed.empty() || !IsAsciiLetterOrDigit(trimmed.front())) continue;
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) continue;
    table_.texts.insert_or_assign(std::string(Trim(trimmed.substr(0, equals))),
                                  std::string(Trim(trimmed.substr(equals + 1))));
  }
  // The language is the one whose pairs fill the table. A file without a
  // single pair leaves nothing loaded rather than an empty table under the
  // previous language's id, which would make a later load of that language
  // believe it is already there.
  table_.language = table_.texts.empty() ? kNoLanguage : lcid;
}

std::optional<std::vector<std::string>> CResourceMgr::ReturnAllLanguagesIds(CErrorMgr& errorMgr,
                                                                            std::string_view directory) {
  errorMgr.AddMessage(kLevelInfo, kLanguagesLabel, "Looking for available language resource files:");
  std::vector<plat::FileEntry> found;
  // A missing folder lists nothing, like an empty one.
  plat::Current().Files().Find(WithoutTrailingBackslashes(directory) + "\\Tarvo_*.ulf", &found);
  std::vector<std::string> languages;
  for (const plat::FileEntry& entry : found) {
    if (entry.IsDirectory()) continue;
    errorMgr.AddMessageF(kLevelInfo, kLanguagesLabel, "  found %s", entry.name.c_str());
    languages.push_back(LanguageIdOfFileName(entry.name));
  }
  if (languages.empty()) {
    errorMgr.AddMessageF(kLevelWarning, kLanguagesLabel, " No language resource files found at %s",
                         std::string(directory).c_str());
    return std::nullopt;
  }
  return languages;
}

int CResourceMgr::FindFamilyLanguage(const std::optional<std::vector<std::string>>& languages, int lcid) {
  if (!languages) return kNoFamily;
  constexpr int kPrimaryLanguageMask = 0xFF;
  for (const std::string& language : *languages) {
    const int candidate = LeadingNumber(language);
    if ((candidate & kPrimaryLanguageMask) == (lcid & kPrimaryLanguageMask)) return candidate;
  }
  return kNoFamily;
}

bool CResourceMgr::HasLanguageFile(std::string_view directory, int lcid) {
  return CStdTool::FileExists(LanguageFilePath(directory, lcid));
}

std::string CResourceMgr::GetResourceText(int number) {
  if (table_.language == kNoLanguage) return std::string(kNoLanguageLoaded);
  if (std::optional<std::string> text = Lookup(number)) return *text;
  return LookUpInProgramEnglish(number);
}

std::optional<std::string> CResourceMgr::Lookup(int number) {
  const auto it = table_.texts.find(std::to_string(number));
  // "12=" stores an empty text, which counts as missing.
  if (it == table_.texts.end() || it->second.empty()) return std::nullopt;
  return it->second;
}

// The English file shipped with the program is the reference every other
// language is translated from, so it may know a text a language file lacks.
// The loaded table is put back as it was afterwards, whatever happened: the
// loaded language may have come from another folder than the program's, and
// one missing text must not switch the rest of the run to English.
std::string CResourceMgr::LookUpInProgramEnglish(int number) {
  Table saved = table_;
  CErrorMgr discarded;  // the lookup itself never fails, so its reports go nowhere
  std::string answer(kResourceNotFound);
  if (LoadResource(discarded, CStdTool::GetExePath(), kEnglish)) {
    const std::optional<std::string> english = Lookup(number);
    answer = english ? *english : std::string(kNotInEnglishFile);
  }
  table_ = std::move(saved);
  return answer;
}

int CResourceMgr::LoadedLanguage() { return table_.language; }

void CResourceMgr::Reset() { table_ = Table(); }
