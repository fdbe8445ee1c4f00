// The DCOM feature: a security file's t:componentService declares the
// machine-wide default permissions (t:defaults), the machine-wide
// restrictions (t:limits) and any number of DCOM applications
// (t:component). CDCOM applies them to the registry, reads the values the
// machine has, logs itself and writes itself into feature documents and the
// history.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "dcom/Component.h"
#include "dcom/LimitsDefaults.h"
#include "features/Feature.h"

class CDCOM : public CFeature {
 public:
  CDCOM();
  ~CDCOM() override;

  using CFeature::SetFeatureToXml;

  // Defaults, limits, then every component; an error in one of them does
  // not keep the others from being applied. True unless the error flag is set.
  bool ApplyFeature(CErrorMgr& errorMgr) override;
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) override;
  bool GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) override;
  // With `undo`: a feature removing this one's applications. Otherwise the
  // product's DCOM feature as the history recorded it.
  std::unique_ptr<CFeature> GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool undo) override;
  // Drops the applications another DCOM feature of `others` also declares;
  // true (and the machine-wide parts dropped) when some remain.
  bool IsUninstallable(CErrorMgr& errorMgr, const std::vector<CFeature*>& others) override;
  // The four machine-wide descriptors and this feature's applications as
  // the machine has them.
  std::unique_ptr<CFeature> GetCurrentFeature(CErrorMgr& errorMgr) override;
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) override;

  const std::vector<std::unique_ptr<CComponent>>& Components() const { return components_; }
  const CLimitsDefaults* Defaults() const { return defaults_.get(); }
  const CLimitsDefaults* Limits() const { return limits_.get(); }

 private:
  // The object a machine-wide kind (1-4) belongs to, created when missing.
  CLimitsDefaults& ObjectOfKind(int kind);
  void ReadCurrentLimitDefault(CErrorMgr& errorMgr, int kind);

  std::vector<std::unique_ptr<CComponent>> components_;
  std::unique_ptr<CLimitsDefaults> defaults_;
  std::unique_ptr<CLimitsDefaults> limits_;
};
