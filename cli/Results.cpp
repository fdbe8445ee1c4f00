#include "cli/Results.h"

#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "infra/ProfileString.h"
#include "infra/Tool.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace {

constexpr int kMaxCriticalFeatureMessages = 999;

std::string CriticalFeatureMessageKey(int i) { return text::Format("CriticalFeatureErrorMessage%d", i); }

void Set(CIniFile& model, std::string_view key, std::string_view value) {
  model.SetValue(kResultsSection, key, value);
}

std::string Get(const CIniFile& model, std::string_view key) { return model.GetValue(kResultsSection, key); }

// What the file holds from the start of a run until its end.
profile::KeyValues UnfinishedRunKeys() {
  return {{"ErrorOccured", "1"},
          {"ErrorMessage", kUnfinishedRunMessage},
          {"CriticalError", "1"},
          {"CriticalErrorMessage", kUnfinishedRunMessage},
          {"ContainCriticalFeatures", "0"},
          {"CriticalFeatureError", "0"}};
}

}  // namespace

std::string MessageFullPath(std::string_view logfilePath) {
  if (logfilePath.empty()) return kReturnedFeaturesFile;
  return CStdTool::GetDirectoryOfPath(logfilePath) + kReturnedFeaturesFile;
}

bool CutResultsAndMarkUnfinished(std::string_view opFilePath) {
  plat::IFiles& files = plat::Current().Files();
  std::string bytes;
  if (plat::ReadWholeFile(files, opFilePath, &bytes) != winerr::kSuccess || !profile::IsIniText(bytes)) return false;
  std::string updated = CIniFile::CutResults(bytes).value_or(bytes);
  for (const auto& [key, value] : UnfinishedRunKeys()) {
    updated = profile::WriteStringInBytes(updated, kResultsSection, key, value).value_or(updated);
  }
  return plat::WriteFileAtomically(files, opFilePath, updated) == winerr::kSuccess;
}

int InitResults(std::string_view opFilePath, CIniFile& model, std::string_view logfilePath, bool alreadyMarked) {
  // One replacement of the file for all keys, as if written one by one.
  if (!alreadyMarked && !profile::WritePrivateStrings(kResultsSection, UnfinishedRunKeys(), opFilePath)) return 4;
  InitResultsModel(model, logfilePath);
  return 0;
}

void InitResultsModel(CIniFile& model, std::string_view logfilePath) {
  Set(model, "ErrorOccured", "0");
  Set(model, "ErrorMessage", "");
  Set(model, "CriticalError", "0");
  Set(model, "CriticalErrorMessage", "");
  Set(model, "RebootRequirement", "0");
  Set(model, "MessageFullPath", MessageFullPath(logfilePath));
  Set(model, "ContainCriticalFeatures", "0");
  Set(model, "CriticalFeatureError", "0");
}

void SetRebootRequirement(CIniFile& model, int rebootCode) {
  const std::string current = Get(model, "RebootRequirement");
  // "2" (before the installation) is never lowered; "1" is raised only by code 4.
  if (rebootCode > kRebootNo && current == "0") {
    if (rebootCode == kRebootAfterInstallation) Set(model, "RebootRequirement", "1");
    if (rebootCode == kRebootBeforeInstallation) Set(model, "RebootRequirement", "2");
  } else if (rebootCode == kRebootBeforeInstallation && current != "2") {
    Set(model, "RebootRequirement", "2");
  }
}

void SetContainCriticalFeatures(CIniFile& model, bool critical) {
  if (critical && Get(model, "ContainCriticalFeatures") != "1") Set(model, "ContainCriticalFeatures", "1");
}

void SetResults(CIniFile& model, const CErrorMgr& errorMgr) {
  if (errorMgr.GetHighestLevel() == -1) return;
  for (const auto& entry : errorMgr.Entries()) {
    if (entry->level != kLevelError && entry->level != kLevelCritical) continue;
    Set(model, "ErrorOccured", "1");
    if (!entry->message.empty()) Set(model, "ErrorMessage", entry->message);
    if (entry->level == kLevelCritical) {
      Set(model, "CriticalError", "1");
      if (!entry->message.empty()) Set(model, "CriticalErrorMessage", entry->message);
    }
  }
  if (!errorMgr.IsCriticalFeature()) return;
  std::vector<std::string> messages;
  errorMgr.GetErrorMessages(&messages);
  if (messages.empty()) return;
  Set(model, "CriticalFeatureError", "1");
  for (size_t i = 0; i < messages.size(); ++i) {
    Set(model, CriticalFeatureMessageKey(static_cast<int>(i + 1)), messages[i]);
  }
}

void WriteResults(std::string_view opFilePath, const CIniFile& model) {
  profile::KeyValues results;
  const auto add = [&](const std::string& key) { results.emplace_back(key, Get(model, key)); };
  for (const char* key : {"ErrorOccured", "ErrorMessage", "CriticalError", "CriticalErrorMessage",
                          "ContainCriticalFeatures", "CriticalFeatureError"}) {
    add(key);
  }
  for (int i = 1; i <= kMaxCriticalFeatureMessages; ++i) {
    if (Get(model, CriticalFeatureMessageKey(i)).empty()) break;
    add(CriticalFeatureMessageKey(i));
  }
  add("RebootRequirement");
  add("MessageFullPath");
  profile::WritePrivateStrings(kResultsSection, results, opFilePath);
}
