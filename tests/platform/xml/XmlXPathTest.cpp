// XPath as the callers write it: literal t: prefixes, paths up and down,
// predicates, and values quoted with XPathLiteral.
#include <gtest/gtest.h>

#include <vector>

#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "platform/xml/XPathLiteral.h"

namespace {

xml::Document Parse(std::string_view text) {
  xml::Document doc = xml::Document::Create();
  EXPECT_TRUE(doc.LoadXml(text)) << doc.GetParseError().reason;
  return doc;
}

// The value attribute of each element found (the value of an attribute found).
std::vector<std::string> Values(const xml::NodeList& list, const char* attribute = "value") {
  std::vector<std::string> values;
  for (xml::Node n : list) values.push_back(n.Type() == xml::NodeType::kElement ? n.GetAttribute(attribute) : n.NodeValue());
  return values;
}

using Strings = std::vector<std::string>;

constexpr std::string_view kSecurityFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<t:vscSetup xmlns:t=\"http://security.example/automation/2005/VantrixSecurityControl\">\n"
    "  <t:host>\n"
    "    <t:products>\n"
    "      <t:product value=\"P1\" platform=\"x86\"/>\n"
    "      <t:product value=\"P2\" platform=\"x64\"/>\n"
    "      <t:product value=\"P3\" platform=\"x64\"/>\n"
    "      <t:checksum value=\"abc\"/>\n"
    "    </t:products>\n"
    "    <t:body>\n"
    "      <t:groupuser name=\"g1\"/>\n"
    "      <t:groupuser name=\"g2\"/>\n"
    "    </t:body>\n"
    "  </t:host>\n"
    "</t:vscSetup>\n";

TEST(XmlXPathTest, RelativeAbsoluteParentAndAttributeSteps) {
  xml::Document doc = Parse(kSecurityFile);
  uint32_t hr = 1;
  EXPECT_EQ(doc.SelectNodes("t:vscSetup/t:host/t:body/t:groupuser", &hr).Length(), 2u);
  EXPECT_EQ(hr, xml::kOk);
  EXPECT_EQ(doc.SelectSingleNode("t:vscSetup/t:host/t:products/t:checksum/@value").NodeValue(), "abc");
  EXPECT_EQ(Values(doc.SelectNodes("/t:vscSetup/t:host/t:products/t:product")), (Strings{"P1", "P2", "P3"}));

  const xml::Node body = doc.SelectSingleNode("t:vscSetup/t:host/t:body");
  EXPECT_EQ(Values(body.SelectNodes("../t:products/t:product/@value")), (Strings{"P1", "P2", "P3"}));
  // An absolute path from a deep node starts at the document.
  EXPECT_EQ(body.SelectNodes("/t:vscSetup/t:host/t:body/t:groupuser").Length(), 2u);
  // From an attribute, ".." is its element.
  const xml::Node attribute = doc.SelectSingleNode("//t:checksum/@value");
  EXPECT_EQ(attribute.SelectSingleNode("..").NodeName(), "t:checksum");
}

TEST(XmlXPathTest, PredicatesWithEqualsAndAnd) {
  xml::Document doc = Parse(kSecurityFile);
  const xml::Node products = doc.SelectSingleNode("t:vscSetup/t:host/t:products");
  EXPECT_EQ(products.SelectSingleNode("t:product[@value='P2' and @platform='x64']").GetAttribute("value"), "P2");
  EXPECT_TRUE(products.SelectSingleNode("t:product[@value='P1' and @platform='x64']").IsNull());
  EXPECT_EQ(Values(products.SelectNodes("t:product[@platform=\"x64\"]")), (Strings{"P2", "P3"}));
  // Matching is exact: letter case counts.
  EXPECT_TRUE(products.SelectSingleNode("t:product[@value='p1']").IsNull());
}

TEST(XmlXPathTest, PrefixedNamesMatchLiterallyWhateverTheUri) {
  // The same query finds t: elements whatever URI t is bound to, and does not
  // find elements written with another prefix bound to the same URI.
  xml::Document one = Parse("<t:a xmlns:t='urn:one'><t:b/></t:a>");
  xml::Document two = Parse("<t:a xmlns:t='urn:two'><t:b/></t:a>");
  xml::Document other = Parse("<x:a xmlns:x='urn:one'><x:b/></x:a>");
  EXPECT_FALSE(one.SelectSingleNode("t:a/t:b").IsNull());
  EXPECT_FALSE(two.SelectSingleNode("t:a/t:b").IsNull());
  EXPECT_TRUE(other.SelectSingleNode("t:a/t:b").IsNull());
  EXPECT_TRUE(one.SelectSingleNode("a/b").IsNull());
  EXPECT_EQ(one.SelectNodes("//t:*").Length(), 2u);
  // Prefixed elements the program created, with no URI bound, match too.
  xml::Document built = xml::Document::Create();
  built.AppendChild(built.CreateElement("t:Root")).AppendChild(built.CreateElement("t:Product"));
  EXPECT_FALSE(built.SelectSingleNode("/t:Root/t:Product").IsNull());
}

TEST(XmlXPathTest, ResultsComeInDocumentOrder) {
  xml::Document doc = Parse("<r><a v='1'><a v='2'/></a><b><a v='3'/></b><a v='4'/></r>");
  EXPECT_EQ(Values(doc.SelectNodes("//a"), "v"), (Strings{"1", "2", "3", "4"}));
  // A reverse axis is handed back in document order as well.
  const xml::Node deep = doc.SelectSingleNode("//a[@v='2']");
  EXPECT_EQ(Values(deep.SelectNodes("ancestor::*"), "v"), (Strings{"", "1"}));
  EXPECT_EQ(Values(doc.SelectNodes("//a[@v='4'] | //a[@v='1']"), "v"), (Strings{"1", "4"}));
  EXPECT_EQ(doc.SelectSingleNode("//a").GetAttribute("v"), "1");
}

TEST(XmlXPathTest, NothingFoundIsNullWithSuccess) {
  xml::Document doc = Parse("<r/>");
  uint32_t hr = 1;
  EXPECT_TRUE(doc.SelectSingleNode("r/none", &hr).IsNull());
  EXPECT_EQ(hr, xml::kOk);
  EXPECT_TRUE(doc.SelectNodes("r/none", &hr).Empty());
  EXPECT_EQ(hr, xml::kOk);
}

TEST(XmlXPathTest, MalformedOrNonNodeSetExpressionsFail) {
  xml::Document doc = Parse("<r/>");
  for (const char* bad : {"", "r[", "r/@", "count(//r)", "'text'", "1 + 1", "r]["}) {
    uint32_t hr = 0;
    EXPECT_TRUE(doc.SelectSingleNode(bad, &hr).IsNull()) << bad;
    EXPECT_EQ(hr, xml::kErrXPath) << bad;
    EXPECT_TRUE(doc.SelectNodes(bad, &hr).Empty());
  }
}

TEST(XmlXPathTest, HiddenWhitespaceNeverComesBack) {
  xml::Document doc = Parse("<r>\n  <a>x</a>\n  <b/>\n</r>");
  EXPECT_EQ(doc.SelectNodes("r/text()").Length(), 0u);
  EXPECT_EQ(doc.SelectNodes("r/node()").Length(), doc.DocumentElement().ChildNodes().Length());
  EXPECT_EQ(doc.SelectNodes("//text()").Length(), 1u);
  EXPECT_EQ(doc.SelectSingleNode("r/a/text()").NodeValue(), "x");
}

TEST(XmlXPathTest, NodesOutsideTheTreeAreSeparate) {
  xml::Document doc = Parse("<r><item v='in'/></r>");
  const xml::Node loose = doc.CreateElement("loose");
  loose.AppendChild(doc.CreateElement("item")).SetAttribute("v", "out");
  // Queries in the tree do not see the created element ...
  EXPECT_EQ(Values(doc.SelectNodes("//item"), "v"), (Strings{"in"}));
  EXPECT_EQ(doc.SelectNodes("/*").Length(), 1u);
  EXPECT_EQ(doc.SelectNodes("/node()").Length(), 1u);
  // ... and queries from it see only its own subtree.
  EXPECT_EQ(Values(loose.SelectNodes("item"), "v"), (Strings{"out"}));
  EXPECT_EQ(Values(loose.SelectNodes("//item"), "v"), (Strings{"out"}));
  EXPECT_TRUE(loose.SelectSingleNode("..").IsNull());
  EXPECT_TRUE(loose.SelectSingleNode("/r").IsNull());
  // Once appended it is part of the tree.
  doc.DocumentElement().AppendChild(loose);
  EXPECT_EQ(Values(doc.SelectNodes("//item"), "v"), (Strings{"in", "out"}));
  EXPECT_EQ(loose.SelectSingleNode("..").NodeName(), "r");
}

TEST(XmlXPathTest, LiteralQuotesEveryValue) {
  EXPECT_EQ(xml::XPathLiteral("plain"), "'plain'");
  EXPECT_EQ(xml::XPathLiteral(""), "''");
  EXPECT_EQ(xml::XPathLiteral("O'Brien"), "\"O'Brien\"");
  EXPECT_EQ(xml::XPathLiteral("say \"hi\""), "'say \"hi\"'");
  EXPECT_EQ(xml::XPathLiteral("it's \"x\""), "concat('it', \"'\", 's \"x\"')");
  EXPECT_EQ(xml::XPathLiteral("'\"'"), "concat(\"'\", '\"', \"'\")");
  EXPECT_EQ(xml::XPathLiteral("C:\\Program Files\\A"), "'C:\\Program Files\\A'");
}

TEST(XmlXPathTest, ALiteralFindsTheNodeWhateverItsValueHolds) {
  const std::string values[] = {"plain",   "O'Brien",       "say \"hi\"", "it's \"x\"", "'",    "\"'",
                                "''\"\"", "a'b'c\"d\"e'", "C:\\Temp\\", "[x]",        "\xC3\xA4", ""};
  xml::Document doc = xml::Document::Create();
  const xml::Node root = doc.AppendChild(doc.CreateElement("t:products"));
  root.SetAttribute("xmlns:t", "urn:t");
  for (const std::string& value : values) root.AppendChild(doc.CreateElement("t:product")).SetAttribute("value", value);
  // Through text, as a security file would carry it.
  ASSERT_TRUE(doc.LoadXml(doc.Xml()));
  for (const std::string& value : values) {
    const std::string query = text::Format("t:products/t:product[@value=%s]", xml::XPathLiteral(value).c_str());
    uint32_t hr = 1;
    const xml::NodeList found = doc.SelectNodes(query, &hr);
    EXPECT_EQ(hr, xml::kOk) << query;
    ASSERT_EQ(found.Length(), 1u) << query;
    EXPECT_EQ(found.Item(0).GetAttribute("value"), value);
  }
}

}  // namespace

// FindChild answers what the XPath predicate answers, through every change
// that can make a child match or stop matching: random appends (new, moved
// from another parent, copied from another document), attribute changes and
// removals, checked against SelectSingleNode after each step.
TEST(XmlXPathTest, FindChildAgreesWithThePredicateThroughChanges) {
  xml::Document doc = Parse("<r><c a=\"1\" b=\"x\"/><d a=\"1\"/><c a=\"2\"/><c a=\"1\" b=\"y\"/></r>");
  xml::Document other = Parse("<o><c a=\"3\" b=\"x\"/></o>");
  const xml::Node root = doc.DocumentElement();
  const xml::Node side = root.AppendChild(doc.CreateElement("s"));
  const std::vector<std::string> values = {"1", "2", "3", "it's \"4\""};
  unsigned seed = 7;
  const auto next = [&seed](unsigned n) { return (seed = seed * 1103515245u + 12345u) / 65536u % n; };
  for (int step = 0; step < 400; ++step) {
    const xml::NodeList children = root.SelectNodes("c");
    const xml::Node some = children.Item(next(std::max<size_t>(children.Length(), 1)));
    switch (next(6)) {
      case 0: {
        const xml::Node c = doc.CreateElement(next(4) ? "c" : "d");
        c.SetAttribute("a", values[next(4)]);
        if (next(2)) c.SetAttribute("b", next(2) ? "x" : "y");
        root.AppendChild(c);
        break;
      }
      case 1: if (some) some.SetAttribute(next(2) ? "a" : "b", next(2) ? values[next(4)] : "x"); break;
      case 2: if (some) some.RemoveAttribute(next(2) ? "a" : "b"); break;
      case 3: if (some) (next(2) ? side : root).AppendChild(some); break;  // moved away, or to the end
      case 4: if (const xml::Node s = side.FirstChild()) root.AppendChild(s); break;
      default: root.AppendChild(other.DocumentElement().FirstChild()); break;  // a copy
    }
    for (const std::string& a : values) {
      const std::string literal = xml::XPathLiteral(a);
      ASSERT_EQ(root.FindChild("c", {{"a", a}}), root.SelectSingleNode("c[@a=" + literal + "]")) << step;
      ASSERT_EQ(root.FindChild("c", {{"a", a}, {"b", "x"}}),
                root.SelectSingleNode("c[@a=" + literal + " and @b='x']")) << step;
    }
  }
}
