// The automatic-updates feature.
#include "features/WUA.h"

#include <cstdint>
#include <string>

#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kSetLabel = "CWUA::SetFeatureToXml()";
constexpr const char* kApplyLabel = "CWUA::ApplyFeature";
constexpr int kPauseText = 191;
constexpr int kResumeText = 192;

// HRESULTs are logged as signed decimals, as the agent's codes appear elsewhere.
int Signed(uint32_t hr) { return static_cast<int32_t>(hr); }

}  // namespace

CWUA::~CWUA() = default;

bool CWUA::GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) {
  if (!InitFeatureFromNode(errorMgr, node, sessionId)) return false;
  std::string value;
  GetXmlValue(node, "@value", &value);
  value_ = text::AsciiLower(value) == "pause" ? kValuePause : kValueResume;
  return true;
}

xml::Node CWUA::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) {
  if (!HasFeatureRoot(errorMgr, kSetLabel, pRootNode)) return {};
  if (value_ != kValuePause && value_ != kValueResume) {
    errorMgr.AddMessage(kLevelCritical, kSetLabel,
                        "Internal error: The WUA feature value was not set (pause or resume are only valid)");
    return {};
  }
  const bool pause = value_ == kValuePause;
  const std::string message = withMessage ? CResourceMgr::GetResourceText(pause ? kPauseText : kResumeText) : "";
  // One t:wua per parent: a second feature updates the element of the first.
  const xml::Node element = GetOrCreateChildElement(pRootNode, "t:wua", message);
  if (element.IsNull()) return {};
  SetCommonAttributesToXml(element);
  SetXmlAttribute(element, "value", pause ? "pause" : "resume");
  return element;
}

bool CWUA::ApplyFeature(CErrorMgr& errorMgr) {
  // The platform's update agent needs no COM apartment of its own, so the
  // initialisation step has nothing to do here.
  plat::IAutomaticUpdates& updates = plat::Current().AutomaticUpdates();
  const uint32_t created = updates.CreateInstance();
  if (created != plat::kSOk) {
    errorMgr.AddMessageF(kLevelError, kApplyLabel, "IAutomaticUpdates could not be instantiated Error: %d",
                         Signed(created));
    return !errorMgr.IsError();
  }
  if (value_ == kValuePause) {
    const uint32_t hr = updates.Pause();
    if (hr != plat::kSOk) {
      errorMgr.AddMessageF(kLevelWarning, kApplyLabel, "The Windows UpdateAgent (WUA) could not be paused. Error: %d",
                           Signed(hr));
    }
  } else {
    const uint32_t hr = updates.Resume();
    if (hr != plat::kSOk) {
      errorMgr.AddMessageF(kLevelWarning, kApplyLabel,
                           "The Windows UpdateAgent (WUA) could not be resumed. (It will resume automatically "
                           "later) Error: %d",
                           Signed(hr));
    }
  }
  return !errorMgr.IsError();
}
