// CTarvo: the controller of one run. The entry point constructs one per
// process and calls exactly one method on it; each method returns the
// process exit code. Every method that takes an OPFile starts with
// InitEnvironment: load the OPFile, attach the log files, reset [RESULTS],
// write the log header and load the language resources.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "infra/IniFile.h"
#include "infra/LogFile.h"
#include "platform/Firewall.h"
#include "platform/System.h"
#include "securityfiles/FeatureDiscovery.h"
#include "securityfiles/RepositoryMgr.h"
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
  // What one load of the security files recorded and left behind, so that
  // its documents can stand for a second load later in the same run: the
  // entries, in order (with the point at which the load last cleared the
  // error flag), the wrong files, and each document's version at its end.
  struct SecurityLoadRecord {
    struct Entry {
      int level;
      std::string function, message, logText;
    };
    std::vector<Entry> entries;
    std::optional<size_t> errorFlagClearedAt;  // entries recorded before
    std::vector<std::string> wrongFiles;
    std::vector<uint64_t> versions;
    bool clientXml = false;
  };
  // The security files of every product of the OPFile, loaded and checked;
  // `record`, when given, receives what the load recorded.
  std::vector<CSecurityXmlEntry> GetSecurityXMLsLoaded(CErrorMgr& errorMgr, SecurityLoadRecord* record = nullptr);

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

  // ---- Firewall snapshots: per product, its firewall features as the
  // firewall holds them now, saved as security files in a dated folder of
  // the repository and applied again from there.

  // Whether a name is a snapshot name, YYYY_MM_DD__HH_MM_SS, as a whole.
  static bool IsSnapshotName(const std::string& name);
  // Takes the snapshot at the end of ReturnFeatures: the OPFile's security
  // files again, only their firewall features, one snapshot file per file
  // with such features, then brought in line with the firewall's rules.
  void RetrieveCustomFirewallFeatures(const std::string& opFilePath, CErrorMgr& errorMgr);
  // Writes the features as one snapshot file of the product and registers
  // it in the snapshot folder's firewall repository (saved by
  // SaveSnapshotRepository). The snapshot folder,
  // "" when it could not be made (critical).
  std::string CreateFeatureXMLToExecute(CErrorMgr& errorMgr, const FeatureList& features,
                                        const std::string& upgradeCode, const std::string& language,
                                        const std::string& productName, const std::string& snapshotName);
  // Brings the snapshot files of `folder` in line with the firewall's rules;
  // firewall objects that cannot be had leave them as written (info entry).
  void ExportCurrentFirewallFeatures(CErrorMgr& errorMgr, const std::string& folder);
  // Updates the snapshot files of `folder` from the rules: a rule belongs to
  // a file when its grouping is the file's product name. Each file inside
  // the folder is loaded once, and saved once when a rule changed it; one
  // that does not load is reported and left alone.
  void FWRulesInCollection(CErrorMgr& errorMgr, const std::vector<std::shared_ptr<plat::IFwRule>>& rules,
                           const std::string& folder);
  // The policy object of the rules family (no COM initialisation is needed
  // on the seam). Its HRESULT; a failure is an info entry.
  static uint32_t WFCOMInitialize(CErrorMgr& errorMgr, std::shared_ptr<plat::IFwPolicy2>* policy);
  // One of the two OPFiles of the snapshot methods (UTF-16LE), one product
  // section per stored file. False after an error entry when it cannot be saved.
  static bool WriteSnapshotOpFile(CErrorMgr& errorMgr, const std::string& path, const std::string& sessionId,
                                  const std::string& installationMoment, const std::string& featureFilter,
                                  const std::vector<CRepositoryProduct>& products);
  // Whether `folder` holds a sub-folder named `name` (any letter case).
  static bool FolderExistsInRepository(const std::string& folder, const std::string& name);

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
  // The firewall snapshot step that ends ReturnFeatures, and whether it is taken.
  void SaveCurrentFirewallSettings(CErrorMgr& errorMgr, const std::string& opFilePath);
  bool SnapshotWanted() const;
  // The snapshot loads the same security files as the ReturnFeatures it
  // ends, with the same OPFile: the first load is kept for it and recorded
  // again instead (the log reads as if the files were loaded twice). A
  // document changed since, or no kept load, means a load of its own.
  struct KeptSecurityLoad {
    std::vector<CSecurityXmlEntry> files;
    SecurityLoadRecord record;
  };
  std::optional<KeptSecurityLoad> keptLoad_;
  std::vector<CSecurityXmlEntry> SecurityFilesForSnapshot(CErrorMgr& errorMgr);
  // The load itself; `clearErrorFlag` clears the error flag before a file's placeholders.
  std::vector<CSecurityXmlEntry> LoadSecurityFiles(CErrorMgr& errorMgr, const std::function<void()>& clearErrorFlag);
  // The end of a snapshot method whose InitEnvironment failed: the log
  // files attached (the pending entries get written) and the code logged.
  int EndAfterFailedInit(CErrorMgr& errorMgr, int r, const char* label);

  bool snapshotNameGiven_ = false;
  CIniFile opFile_;
  // OpenIniFile replaced the OPFile with the marks of an unfinished run.
  bool opFileMarked_ = false;
  CLogFile mainLog_;
  plat::OsVersionInfoEx windowsVersion_;
  std::string methodName_;
  bool targetOnly_ = false;
  // Set when a snapshot file of the run could not be saved or registered.
  bool snapshotFailed_ = false;
  // The firewall repository of the snapshot being taken: the snapshot's
  // files are registered in it one by one, and it is saved once they are
  // all written (SaveSnapshotRepository), not once per file.
  struct SnapshotRepository {
    std::string folder;
    xml::Document document;
  };
  SnapshotRepository snapshotRepository_;
  void RegisterSnapshotFile(CErrorMgr& errorMgr, const std::string& folder, const std::string& path,
                            const std::string& upgradeCode, const std::string& language);
  void SaveSnapshotRepository(CErrorMgr& errorMgr);
};

// The result when the program cannot run at all (no platform to run on).
constexpr int kTarvoInternalError = 9;
