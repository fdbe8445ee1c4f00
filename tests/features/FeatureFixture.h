// Shared pieces of the feature tests: security-file documents built from a
// body text, a minimal feature kind that reads only the common attributes,
// and lookups in the error manager's entries.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "features/Feature.h"
#include "infra/ErrorMgr.h"
#include "platform/xml/Dom.h"
#include "securityfiles/SecurityFileFormat.h"

namespace feature_test {

// A security file of product `product` whose t:body holds `body`.
inline xml::Document SecurityFile(std::string_view body, std::string_view product = "Plant Viewer") {
  const std::string text = std::string("<t:vscSetup xmlns:t=\"") + secfile::kSecurityFileNamespace +
                           "\"><t:host name=\"\"><t:products><t:product value=\"" + std::string(product) +
                           "\"/></t:products><t:body>" + std::string(body) + "</t:body></t:host></t:vscSetup>";
  xml::Document document = xml::Document::Create();
  EXPECT_TRUE(document.LoadXml(text)) << text;
  return document;
}

inline xml::Node FirstNode(const xml::Document& document, std::string_view xpath) {
  xml::Node node = document.SelectSingleNode(xpath);
  EXPECT_FALSE(node.IsNull()) << xpath;
  return node;
}

// A kind with nothing of its own: it reads the common attributes as every
// kind does first, and lets tests reach the protected steps.
class CommonFeature : public CFeature {
 public:
  bool GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) override {
    return InitFeatureFromNode(errorMgr, node, sessionId);
  }
};

// The first entry recorded with `label`, or null.
inline const CErrorObject* EntryOf(const CErrorMgr& errorMgr, std::string_view label) {
  for (const auto& entry : errorMgr.Entries()) {
    if (entry->function == label) return entry.get();
  }
  return nullptr;
}

inline int CountAtLeast(const CErrorMgr& errorMgr, int level) {
  int count = 0;
  for (const auto& entry : errorMgr.Entries()) count += entry->level >= level ? 1 : 0;
  return count;
}

}  // namespace feature_test
