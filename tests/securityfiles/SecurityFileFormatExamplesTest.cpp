// The format's queries run against the shipped example files (and a small
// history-shaped document) with libxml2's XPath, bound to the prefix t as
// the program's queries expect.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "securityfiles/SecurityFileFormat.h"

namespace {

const char* const kExamples[] = {TARVO_SOURCE_DIR "/examples/ControlStation.xml",
                                 TARVO_SOURCE_DIR "/examples/DataServer.xml"};

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

struct DocFree {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

struct XPathFree {
  void operator()(xmlXPathContextPtr context) const { xmlXPathFreeContext(context); }
};

// Runs queries relative to a node, with t bound to a namespace.
class Query {
 public:
  Query(xmlDocPtr doc, const char* ns) : context_(xmlXPathNewContext(doc)) {
    xmlXPathRegisterNs(context_.get(), BAD_CAST "t", BAD_CAST ns);
  }

  std::vector<xmlNodePtr> Nodes(xmlNodePtr at, const char* xpath) {
    std::vector<xmlNodePtr> nodes;
    context_->node = at;
    xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST xpath, context_.get());
    if (result && result->nodesetval) {
      for (int i = 0; i < result->nodesetval->nodeNr; ++i) nodes.push_back(result->nodesetval->nodeTab[i]);
    }
    xmlXPathFreeObject(result);
    return nodes;
  }

  // The first selected node's text, as the program's value reads take it.
  std::string Value(xmlNodePtr at, const char* xpath) {
    const std::vector<xmlNodePtr> nodes = Nodes(at, xpath);
    if (nodes.empty()) return "";
    xmlChar* content = xmlNodeGetContent(nodes.front());
    std::string value = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return value;
  }

 private:
  std::unique_ptr<xmlXPathContext, XPathFree> context_;
};

xmlNodePtr DocumentNode(const Doc& doc) { return reinterpret_cast<xmlNodePtr>(doc.get()); }

std::string LocalName(xmlNodePtr node) { return reinterpret_cast<const char*>(node->name); }

TEST(SecurityFileFormatExamples, TogetherTheyDeclareEveryFeatureKind) {
  std::map<std::string, int> found;
  for (const char* path : kExamples) {
    Doc doc(xmlReadFile(path, nullptr, kParseOptions));
    ASSERT_TRUE(doc) << path;
    Query query(doc.get(), secfile::kSecurityFileNamespace);
    for (const auto& kind : secfile::kFeatureKinds) {
      for (xmlNodePtr node : query.Nodes(DocumentNode(doc), kind.query)) {
        // Discovery names the feature by its element, so the two must agree.
        EXPECT_EQ(secfile::KindNameFromLocalName(LocalName(node)), kind.kindName) << path;
        ++found[kind.kindName];
      }
    }
  }
  for (const auto& kind : secfile::kFeatureKinds) EXPECT_GT(found[kind.kindName], 0) << kind.kindName;
}

TEST(SecurityFileFormatExamples, EveryFeatureFindsItsFilesProduct) {
  for (const char* path : kExamples) {
    Doc doc(xmlReadFile(path, nullptr, kParseOptions));
    ASSERT_TRUE(doc) << path;
    Query query(doc.get(), secfile::kSecurityFileNamespace);
    const std::string product = query.Value(DocumentNode(doc), secfile::kProductValuePath);
    ASSERT_FALSE(product.empty()) << path;
    for (const auto& kind : secfile::kFeatureKinds) {
      for (xmlNodePtr node : query.Nodes(DocumentNode(doc), kind.query)) {
        const auto fromParent = [&](const char* xpath) { return query.Value(node->parent, xpath); };
        EXPECT_EQ(secfile::FindProductName(fromParent), product) << path << " " << kind.kindName;
      }
    }
  }
}

// In the history file and the feature document an enclosing element names the
// product; features sit directly in it or one container deeper.
TEST(SecurityFileFormatExamples, HistoryShapedDocumentNamesTheProductByAttribute) {
  const std::string xml = std::string("<t:TarvoHistory xmlns:t=\"") + secfile::kProgramNamespace +
                          "\"><t:Setup SessionId=\"1\"><t:Product name=\"Data Server\" moment=\"BeforeChangeValue\">"
                          "<t:groupuser/><t:fileSystemPermissions><t:fileSystemPath value=\"C:\\A\"/>"
                          "</t:fileSystemPermissions></t:Product></t:Setup></t:TarvoHistory>";
  Doc doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "history.xml", nullptr, kParseOptions));
  ASSERT_TRUE(doc);
  Query query(doc.get(), secfile::kProgramNamespace);
  for (const char* feature : {"//t:groupuser", "//t:fileSystemPath"}) {
    const std::vector<xmlNodePtr> nodes = query.Nodes(DocumentNode(doc), feature);
    ASSERT_EQ(nodes.size(), 1u) << feature;
    const auto fromParent = [&](const char* xpath) { return query.Value(nodes.front()->parent, xpath); };
    EXPECT_EQ(secfile::FindProductName(fromParent), "Data Server") << feature;
  }
}

TEST(SecurityFileFormatExamples, ClientXmlIsReadWhereTheFormatPlacesIt) {
  const std::string xml = std::string("<t:vscSetup xmlns:t=\"") + secfile::kSecurityFileNamespace +
                          "\"><t:host><t:products><t:product value=\"Data Server\"/>"
                          "<t:clientxml value=\"yes\"/><t:checksum value=\"\"/></t:products></t:host></t:vscSetup>";
  Doc doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "client.xml", nullptr, kParseOptions));
  ASSERT_TRUE(doc);
  Query query(doc.get(), secfile::kSecurityFileNamespace);
  EXPECT_EQ(query.Value(DocumentNode(doc), secfile::kClientXmlValuePath), secfile::kClientXmlOwnProduct);
  EXPECT_EQ(query.Nodes(DocumentNode(doc), secfile::kProductsPath).size(), 1u);
  EXPECT_TRUE(query.Nodes(DocumentNode(doc), secfile::kBodyPath).empty());
}

}  // namespace
