// The feature base: common attributes, conditions and the writing helpers.
#include "features/Feature.h"

#include "cli/Results.h"
#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "infra/ProcessState.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"
#include "platform/xml/XPathLiteral.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kInitLabel = "CFeature::InitFeatureFromNode";
constexpr const char* kSetConditionLabel = "CFeature::SetCondition()";
constexpr const char* kExtractLabel = "CFeature::ExtractOSVersion()";
constexpr const char* kAdaptionLabel = "CFeature::GetAdaptionMomentString";
constexpr const char* kHistoryLabel = "CFeature::GetProductNodeFromHistory()";

constexpr const char* kFeatureDocumentRoot = "t:Tarvo";
constexpr const char* kBeforeChangeMoment = "BeforeChangeValue";

std::string ValueOf(const xml::Node& node, std::string_view xpath, std::string_view defaultValue = "") {
  std::string value;
  GetXmlValue(node, xpath, &value, defaultValue);
  return value;
}

const char* AdaptionMomentText(int moment) {
  switch (moment) {
    case secfile::kMomentBeforeInstallation:
      return "BeforeInstallation";
    case secfile::kMomentAfterInstallation:
      return "AfterInstallation";
    default:
      return "";
  }
}

const char* RebootText(int reboot) {
  switch (reboot) {
    case secfile::kRebootNone:
      return "no";
    case secfile::kRebootAfterInstallation:
      return "AfterInstallation";
    case secfile::kRebootBeforeInstallation:
      return "BeforeInstallation";
    default:
      return "";
  }
}

}  // namespace

CFeature::CFeature() { Reset(); }

CFeature::~CFeature() = default;

void CFeature::Reset() {
  os64Bit_ = secfile::kOs64BitAny;
  requiredOsVersion_ = plat::OsVersionInfoEx{};
  osRelation_ = secfile::kOsRelationNone;
  sessionId_.clear();
  productName_.clear();
  kindName_.clear();
  osWow_ = false;
  critical_ = false;
  rebootRequirement_ = secfile::kRebootUnset;
  adaptionMoment_ = secfile::kMomentUnset;
}

// ---- Base behaviour of the slots ---------------------------------------------

bool CFeature::ApplyFeature(CErrorMgr&) { return false; }

xml::Node CFeature::SetFeatureToXml(CErrorMgr&, const xml::Node&, bool) { return {}; }

bool CFeature::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc) {
  // A document without the root still reaches the kind, which reports the
  // missing root itself.
  const xml::Node root = pXmlDoc.IsNull() ? xml::Node{} : pXmlDoc.SelectSingleNode(kFeatureDocumentRoot);
  SetFeatureToXml(errorMgr, root, true);
  return !errorMgr.IsError();
}

bool CFeature::SetFeatureToSecurityXml(CErrorMgr&, const xml::Document&) { return false; }

bool CFeature::GetFeatureFromXml(CErrorMgr&, const xml::Node&, std::string_view) { return true; }

std::unique_ptr<CFeature> CFeature::GetOriginalFeatureFromHistory(CErrorMgr&, bool) { return nullptr; }

bool CFeature::IsUninstallable(CErrorMgr&, const std::vector<CFeature*>&) { return false; }

std::unique_ptr<CFeature> CFeature::GetCurrentFeature(CErrorMgr&) { return nullptr; }

void CFeature::AddLogEntriesFromFeature(CErrorMgr&) {}

// ---- Reading -----------------------------------------------------------------

bool CFeature::InitFeatureFromNode(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) {
  sessionId_ = std::string(sessionId);
  const xml::Node parent = node.ParentNode();
  productName_ = secfile::FindProductName([&](const char* query) { return ValueOf(parent, query); });
  kindName_ = secfile::KindNameFromLocalName(node.BaseName());

  ReadOsCondition(errorMgr, node);
  plat::OsVersionInfoEx running;
  if (!plat::Current().System().GetVersionInfo(&running)) running = plat::OsVersionInfoEx{};
  if (!IsOSVersionMatching(running) || !IsPlatformMatching()) {
    errorMgr.AddMessageF(kLevelInfo, kInitLabel, "    Feature  %s  not allowed for this OSVersion", kindName_.c_str());
    return false;
  }
  if (!CheckOs64Bit(errorMgr, node)) return false;

  rebootRequirement_ = secfile::RebootRequirementFromText(ValueOf(node, "@reboot", secfile::kRebootDefault));
  critical_ = secfile::CriticalFromText(ValueOf(node, "@critical", secfile::kCriticalDefault));
  adaptionMoment_ =
      GetAdaptionMomentString(errorMgr, ValueOf(node, "@adaptionmoment", secfile::kAdaptionMomentDefault));
  osWow_ = secfile::OsWowRequested(ValueOf(node, "@oswow")) && CStdTool::Is64BitWindows();
  return true;
}

void CFeature::ReadOsCondition(CErrorMgr& errorMgr, const xml::Node& node) {
  std::string text = ValueOf(node, "@osversion", secfile::kOsVersionNotSet);
  osRelation_ = secfile::kOsRelationNone;
  if (text == secfile::kOsVersionNotSet) return;
  if (SetCondition(errorMgr, &text)) ExtractOSVersion(errorMgr, text);
}

bool CFeature::SetCondition(CErrorMgr& errorMgr, std::string* text) {
  const secfile::OsRelationSplit split = secfile::SplitOsRelation(*text);
  if (!split.recognised) {
    errorMgr.AddMessageF(kLevelError, kSetConditionLabel,
                         "An unknown OS condition '%s' was found. Estimated was an relational operator like "
                         ">, <, >=, <= or =",
                         text->c_str());
    return false;
  }
  osRelation_ = split.relation;
  *text = split.rest;
  // Whether the version is read depends on this operator alone: an error of
  // an earlier feature in the run must not strip this one of its condition.
  return true;
}

bool CFeature::ExtractOSVersion(CErrorMgr& errorMgr, std::string_view text) {
  const secfile::OsVersionExtract extract = secfile::ExtractOsVersion(text);
  requiredOsVersion_.majorVersion = extract.version.major;
  requiredOsVersion_.minorVersion = extract.version.minor;
  requiredOsVersion_.servicePackMajor = static_cast<uint16_t>(extract.version.servicePackMajor);
  if (!extract.found) {
    errorMgr.AddMessageF(kLevelWarning, kExtractLabel,
                         "There was no valid OS version found in osversion attribute '%s'",
                         std::string(text).c_str());
  }
  return !errorMgr.IsError();
}

bool CFeature::CheckOs64Bit(CErrorMgr& errorMgr, const xml::Node& node) {
  os64Bit_ = secfile::Os64BitRequirementFromText(ValueOf(node, "@os64bit"));
  const bool is64Bit = CStdTool::Is64BitWindows();
  if (os64Bit_ == secfile::kOs64BitOnly32 && is64Bit) {
    errorMgr.AddMessageF(kLevelInfo, kInitLabel, "    Feature  %s  not allowed for 64bit OS", kindName_.c_str());
    return false;
  }
  if (os64Bit_ == secfile::kOs64BitOnly64 && !is64Bit) {
    errorMgr.AddMessageF(kLevelInfo, kInitLabel, "    Feature  %s  not allowed for 32bit OS", kindName_.c_str());
    return false;
  }
  return true;
}

int CFeature::GetAdaptionMomentString(CErrorMgr& errorMgr, std::string_view text) {
  if (secfile::IsRejectedAdaptionMoment(text)) {
    errorMgr.AddMessage(kLevelCritical, kAdaptionLabel,
                        "Internal error: The Parameter you have used for adaptionmoment in the TarvoXML is invalid. "
                        "Possible Values are 'BeforeInstallation' and 'AfterInstallation'");
    return secfile::kMomentUnset;
  }
  return secfile::AdaptionMomentFromText(text);
}

void CFeature::CopyOriginFrom(const CFeature& other) {
  sessionId_ = other.sessionId_;
  productName_ = other.productName_;
  rebootRequirement_ = other.rebootRequirement_;
  adaptionMoment_ = other.adaptionMoment_;
}

bool CFeature::LoadFeature(CErrorMgr& errorMgr, CIniFile& opFile, const xml::Node& node) {
  const std::string sessionId = opFile.GetValue("GENERAL", "SessionID");
  if (!GetFeatureFromXml(errorMgr, node, sessionId)) return false;
  SetRebootRequirement(opFile, rebootRequirement_);
  SetContainCriticalFeatures(opFile, critical_);
  return true;
}

// ---- Conditions --------------------------------------------------------------

bool CFeature::IsOSVersionMatching(const plat::OsVersionInfoEx& running) const {
  secfile::OsCondition condition;
  condition.relation = osRelation_;
  condition.required = {requiredOsVersion_.majorVersion, requiredOsVersion_.minorVersion,
                        requiredOsVersion_.servicePackMajor};
  return secfile::OsConditionHolds(condition,
                                   {running.majorVersion, running.minorVersion, running.servicePackMajor});
}

bool CFeature::IsPlatformMatching() const {
  const std::string_view platform = kBuildPlatform;
  if (os64Bit_ == secfile::kOs64BitOnly64) return platform == "X64";
  if (os64Bit_ == secfile::kOs64BitOnly32) return platform == "X86";
  return true;
}

// ---- Writing -----------------------------------------------------------------

void CFeature::SetCommonAttributesToXml(const xml::Node& element) const {
  SetXmlAttribute(element, "adaptionmoment", AdaptionMomentText(adaptionMoment_));
  SetXmlAttribute(element, "reboot", RebootText(rebootRequirement_));
  SetXmlAttribute(element, "critical", critical_ ? "true" : "false");
  SetXmlAttribute(element, "platform", kBuildPlatform);
}

void CFeature::AddRequestingProgram(const xml::Node& element, std::string_view productName) {
  if (element.IsNull()) return;
  const xml::Node programs = GetOrCreateChildElement(element, "t:RequestingProgram");
  if (programs.IsNull()) return;
  // The name as it is: a doubled backslash would never find it again.
  if (!programs.FindChild("t:Program", {{"name", productName}}).IsNull()) return;
  const xml::Node program = programs.OwnerDocument().CreateElement("t:Program");
  if (programs.AppendChild(program).IsNull()) return;
  SetXmlAttribute(program, "name", productName);
}

int32_t CFeature::GetProgramPermission(const xml::Node& node, bool* found) {
  if (node.IsNull()) return kPermissionNone;
  const std::string allow = text::AsciiLower(ValueOf(node, "@allow", "false"));
  const std::string deny = text::AsciiLower(ValueOf(node, "@deny", "true"));
  const bool allowValid = allow == "true" || allow == "false";
  const bool denyValid = deny == "true" || deny == "false";
  if (!allowValid || !denyValid) return kPermissionNone;
  if (found) *found = true;
  return (allow == "true" ? kPermissionAllowed : 0) | (deny == "true" ? kPermissionDenied : 0);
}

xml::Node CFeature::SetProgramPermissionToXml(const xml::Node& parent, std::string_view elementName, int32_t code,
                                              std::string_view message) {
  if (code < kPermissionNeither || code > kPermissionBoth) return {};
  const xml::Node element = GetOrCreateChildElement(parent, elementName);
  if (element.IsNull()) return {};
  SetXmlAttribute(element, "allow", (code & kPermissionAllowed) ? "true" : "false");
  SetXmlAttribute(element, "deny", (code & kPermissionDenied) ? "true" : "false");
  if (!message.empty()) SetXmlAttribute(element, "message", message);
  return element;
}

// ---- History -----------------------------------------------------------------

xml::Node CFeature::SelectFromHistory(CErrorMgr& errorMgr, std::string_view xpath) const {
  const xml::Document history = CRepositoryMgr::LoadHistoryXml(errorMgr);
  const xml::Node product = GetProductNodeFromHistory(errorMgr, history);
  return product.IsNull() ? xml::Node() : product.SelectSingleNode(xpath);
}

xml::Node CFeature::GetProductNodeFromHistory(CErrorMgr& errorMgr, const xml::Document& history) const {
  if (history.IsNull()) return {};
  const xml::Node setup =
      history.SelectSingleNode("t:TarvoHistory/t:Setup[@SessionId=" + xml::XPathLiteral(sessionId_) + "]");
  if (setup.IsNull()) {
    errorMgr.AddMessageF(kLevelError, kHistoryLabel,
                         "There is no session '%s' in the history file, so it's impossible to get original value "
                         "of the features for the named session",
                         sessionId_.c_str());
    return {};
  }
  const xml::Node product = setup.SelectSingleNode("t:Product[@name=" + xml::XPathLiteral(productName_) +
                                                   " and @moment=" + xml::XPathLiteral(kBeforeChangeMoment) + "]");
  if (product.IsNull()) {
    errorMgr.AddMessageF(kLevelError, kHistoryLabel,
                         "There is no product '%s' in the history file, so it's impossible to get original value "
                         "of the features for the named product",
                         productName_.c_str());
  }
  return product;
}

// ---- The running Windows -----------------------------------------------------

bool CFeature::IsVistaOrLater() { return ProcessVersionRecord().majorVersion > 5; }

bool CFeature::IsWindows61To63() {
  const plat::OsVersionInfoEx& info = ProcessVersionRecord();
  return info.majorVersion == 6 && info.minorVersion != 0;
}

void CFeature::ResetVersionRecord() {
  CurrentProcessState().versionRecordRead = false;
  CurrentProcessState().versionRecord = plat::OsVersionInfoEx{};
}

bool HasFeatureRoot(CErrorMgr& errorMgr, std::string_view label, const xml::Node& pRootNode) {
  if (!pRootNode.IsNull()) return true;
  errorMgr.AddMessage(kLevelCritical, label,
                      "Internal error: The XML document with the resources and the features to be changed, "
                      "contains not the root node 'Tarvo'");
  return false;
}

std::string ResourceTextIf(bool withMessage, int number) {
  return withMessage ? CResourceMgr::GetResourceText(number) : std::string();
}
