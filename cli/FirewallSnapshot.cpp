// Firewall snapshots. A snapshot is a folder of the repository named after
// the moment it was taken (YYYY_MM_DD__HH_MM_SS) that holds, per product
// with firewall features, a security file of those features as the firewall
// holds them now, and the firewall repository that registers these files.
// ReturnFeatures takes one at its end; ExportFirewallFeatures takes one
// under a given name for the products of the repository and leaves an
// OPFile beside it, through which ImportAndApplyFirewallFeatures applies
// the snapshot again.
#include <algorithm>
#include <iostream>
#include <map>
#include <regex>

#include "cli/Tarvo.h"
#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "infra/ProfileString.h"
#include "infra/Tool.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "securityfiles/RepositoryLock.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kExportLabel = "CTarvo::ExportFirewallFeatures";
constexpr const char* kImportLabel = "CTarvo::ImportAndApplyFirewallFeatures";
constexpr const char* kRetrieveLabel = "CTarvo::RetrieveCustomFirewallFeatures";
constexpr const char* kCreateLabel = "CTarvo::CreateFeatureXMLToExecute";
constexpr const char* kExportCurrentLabel = "CTarvo::ExportCurrentFirewallFeatures";
constexpr const char* kRulesLabel = "CTarvo::FWRulesInCollection";
constexpr const char* kPolicyLabel = "CKelmarView::WFCOMInitialize";
constexpr const char* kOpFileLabel = "CTarvo::WriteSnapshotOpFile";

constexpr const char* kExportOpFileName = "ExportFeatures.ini";
constexpr const char* kImportOpFileName = "ExportedFeaturesOnlyFirewall.ini";
constexpr const char* kGuiSession = "88  Tarvo GUI";
constexpr const char* kGuiFirewallSession = "88  Tarvo GUI OnlyFirewall";
constexpr const char* kExportSession = "Session_ExportLastFirewall";
constexpr const char* kEnglish = "1033";
constexpr const char* kLanPath = "t:vscSetup/t:host/t:body/t:network/t:lan/";

std::string RepositoryFolder() {
  CErrorMgr quiet;  // without creating it, nothing is reported
  return CRepositoryMgr::ReturnRepositoryDir(quiet, false);
}

// The language of the repository; English on a machine that has none yet,
// so that a first export still runs.
std::string RepositoryLanguage(CErrorMgr& errorMgr) {
  if (!CRepositoryMgr::RepositoryExists()) return kEnglish;
  const std::string language = CRepositoryMgr::GetRepositoryLanguage(errorMgr);
  return language.empty() ? kEnglish : language;
}

std::vector<CRepositoryProduct> RepositoryProductsOfThisPlatform(CErrorMgr& errorMgr) {
  if (!CRepositoryMgr::RepositoryExists()) return {};
  return CRepositoryMgr::GetRepositoryProducts(errorMgr,
                                               kBuildIs64Bit ? kRepositoryProductsX64 : kRepositoryProductsX86);
}

std::string SnapshotNameOfNow() {
  const plat::SystemTime t = plat::Current().System().LocalTime();
  return text::Format("%04d_%02d_%02d__%02d_%02d_%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// An empty snapshot document: declaration, program instruction, root.
xml::Document NewSnapshotDocument() {
  xml::Document document = xml::Document::Create();
  document.AppendChild(document.CreateProcessingInstruction("xml", "version='1.0' encoding='UTF-8' standalone='no'"));
  document.AppendChild(document.CreateProcessingInstruction("vantrix-application", "progid='Zup.Setup'"));
  const xml::Node root = document.AppendChild(document.CreateElement(secfile::kRootElement));
  root.SetAttribute(secfile::kPrefixAttribute, secfile::kSecurityFileNamespace);
  root.SetAttribute("xmlns:xsi", secfile::kSchemaInstanceNamespace);
  root.SetAttribute("xsi:schemaLocation", secfile::WrittenSchemaLocation());
  return document;
}

bool MakeFolder(const std::string& folder) {
  plat::IFiles& files = plat::Current().Files();
  return plat::IsDirectory(files, folder) || files.MakeDirectory(folder) == 0;
}

// ---- Rules

// What one rule says, read once.
struct RuleFacts {
  std::string name, application, service, ports, icmp, remoteAddresses, grouping;
  int32_t protocol = -1;
  int32_t profiles = 0;
  bool enabled = false;
  bool hasName = false, hasApplication = false, hasService = false, hasProtocol = false, hasPorts = false,
       hasIcmp = false, hasRemoteAddresses = false, hasEnabled = false, hasProfiles = false, hasGrouping = false;
};

RuleFacts ReadRule(plat::IFwRule& rule) {
  RuleFacts f;
  f.hasName = !winerr::Failed(rule.GetName(&f.name));
  f.hasApplication = !winerr::Failed(rule.GetApplicationName(&f.application));
  f.hasService = !winerr::Failed(rule.GetServiceName(&f.service));
  f.hasProtocol = !winerr::Failed(rule.GetProtocol(&f.protocol));
  f.hasPorts = !winerr::Failed(rule.GetLocalPorts(&f.ports));
  f.hasIcmp = !winerr::Failed(rule.GetIcmpTypesAndCodes(&f.icmp));
  f.hasRemoteAddresses = !winerr::Failed(rule.GetRemoteAddresses(&f.remoteAddresses));
  f.hasEnabled = !winerr::Failed(rule.GetEnabled(&f.enabled));
  f.hasProfiles = !winerr::Failed(rule.GetProfiles(&f.profiles));
  f.hasGrouping = !winerr::Failed(rule.GetGrouping(&f.grouping));
  if (!f.hasApplication) f.application.clear();
  if (!f.hasPorts) f.ports.clear();
  return f;
}

const char* Shown(const std::string& value) { return value.empty() ? "(null)" : value.c_str(); }

void LogRuleHead(CErrorMgr& errorMgr, const RuleFacts& f) {
  if (f.hasName) errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "Name:             %s\n", Shown(f.name));
  if (f.hasApplication) errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "Application Name: %s\n", Shown(f.application));
  if (f.hasService) errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "Service Name:     %s\n", Shown(f.service));
  if (!f.hasProtocol) return;
  if (f.protocol == plat::kFwIpProtocolTcp || f.protocol == plat::kFwIpProtocolUdp) {
    errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "IP Protocol:      %s\n",
                         f.protocol == plat::kFwIpProtocolTcp ? "TCP" : "UDP");
  }
  if (f.protocol == 0 || f.protocol == plat::kFwIpProtocolIcmp4) {
    if (f.hasIcmp) errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "ICMP TypeCode:      %s\n", Shown(f.icmp));
  } else if (f.hasPorts) {
    errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "Local Ports:      %s\n", Shown(f.ports));
  }
  if (f.hasRemoteAddresses) {
    errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "RemoteAddresses:  %s\n", Shown(f.remoteAddresses));
  }
}

void LogRuleTail(CErrorMgr& errorMgr, const RuleFacts& f) {
  if (f.hasProfiles) {
    const std::pair<int32_t, const char*> profiles[] = {{plat::kFwProfile2Domain, "Domain"},
                                                        {plat::kFwProfile2Private, "Private"},
                                                        {plat::kFwProfile2Public, "Public"}};
    for (const auto& [bit, name] : profiles) {
      if (f.profiles & bit) errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "Profile:  %s\n", name);
    }
  }
  if (f.hasGrouping) errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "Grouping:         %s\n", f.grouping.c_str());
}

// The entry element the rule stands for: a program by the rule's name,
// else a port; none for a rule with neither (ICMP, services).
xml::Node EntryOfRule(const xml::Document& document, const RuleFacts& f) {
  if (!f.application.empty()) return FindNodeByAttribute(document, std::string(kLanPath) + "t:service", "name", f.name);
  if (!f.ports.empty()) return FindNodeByAttribute(document, std::string(kLanPath) + "t:port", "name", f.name);
  return xml::Node();
}

// The entry takes the rule's state and its remote addresses as its scope.
void UpdateEntry(CErrorMgr& errorMgr, const xml::Node& entry, const RuleFacts& f) {
  SetXmlAttribute(entry, "enable", f.enabled ? "yes" : "no");
  errorMgr.AddMessageF(kLevelInfo, kRulesLabel, "Enabled:          %s\n", f.enabled ? "TRUE" : "FALSE");
  for (const char* scope : {"t:scopeSubnet", "t:scopeAny", "t:scopeCustom"}) {
    const xml::Node old = entry.SelectSingleNode(scope);
    if (!old.IsNull()) entry.RemoveChild(old);
  }
  const xml::Document document = entry.OwnerDocument();
  if (f.remoteAddresses == "*") {
    entry.AppendChild(document.CreateElement("t:scopeAny"));
  } else if (f.remoteAddresses == "LocalSubnet") {
    entry.AppendChild(document.CreateElement("t:scopeSubnet"));
  } else if (!f.remoteAddresses.empty()) {
    SetXmlAttribute(entry.AppendChild(document.CreateElement("t:scopeCustom")), "value", f.remoteAddresses);
  }
}

// One snapshot file, loaded once for all rules.
struct SnapshotFile {
  std::string path;
  xml::Document document;
  bool changed = false;
};

// The registered snapshot files that lie in `folder` itself and load.
std::vector<SnapshotFile> LoadSnapshotFiles(CErrorMgr& errorMgr, const std::string& folder) {
  std::vector<SnapshotFile> files;
  for (const CRepositoryProduct& entry : CRepositoryMgr::GetFirewallRepositoryProducts(errorMgr, folder)) {
    const std::string path = entry.secFileName;
    if (!text::EqualsNoCase(CStdTool::GetDirectoryOfPath(path), CStdTool::CombinePath(folder, ""))) {
      errorMgr.AddMessageF(kLevelWarning, kRulesLabel, "The file '%s' is not in the snapshot folder and is left alone",
                           path.c_str());
      continue;
    }
    xml::Document document;
    if (LoadXmlFile(path, &document) != kLoadXmlOk) {
      errorMgr.AddMessageF(kLevelWarning, kRulesLabel, "The snapshot file '%s' could not be loaded and is left alone",
                           path.c_str());
      continue;
    }
    files.push_back({path, document});
  }
  return files;
}

}  // namespace

bool CTarvo::IsSnapshotName(const std::string& name) {
  // Years 1900-2099, months 01-12, days 01-31 in any month, hours 00-24,
  // minutes and seconds 00-59.
  static const std::regex pattern(
      R"(((19|20)\d\d)_(0[1-9]|1[012])_(0[1-9]|[12][0-9]|3[01]))"
      R"(__(0[0-9]|1[0-9]|2[0-4])_(0[0-9]|[12345][0-9])_(0[0-9]|[12345][0-9]))");
  return std::regex_match(name, pattern);
}

bool CTarvo::FolderExistsInRepository(const std::string& folder, const std::string& name) {
  std::vector<plat::FileEntry> entries;
  // (CombinePath would take the "*" for its UNC marker.)
  if (plat::Current().Files().Find(folder + "\\*", &entries) != 0) return false;
  for (const plat::FileEntry& entry : entries) {
    if (entry.IsDirectory() && text::EqualsNoCase(entry.name, name)) return true;
  }
  return false;
}

bool CTarvo::WriteSnapshotOpFile(CErrorMgr& errorMgr, const std::string& path, const std::string& sessionId,
                                 const std::string& installationMoment, const std::string& featureFilter,
                                 const std::vector<CRepositoryProduct>& products) {
  CIniFile ini;
  ini.SetPath(path);
  ini.SetValue("GENERAL", "SessionID", sessionId);
  ini.SetValue("GENERAL", "ResourcePath", CStdTool::GetExePath());
  ini.SetValue("GENERAL", "SetupLanguage", RepositoryLanguage(errorMgr));
  ini.SetValue("GENERAL", "InstallationMoment", installationMoment);
  ini.SetValue("GENERAL", "LogfilePath", CStdTool::CombinePath(RepositoryFolder(), "Tarvo.log"));
  ini.SetValue("GENERAL", "Feature", featureFilter);
  ini.SetValue("GENERAL", "FillRepository", "0");
  ini.SetValue("GENERAL", "RepositorySettings", "1");
  for (size_t i = 0; i < products.size(); ++i) {
    const std::string section = "Product" + std::to_string(i + 1);
    ini.SetValue(section, "UpgradeCode", products[i].upgradeCode);
    ini.SetValue(section, "InstallDir", "Dummy");
    ini.SetValue(section, "SecurityXML1", products[i].secFileName);
  }
  if (ini.Save() != 0) {
    errorMgr.AddMessageF(kLevelError, kOpFileLabel, "Could not save the file '%s'", path.c_str());
    return false;
  }
  return true;
}

int CTarvo::EndAfterFailedInit(CErrorMgr& errorMgr, int r, const char* label) {
  // Codes 1 to 3 come before InitEnvironment attached any log file.
  if (r <= 3) {
    mainLog_.Init(GetLogFileName(errorMgr), CLogFile::kDefaultLevel);
    auto repositoryLog = std::make_unique<CLogFile>();
    repositoryLog->Init(GetLogFileInRepositoryDir(errorMgr), CLogFile::kDefaultLevel);
    errorMgr.AttachLogFiles(&mainLog_, std::move(repositoryLog));
  }
  errorMgr.AddMessageF(kLevelCritical, label, "END  Returncode from InitEnvironment: %d", r);
  methodName_.clear();
  return r;
}

int CTarvo::ExportFirewallFeatures(const std::string& snapshotName) {
  CErrorMgr errorMgr;
  const std::string repository = CRepositoryMgr::ReturnRepositoryDir(errorMgr, true);
  const std::string opFile = CStdTool::CombinePath(repository, kExportOpFileName);
  methodName_ = "ExportFirewallFeatures";
  WriteSnapshotOpFile(errorMgr, opFile, kGuiSession, "0", "", RepositoryProductsOfThisPlatform(errorMgr));
  int r = InitEnvironment(errorMgr, opFile, "ExportFirewallFeatures");
  if (r != 0) return EndAfterFailedInit(errorMgr, r, kExportLabel);
  if (!IsSnapshotName(snapshotName)) {
    errorMgr.AddMessageF(kLevelCritical, kExportLabel,
                         "Wrong folder name format '%s', valid format is YYYY_MM_DD__HH_MM_SS", snapshotName.c_str());
    r = -1;
  } else if (FolderExistsInRepository(repository, snapshotName)) {
    errorMgr.AddMessageF(kLevelCritical, kExportLabel,
                         "Folder name (i.e. '%s') exists already in repository, please enter another folder name as "
                         "input parameter to this function",
                         snapshotName.c_str());
    r = -2;
  } else {
    CurrentProcessState().snapshotName = snapshotName;
    snapshotNameGiven_ = true;
    // With the GUI's session id ReturnFeatures would take no snapshot.
    profile::WritePrivateString("GENERAL", "SessionID", kExportSession, opFile);
    r = ReturnFeatures(opFile);
    const std::string folder = CStdTool::CombinePath(repository, snapshotName);
    if (snapshotFailed_) {
      // A snapshot that is not complete is no state to return to.
      errorMgr.AddMessageF(kLevelCritical, kExportLabel, "The firewall snapshot '%s' could not be saved completely",
                           folder.c_str());
      if (r == 0 || r == 9) r = 10;
    } else if (plat::IsDirectory(plat::Current().Files(), folder)) {
      const int before = errorMgr.GetHighestLevel();
      errorMgr.SetHighestLevel(-1);
      const std::vector<CRepositoryProduct> products = CRepositoryMgr::GetFirewallRepositoryProducts(errorMgr, folder);
      const bool readable = errorMgr.GetHighestLevel() < kLevelCritical;
      errorMgr.SetHighestLevel(std::max(before, errorMgr.GetHighestLevel()));
      if (readable) {
        WriteSnapshotOpFile(errorMgr, CStdTool::CombinePath(folder, kImportOpFileName), kGuiFirewallSession, "1", "",
                            products);
      }
    }
  }
  errorMgr.AddMessageF(kLevelInfo, kExportLabel, "END  Returncode: %d", r);
  methodName_.clear();
  return r;
}

int CTarvo::ImportAndApplyFirewallFeatures(const std::string& snapshotName) {
  // The name becomes part of a path: anything else than a snapshot name
  // could lead outside the repository, so nothing is opened for it.
  if (!IsSnapshotName(snapshotName)) {
    std::cout << text::Format("Wrong folder name (i.e. '%s') format, valid format is YYYY_MM_DD__HH_MM_SS\n",
                              snapshotName.c_str())
              << std::flush;
    return -1;
  }
  CErrorMgr errorMgr;
  const std::string folder = CStdTool::CombinePath(RepositoryFolder(), snapshotName);
  const std::string opFile = CStdTool::CombinePath(folder, kImportOpFileName);
  methodName_ = "ImportAndApplyFirewallFeatures";
  int r = InitEnvironment(errorMgr, opFile, "ImportAndApplyFirewallFeatures");
  if (r != 0) return EndAfterFailedInit(errorMgr, r, kImportLabel);
  r = ApplyFeatures(opFile);
  errorMgr.AddMessageF(kLevelInfo, kImportLabel, "END  Returncode: %d", r);
  methodName_.clear();
  return r;
}

void CTarvo::RetrieveCustomFirewallFeatures(const std::string& opFilePath, CErrorMgr& errorMgr) {
  snapshotFailed_ = false;
  errorMgr.AddMessageF(kLevelInfo, kRetrieveLabel, "OPFile: %s", opFilePath.c_str());
  std::vector<CSecurityXmlEntry> files = SecurityFilesForSnapshot(errorMgr);
  std::string folder;
  if (errorMgr.GetHighestLevel() < kLevelCritical) {
    errorMgr.AddMessage(kLevelInfo, kRetrieveLabel, "");
    opFile_.SetValue("GENERAL", "Feature", "Firewall");
    errorMgr.AddMessageF(kLevelInfo, kRetrieveLabel, "analyse Security XML only for feature '%s' one by one...",
                         "Firewall");
    if (!snapshotNameGiven_) CurrentProcessState().snapshotName = SnapshotNameOfNow();
    snapshotNameGiven_ = false;
    const std::vector<std::string>& wrongFiles = errorMgr.WrongFiles();
    for (CSecurityXmlEntry& file : files) {
      const FeatureList features = CXmlAnalyser::DiscoverFeatures(errorMgr, opFile_, file.path, file.document);
      if (std::find(wrongFiles.begin(), wrongFiles.end(), file.path) != wrongFiles.end()) {
        errorMgr.AddMessage(kLevelWarning, kRetrieveLabel, "    XML-File is wrong and is not stored in the repository");
      } else if (!features.empty()) {
        std::string product;
        GetXmlValue(file.document, std::string("/") + secfile::kProductValuePath, &product);
        const std::string saved =
            CreateFeatureXMLToExecute(errorMgr, features, file.upgradeCode, General("SetupLanguage"), product,
                                      CurrentProcessState().snapshotName);
        if (!saved.empty()) folder = saved;
      }
      file.document = xml::Document();
    }
    SaveSnapshotRepository(errorMgr);
    errorMgr.AddMessage(kLevelInfo, kRetrieveLabel, "");
    errorMgr.AddMessage(kLevelInfo, kRetrieveLabel, "Searching feature one by one...");
    if (General("FillOnlyRepository") == "1") {
      errorMgr.AddMessage(kLevelInfo, kRetrieveLabel, "FillOnlyRepository was set;  no ApplyFeatures called!");
    }
  }
  ExportCurrentFirewallFeatures(errorMgr, folder);
}

std::string CTarvo::CreateFeatureXMLToExecute(CErrorMgr& errorMgr, const FeatureList& features,
                                              const std::string& upgradeCode, const std::string& language,
                                              const std::string& productName, const std::string& snapshotName) {
  const xml::Document document = NewSnapshotDocument();
  for (const auto& feature : features) {
    if (errorMgr.GetHighestLevel() >= kLevelCritical) break;
    feature->SetFeatureToSecurityXml(errorMgr, document);
  }
  // On a fresh machine the repository folder is made first, so that the
  // first snapshot has a place.
  const std::string repository = CRepositoryMgr::ReturnRepositoryDir(errorMgr, true);
  const std::string folder = CStdTool::CombinePath(repository, snapshotName);
  if (repository.empty() || !MakeFolder(folder)) {
    errorMgr.AddMessageF(kLevelCritical, kCreateLabel, "Error trying to create the Firewall Snapshot folder '%s'",
                         folder.c_str());
    snapshotFailed_ = true;
    return "";
  }
  const std::string baseName = CRepositoryMgr::FileNameFromProduct(productName) + "_Firewall";
  const std::string path = CStdTool::CombinePath(folder, CStdTool::GetUniqueFileName(folder, baseName, ".xml"));
  const CErrorScope scope(errorMgr);
  if (CRepositoryMgr::SaveXMLWithHash(errorMgr, document, path)) {
    RegisterSnapshotFile(errorMgr, folder, path, upgradeCode, language);
  }
  if (scope.Failed()) snapshotFailed_ = true;
  return folder;
}

void CTarvo::RegisterSnapshotFile(CErrorMgr& errorMgr, const std::string& folder, const std::string& path,
                                  const std::string& upgradeCode, const std::string& language) {
  if (snapshotRepository_.folder != folder) {
    SaveSnapshotRepository(errorMgr);
    snapshotRepository_ = {folder, CRepositoryMgr::OpenOnlyFirewallRepository(errorMgr, folder)};
  }
  if (snapshotRepository_.document.IsNull()) return;
  CRepositoryMgr::RegisterSnapshotFile(snapshotRepository_.document, path, upgradeCode, language);
}

void CTarvo::SaveSnapshotRepository(CErrorMgr& errorMgr) {
  SnapshotRepository repository = std::exchange(snapshotRepository_, {});
  if (repository.document.IsNull()) return;
  const CErrorScope scope(errorMgr);
  const CRepositoryLock lock(errorMgr);
  if (!lock.IsHeld() || !CRepositoryMgr::SaveRepositoryOnlyFirewall(errorMgr, repository.document, repository.folder)) {
    snapshotFailed_ = true;
  }
  if (scope.Failed()) snapshotFailed_ = true;
}

uint32_t CTarvo::WFCOMInitialize(CErrorMgr& errorMgr, std::shared_ptr<plat::IFwPolicy2>* policy) {
  const uint32_t hr = plat::Current().Firewall().CreatePolicy2(policy);
  if (winerr::Failed(hr) || !*policy) {
    errorMgr.AddMessageF(kLevelInfo, kPolicyLabel, "CoCreateInstance for INetFwPolicy2 failed: 0x%08lx\n",
                         static_cast<unsigned long>(hr));
  }
  return hr;
}

void CTarvo::ExportCurrentFirewallFeatures(CErrorMgr& errorMgr, const std::string& folder) {
  // Without a snapshot folder there is nothing to bring in line (and no
  // other folder's files are to be touched).
  if (folder.empty()) {
    errorMgr.AddMessage(kLevelInfo, kExportCurrentLabel,
                        "No Export will be done because no firewall settings are defined in the Security XML files");
    return;
  }
  errorMgr.AddMessageF(kLevelInfo, kExportCurrentLabel,
                       "A snapshot of the current firewall settings will be saved in %s", folder.c_str());
  std::shared_ptr<plat::IFwPolicy2> policy;
  if (winerr::Failed(WFCOMInitialize(errorMgr, &policy)) || !policy) return;
  std::shared_ptr<plat::IFwRules> rules;
  if (const uint32_t hr = policy->GetRules(&rules); winerr::Failed(hr) || !rules) {
    errorMgr.AddMessageF(kLevelInfo, kExportCurrentLabel, "get_Rules failed: 0x%08lx\n",
                         static_cast<unsigned long>(hr));
    return;
  }
  int32_t count = 0;
  if (const uint32_t hr = rules->Count(&count); winerr::Failed(hr)) {
    errorMgr.AddMessageF(kLevelInfo, kExportCurrentLabel, "get_Count failed: 0x%08lx\n",
                         static_cast<unsigned long>(hr));
    return;
  }
  std::vector<std::shared_ptr<plat::IFwRule>> all;
  rules->Enumerate(&all);
  FWRulesInCollection(errorMgr, all, folder);
}

void CTarvo::FWRulesInCollection(CErrorMgr& errorMgr, const std::vector<std::shared_ptr<plat::IFwRule>>& rules,
                                 const std::string& folder) {
  std::vector<SnapshotFile> files = LoadSnapshotFiles(errorMgr, folder);
  // The files of each product name, in registration order: a rule's
  // grouping is looked up once, whatever the number of files.
  std::map<std::string, std::vector<SnapshotFile*>> filesOfProduct;
  for (SnapshotFile& file : files) {
    std::string product;
    GetXmlValue(file.document, std::string("/") + secfile::kProductValuePath, &product);
    filesOfProduct[product].push_back(&file);
  }
  for (const auto& rule : rules) {
    if (!rule) continue;
    const RuleFacts facts = ReadRule(*rule);
    if (facts.grouping.empty()) continue;
    const auto found = filesOfProduct.find(facts.grouping);
    if (found == filesOfProduct.end()) continue;
    for (SnapshotFile* file : found->second) {
      LogRuleHead(errorMgr, facts);
      if (const xml::Node entry = EntryOfRule(file->document, facts); !entry.IsNull()) {
        UpdateEntry(errorMgr, entry, facts);
        file->changed = true;
      }
      LogRuleTail(errorMgr, facts);
    }
  }
  // A file no rule touched stays as it was written.
  for (const SnapshotFile& file : files) {
    if (file.changed && !CRepositoryMgr::SaveXMLWithHash(errorMgr, file.document, file.path)) snapshotFailed_ = true;
  }
}
