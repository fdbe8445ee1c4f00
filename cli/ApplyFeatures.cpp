// ApplyFeatures: makes the machine match the products' security files. The
// files are stored in the repository first; then every feature of the
// current installation moment is logged before, applied, recorded in the
// history and logged after.
#include <strings.h>

#include <algorithm>

#include "cli/Results.h"
#include "cli/Tarvo.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "securityfiles/FeatureDiscovery.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"

namespace {

constexpr const char* kLabel = "CTarvo::ApplyFeatures";
constexpr const char* kApplyLabel = "CTarvo::MakeHistoryLogAndApplyFeature";

bool KindIs(const CFeature& feature, const char* kindName) {
  return strcasecmp(feature.GetKindName().c_str(), kindName) == 0;
}

bool IsWrongFile(const CErrorMgr& errorMgr, const std::string& path) {
  const std::vector<std::string>& wrong = errorMgr.WrongFiles();
  return std::find(wrong.begin(), wrong.end(), path) != wrong.end();
}

}  // namespace

int CTarvo::ApplyFeatures(const std::string& opFilePath) {
  CErrorMgr errorMgr;
  methodName_ = "ApplyFeatures";
  int r = 0;
  // Nothing that escapes a feature may end the run without [RESULTS]: the
  // setup would read the previous run's answer.
  try {
    r = InitEnvironment(errorMgr, opFilePath, "ApplyFeatures");
    if (r == 0) ApplySecurityFiles(errorMgr, opFilePath);
    const bool reboot = opFile_.GetValue(kResultsSection, "RebootRequirement") != "0";
    errorMgr.AddMessage(kLevelInfo, kLabel, reboot ? "Reboot needed" : "No Reboot needed");
    errorMgr.AddMessage(kLevelInfo, kLabel,
                        errorMgr.GetHighestLevel() < kLevelError ? "Apply feature has finished..."
                                                                 : "Apply feature has finished with error");
  } catch (...) {
    const uint32_t lastError = plat::Current().System().LastError();
    errorMgr.AddMessage(kLevelCritical, kLabel, "Unknown crash in Tarvo");
    errorMgr.AddMessageF(kLevelInfo, kLabel, "GetLastError(): %d", static_cast<int>(lastError));
  }
  SetResults(opFile_, errorMgr);
  if (r != 1) WriteResults(opFilePath, opFile_);
  if (r == 0 && errorMgr.GetHighestLevel() >= kLevelError) r = 10;
  errorMgr.AddMessageF(kLevelInfo, kLabel, "END  Returncode: %d", r);
  methodName_.clear();
  return r;
}

void CTarvo::ApplySecurityFiles(CErrorMgr& errorMgr, const std::string& opFilePath) {
  errorMgr.AddMessageF(kLevelInfo, kLabel, "OPFile: %s", opFilePath.c_str());
  std::vector<CSecurityXmlEntry> files = GetSecurityXMLsLoaded(errorMgr);
  if (errorMgr.GetHighestLevel() >= kLevelCritical) return;
  errorMgr.AddMessage(kLevelInfo, kLabel, "");
  const std::string filter = General("Feature");
  if (filter.empty()) {
    errorMgr.AddMessage(kLevelInfo, kLabel, "analyse Security XML one by one...");
  } else {
    errorMgr.AddMessageF(kLevelInfo, kLabel, "analyse Security XML only for feature '%s' one by one...",
                         filter.c_str());
  }
  FeatureList features;
  for (CSecurityXmlEntry& file : files) {
    for (auto& feature : CXmlAnalyser::DiscoverFeatures(errorMgr, opFile_, file.path, file.document)) {
      features.push_back(std::move(feature));
    }
    StoreInRepository(errorMgr, file);
    file.document = xml::Document();
  }
  errorMgr.AddMessage(kLevelInfo, kLabel, "");
  errorMgr.AddMessage(kLevelInfo, kLabel, "Searching feature one by one...");
  const int moment = General("InstallationMoment") == "0" ? secfile::kMomentBeforeInstallation : secfile::kMomentAfterInstallation;
  if (General("FillOnlyRepository") == "1") {
    errorMgr.AddMessage(kLevelInfo, kLabel, "FillOnlyRepository was set;  no ApplyFeatures called!");
  } else {
    ApplyFeatureList(errorMgr, features, moment, General("Execution") == "OnlyTarget");
  }
}

void CTarvo::StoreInRepository(CErrorMgr& errorMgr, const CSecurityXmlEntry& file) {
  if (IsWrongFile(errorMgr, file.path)) {
    errorMgr.AddMessage(kLevelWarning, kLabel, "    XML-File is wrong and is not stored in the repository");
  } else if (General("FillRepository") != "0") {
    CRepositoryMgr::SaveSecurityXMLToRepository(errorMgr, General("SetupLanguage"), file);
  }
}

void CTarvo::ApplyFeatureList(CErrorMgr& errorMgr, const FeatureList& features, int moment, bool targetOnly) {
  errorMgr.AddMessageF(kLevelInfo, kLabel, "Installation moment:  %s",
                       moment == secfile::kMomentBeforeInstallation ? "Before product installation"
                                                           : "After product installation");
  errorMgr.AddMessage(kLevelInfo, kLabel, "");
  targetOnly_ = targetOnly;
  if (targetOnly) errorMgr.SetDebug(false);
  for (const auto& feature : features) {
    if (feature->IsCritical()) errorMgr.SetCriticalFeature(true);
    if (!feature->IsOSVersionMatching(windowsVersion_) || !feature->IsPlatformMatching()) {
      errorMgr.AddMessage(kLevelInfo, kLabel, "Feature not allowed for this OSVersion");
      continue;
    }
    if (feature->GetAdaptionMoment() == moment) MakeHistoryLogAndApplyFeature(errorMgr, *feature);
    if (errorMgr.GetHighestLevel() > kLevelError) break;
  }
}

bool CTarvo::MakeHistoryLogAndApplyFeature(CErrorMgr& errorMgr, CFeature& feature) {
  errorMgr.AddMessageF(kLevelInfo, kApplyLabel, "---- Apply%s feature  %s  BEGIN ----",
                       feature.IsCritical() ? " critical" : "", feature.GetKindName().c_str());
  errorMgr.SetError(false);
  // The firewall rules of Vista and later cannot be read back as the
  // feature declares them, so only the target values are logged.
  const bool logsCurrentValues = !targetOnly_ && !(CFeature::IsVistaOrLater() && KindIs(feature, "Firewall"));
  if (logsCurrentValues && !KindIs(feature, "filePermission")) {
    errorMgr.AddMessage(kLevelInfo, kApplyLabel, "Features before change:");
    if (std::unique_ptr<CFeature> current = feature.GetCurrentFeature(errorMgr)) {
      current->AddLogEntriesFromFeature(errorMgr);
    }
  }
  errorMgr.AddMessage(kLevelInfo, kApplyLabel, "Target values:");
  feature.AddLogEntriesFromFeature(errorMgr);
  CRepositoryMgr::AddFeatureToHistory(errorMgr, feature, kHistoryTargetValue);
  feature.ApplyFeature(errorMgr);
  if (logsCurrentValues) {
    errorMgr.AddMessage(kLevelInfo, kApplyLabel, "Values after value change:");
    std::unique_ptr<CFeature> current = feature.GetCurrentFeature(errorMgr);
    if (current && !KindIs(feature, "filePermission")) current->AddLogEntriesFromFeature(errorMgr);
  }
  errorMgr.AddMessage(kLevelInfo, kApplyLabel, "---- Apply feature   END ----");
  errorMgr.AddMessage(kLevelInfo, kApplyLabel, "");
  return errorMgr.GetHighestLevel() > kLevelWarning;
}
