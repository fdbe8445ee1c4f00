// The start of every method run: the OPFile, the log files, [RESULTS], the
// log header and the language resources; and the two methods that need
// nothing more.
#include <cstdlib>
#include <iostream>

#include "cli/Results.h"
#include "cli/Tarvo.h"
#include "infra/ErrorMgr.h"
#include "infra/StdioFileEx.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/RepositoryMgr.h"

namespace {

constexpr const char* kLogFileName = "Tarvo.log";
constexpr int kEnglish = 1033;
constexpr const char* kNoResourcePath =
    "Internal Error: Attribut 'ResourcePath' in Section 'GENERAL' not found in OPfile";

std::string WithoutTrailingBackslashes(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// A LogfilePath may name a log file of its own, new or existing; the OPFile
// or a file that holds anything but log text belongs to someone else, and
// log lines appended to it would spoil it.
bool IsUsableLogFile(std::string_view path, std::string_view opFilePath) {
  plat::IFiles& files = plat::Current().Files();
  if (text::EqualsNoCase(files.FullPath(path), files.FullPath(opFilePath))) return false;
  return CLogFile::HoldsLogText(path);
}

bool StatusQuerySucceeds(std::string_view path) {
  uint32_t attributes = 0;
  return plat::Current().Files().GetAttributes(path, &attributes) == 0;
}

}  // namespace

int CTarvo::OpenIniFile(CErrorMgr& errorMgr, const std::string& opFilePath) {
  if (!StatusQuerySucceeds(opFilePath)) {
    std::cout << "!! Internal communication file for Tarvo was not found !!\n" << std::flush;
    return 1;
  }
  opFileMarked_ = CutResultsAndMarkUnfinished(opFilePath);
  if (const std::string error = opFile_.Load(opFilePath); !error.empty()) {
    errorMgr.AddMessage(kLevelCritical, "CTarvo::OpenIniFile", error);
    return 2;
  }
  if (General("ResourcePath").empty()) {
    std::cout << "!! invalid internal communication file for Tarvo !!\n" << std::flush;
    // Recorded so that [RESULTS] names the cause; no log is attached yet.
    errorMgr.AddMessage(kLevelCritical, "CTarvo::OpenIniFile", kNoResourcePath);
    return 3;
  }
  return 0;
}

std::string CTarvo::GetLogFileName(CErrorMgr& errorMgr) {
  const std::string tempFolder = plat::Current().System().TempPath();
  const std::string temp = tempFolder.empty() ? std::string() : tempFolder + kLogFileName;
  std::string path = General("LogfilePath");
  if (path.empty()) {
    errorMgr.AddMessageF(kLevelInfo, "CTarvo::GetLogFileName", "LogfilePath not set in OPFile.ini.  Use user temp: '%s'",
                         temp.c_str());
    return temp;
  }
  // A trailing backslash names a folder: a missing one is no place for a
  // file of the folder's name.
  const bool namesFolder = path.back() == '\\';
  path = WithoutTrailingBackslashes(std::move(path));
  const bool isFolder = plat::IsDirectory(plat::Current().Files(), path);
  if (isFolder || namesFolder) path += std::string("\\") + kLogFileName;
  const bool missingFolder = namesFolder && !isFolder;
  if (missingFolder || !IsUsableLogFile(path, opFile_.GetPath()) || !CStdioFileEx::CanOpenForWriting(path)) {
    errorMgr.AddMessageF(kLevelWarning, "CTarvo::GetLogFileName",
                         "Given logfile is not writeable: '%s'.  Use user temp: '%s'", path.c_str(), temp.c_str());
    return temp;
  }
  return path;
}

std::string CTarvo::GetLogFileInRepositoryDir(CErrorMgr& errorMgr) {
  const std::string folder = CRepositoryMgr::ReturnRepositoryDir(errorMgr, false);
  if (methodName_ == "ReturnFeatures") return "";
  if (!plat::IsDirectory(plat::Current().Files(), folder) && plat::Current().Files().MakeDirectory(folder) != 0) {
    errorMgr.AddMessageF(kLevelCritical, "CTarvo::GetLogFileInRepositoryDir",
                         "Error trying to create the repository folder '%s'", folder.c_str());
    return "";
  }
  const std::string path = folder + "\\" + kLogFileName;
  if (!CStdioFileEx::CanOpenForWriting(path)) {
    errorMgr.AddMessageF(kLevelCritical, "CTarvo::GetLogFileInRepositoryDir",
                         "The logfile in the repository directory is not writeable: '%s'", path.c_str());
    return "";
  }
  return path;
}

bool CTarvo::OpenResources(CErrorMgr& errorMgr) {
  const std::string resourcePath = General("ResourcePath");
  const std::string languagePackPath = General("LanguagePackPath");
  if (resourcePath.empty()) {
    errorMgr.AddMessage(kLevelError, "CTarvo::OpenResources", kNoResourcePath);
  }
  const std::string setupLanguage = General("SetupLanguage");
  int language = 0;
  if (setupLanguage.empty()) {
    errorMgr.AddMessage(kLevelCritical, "CTarvo::OpenResources",
                        "Internal Error: Attribut 'SetupLanguage' in Section 'GENERAL' not found in OPfile");
  } else {
    language = static_cast<int>(std::strtol(setupLanguage.c_str(), nullptr, 10));
  }
  if (CResourceMgr::HasLanguageFile(languagePackPath, language)) {
    return CResourceMgr::LoadResource(errorMgr, languagePackPath, language);
  }
  if (CResourceMgr::HasLanguageFile(resourcePath, language)) {
    return CResourceMgr::LoadResource(errorMgr, resourcePath, language);
  }
  return CResourceMgr::LoadResource(errorMgr, resourcePath, kEnglish);
}

int CTarvo::InitEnvironment(CErrorMgr& errorMgr, const std::string& opFilePath, std::string_view methodLabel) {
  if (int r = OpenIniFile(errorMgr, opFilePath)) {
    // A found but unusable OPFile still gets full [RESULTS] at the end, so
    // no key is left empty for a setup to read as 0.
    if (r != 1) InitResultsModel(opFile_, General("LogfilePath"));
    return r;
  }
  mainLog_.Init(GetLogFileName(errorMgr), CLogFile::kDefaultLevel);
  if (InitResults(opFilePath, opFile_, General("LogfilePath"), opFileMarked_) != 0) return 4;
  auto repositoryLog = std::make_unique<CLogFile>();
  repositoryLog->Init(GetLogFileInRepositoryDir(errorMgr), CLogFile::kDefaultLevel);
  errorMgr.AttachLogFiles(&mainLog_, std::move(repositoryLog));
  errorMgr.WriteLogHeader(General("SessionID"), methodLabel);
  errorMgr.AddMessage(kLevelInfo, "CTarvo::InitEnvironment", "Load Language resources...");
  OpenResources(errorMgr);
  const int r = errorMgr.GetHighestLevel() == kLevelCritical ? 5 : 0;
  windowsVersion_ = plat::OsVersionInfoEx();
  plat::Current().System().GetVersionInfo(&windowsVersion_);
  return r;
}

int CTarvo::RunUnsupportedMethod(const std::string& opFilePath, std::string_view method, std::string_view finished) {
  CErrorMgr errorMgr;
  const std::string label = "CTarvo::" + std::string(method);
  int r = InitEnvironment(errorMgr, opFilePath, method);
  if (r == 0) errorMgr.AddMessage(kLevelInfo, label, std::string(method) + " is not yet supported");
  if (errorMgr.GetHighestLevel() < kLevelError) {
    errorMgr.AddMessage(kLevelInfo, label, std::string(finished) + " feature has finished...");
  } else {
    // The cancel text lacks the blank before "with"; setups may compare it.
    const std::string tail = method == "CancelSetFeatures" ? "finishedwith error" : "finished with error";
    errorMgr.AddMessage(kLevelInfo, label, std::string(finished) + " feature has " + tail);
  }
  SetResults(opFile_, errorMgr);
  if (r != 1) WriteResults(opFilePath, opFile_);
  if (r == 0 && errorMgr.GetHighestLevel() > kLevelWarning) r = 10;
  const std::string endLabel = method == "CancelSetFeatures" ? label + "   END" : label + "  END";
  errorMgr.AddMessageF(kLevelInfo, endLabel, "Returncode: %d", r);
  return r;
}

int CTarvo::CancelSetFeatures(const std::string& opFilePath) {
  return RunUnsupportedMethod(opFilePath, "CancelSetFeatures", "Cancel");
}

int CTarvo::UninstallFeatures(const std::string& opFilePath) {
  return RunUnsupportedMethod(opFilePath, "UninstallFeatures", "Uninstall");
}
