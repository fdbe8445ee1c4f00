// The DCOM feature.
#include "dcom/DCOM.h"

#include <algorithm>

#include "dcom/DCOMTool.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kSetLabel = "CDCOM::SetFeatureToXml";
constexpr const char* kHistoryLabel = "CDCOM::GetOriginalFeatureFromHistory";
constexpr const char* kUninstallLabel = "CDCOM::IsUninstallable";
constexpr const char* kCurrentLabel = "CDCOM::";
constexpr const char* kDescriptorLabel = "::GetLimitsDefaultSecurityDescriptor";

constexpr int kFeatureText = 143;
constexpr int kDefaultsText = 174;
constexpr int kLimitsText = 175;

}  // namespace

CDCOM::CDCOM() = default;
CDCOM::~CDCOM() = default;

// ---- Reading -------------------------------------------------------------------

bool CDCOM::GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) {
  if (!InitFeatureFromNode(errorMgr, node, sessionId)) return false;
  const xml::Node dcom = node.SelectSingleNode("t:dcom");
  if (dcom.IsNull()) return true;
  for (const xml::Node limits : dcom.SelectNodes("t:limits")) {
    if (!limits_) limits_ = std::make_unique<CLimitsDefaults>();
    limits_->Read(limits);
  }
  for (const xml::Node defaults : dcom.SelectNodes("t:defaults")) {
    if (!defaults_) defaults_ = std::make_unique<CLimitsDefaults>();
    defaults_->Read(defaults);
  }
  for (const xml::Node element : dcom.SelectNodes("t:component")) {
    auto component = std::make_unique<CComponent>();
    component->Read(element);
    components_.push_back(std::move(component));
  }
  return true;
}

// ---- Applying --------------------------------------------------------------------

bool CDCOM::ApplyFeature(CErrorMgr& errorMgr) {
  if (defaults_) defaults_->ApplyFeature(errorMgr, true);
  if (limits_) limits_->ApplyFeature(errorMgr, false);
  for (const auto& component : components_) component->ApplyFeature(errorMgr);
  return !errorMgr.IsError();
}

// ---- The machine's values ----------------------------------------------------------

CLimitsDefaults& CDCOM::ObjectOfKind(int kind) {
  std::unique_ptr<CLimitsDefaults>& object = kind <= 2 ? defaults_ : limits_;
  if (!object) object = std::make_unique<CLimitsDefaults>();
  return *object;
}

// A value that cannot be read only makes the current values incomplete:
// a warning, not an error of the run.
void CDCOM::ReadCurrentLimitDefault(CErrorMgr& errorMgr, int kind) {
  const char* valueName = CDCOMTool::LimitDefaultValueName(kind);
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  uint32_t rc = registry.OpenKey(plat::kHkeyLocalMachine, kOleKey, plat::kKeyRead, &key);
  winsec::Bytes stored;
  if (rc == winerr::kSuccess) {
    rc = CDCOMTool::ReadDescriptorValue(key, valueName, &stored);
    registry.CloseKey(key);
  }
  CLimitsDefaults& object = ObjectOfKind(kind);
  if (rc == winerr::kFileNotFound) {
    errorMgr.AddMessageF(kLevelDebug, kDescriptorLabel,
                         " (Default Limits/Permissions (key: %s) were not set - so System Default Limits/Permissions "
                         "are currently used",
                         valueName);
    if (CDCOMTool::IsLaunchKind(kind)) {
      object.SetLaunchUsesSystemDefault(true);
    } else {
      object.SetAccessUsesSystemDefault(true);
    }
    return;
  }
  winsec::SecurityDescriptor sd;
  if (rc != winerr::kSuccess || CDCOMTool::MakeSDAbsolute(stored, &sd) != winerr::kSuccess) {
    errorMgr.AddMessage(kLevelWarning, kCurrentLabel, "Error: SECURITY_DESCRIPTOR = NULL");
    return;
  }
  if (sd.Dacl() == nullptr) {
    errorMgr.AddMessage(kLevelWarning, kCurrentLabel, "Error: PACL = NULL");
    return;
  }
  for (const winsec::Ace& ace : sd.Dacl()->Aces()) {
    const bool allowed = ace.type == winsec::kAccessAllowedAceType;
    if (!allowed && ace.type != winsec::kAccessDeniedAceType) continue;
    std::string domain;
    std::string user;
    CDCOMTool::AccountOfSid(ace.sid, &domain, &user);
    object.AddEntryFromAce(CDCOMTool::IsLaunchKind(kind), ace.mask, domain, user, allowed);
  }
}

std::unique_ptr<CFeature> CDCOM::GetCurrentFeature(CErrorMgr& errorMgr) {
  errorMgr.AddMessage(kLevelInfo, "", "  DCOM settings");
  auto current = std::make_unique<CDCOM>();
  current->CopyOriginFrom(*this);
  for (const int kind : {1, 2, 4, 3}) current->ReadCurrentLimitDefault(errorMgr, kind);
  for (const auto& component : components_) current->components_.push_back(component->GetCurrentComponent(errorMgr));
  return current;
}

void CDCOM::AddLogEntriesFromFeature(CErrorMgr& errorMgr) {
  if (defaults_) {
    errorMgr.AddMessage(kLevelInfo, "", "  DCOM Defaults settings:");
    defaults_->AddLogEntriesFromFeature(errorMgr);
  }
  if (limits_) {
    errorMgr.AddMessage(kLevelInfo, "", "  DCOM Limits settings:");
    limits_->AddLogEntriesFromFeature(errorMgr);
  }
  if (!components_.empty()) {
    errorMgr.AddMessage(kLevelInfo, "", "  Component settings:");
    for (const auto& component : components_) component->AddLogEntriesFromFeature(errorMgr);
  }
}

// ---- Writing --------------------------------------------------------------------------

xml::Node CDCOM::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) {
  if (!HasFeatureRoot(errorMgr, kSetLabel, pRootNode)) return {};
  const auto text = [withMessage](int number) { return ResourceTextIf(withMessage, number); };
  const xml::Node container = GetOrCreateChildElement(pRootNode, "t:componentService", text(kFeatureText));
  if (container.IsNull()) return {};
  SetCommonAttributesToXml(container);
  const xml::Node dcom = GetOrCreateChildElement(container, "t:dcom");
  if (defaults_) defaults_->SetFeatureToXml(GetOrCreateChildElement(dcom, "t:defaults", text(kDefaultsText)), withMessage);
  if (limits_) limits_->SetFeatureToXml(GetOrCreateChildElement(dcom, "t:limits", text(kLimitsText)), withMessage);
  for (const auto& component : components_) component->SetFeatureToXml(dcom, GetProductName(), withMessage);
  return container;
}

// ---- History and uninstalling ------------------------------------------------------------

std::unique_ptr<CFeature> CDCOM::GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool undo) {
  if (undo) {
    auto removal = std::make_unique<CDCOM>();
    removal->CopyOriginFrom(*this);
    for (const auto& component : components_) removal->components_.push_back(component->RemovalCopy());
    return removal;
  }
  if (errorMgr.IsError()) return nullptr;
  const xml::Node element = SelectFromHistory(errorMgr, "t:componentService");
  if (element.IsNull()) {
    errorMgr.AddMessage(kLevelError, kHistoryLabel,
                        "There is no DCOM feature in the history file, so it's impossible to get original value for "
                        "this features");
    return nullptr;
  }
  auto original = std::make_unique<CDCOM>();
  original->GetFeatureFromXml(errorMgr, element, GetSessionId());
  return original;
}

bool CDCOM::IsUninstallable(CErrorMgr& errorMgr, const std::vector<CFeature*>& others) {
  errorMgr.AddMessage(kLevelInfo, kUninstallLabel, " The DCOM Feature maybe is uninstallable...checking...");
  const auto heldElsewhere = [&](const std::unique_ptr<CComponent>& component) {
    return std::any_of(others.begin(), others.end(), [&](CFeature* other) {
      const auto* dcom = dynamic_cast<const CDCOM*>(other);
      if (dcom == nullptr || dcom == this) return false;
      return std::any_of(dcom->components_.begin(), dcom->components_.end(), [&](const auto& held) {
        return held->ApplicationId() == component->ApplicationId();
      });
    });
  };
  if (!errorMgr.IsError()) std::erase_if(components_, heldElsewhere);
  if (!components_.empty()) {
    errorMgr.AddMessage(kLevelInfo, kUninstallLabel,
                        "  The DCOM Feature is uninstallable, cause at least one Component was found which could be "
                        "uninstalled");
    defaults_.reset();
    limits_.reset();
    return true;
  }
  errorMgr.AddMessage(kLevelInfo, kUninstallLabel,
                      "  The DCOM Feature is not uninstallable, cause no Component was found which could be uninstalled");
  return false;
}
