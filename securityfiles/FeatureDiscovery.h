// Feature discovery: turns one loaded, checked and resolved security file
// into the feature objects it declares, kind by kind in the fixed order of
// the security-file format and in document order within a kind. The OPFile's
// [GENERAL] Feature filter selects kinds by name.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "features/Feature.h"
#include "platform/xml/Dom.h"

class CErrorMgr;
class CIniFile;

using FeatureList = std::vector<std::unique_ptr<CFeature>>;

class CXmlAnalyser {
 public:
  // The features of the document that apply on this machine; `fileName` is
  // only used for the log. A critical entry (from any time of the run) ends
  // discovery after the current kind, whose features are then dropped.
  // Elements of a kind this build cannot handle yet are counted and named
  // in one warning per kind, never dropped silently.
  static FeatureList DiscoverFeatures(CErrorMgr& errorMgr, CIniFile& opFile, std::string_view fileName,
                                      const xml::Document& document);

  // Whether the [GENERAL] Feature filter selects the kind: an empty filter
  // selects all; else the kind name must occur in the filter ("Firewall,WUA"
  // lists two kinds) or the filter, or one item of a list (runs of letters
  // and digits), in the kind name ("Permission" names both permission
  // kinds, "Permission,WUA" those and WUA). Case-sensitive.
  static bool IsKindSelected(std::string_view filter, std::string_view kindName);
};
