// The DCOM permission entries.
#include "dcom/DCOMPerm.h"

#include <array>
#include <cstring>

#include "access/Permission.h"
#include "access/WellKnownAccounts.h"
#include "dcom/DCOMTool.h"
#include "features/Feature.h"
#include "infra/ErrorMgr.h"
#include "platform/text/Text.h"
#include "platform/xml/XPathLiteral.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr std::array<ComRight, 2> kAccessRights = {{
    {"t:localAccess", kComRightsExecuteLocal, 144},
    {"t:remoteAccess", kComRightsExecuteRemote, 145},
}};
constexpr std::array<size_t, 2> kAccessOrder = {0, 1};

constexpr std::array<ComRight, 5> kLaunchRights = {{
    {"t:localLaunch", kComRightsExecuteLocal, 146},
    {"t:remoteLaunch", kComRightsExecuteRemote, 147},
    {"t:localActivation", kComRightsActivateLocal, 148},
    {"t:remoteActivation", kComRightsActivateRemote, 149},
    {"t:execute", kComRightsExecute, 157},
}};
// Local activation, local launch, remote activation, remote launch, execute.
constexpr std::array<size_t, 5> kLaunchOrder = {2, 0, 3, 1, 4};

constexpr std::array<ComRight, 3> kConfigurationRights = {{
    {"t:fullControl", 0, 111},
    {"t:read", 0, 156},
    {"t:specialPermissions", 0, 155},
}};

std::string ValueOf(const xml::Node& node, std::string_view xpath) {
  std::string value;
  GetXmlValue(node, xpath, &value);
  return value;
}

std::string Text(int number, bool withMessage) {
  return withMessage && number != 0 ? CResourceMgr::GetResourceText(number) : std::string();
}

}  // namespace

CDCOMPerm::CDCOMPerm() = default;
CDCOMPerm::~CDCOMPerm() = default;

void CDCOMPerm::ResetCodes() { codes_.assign(Rights().size(), kRightNotGiven); }

bool CDCOMPerm::IsAccess() const { return std::strcmp(ClassName(), "CAccessPerm") == 0; }

void CDCOMPerm::Read(const xml::Node& element) {
  domain_ = ValueOf(element, "@domain");
  user_ = ValueOf(element, "@user");
  const std::span<const ComRight> rights = Rights();
  for (size_t i = 0; i < rights.size(); ++i) {
    const xml::Node child = element.SelectSingleNode(rights[i].element);
    codes_[i] = child.IsNull() ? kRightNotGiven : CFeature::GetProgramPermission(child, nullptr);
  }
}

void CDCOMPerm::SetFromAce(uint32_t mask, const std::string& domain, const std::string& user, bool allowed) {
  domain_ = domain;
  user_ = user;
  const std::span<const ComRight> rights = Rights();
  for (size_t i = 0; i < rights.size(); ++i) {
    if (rights[i].bit != 0 && (mask & rights[i].bit) != 0) {
      codes_[i] = allowed ? CFeature::kPermissionAllowed : CFeature::kPermissionDenied;
    }
  }
}

bool CDCOMPerm::GetMasks(CErrorMgr& errorMgr, uint32_t* grant, uint32_t* deny) const {
  *grant = 0;
  *deny = 0;
  const std::span<const ComRight> rights = Rights();
  for (const size_t i : MaskOrder()) {
    if (!CPermission::GetAccessDenyRights(errorMgr, grant, deny, codes_[i], rights[i].bit)) return false;
  }
  if (*grant != 0) *grant |= kComRightsExecute;
  if (*deny != 0) *deny |= kComRightsExecute;
  return true;
}

void CDCOMPerm::SetPermToDacl(CErrorMgr& errorMgr, winsec::Acl* acl) const {
  const std::string label = std::string(ClassName()) + "::SetPermToDacl";
  if (IsAccess()) errorMgr.AddMessageF(kLevelDebug, label, "  start SetPermToDacl()  User=%s", user_.c_str());
  uint32_t grant = 0;
  uint32_t deny = 0;
  if (!GetMasks(errorMgr, &grant, &deny)) return;
  const ResolvedAccount account = ResolveAccount(domain_, user_);
  if (!account.found) {
    errorMgr.AddMessageF(kLevelWarning, label,
                         IsAccess() ? "  The user %s\\%s  doesn't exist  ==> GetSIDFromName()"
                                    : "  The user %s\\%s  doesn't exist",
                         domain_.c_str(), account.name.c_str());
    return;
  }
  if (grant != 0) {
    if (IsAccess()) {
      errorMgr.AddMessageF(kLevelDebug, label, "  AddUserToACL:  Grant-Mask=%d,  User=%s", static_cast<int>(grant),
                           account.name.c_str());
    }
    CDCOMTool::AddSidToACL(errorMgr, acl, grant, account.sid, true);
  }
  if (deny != 0) {
    if (IsAccess()) {
      errorMgr.AddMessageF(kLevelDebug, label, "  AddUserToACL:  Denym-Mask=%d, User=%s", static_cast<int>(deny),
                           account.name.c_str());
    }
    CDCOMTool::AddSidToACL(errorMgr, acl, deny, account.sid, false);
  }
}

void CDCOMPerm::RemoveAccountFrom(winsec::Acl* acl) const {
  const ResolvedAccount account = ResolveAccount(domain_, user_);
  if (account.found) CDCOMTool::RemoveAllAcesOf(acl, account.sid);
}

void CDCOMPerm::AddLogEntriesFromFeature(CErrorMgr& errorMgr) const {
  uint32_t grant = 0;
  uint32_t deny = 0;
  if (!GetMasks(errorMgr, &grant, &deny)) return;
  const char* domain = domain_.c_str();
  const char* user = user_.c_str();
  if (grant != 0) {
    errorMgr.AddMessageF(kLevelInfo, "", "      Allowed 0x%.8x to %s\\%s.", grant & ~kComRightsExecute, domain, user);
  }
  if (deny != 0) {
    errorMgr.AddMessageF(kLevelInfo, "", "      Denied 0x%.8x to %s\\%s.", deny & ~kComRightsExecute, domain, user);
  }
}

xml::Node CDCOMPerm::SetFeatureToXml(const xml::Node& parent, bool withMessage) const {
  const std::string query = text::Format("%s[@domain=%s and @user=%s]", ElementName(),
                                         xml::XPathLiteral(domain_).c_str(), xml::XPathLiteral(user_).c_str());
  xml::Node element = parent.SelectSingleNode(query);
  if (element.IsNull()) {
    const xml::Document owner = parent.OwnerDocument();
    if (owner.IsNull()) return {};
    element = parent.AppendChild(owner.CreateElement(ElementName()));
    SetXmlAttribute(element, "domain", domain_);
    SetXmlAttribute(element, "user", user_);
  }
  if (withMessage && MessageText() != 0) SetXmlAttribute(element, "message", Text(MessageText(), true));
  const std::span<const ComRight> rights = Rights();
  for (size_t i = 0; i < rights.size(); ++i) {
    CFeature::SetProgramPermissionToXml(element, rights[i].element, codes_[i], Text(rights[i].text, withMessage));
  }
  return element;
}

// ---- The kinds -------------------------------------------------------------------

CAccessPerm::CAccessPerm() { ResetCodes(); }
std::span<const ComRight> CAccessPerm::Rights() const { return kAccessRights; }
std::span<const size_t> CAccessPerm::MaskOrder() const { return kAccessOrder; }

CLaunchPerm::CLaunchPerm() { ResetCodes(); }
std::span<const ComRight> CLaunchPerm::Rights() const { return kLaunchRights; }
std::span<const size_t> CLaunchPerm::MaskOrder() const { return kLaunchOrder; }

CConfigurationPerm::CConfigurationPerm() { ResetCodes(); }
std::span<const ComRight> CConfigurationPerm::Rights() const { return kConfigurationRights; }
std::span<const size_t> CConfigurationPerm::MaskOrder() const { return {}; }
