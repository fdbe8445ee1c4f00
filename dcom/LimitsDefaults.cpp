// The machine-wide DCOM limits and defaults.
#include "dcom/LimitsDefaults.h"

#include "access/Permission.h"
#include "access/WellKnownAccounts.h"
#include "dcom/DCOMTool.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kApplyLabel = "CLimitsDefaults::ApplyFeature";
constexpr const char* kRemoveLabel = "CLimitsDefaults::RemovePrincipal";
constexpr const char* kAttachLabel = "CLimitsDefaults::CreateAndAttachNewSD";
constexpr const char* kDeleteLabel = "CLimitsDefaults::DeleteLimitDefaultSD()";

int Code(uint32_t rc) { return static_cast<int>(rc); }

void LogDacl(CErrorMgr& errorMgr, const char* label, const char* format, const winsec::Acl& dacl) {
  errorMgr.AddMessageF(kLevelDebug, label, format, static_cast<int>(dacl.AceCount()), static_cast<int>(dacl.Revision()),
                       static_cast<int>(dacl.AclSize()), 0, 0);
}

template <typename Entry>
void ReadEntries(const xml::Node& element, const char* name, std::vector<std::unique_ptr<Entry>>* entries) {
  for (const xml::Node child : element.SelectNodes(name)) {
    auto entry = std::make_unique<Entry>();
    entry->Read(child);
    entries->push_back(std::move(entry));
  }
}

}  // namespace

CLimitsDefaults::CLimitsDefaults() = default;
CLimitsDefaults::~CLimitsDefaults() = default;

// ---- Reading -----------------------------------------------------------------

void CLimitsDefaults::Read(const xml::Node& element) {
  bool launchDefault = false;
  bool accessDefault = false;
  GetXmlBool(element, "@DefaultLaunchPerm", &launchDefault);
  GetXmlBool(element, "@DefaultAccessPerm", &accessDefault);
  launchDefault_ = launchDefault_ || launchDefault;
  accessDefault_ = accessDefault_ || accessDefault;
  if (!launchDefault) ReadEntries(element, "t:launch", &launch_);
  if (!accessDefault) ReadEntries(element, "t:access", &access_);
}

void CLimitsDefaults::AddEntryFromAce(bool launch, uint32_t mask, const std::string& domain, const std::string& user,
                                      bool allowed) {
  if (launch) {
    launch_.push_back(std::make_unique<CLaunchPerm>());
    launch_.back()->SetFromAce(mask, domain, user, allowed);
  } else {
    access_.push_back(std::make_unique<CAccessPerm>());
    access_.back()->SetFromAce(mask, domain, user, allowed);
  }
}

std::vector<const CDCOMPerm*> CLimitsDefaults::EntriesOf(int kind) const {
  std::vector<const CDCOMPerm*> entries;
  if (CDCOMTool::IsLaunchKind(kind)) {
    for (const auto& entry : launch_) entries.push_back(entry.get());
  } else {
    for (const auto& entry : access_) entries.push_back(entry.get());
  }
  return entries;
}

// ---- Applying ------------------------------------------------------------------

bool CLimitsDefaults::ApplyFeature(CErrorMgr& errorMgr, bool isDefaults) {
  ApplyKind(errorMgr, isDefaults ? 1 : 3, launchDefault_, "LaunchPermissions:");
  ApplyKind(errorMgr, isDefaults ? 2 : 4, accessDefault_, "AccessPermissions:");
  return !errorMgr.IsError();
}

void CLimitsDefaults::ApplyKind(CErrorMgr& errorMgr, int kind, bool useDefault, const char* heading) {
  const bool hasEntries = !EntriesOf(kind).empty();
  if (useDefault && !hasEntries) {
    DeleteLimitDefaultSD(errorMgr, kind);
    return;
  }
  if (!hasEntries) return;
  errorMgr.AddMessage(kLevelDebug, kApplyLabel, heading);
  CreateAndAttachNewSD(errorMgr, kind);
}

uint32_t CLimitsDefaults::DeleteLimitDefaultSD(CErrorMgr& errorMgr, int kind) {
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  uint32_t rc = registry.OpenKey(plat::kHkeyLocalMachine, kOleKey, plat::kKeyAllAccess, &key);
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kDeleteLabel,
                         "The DCOM Limits/Defaults in registry 'HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Ole' could "
                         "not be opened. Error: %d",
                         Code(rc));
    return rc;
  }
  const char* valueName = CDCOMTool::LimitDefaultValueName(kind);
  rc = registry.DeleteValue(key, valueName);
  registry.CloseKey(key);
  if (rc == winerr::kFileNotFound) return winerr::kSuccess;
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kDeleteLabel, "The %s could not be deleted.  ReturnValue=%d", valueName, Code(rc));
  }
  return rc;
}

void CLimitsDefaults::RemovePrincipal(CErrorMgr& errorMgr, int kind, winsec::Acl* dacl) const {
  const std::vector<const CDCOMPerm*> entries = EntriesOf(kind);
  if (entries.empty()) errorMgr.AddMessage(kLevelDebug, kRemoveLabel, "  nothing to delete");
  for (const CDCOMPerm* entry : entries) {
    errorMgr.AddMessageF(kLevelDebug, kRemoveLabel, "  Remove  %s  from ACL", TranslateAccountName(entry->User()).c_str());
    entry->RemoveAccountFrom(dacl);
  }
}

uint32_t CLimitsDefaults::CreateAndAttachNewSD(CErrorMgr& errorMgr, int kind) {
  const char* valueName = CDCOMTool::LimitDefaultValueName(kind);
  CErrorScope scope(errorMgr);
  bool isNew = false;
  winsec::Bytes stored;
  uint32_t rc = CDCOMTool::GetSecurityDescriptorFromRegistry(errorMgr, kOleKey, valueName, &isNew, &stored);
  if (rc != winerr::kSuccess) return rc;  // reported; the value stays as it is
  winsec::SecurityDescriptor sd;
  if (isNew) {
    errorMgr.AddMessage(kLevelDebug, kAttachLabel, "Call CreateStandardSD  => make new SECURITY_DESCRIPTOR");
    rc = CDCOMTool::CreateStandardSD(errorMgr, &sd, kind);
  } else {
    rc = CDCOMTool::MakeSDAbsolute(stored, &sd);
  }
  winsec::Acl* dacl = sd.MutableDacl();
  if (rc == winerr::kSuccess && dacl == nullptr) rc = winerr::kInvalidSecurityDescr;  // a NULL or absent DACL
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kAttachLabel, "GetSecurityDescriptorDacl() failed.  ReturnValue=%d", Code(rc));
    return rc;
  }
  LogDacl(errorMgr, kAttachLabel, "  created Dacl: AceCount=%d, AclRevision=%d, AclSize=%d, Sbz1=%d, Sbz2=%d", *dacl);
  RemovePrincipal(errorMgr, kind, dacl);
  CPermission::RemoveAllDoublets(errorMgr, dacl);
  for (const CDCOMPerm* entry : EntriesOf(kind)) {
    if (scope.Failed()) break;
    entry->SetPermToDacl(errorMgr, dacl);
  }
  if (scope.Failed()) return winerr::kInvalidParameter;  // reported; nothing is written
  LogDacl(errorMgr, kAttachLabel,
          "  Call SetSecurityDescriptorDacl(): AceCount=%d, AclRevision=%d, AclSize=%d, Sbz1=%d, Sbz2=%d", *dacl);
  return CDCOMTool::SetSecurityDescriptorToRegistry(errorMgr, valueName, sd);
}

// ---- Log and documents -------------------------------------------------------------

void CLimitsDefaults::AddLogEntriesFromFeature(CErrorMgr& errorMgr) const {
  errorMgr.AddMessage(kLevelInfo, "", "  AccessPermissions:");
  if (accessDefault_) {
    errorMgr.AddMessage(kLevelInfo, "", "    AccessPermissions are set to system default values");
  } else {
    for (const auto& entry : access_) entry->AddLogEntriesFromFeature(errorMgr);
  }
  errorMgr.AddMessage(kLevelInfo, "", "  LaunchPermissions:");
  if (launchDefault_) {
    errorMgr.AddMessage(kLevelInfo, "", "    LaunchPermissions are set to system default values");
  } else {
    for (const auto& entry : launch_) entry->AddLogEntriesFromFeature(errorMgr);
  }
}

void CLimitsDefaults::SetFeatureToXml(const xml::Node& element, bool withMessage) const {
  if (accessDefault_) {
    SetXmlAttribute(element, "DefaultAccessPerm", "true");
  } else {
    for (const auto& entry : access_) entry->SetFeatureToXml(element, withMessage);
  }
  if (launchDefault_) {
    SetXmlAttribute(element, "DefaultLaunchPerm", "true");
  } else {
    for (const auto& entry : launch_) entry->SetFeatureToXml(element, withMessage);
  }
}
