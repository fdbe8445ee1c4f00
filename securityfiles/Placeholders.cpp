#include "securityfiles/Placeholders.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "securityfiles/SecurityFileFormat.h"

namespace {

constexpr const char* kLabel = "CXmlAnalyser::RePlaceHolders";
constexpr const char* kLogonUserLabel = "CXmlAnalyser::ReplaceHolderLogonUser";

constexpr const char* kApplyFeaturesMethod = "ApplyFeatures";
constexpr const char* kDummyInstallDir = "Dummy";

// Where the products keep the folder shared by all of them.
constexpr const char* kSharedPathKey = "Software\\Norvale\\OxLan\\Global";
constexpr const char* kSharedPathValue = "SharedPath";

constexpr const char* kLogonUser = "[LOGONUSER]";
constexpr const char* kExePathAttribute = "exepath";
constexpr const char* kValueAttribute = "value";

// The known folders, each with a trailing backslash (empty when the shell
// does not know it).
struct KnownFolders {
  std::string programFiles;
  std::string programFilesX86;
  std::string commonFiles;
  std::string commonFilesX86;
  std::string system;
  std::string systemX86;
  std::string windows;
  std::string commonDocuments;
  std::string commonAppData;
  std::string programData;
};

// Values read once per process. Kept together so that one reset forgets all.
struct ProcessValues {
  std::optional<KnownFolders> folders;
  std::optional<std::string> sharedPath32;
};
ProcessValues g_processValues;

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  if (from.empty()) return s;
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

std::string WithoutTrailingBackslashes(std::string s) {
  while (!s.empty() && s.back() == '\\') s.pop_back();
  return s;
}

std::string WithTrailingBackslash(std::string s) {
  if (!s.empty() && s.back() != '\\') s += '\\';
  return s;
}

std::string FolderPath(int csidl) {
  std::string path;
  if (plat::Current().System().GetFolderPath(csidl, &path) != plat::kSOk) return "";
  return WithTrailingBackslash(std::move(path));
}

KnownFolders ReadKnownFolders() {
  KnownFolders f;
  f.programFiles = FolderPath(plat::csidl::kProgramFiles);
  f.programFilesX86 = FolderPath(plat::csidl::kProgramFilesX86);
  f.commonFiles = FolderPath(plat::csidl::kProgramFilesCommon);
  f.commonFilesX86 = FolderPath(plat::csidl::kProgramFilesCommonX86);
  f.system = FolderPath(plat::csidl::kSystem);
  f.systemX86 = FolderPath(plat::csidl::kSystemX86);
  f.windows = FolderPath(plat::csidl::kWindows);
  f.commonDocuments = FolderPath(plat::csidl::kCommonDocuments);
  f.commonAppData = FolderPath(plat::csidl::kCommonAppData);
  // Windows before 6 had no ProgramData folder; products put their data
  // below Program Files there.
  plat::OsVersionInfoEx version;
  const bool known = plat::Current().System().GetVersionInfo(&version);
  f.programData = known && version.majorVersion >= 6 ? f.commonAppData : f.programFiles;
  return f;
}

const KnownFolders& Folders() {
  if (!g_processValues.folders) g_processValues.folders = ReadKnownFolders();
  return *g_processValues.folders;
}

// SharedPath as stored in the asked registry view; "" when missing.
std::string ReadSharedPath(uint32_t viewFlag) {
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  const uint32_t sam = plat::kKeyQueryValue | plat::kKeyNotify | viewFlag;
  if (registry.OpenKey(plat::kHkeyLocalMachine, kSharedPathKey, sam, &key) != winerr::kSuccess) return "";
  std::string value = CTool::GetRegistryString(key, kSharedPathValue);
  registry.CloseKey(key);
  return value;
}

const std::string& SharedPath32() {
  if (!g_processValues.sharedPath32) {
    const std::string stored = ReadSharedPath(plat::kKeyWow64_32Key);
    g_processValues.sharedPath32 = WithTrailingBackslash(WithoutTrailingBackslashes(stored));
  }
  return *g_processValues.sharedPath32;
}

// Records an error and makes sure the run stops: the error manager raises its
// flag only for an entry above the highest level so far, and the caller
// clears the flag (not the level) before each file.
void ReportError(CErrorMgr& errorMgr, const std::string& message) {
  errorMgr.AddMessage(kLevelError, kLabel, message);
  errorMgr.SetError(true);
}

// ---------------------------------------------------------------------------
// Directories of the product section.

struct Directories {
  std::string install;
  std::string common;
};

// Reads one directory key of the section and reports it ("    InstallDir2= value").
std::string ReadReportedKey(CErrorMgr& errorMgr, const CIniFile& opFile, const std::string& section,
                            const std::string& key) {
  std::string value = opFile.GetValue(section, key);
  errorMgr.AddMessageF(kLevelInfo, kLabel, "    %s= %s", key.c_str(), value.c_str());
  return value;
}

// Reports the general InstallDir of the section (for the first file only).
std::string GeneralInstallDirectory(CErrorMgr& errorMgr, const CIniFile& opFile, const std::string& section,
                                    int fileNumber) {
  std::string general = opFile.GetValue(section, "InstallDir");
  if (fileNumber != 1) return general;
  if (general.empty()) {
    errorMgr.AddMessage(kLevelInfo, kLabel, "    the general 'InstallDir' attribute was not set");
  } else {
    errorMgr.AddMessageF(kLevelInfo, kLabel, "    InstallDir=  %s", general.c_str());
  }
  return general;
}

// The install directory of file K (InstallDirK, else InstallDir, then the
// section's Anchor below it) with its trailing backslash, none for "Dummy";
// nullopt when neither key is set.
std::optional<std::string> InstallDirectory(CErrorMgr& errorMgr, const CIniFile& opFile, const std::string& section,
                                            int fileNumber, std::string install, const std::string& general) {
  if (install.empty()) install = general;
  if (install.empty()) {
    ReportError(errorMgr, text::Format("The InstallDir attribute was not filled in Section: %s  but it's necessary",
                                       section.c_str()));
    return std::nullopt;
  }
  const std::string anchor = opFile.GetValue(section, "Anchor");
  if (!anchor.empty()) install += "\\" + anchor;
  install = WithoutTrailingBackslashes(std::move(install));
  // "Dummy" marks a product without a real folder; it is used as it stands.
  if (install != kDummyInstallDir) {
    install += "\\";
    errorMgr.AddMessageF(kLevelInfo, kLabel, "    used InstallDir%d= %s", fileNumber, install.c_str());
  }
  return install;
}

// The common directory of file K with one trailing backslash; "" when
// neither CommonDirK nor the registry's SharedPath names one.
std::string CommonDirectory(CErrorMgr& errorMgr, int fileNumber, std::string common) {
  if (common.empty()) {
    common = ReadSharedPath(0);
    if (!common.empty()) {
      errorMgr.AddMessageF(kLevelInfo, kLabel, "    read CommonDir from registry: %s ", common.c_str());
    }
  }
  if (common.empty()) return common;
  common = WithoutTrailingBackslashes(std::move(common)) + "\\";
  errorMgr.AddMessageF(kLevelInfo, kLabel, "    used CommonDir%d=  %s ", fileNumber, common.c_str());
  return common;
}

// ---------------------------------------------------------------------------
// One attribute value.

struct Context {
  CErrorMgr& errorMgr;
  const Directories& dirs;
  const KnownFolders& folders;
  bool applying;  // an unresolvable directory is an error rather than a warning
};

struct Placeholder {
  const char* text;
  const std::string& value;
  bool directory;     // [INSTALLDIR] / [COMMONDIR]: reported when unresolvable
  bool spacedReport;  // the report of [CommonAppDataFolder] has single blanks around "to"
};

std::vector<Placeholder> PlaceholderTable(const Context& ctx) {
  const KnownFolders& f = ctx.folders;
  return {
      {"[INSTALLDIR]", ctx.dirs.install, true, false},
      {"[COMMONDIR]", ctx.dirs.common, true, false},
      {"[COMMONDOCUMENTSFOLDER]", f.commonDocuments, false, false},
      {"[CommonAppDataFolder]", f.commonAppData, false, true},
      {"[ProgramData]", f.programData, false, false},
      {"[ProgramFilesFolder]", f.programFiles, false, false},
      {"[CommonFilesFolder]", f.commonFiles, false, false},
      {"[SYSTEMFOLDER]", f.system, false, false},
      {"[SystemFolder]", f.system, false, false},
      {"[WindowsFolder]", f.windows, false, false},
  };
}

// Every resolved value ends with a backslash, so the separator that follows
// a placeholder in the file ("[INSTALLDIR]\bin", even "[INSTALLDIR]\\bin")
// would double it. Only the separators after placeholders that will be
// replaced are dropped: a "]\" elsewhere is part of a real name
// ("C:\Data[1]\x"), and an unresolved placeholder keeps its text.
std::string DropSeparatorsAfterPlaceholders(std::string v, const std::vector<Placeholder>& table) {
  for (const Placeholder& p : table) {
    if (p.value.empty()) continue;
    const std::string_view token(p.text);
    for (size_t pos = v.find(token); pos != std::string::npos; pos = v.find(token, pos + token.size())) {
      const size_t after = pos + token.size();
      size_t end = after;
      while (end < v.size() && end - after < 2 && v[end] == '\\') ++end;
      v.erase(after, end - after);
    }
  }
  return v;
}

void ReplaceBracketPlaceholders(const Context& ctx, std::string& v) {
  const std::vector<Placeholder> table = PlaceholderTable(ctx);
  v = DropSeparatorsAfterPlaceholders(std::move(v), table);
  const std::string before = v;
  for (const Placeholder& p : table) {
    if (v.find(p.text) == std::string::npos) continue;
    if (p.value.empty()) {
      if (p.directory) {
        const std::string message = text::Format("  Path cannot be resolved: '%s'", v.c_str());
        if (ctx.applying) {
          ReportError(ctx.errorMgr, message);
        } else {
          ctx.errorMgr.AddMessage(kLevelWarning, kLabel, message);
        }
      }
      continue;
    }
    v = ReplaceAll(std::move(v), p.text, p.value);
    const char* format =
        p.spacedReport ? "  path was changed from '%s' to '%s'" : "  path was changed from '%s'  to  '%s'";
    ctx.errorMgr.AddMessageF(kLevelInfo, kLabel, format, before.c_str(), v.c_str());
  }
}

// Only the first %-delimited token of a value is looked at.
void ReplaceEnvironmentToken(const Context& ctx, std::string& v) {
  const size_t first = v.find('%');
  if (first == std::string::npos) return;
  const size_t second = v.find('%', first + 1);
  if (second == std::string::npos) return;
  const std::string token = v.substr(first, second - first + 1);
  const char* report = nullptr;
  const std::string* folder = nullptr;
  // %SystemRoot% is taken as the system folder (system32), not as the Windows
  // folder the environment variable names: security files are written so.
  if (text::EqualsNoCase(token, "%SystemRoot%")) {
    report = "  Replace SystemRoot: ";
    folder = &ctx.folders.system;
  } else if (text::EqualsNoCase(token, "%Windir%")) {
    report = "  Replace Windir: ";
    folder = &ctx.folders.windows;
  }
  if (!folder || folder->empty()) return;
  v = ReplaceAll(std::move(v), token, *folder);
  // The report shows blanks for the percent signs that are left.
  ctx.errorMgr.AddMessage(kLevelInfo, kLabel, report + ReplaceAll(v, "%", " "));
}

// A 32-bit product on 64-bit Windows lives in the 32-bit folders. Common
// files come before program files: the folder lies inside program files,
// while its 32-bit counterpart need not lie inside the 32-bit one.
void RedirectToWowFolders(const Context& ctx, std::string& v) {
  struct Step {
    const std::string& from;
    const std::string& to;
    const char* missing;
  };
  constexpr const char* kNoSharedPath = "  wow registry shared path not found, cannot chage to wow path";
  constexpr const char* kNoWowPath = "  path cannot change to wow path";
  const KnownFolders& f = ctx.folders;
  const std::array<Step, 4> steps = {{
      {ctx.dirs.common, SharedPath32(), kNoSharedPath},
      {f.commonFiles, f.commonFilesX86, kNoSharedPath},
      {f.programFiles, f.programFilesX86, kNoWowPath},
      {f.system, f.systemX86, kNoWowPath},
  }};
  for (const Step& step : steps) {
    // An unknown folder cannot be found in the text.
    if (step.from.empty() || step.from == step.to || v.find(step.from) == std::string::npos) continue;
    if (step.to.empty()) {
      ctx.errorMgr.AddMessage(kLevelInfo, kLabel, step.missing);
      continue;
    }
    v = ReplaceAll(std::move(v), step.from, step.to);
    ctx.errorMgr.AddMessageF(kLevelInfo, kLabel, "  path was changed to x86 folder: '%s'", v.c_str());
  }
}

// Joining a folder with a trailing backslash to a text that starts with one
// doubles it; every pair becomes one. A value that begins with two
// backslashes (a network path, written so or from a directory that is one)
// keeps them, or it would name a folder on the current drive instead.
std::string CollapseDoubleBackslashes(std::string v) {
  const bool unc = v.size() >= 2 && v[0] == '\\' && v[1] == '\\';
  v = ReplaceAll(std::move(v), "\\\\", "\\");
  if (unc && !(v.size() >= 2 && v[1] == '\\')) v.insert(0, "\\");
  return v;
}

std::string ResolveValue(const Context& ctx, const xml::Node& element, const std::string& name,
                         const std::string& original, bool wow) {
  std::string v = original;
  if (v.find('[') != std::string::npos) {
    ReplaceBracketPlaceholders(ctx, v);
    if (v.find(kLogonUser) != std::string::npos) CPlaceholders::ReplaceHolderLogonUser(ctx.errorMgr, element);
  }
  if (v.find('%') != std::string::npos) ReplaceEnvironmentToken(ctx, v);
  if (wow && (name == kExePathAttribute || name == kValueAttribute)) RedirectToWowFolders(ctx, v);
  return CollapseDoubleBackslashes(std::move(v));
}

// ---------------------------------------------------------------------------
// The walk.

bool RequestsWow(const xml::Node& element) {
  const xml::Node attribute = element.GetAttributeNode(secfile::kOsWowAttribute);
  return attribute && text::AsciiUpper(attribute.NodeValue()) == "YES" && CStdTool::Is64BitWindows();
}

void ResolveElement(const Context& ctx, const xml::Node& element) {
  const bool wow = RequestsWow(element);
  for (const xml::Node& attribute : element.Attributes()) {
    const std::string name = attribute.NodeName();
    // Read live: resolving [LOGONUSER] may already have rewritten a later attribute.
    const std::string original = attribute.NodeValue();
    if (original.empty() || name == secfile::kOsWowAttribute) continue;
    const std::string v = ResolveValue(ctx, element, name, original, wow);
    if (v != original) element.SetAttribute(name, v);
  }
}

// Pre-order over the document, stopping at the first error. Iterative, so
// that a deeply nested file cannot exhaust the stack.
void WalkDocument(const Context& ctx, const xml::Document& document) {
  std::vector<xml::Node> pending;
  if (xml::Node first = document.FirstChild()) pending.push_back(first);
  while (!pending.empty() && !ctx.errorMgr.IsError()) {
    const xml::Node node = pending.back();
    pending.pop_back();
    if (xml::Node next = node.NextSibling()) pending.push_back(next);
    if (node.Type() != xml::NodeType::kElement) continue;
    ResolveElement(ctx, node);
    if (xml::Node child = node.FirstChild()) pending.push_back(child);
  }
}

}  // namespace

bool CPlaceholders::RePlaceHolders(CErrorMgr& errorMgr, const xml::Document& document, const CIniFile& opFile,
                                   int productNumber, int fileNumber, std::string_view methodName) {
  const std::string section = text::Format("Product%d", productNumber);
  const std::string general = GeneralInstallDirectory(errorMgr, opFile, section, fileNumber);
  std::string specific = ReadReportedKey(errorMgr, opFile, section, text::Format("InstallDir%d", fileNumber));
  std::string common = ReadReportedKey(errorMgr, opFile, section, text::Format("CommonDir%d", fileNumber));
  const std::optional<std::string> install =
      InstallDirectory(errorMgr, opFile, section, fileNumber, std::move(specific), general);
  if (!install) return false;
  const Directories dirs{*install, CommonDirectory(errorMgr, fileNumber, std::move(common))};
  const Context ctx{errorMgr, dirs, Folders(), methodName == kApplyFeaturesMethod};
  WalkDocument(ctx, document);
  return !errorMgr.IsError();
}

void CPlaceholders::ReplaceHolderLogonUser(CErrorMgr& errorMgr, const xml::Node& element) {
  if (!element.HasAttribute("domain")) return;
  const std::string user = element.GetAttribute("user");
  const std::string value = element.GetAttribute("value");
  errorMgr.AddMessageF(kLevelDebug, kLogonUserLabel, "  User=%s  UserValue=%s", user.c_str(), value.c_str());
  const char* target = user == kLogonUser ? "user" : value == kLogonUser ? "value" : nullptr;
  if (!target) return;

  plat::ISecurity& security = plat::Current().Security();
  winsec::Sid sid;
  plat::AccountName account;
  uint32_t rc = security.GetTokenUser(&sid);
  if (rc == winerr::kSuccess) rc = security.LookupAccountSid("", sid, &account);
  if (rc != winerr::kSuccess) {
    // An empty name would read as "no account" further on; the placeholder
    // tells every later message what could not be resolved.
    errorMgr.AddMessageF(kLevelWarning, kLogonUserLabel,
                         "  the account of the running process could not be looked up. Error=%d",
                         static_cast<int>(rc));
    return;
  }
  element.SetAttribute(target, account.name);
  element.SetAttribute("domain", account.domain);
  errorMgr.AddMessageF(kLevelDebug, kLogonUserLabel, "  %s=%s  domain=%s", target, account.name.c_str(),
                       account.domain.c_str());
}

void CPlaceholders::ResetCachedValues() { g_processValues = ProcessValues{}; }
