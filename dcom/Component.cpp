// A DCOM application under HKEY_CLASSES_ROOT\APPID.
#include "dcom/Component.h"

#include <array>

#include "access/Permission.h"
#include "access/WellKnownAccounts.h"
#include "dcom/DCOMTool.h"
#include "features/Feature.h"
#include "infra/ErrorMgr.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kApplyLabel = "CComponent::ApplyFeature";
constexpr const char* kCreateLabel = "CComponent::CreateApplicationKeyInReg";
constexpr const char* kPermissionsLabel = "CComponent::SetAccessLaunchPermissions";
constexpr const char* kLevelTextLabel = "CComponent::GetAuthenticationLevel AL";
constexpr const char* kLevelNumberLabel = "CComponent::GetAuthenticationLevel";
constexpr const char* kCurrentLabel = "CDCOM::";

constexpr const char* kUseDefault = "use default";

constexpr int kComponentText = 150;
constexpr int kAuthenticationText = 151;
constexpr int kLaunchText = 152;
constexpr int kAccessText = 153;
constexpr int kConfigurationText = 154;
constexpr int kUseDefaultText = 183;
constexpr int kCustomizeText = 184;

struct AuthenticationLevelRow {
  const char* text;  // as compared, lower case
  uint32_t number;   // the RPC authentication level
  const char* display;
  int message;
};

constexpr std::array<AuthenticationLevelRow, 7> kAuthenticationLevels = {{
    {"default", 0, "Default", 176},
    {"none", 1, "None", 177},
    {"connect", 2, "Connect", 178},
    {"call", 3, "Call", 179},
    {"packet", 4, "Packet", 180},
    {"packet integrity", 5, "Packet Integrity", 181},
    {"packet privacy", 6, "Packet Privacy", 182},
}};

const AuthenticationLevelRow* FindLevel(std::string_view text) {
  const std::string lower = text::AsciiLower(text);
  for (const AuthenticationLevelRow& row : kAuthenticationLevels) {
    if (lower == row.text) return &row;
  }
  return nullptr;
}

int Code(uint32_t rc) { return static_cast<int>(rc); }

std::string ValueOf(const xml::Node& node, std::string_view xpath) {
  std::string value;
  GetXmlValue(node, xpath, &value);
  return value;
}

bool IsUseDefault(std::string_view value) { return text::AsciiLower(value) == kUseDefault; }

// The mode of a permissions child and, unless it is "use default", its entries.
template <typename Entry>
std::string ReadPermissions(const xml::Node& element, const char* child, const char* entryName,
                            std::vector<std::unique_ptr<Entry>>* entries) {
  const xml::Node permissions = element.SelectSingleNode(child);
  if (permissions.IsNull()) return "";
  const std::string value = ValueOf(permissions, "@value");
  if (IsUseDefault(value)) return value;
  for (const xml::Node node : permissions.SelectNodes(entryName)) {
    auto entry = std::make_unique<Entry>();
    entry->Read(node);
    entries->push_back(std::move(entry));
  }
  return value;
}

template <typename Entry>
void WritePermissions(const xml::Node& component, const char* child, int message, const std::string& value,
                      const std::vector<std::unique_ptr<Entry>>& entries, bool withMessage) {
  if (value.empty()) return;
  const auto text = [withMessage](int number) { return ResourceTextIf(withMessage, number); };
  const xml::Node element = GetOrCreateChildElement(component, child, text(message));
  SetXmlAttribute(element, "value", value);
  if (withMessage) SetXmlAttribute(element, "message2", text(IsUseDefault(value) ? kUseDefaultText : kCustomizeText));
  for (const auto& entry : entries) entry->SetFeatureToXml(element, withMessage);
}

template <typename Entry>
void LogEntries(CErrorMgr& errorMgr, const char* format, const std::string& value,
                const std::vector<std::unique_ptr<Entry>>& entries) {
  errorMgr.AddMessageF(kLevelInfo, "", format, value.c_str());
  for (const auto& entry : entries) entry->AddLogEntriesFromFeature(errorMgr);
}

}  // namespace

CComponent::CComponent() = default;
CComponent::~CComponent() = default;

std::string CComponent::KeyPath() const { return "APPID\\" + applicationId_; }

// ---- Reading -------------------------------------------------------------------

void CComponent::Read(const xml::Node& element) {
  applicationId_ = ValueOf(element, "@applicationID");
  name_ = ValueOf(element, "@name");
  exists_ = ValueOf(element, "@DoesNotExistOnSystem") != "true";
  if (!exists_) return;
  runAs_ = ValueOf(element, "@runAs");
  localService_ = ValueOf(element, "@localService");
  serviceParameters_ = ValueOf(element, "@serviceParameters");
  authenticationLevel_ = ValueOf(element, "t:authenticationLevel/@value");
  launchValue_ = ReadPermissions(element, "t:launchPermissions", "t:launch", &launch_);
  accessValue_ = ReadPermissions(element, "t:accessPermissions", "t:access", &access_);
  configurationValue_ = ReadPermissions(element, "t:configurationPermissions", "t:configuration", &configuration_);
}

std::unique_ptr<CComponent> CComponent::RemovalCopy() const {
  auto copy = std::make_unique<CComponent>();
  copy->applicationId_ = applicationId_;
  copy->name_ = name_;
  copy->exists_ = false;
  return copy;
}

// ---- Authentication levels -------------------------------------------------------

uint32_t CComponent::GetAuthenticationLevel(CErrorMgr& errorMgr, std::string_view text) {
  if (const AuthenticationLevelRow* row = FindLevel(text)) return row->number;
  errorMgr.AddMessageF(kLevelWarning, kLevelTextLabel,
                       "  Unknown Authentication Level '%s'. Using default Authentication Level",
                       std::string(text).c_str());
  return 0;
}

std::string CComponent::GetAuthenticationLevel(CErrorMgr& errorMgr, uint32_t number) {
  for (const AuthenticationLevelRow& row : kAuthenticationLevels) {
    if (row.number == number) return row.display;
  }
  errorMgr.AddMessageF(kLevelWarning, kLevelNumberLabel,
                       "  Unknown Authentication Level '%d'. Using default Authentication Level", Code(number));
  return "Default";
}

// ---- Applying ---------------------------------------------------------------------

// An id holding a backslash would name another key below APPID, and "\"
// the APPID key itself.
bool CComponent::CreateApplicationKeyInReg(CErrorMgr& errorMgr, plat::HKey* key) {
  if (applicationId_.empty()) {
    errorMgr.AddMessage(kLevelError, kCreateLabel, "ApplicationKey was not - so DCOM object could not be installed");
    return false;
  }
  uint32_t rc = winerr::kInvalidName;
  if (applicationId_.find('\\') == std::string::npos) {
    bool created = false;
    rc = plat::Current().Registry().CreateKey(plat::kHkeyClassesRoot, KeyPath(), plat::kKeyAllAccess, key, &created);
  }
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kCreateLabel, "RegCreateKeyEx(%s\\%s) failed.  ReturnValue=%d",
                         "HKEY_CLASSES_ROOT", KeyPath().c_str(), Code(rc));
    return false;
  }
  return true;
}

// A key that is already gone is what was asked for: a second run of the
// same feature is no error.
void CComponent::DeleteApplicationKey(CErrorMgr& errorMgr) {
  if (applicationId_.empty()) {
    errorMgr.AddMessage(kLevelError, kApplyLabel, "DCOM component could not be deleted, because ApplicationID was not set");
    return;
  }
  uint32_t rc = winerr::kInvalidName;
  if (applicationId_.find('\\') == std::string::npos) {
    rc = plat::Current().Registry().DeleteKey(plat::kHkeyClassesRoot, KeyPath(), 0);
  }
  if (rc == winerr::kFileNotFound) {
    errorMgr.AddMessageF(kLevelInfo, kApplyLabel, "  DCOM application %s (%s) does not exist - nothing to delete",
                         name_.c_str(), applicationId_.c_str());
  } else if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kApplyLabel, "RegDeleteKey(%s) for DCOM application %s  failed.  ReturnValue=%d",
                         KeyPath().c_str(), name_.c_str(), Code(rc));
  }
}

bool CComponent::WriteString(CErrorMgr& errorMgr, plat::HKey key, std::string_view valueName, const std::string& value,
                             const char* failureFormat) {
  const uint32_t rc = plat::Current().Registry().SetValue(key, valueName, plat::kRegSz, plat::MakeRegSz(value));
  if (rc == winerr::kSuccess) return true;
  errorMgr.AddMessageF(kLevelError, kApplyLabel, failureFormat, value.c_str(), name_.c_str(), Code(rc));
  return false;
}

// A component without t:authenticationLevel leaves the stored level alone.
void CComponent::WriteAuthenticationLevel(CErrorMgr& errorMgr, plat::HKey key) {
  if (authenticationLevel_.empty()) return;
  const uint32_t level = GetAuthenticationLevel(errorMgr, authenticationLevel_);
  const uint32_t rc = plat::Current().Registry().SetValue(key, "AuthenticationLevel", plat::kRegDword,
                                                          plat::MakeRegDword(level));
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kApplyLabel,
                         "SetDWORDValueToKey(AuthenticationLevel, %d=%s) for DCOM application %s failed.  ReturnValue=%d",
                         Code(level), authenticationLevel_.c_str(), name_.c_str(), Code(rc));
  }
}

bool CComponent::ApplyFeature(CErrorMgr& errorMgr) {
  if (!exists_) {
    DeleteApplicationKey(errorMgr);
    return !errorMgr.IsError();
  }
  plat::HKey key = plat::kNullKey;
  if (!CreateApplicationKeyInReg(errorMgr, &key)) return false;
  WriteString(errorMgr, key, "", name_, "SetStringValueToKey('default', %s) for DCOM application %s  failed.  ReturnValue=%d");
  if (!localService_.empty()) {
    WriteString(errorMgr, key, "LocalService", localService_,
                "SetStringValueToKey(LocalService, %s) for DCOM application %s  failed.  ReturnValue=%d");
  } else {
    errorMgr.AddMessageF(kLevelInfo, kApplyLabel, "    %s: LocalService not set", name_.c_str());
  }
  const std::string runAs = TranslateAccountName(runAs_);
  WriteString(errorMgr, key, "RunAs", runAs,
              "SetStringValueToKey(RunAs, %s) for DCOM application %s failed.  ReturnValue=%d");
  WriteString(errorMgr, key, "ServiceParameters", serviceParameters_,
              "SetStringValueToKey(ServiceParameters, %s) for DCOM application %s failed.  ReturnValue=%d");
  errorMgr.AddMessageF(kLevelDebug, kApplyLabel, "Set to Registry:  LocalService= %s;  ServiceParameters= %s;   RunAs= %s",
                       localService_.c_str(), serviceParameters_.c_str(), runAs.c_str());
  SetAccessLaunchPermissions(errorMgr, key, true);
  SetAccessLaunchPermissions(errorMgr, key, false);
  WriteAuthenticationLevel(errorMgr, key);
  plat::Current().Registry().CloseKey(key);
  return !errorMgr.IsError();
}

bool CComponent::ReadOrCreateDescriptor(CErrorMgr& errorMgr, plat::HKey key, bool launch,
                                        winsec::SecurityDescriptor* sd) {
  const char* valueName = launch ? "LaunchPermission" : "AccessPermission";
  winsec::Bytes stored;
  uint32_t rc = CDCOMTool::ReadDescriptorValue(key, valueName, &stored);
  if (rc == winerr::kFileNotFound) {
    rc = CDCOMTool::CreateStandardSD(errorMgr, sd, launch ? 1 : 2);
    errorMgr.AddMessageF(kLevelDebug, kPermissionsLabel,
                         launch ? "CreateStandardSD()  ReturnValue=%d" : "  CreateStandardSD()  ReturnValue=%d", Code(rc));
    return rc == winerr::kSuccess;
  }
  // A launch permission that cannot be read stops its step as an access
  // permission does: what cannot be read cannot be merged into.
  if (rc != winerr::kSuccess) {
    if (launch) {
      errorMgr.AddMessageF(kLevelError, kPermissionsLabel, "GetSecurityDescriptorFromRegistry() failed. ReturnValue=%d",
                           Code(rc));
    } else {
      errorMgr.AddMessageF(kLevelError, kPermissionsLabel, "GetSecurityDescriptorFromRegistry(%s) failed.  ReturnValue=%d",
                           valueName, Code(rc));
    }
    return false;
  }
  errorMgr.AddMessageF(kLevelDebug, kPermissionsLabel, "GetSecurityDescriptorFromRegistry for  %s", valueName);
  rc = CDCOMTool::MakeSDAbsolute(stored, sd);
  errorMgr.AddMessageF(kLevelDebug, kPermissionsLabel, "  MakeSDAbsolute()  ReturnValue=%d", Code(rc));
  return rc == winerr::kSuccess;
}

void CComponent::SetAccessLaunchPermissions(CErrorMgr& errorMgr, plat::HKey key, bool launch) {
  const char* valueName = launch ? "LaunchPermission" : "AccessPermission";
  plat::IRegistry& registry = plat::Current().Registry();
  if (IsUseDefault(launch ? launchValue_ : accessValue_)) {
    const uint32_t rc = registry.DeleteValue(key, valueName);
    if (rc != winerr::kSuccess && rc != winerr::kFileNotFound) {
      errorMgr.AddMessageF(kLevelError, kPermissionsLabel, "RegDeleteValue() failed. Error=%d", Code(rc));
    } else {
      errorMgr.AddMessageF(kLevelDebug, kPermissionsLabel, "use default:  remove the %s from registry", valueName);
    }
    return;
  }
  std::vector<const CDCOMPerm*> entries;
  if (launch) {
    for (const auto& entry : launch_) entries.push_back(entry.get());
  } else {
    for (const auto& entry : access_) entries.push_back(entry.get());
  }
  if (entries.empty()) return;

  const CErrorScope scope(errorMgr);
  winsec::SecurityDescriptor sd;
  if (!ReadOrCreateDescriptor(errorMgr, key, launch, &sd)) return;
  winsec::Acl* dacl = sd.MutableDacl();
  if (dacl == nullptr) {  // a NULL or absent DACL is left as it is
    errorMgr.AddMessageF(kLevelError, kPermissionsLabel, "  GetSecurityDescriptorDacl() failed.  ReturnValue=%d!",
                         Code(winerr::kInvalidSecurityDescr));
    return;
  }
  errorMgr.AddMessageF(kLevelDebug, kPermissionsLabel, "  GetSecurityDescriptorDacl()  DaclPresent=%s  DaclDefaulted=%s",
                       "true", (sd.Control() & winsec::kSeDaclDefaulted) ? "true" : "false");
  CPermission::RemoveAllDoublets(errorMgr, dacl);
  for (const CDCOMPerm* entry : entries) entry->RemoveAccountFrom(dacl);
  for (const CDCOMPerm* entry : entries) {
    if (scope.Failed()) return;
    entry->SetPermToDacl(errorMgr, dacl);
  }
  if (scope.Failed()) return;
  sd.SetControlBits(winsec::kSeDaclDefaulted, 0);
  winsec::Bytes bytes;
  if (const uint32_t rc = sd.ToSelfRelative(&bytes)) {
    errorMgr.AddMessageF(kLevelError, kPermissionsLabel, "MakeSelfRelativeSD() failed.  ReturnValue=%d", Code(rc));
    return;
  }
  if (const uint32_t rc = registry.SetValue(key, valueName, plat::kRegBinary, winsec::ToByteString(bytes))) {
    errorMgr.AddMessageF(kLevelError, kPermissionsLabel, "RegSetValueEx(%s) failed.  ReturnValue=%d", valueName,
                         Code(rc));
    return;
  }
  errorMgr.AddMessageF(kLevelDebug, kPermissionsLabel, "Set SecurityDescriptor for  %s  to Registry", valueName);
  registry.FlushKey(key);
}

// ---- The machine's values ------------------------------------------------------------

void CComponent::ReadCurrentPermissions(CErrorMgr& errorMgr, plat::HKey key, bool launch) {
  std::string& value = launch ? launchValue_ : accessValue_;
  winsec::Bytes stored;
  const uint32_t rc = CDCOMTool::ReadDescriptorValue(key, launch ? "LaunchPermission" : "AccessPermission", &stored);
  if (rc == winerr::kFileNotFound) {
    value = "Use Default";
    return;
  }
  value = "Customize";
  winsec::SecurityDescriptor sd;
  if (rc != winerr::kSuccess || CDCOMTool::MakeSDAbsolute(stored, &sd) != winerr::kSuccess || sd.Dacl() == nullptr) {
    errorMgr.AddMessage(kLevelWarning, kCurrentLabel, " ReturnValue=PACL = NULL");
    return;
  }
  for (const winsec::Ace& ace : sd.Dacl()->Aces()) {
    const bool allowed = ace.type == winsec::kAccessAllowedAceType;
    if (!allowed && ace.type != winsec::kAccessDeniedAceType) continue;
    std::string domain;
    std::string user;
    CDCOMTool::AccountOfSid(ace.sid, &domain, &user);
    if (launch) {
      launch_.push_back(std::make_unique<CLaunchPerm>());
      launch_.back()->SetFromAce(ace.mask, domain, user, allowed);
    } else {
      access_.push_back(std::make_unique<CAccessPerm>());
      access_.back()->SetFromAce(ace.mask, domain, user, allowed);
    }
  }
}

std::unique_ptr<CComponent> CComponent::GetCurrentComponent(CErrorMgr& errorMgr) const {
  auto current = std::make_unique<CComponent>();
  current->applicationId_ = applicationId_;
  current->name_ = name_;
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  if (applicationId_.empty() || applicationId_.find('\\') != std::string::npos ||
      registry.OpenKey(plat::kHkeyClassesRoot, KeyPath(), plat::kKeyRead, &key) != winerr::kSuccess) {
    current->exists_ = false;
    return current;
  }
  current->runAs_ = CTool::GetRegistryString(key, "RunAs");
  current->localService_ = CTool::GetRegistryString(key, "LocalService");
  current->name_ = CTool::GetRegistryString(key, "");
  current->serviceParameters_ = CTool::GetRegistryString(key, "ServiceParameters");
  plat::RegValue level;
  if (registry.QueryValue(key, "AuthenticationLevel", &level) == winerr::kSuccess && level.type == plat::kRegDword) {
    current->authenticationLevel_ = GetAuthenticationLevel(errorMgr, plat::RegDwordValue(level.data));
  }
  current->ReadCurrentPermissions(errorMgr, key, true);
  current->ReadCurrentPermissions(errorMgr, key, false);
  registry.CloseKey(key);
  return current;
}

// ---- Log and documents ------------------------------------------------------------

void CComponent::AddLogEntriesFromFeature(CErrorMgr& errorMgr) const {
  if (!exists_) {
    errorMgr.AddMessageF(kLevelInfo, "", "  Component '%s' %s  does not exist in system", name_.c_str(),
                         applicationId_.c_str());
    return;
  }
  errorMgr.AddMessage(kLevelInfo, "",
                      text::Format("  Component '%s' %s", name_.c_str(), applicationId_.c_str()) +
                          text::Format("  runs as '%s'", runAs_.c_str()) +
                          text::Format("  local service is '%s'", localService_.c_str()) +
                          text::Format("  service parameter '%s'", serviceParameters_.c_str()) +
                          text::Format("  Authentication level '%s'", authenticationLevel_.c_str()));
  LogEntries(errorMgr, "    LaunchPermissions set to '%s'", launchValue_, launch_);
  LogEntries(errorMgr, "    AccessPermissions set to '%s'", accessValue_, access_);
}

xml::Node CComponent::SetFeatureToXml(const xml::Node& parent, std::string_view productName, bool withMessage) const {
  const auto text = [withMessage](int number) { return ResourceTextIf(withMessage, number); };
  xml::Node element = parent.FindChild("t:component", {{"applicationID", applicationId_}});
  if (element.IsNull()) {
    const xml::Document owner = parent.OwnerDocument();
    if (owner.IsNull()) return {};
    element = parent.AppendChild(owner.CreateElement("t:component"));
  }
  SetXmlAttribute(element, "applicationID", applicationId_);
  SetXmlAttribute(element, "name", name_);
  if (exists_) {
    element.RemoveAttribute("DoesNotExistOnSystem");
    SetXmlAttribute(element, "runAs", runAs_);
    SetXmlAttribute(element, "localService", localService_);
    SetXmlAttribute(element, "serviceParameters", serviceParameters_);
  } else {
    SetXmlAttribute(element, "DoesNotExistOnSystem", "true");
  }
  if (withMessage) {
    SetXmlAttribute(element, "message", text(kComponentText));
    CFeature::AddRequestingProgram(element, productName);
  }
  if (!exists_) return element;
  if (!authenticationLevel_.empty()) {
    const xml::Node level = GetOrCreateChildElement(element, "t:authenticationLevel", text(kAuthenticationText));
    SetXmlAttribute(level, "value", authenticationLevel_);
    const AuthenticationLevelRow* row = FindLevel(authenticationLevel_);
    if (withMessage && row != nullptr) SetXmlAttribute(level, "message2", text(row->message));
  }
  WritePermissions(element, "t:launchPermissions", kLaunchText, launchValue_, launch_, withMessage);
  WritePermissions(element, "t:accessPermissions", kAccessText, accessValue_, access_, withMessage);
  WritePermissions(element, "t:configurationPermissions", kConfigurationText, configurationValue_, configuration_,
                   withMessage);
  return element;
}
