// CTarvo: the controller of one run. The entry point constructs one per
// process and calls exactly one method on it; each method returns the
// process exit code. Every method that takes an OPFile starts with
// InitEnvironment: load the OPFile, attach the log files, reset [RESULTS],
// write the log header and load the language resources.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "infra/IniFile.h"
#include "infra/LogFile.h"
#include "platform/System.h"
#include "securityfiles/FeatureDiscovery.h"
#include "securityfiles/SecurityXmlEntry.h"

class CErrorMgr;

class CTarvo {
 public:
  CTarvo() = default;
  CTarvo(const CTarvo&) = delete;
  CTarvo& operator=(const CTarvo&) = delete;

  int ReturnFeatures(const std::string& opFilePath);
  int ApplyFeatures(const std::string& opFilePath);
  int ExportFirewallFeatures(const std::string& snapshotName);
  int ImportAndApplyFirewallFeatures(const std::string& snapshotName);
  int UninstallFeatures(const std::string& opFilePath);
  int CancelSetFeatures(const std::string& opFilePath);

  // 0, or the exit codes 1-5.
  int InitEnvironment(CErrorMgr& errorMgr, const std::string& opFilePath, std::string_view methodLabel);
  // 0, 1 (missing), 2 (unreadable) or 3 (no ResourcePath).
  int OpenIniFile(CErrorMgr& errorMgr, const std::string& opFilePath);
  std::string GetLogFileName(CErrorMgr& errorMgr);
  std::string GetLogFileInRepositoryDir(CErrorMgr& errorMgr);
  bool OpenResources(CErrorMgr& errorMgr);
  // The security files of every product of the OPFile, loaded and checked.
  std::vector<CSecurityXmlEntry> GetSecurityXMLsLoaded(CErrorMgr& errorMgr);

  // Builds the feature document from the features (each writes its own
  // element) and saves it where [RESULTS] MessageFullPath says.
  void CreateFeatureXML(CErrorMgr& errorMgr, const FeatureList& features);
  // The apply loop: every feature whose conditions hold and whose adaption
  // moment is `moment` (secfile::kMoment*) is applied; a critical feature
  // makes every later error critical; a critical entry ends the loop.
  void ApplyFeatureList(CErrorMgr& errorMgr, const FeatureList& features, int moment, bool targetOnly);
  // Logs the current and target values, records the feature in the history,
  // applies it and logs the values after. True when the run's highest level
  // is above a warning.
  bool MakeHistoryLogAndApplyFeature(CErrorMgr& errorMgr, CFeature& feature);

  const CIniFile& OpFile() const { return opFile_; }
  CIniFile& OpFile() { return opFile_; }
  std::string General(std::string_view key) const { return opFile_.GetValue("GENERAL", key); }
  const std::string& MethodName() const { return methodName_; }
  void SetMethodName(std::string name) { methodName_ = std::move(name); }
  const plat::OsVersionInfoEx& WindowsVersion() const { return windowsVersion_; }
  bool TargetOnly() const { return targetOnly_; }
  void SetTargetOnly(bool targetOnly) { targetOnly_ = targetOnly; }

 private:
  // The shape shared by CancelSetFeatures and UninstallFeatures.
  int RunUnsupportedMethod(const std::string& opFilePath, std::string_view method, std::string_view finished);

  // ApplyFeatures after a successful InitEnvironment: load, discover,
  // store in the repository, apply.
  void ApplySecurityFiles(CErrorMgr& errorMgr, const std::string& opFilePath);
  void StoreInRepository(CErrorMgr& errorMgr, const CSecurityXmlEntry& file);
  // The firewall snapshot step that ends ReturnFeatures.
  void SaveCurrentFirewallSettings(CErrorMgr& errorMgr);

  bool snapshotNameGiven_ = false;
  CIniFile opFile_;
  CLogFile mainLog_;
  plat::OsVersionInfoEx windowsVersion_;
  std::string methodName_;
  bool targetOnly_ = false;
};

// The result of a method that is not available in this build yet.
constexpr int kTarvoInternalError = 9;
