// The automatic-updates feature: a security file's request that Windows'
// automatic updates be paused while a product installs, or resumed. It reads
// a t:wua element, reports itself in feature documents and history entries,
// and pauses or resumes the update agent when applied.
#pragma once

#include <string_view>

#include "features/Feature.h"

class CWUA : public CFeature {
 public:
  static constexpr int kValueNotRead = -1;
  static constexpr int kValuePause = 0;
  static constexpr int kValueResume = 1;

  CWUA() = default;
  ~CWUA() override;

  using CFeature::SetFeatureToXml;

  // Pauses or resumes the update agent. A missing agent is an error, a
  // refused pause or resume a warning. True unless the error flag is set.
  bool ApplyFeature(CErrorMgr& errorMgr) override;
  // The parent's one t:wua element with the common attributes and the
  // value; null (after a critical entry) without a parent or a value.
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) override;
  // The common reading, then "value": "pause" in any case pauses, every
  // other text (or none) resumes.
  bool GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) override;

  int GetValue() const { return value_; }

 private:
  int value_ = kValueNotRead;
};
