// The DOM the callers rely on: names and values, hidden whitespace, child
// walks, attributes, building and changing trees, and handle lifetimes.
#include <gtest/gtest.h>

#include <vector>

#include "platform/xml/Dom.h"
#include "platform/xml/XPathLiteral.h"

namespace {

xml::Document Parse(std::string_view text) {
  xml::Document doc = xml::Document::Create();
  EXPECT_TRUE(doc.LoadXml(text)) << doc.GetParseError().reason;
  return doc;
}

std::vector<std::string> Names(const xml::NodeList& list) {
  std::vector<std::string> names;
  for (xml::Node n : list) names.push_back(n.NodeName());
  return names;
}

using Strings = std::vector<std::string>;

TEST(XmlDomTest, NamesTypesAndValuesOfEachKindOfNode) {
  xml::Document doc = Parse(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!--top--><t:vscSetup xmlns:t=\"urn:s\" t:kind=\"k\">"
      "text<![CDATA[cd]]><?pi data?></t:vscSetup>");
  const xml::Node declaration = doc.FirstChild();
  EXPECT_EQ(declaration.Type(), xml::NodeType::kProcessingInstruction);
  EXPECT_EQ(declaration.NodeName(), "xml");
  EXPECT_EQ(declaration.BaseName(), "xml");
  EXPECT_EQ(declaration.NodeValue(), "version=\"1.0\" encoding=\"UTF-8\"");
  EXPECT_EQ(declaration.GetAttribute("encoding"), "UTF-8");
  EXPECT_EQ(Names(declaration.Attributes()), (Strings{"version", "encoding"}));

  const xml::Node comment = declaration.NextSibling();
  EXPECT_EQ(comment.Type(), xml::NodeType::kComment);
  EXPECT_EQ(comment.NodeName(), "#comment");
  EXPECT_EQ(comment.NodeValue(), "top");

  const xml::Node root = doc.DocumentElement();
  EXPECT_EQ(root.Type(), xml::NodeType::kElement);
  EXPECT_EQ(root.NodeName(), "t:vscSetup");
  EXPECT_EQ(root.BaseName(), "vscSetup");
  EXPECT_EQ(root.NodeValue(), "");
  const xml::Node kind = root.GetAttributeNode("t:kind");
  EXPECT_EQ(kind.Type(), xml::NodeType::kAttribute);
  EXPECT_EQ(kind.NodeName(), "t:kind");
  EXPECT_EQ(kind.BaseName(), "kind");
  EXPECT_EQ(kind.NodeValue(), "k");
  EXPECT_EQ(root.GetAttributeNode("xmlns:t").BaseName(), "t");

  const xml::NodeList children = root.ChildNodes();
  ASSERT_EQ(children.Length(), 3u);
  EXPECT_EQ(children.Item(0).Type(), xml::NodeType::kText);
  EXPECT_EQ(children.Item(0).NodeName(), "#text");
  EXPECT_EQ(children.Item(0).NodeValue(), "text");
  EXPECT_EQ(children.Item(1).Type(), xml::NodeType::kCData);
  EXPECT_EQ(children.Item(1).NodeName(), "#cdata-section");
  EXPECT_EQ(children.Item(2).NodeName(), "pi");
  EXPECT_EQ(children.Item(2).BaseName(), "pi");
  EXPECT_EQ(children.Item(2).NodeValue(), "data");

  EXPECT_EQ(doc.Type(), xml::NodeType::kDocument);
  EXPECT_EQ(doc.NodeName(), "#document");
  EXPECT_EQ(doc.NodeValue(), "");
  EXPECT_EQ(xml::Node().Type(), xml::NodeType::kNull);
}

TEST(XmlDomTest, TextConcatenatesDescendantsAndTrims) {
  xml::Document doc = Parse("<a>\n  <b> one </b>\n  <c>two<![CDATA[ & three ]]><!--not me--></c>\n</a>");
  const xml::Node a = doc.DocumentElement();
  EXPECT_EQ(a.Text(), "one two & three");
  EXPECT_EQ(a.SelectSingleNode("b").Text(), "one");
  EXPECT_EQ(a.SelectSingleNode("b").FirstChild().Text(), "one");
  EXPECT_EQ(a.SelectSingleNode("b").FirstChild().NodeValue(), " one ");
  EXPECT_EQ(doc.Text(), "one two & three");
  EXPECT_EQ(a.GetAttributeNode("none").Text(), "");
  // Inside xml:space="preserve" nothing is trimmed.
  doc = Parse("<a xml:space='preserve'> x <b> y </b></a>");
  EXPECT_EQ(doc.DocumentElement().Text(), " x  y ");
  EXPECT_EQ(doc.DocumentElement().SelectSingleNode("b").Text(), " y ");
}

TEST(XmlDomTest, WhitespaceBetweenElementsIsNotANode) {
  xml::Document doc = Parse("<root>\n\t<a/>\n\t<b/>\n\t<c/>\n</root>");
  const xml::Node root = doc.DocumentElement();
  EXPECT_EQ(Names(root.ChildNodes()), (Strings{"a", "b", "c"}));
  EXPECT_EQ(root.FirstChild().NodeName(), "a");
  EXPECT_EQ(root.LastChild().NodeName(), "c");
  EXPECT_EQ(root.FirstChild().NextSibling().NodeName(), "b");
  EXPECT_EQ(root.LastChild().PreviousSibling().NodeName(), "b");
  EXPECT_TRUE(root.LastChild().NextSibling().IsNull());
  EXPECT_TRUE(root.FirstChild().PreviousSibling().IsNull());
  EXPECT_FALSE(root.FirstChild().HasChildNodes());
  EXPECT_FALSE(Parse("<a>  \n </a>").DocumentElement().HasChildNodes());
  // Nor at the top level, where a document shows only its real nodes.
  doc = Parse("\n<!--c-->\n<root/>\n");
  EXPECT_EQ(Names(doc.ChildNodes()), (Strings{"#comment", "root"}));
}

TEST(XmlDomTest, ParentsAndOwners) {
  xml::Document doc = Parse("<a x='1'><b/></a>");
  const xml::Node a = doc.DocumentElement();
  const xml::Node b = a.FirstChild();
  EXPECT_EQ(b.ParentNode(), a);
  EXPECT_EQ(a.ParentNode(), doc);
  EXPECT_EQ(a.ParentNode().Type(), xml::NodeType::kDocument);
  EXPECT_TRUE(doc.ParentNode().IsNull());
  EXPECT_TRUE(a.GetAttributeNode("x").ParentNode().IsNull());
  EXPECT_EQ(b.OwnerDocument(), doc);
  EXPECT_EQ(a.GetAttributeNode("x").OwnerDocument(), doc);
  EXPECT_TRUE(doc.OwnerDocument().IsNull());
  // The owner is the same document object: a change through it shows here.
  b.OwnerDocument().DocumentElement().SetAttribute("y", "2");
  EXPECT_EQ(a.GetAttribute("y"), "2");
  EXPECT_EQ(a.SelectSingleNode("b"), b);
  EXPECT_NE(a, b);
}

TEST(XmlDomTest, AttributesAreSetReplacedAndIteratedInOrder) {
  xml::Document doc = xml::Document::Create();
  const xml::Node e = doc.AppendChild(doc.CreateElement("t:e"));
  EXPECT_EQ(e.SetAttribute("xmlns:t", "urn:t"), xml::kOk);
  EXPECT_EQ(e.SetAttribute("b", "1"), xml::kOk);
  EXPECT_EQ(e.SetAttribute("a", "2"), xml::kOk);
  EXPECT_EQ(e.SetAttribute("b", "3"), xml::kOk);  // replaced in place
  EXPECT_EQ(Names(e.Attributes()), (Strings{"xmlns:t", "b", "a"}));
  EXPECT_EQ(e.GetAttribute("b"), "3");
  EXPECT_TRUE(e.HasAttribute("a"));
  EXPECT_FALSE(e.HasAttribute("A"));  // exact names
  EXPECT_EQ(e.GetAttribute("missing"), "");
  EXPECT_TRUE(e.GetAttributeNode("missing").IsNull());
  EXPECT_EQ(e.SetAttribute("empty", ""), xml::kOk);
  EXPECT_TRUE(e.HasAttribute("empty"));

  for (const char* bad : {"", " a", "a b", "1a", "a:b:c", ":a", "a:", "-a", "a>"}) {
    EXPECT_EQ(e.SetAttribute(bad, "v"), xml::kErrInvalidArg) << bad;
  }
  EXPECT_EQ(e.GetAttributeNode("a").SetAttribute("x", "y"), xml::kErrFail);
  EXPECT_EQ(doc.SetAttribute("x", "y"), xml::kErrFail);
  EXPECT_EQ(xml::Node().SetAttribute("x", "y"), xml::kErrFail);
}

// Every character XML cannot carry, and every malformed byte, becomes U+FFFD.
TEST(XmlDomTest, TextEnteringADocumentIsMadeXmlSafe) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string in, stored;
  } cases[] = {
      {"\t\n\r\xC3\xA4\xC2\x85\xEF\xBF\xBD\xF0\x9F\x98\x80", "\t\n\r\xC3\xA4\xC2\x85\xEF\xBF\xBD\xF0\x9F\x98\x80"},  // allowed
      {"Session\x01" "1", "Session" + r + "1"},
      {std::string("a\0b\x1F", 4), "a" + r + "b" + r},
      {"\xEF\xBF\xBE\xEF\xBF\xBF", r + r},  // U+FFFE, U+FFFF
      {"\xED\xA0\x80", r + r + r},            // a lone surrogate, byte by byte
      {"x\xC3", "x" + r},                       // truncated
      {"\xC0\xAF", r + r},                      // overlong
  };
  xml::Document doc = xml::Document::Create();
  const xml::Node root = doc.AppendChild(doc.CreateElement("r"));
  for (const auto& c : cases) {
    EXPECT_EQ(xml::ToDocumentText(c.in), c.stored);
    ASSERT_EQ(root.SetAttribute("v", c.in), xml::kOk);
    EXPECT_EQ(root.GetAttribute("v"), c.stored);
    EXPECT_EQ(doc.CreateProcessingInstruction("pi", c.in).NodeValue(), c.stored);
    // A value put into a query finds the node it was stored in.
    EXPECT_EQ(doc.SelectSingleNode("r[@v=" + xml::XPathLiteral(c.in) + "]"), root);
    xml::Document again = xml::Document::Create();
    EXPECT_TRUE(again.LoadXml(doc.Xml())) << again.GetParseError().reason;
  }
}

TEST(XmlDomTest, NamesWithCharactersXmlCannotCarryAreRefused) {
  xml::Document doc = xml::Document::Create();
  const xml::Node root = doc.AppendChild(doc.CreateElement("\xC3\xA4"));
  ASSERT_FALSE(root.IsNull());
  uint32_t hr = 0;
  for (const char* bad : {"a\xEF\xBF\xBE", "t:\xEF\xBF\xBF", "a\xC3", "a\xED\xA0\x80", "\xFF"}) {
    EXPECT_TRUE(doc.CreateElement(bad, &hr).IsNull()) << bad;
    EXPECT_EQ(hr, xml::kErrInvalidArg) << bad;
    EXPECT_EQ(root.SetAttribute(bad, "v"), xml::kErrInvalidArg) << bad;
    EXPECT_TRUE(doc.CreateProcessingInstruction(bad, "d", &hr).IsNull()) << bad;
  }
}

TEST(XmlDomTest, CreatedNodesStayOutsideTheTreeUntilAppended) {
  xml::Document doc = xml::Document::Create();
  uint32_t hr = 1;
  const xml::Node pi = doc.CreateProcessingInstruction("xml", "version='1.0' encoding='UTF-16' standalone='no'", &hr);
  EXPECT_EQ(hr, xml::kOk);
  EXPECT_EQ(pi.GetAttribute("standalone"), "no");
  const xml::Node root = doc.CreateElement("t:TarvoRepository", &hr);
  EXPECT_EQ(hr, xml::kOk);
  EXPECT_EQ(root.NodeName(), "t:TarvoRepository");
  EXPECT_TRUE(root.ParentNode().IsNull());
  EXPECT_EQ(root.OwnerDocument(), doc);
  EXPECT_FALSE(doc.HasChildNodes());
  EXPECT_TRUE(doc.DocumentElement().IsNull());
  EXPECT_EQ(doc.Xml(), "");
  // What is built under a created node is not in the document either.
  ASSERT_FALSE(root.AppendChild(Parse("<t:x xmlns:t='urn:t'>hidden</t:x>").DocumentElement()).IsNull());
  EXPECT_TRUE(doc.SelectSingleNode("//t:x").IsNull());
  EXPECT_EQ(doc.Text(), "");
  EXPECT_EQ(root.Text(), "hidden");

  EXPECT_FALSE(doc.AppendChild(pi, &hr).IsNull());
  EXPECT_EQ(doc.AppendChild(root, &hr), root);
  EXPECT_EQ(doc.DocumentElement(), root);
  EXPECT_EQ(Names(doc.ChildNodes()), (Strings{"xml", "t:TarvoRepository"}));
  EXPECT_EQ(root.ParentNode(), doc);
  // Created nodes appended later still come after the document element.
  doc.AppendChild(doc.CreateProcessingInstruction("after", "x"));
  EXPECT_EQ(Names(doc.ChildNodes()), (Strings{"xml", "t:TarvoRepository", "after"}));
}

TEST(XmlDomTest, CreationRefusesBadNamesAndDeclarations) {
  xml::Document doc = xml::Document::Create();
  uint32_t hr = 0;
  for (const char* bad : {"", "a b", "1x", "t:a:b", "<a>"}) {
    EXPECT_TRUE(doc.CreateElement(bad, &hr).IsNull()) << bad;
    EXPECT_EQ(hr, xml::kErrInvalidArg);
  }
  EXPECT_TRUE(doc.CreateProcessingInstruction("xml", "version='1.0' flavour='x'", &hr).IsNull());
  EXPECT_EQ(hr, xml::kXmlErrUnexpectedAttribute);
  EXPECT_TRUE(doc.CreateProcessingInstruction("xml", "encoding='UTF-8'", &hr).IsNull());
  EXPECT_EQ(hr, xml::kXmlErrBadXmlDeclaration);
  EXPECT_TRUE(doc.CreateProcessingInstruction("xml", "version=1.0", &hr).IsNull());
  EXPECT_EQ(hr, xml::kXmlErrBadXmlDeclaration);
  EXPECT_TRUE(doc.CreateProcessingInstruction("XML", "x", &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrInvalidArg);
  EXPECT_TRUE(doc.CreateProcessingInstruction("pi", "a ?> b", &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrInvalidArg);
  EXPECT_TRUE(xml::Document().CreateElement("a", &hr).IsNull());
}

TEST(XmlDomTest, AppendMovesWithinADocumentAndCopiesFromAnother) {
  xml::Document doc = Parse("<r><a><x/></a><b/></r>");
  const xml::Node a = doc.SelectSingleNode("r/a");
  const xml::Node b = doc.SelectSingleNode("r/b");
  const xml::Node x = a.FirstChild();
  EXPECT_EQ(b.AppendChild(x), x);
  EXPECT_EQ(x.ParentNode(), b);
  EXPECT_FALSE(a.HasChildNodes());
  EXPECT_EQ(doc.Xml(), "<r><a/><b><x/></b></r>\r\n");

  xml::Document other = Parse("<o><p v='1'><q/></p></o>");
  const xml::Node p = other.SelectSingleNode("o/p");
  const xml::Node copy = a.AppendChild(p);
  ASSERT_FALSE(copy.IsNull());
  EXPECT_NE(copy, p);
  EXPECT_EQ(copy.OwnerDocument(), doc);
  EXPECT_EQ(copy.ParentNode(), a);
  EXPECT_EQ(other.Xml(), "<o><p v=\"1\"><q/></p></o>\r\n");  // the source is untouched
  EXPECT_EQ(doc.Xml(), "<r><a><p v=\"1\"><q/></p></a><b><x/></b></r>\r\n");
}

TEST(XmlDomTest, AppendRefusesWhatCannotGoThere) {
  xml::Document doc = Parse("<?xml version='1.0'?><r><a><b/></a>text</r>");
  const xml::Node r = doc.DocumentElement();
  const xml::Node a = r.FirstChild();
  uint32_t hr = 0;
  EXPECT_TRUE(a.FirstChild().AppendChild(a, &hr).IsNull());  // into its own subtree
  EXPECT_EQ(hr, xml::kErrFail);
  EXPECT_TRUE(a.AppendChild(a, &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrFail);
  EXPECT_TRUE(doc.AppendChild(doc.CreateElement("second"), &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrFail);
  EXPECT_TRUE(doc.AppendChild(r.LastChild(), &hr).IsNull());  // text at the top level
  EXPECT_EQ(hr, xml::kErrFail);
  EXPECT_TRUE(doc.AppendChild(doc.CreateProcessingInstruction("xml", "version='1.0'"), &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrFail);
  EXPECT_TRUE(a.AppendChild(doc.CreateProcessingInstruction("xml", "version='1.0'"), &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrFail);
  EXPECT_TRUE(a.AppendChild(r.GetAttributeNode("none"), &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrInvalidArg);
  EXPECT_TRUE(r.GetAttributeNode("none").AppendChild(a, &hr).IsNull());
  EXPECT_TRUE(a.AppendChild(doc, &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrFail);
  EXPECT_TRUE(r.LastChild().AppendChild(doc.CreateElement("x"), &hr).IsNull());  // under text
  EXPECT_EQ(hr, xml::kErrFail);
  // A DOCTYPE may not follow the document element.
  xml::Document typed = Parse("<!DOCTYPE x><x/>");
  EXPECT_TRUE(doc.AppendChild(typed.FirstChild(), &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrFail);
  // The document element may be appended again: it is the one element.
  EXPECT_EQ(doc.AppendChild(r, &hr), r);
  EXPECT_EQ(hr, xml::kOk);
  EXPECT_EQ(doc.Xml(), "<?xml version=\"1.0\"?>\r\n<r><a><b/></a>text</r>\r\n");
}

TEST(XmlDomTest, RemovedNodesStayUsableAndLeaveTheTree) {
  xml::Document doc = Parse("<r>\n\t<p name='x'>\n\t\t<q/>\n\t</p>\n\t<p name='y'/>\n</r>");
  const xml::Node r = doc.DocumentElement();
  const xml::Node p = r.FirstChild();
  const xml::Node q = p.FirstChild();
  uint32_t hr = 1;
  EXPECT_EQ(r.RemoveChild(p, &hr), p);
  EXPECT_EQ(hr, xml::kOk);
  EXPECT_TRUE(p.ParentNode().IsNull());
  EXPECT_TRUE(p.NextSibling().IsNull());
  EXPECT_EQ(q.ParentNode(), p);  // its own subtree is intact
  // Out of the tree it is at level 0 again, so its inner runs indent less.
  EXPECT_EQ(p.Xml(), "<p name=\"x\">\r\n\t<q/>\r\n</p>");
  EXPECT_EQ(r.ChildNodes().Length(), 1u);
  EXPECT_EQ(r.SelectNodes("//p").Length(), 1u);
  EXPECT_TRUE(doc.SelectSingleNode("//q").IsNull());
  EXPECT_EQ(doc.Xml(), "<r>\r\n\t<p name=\"y\"/>\r\n</r>\r\n");
  // Removing a node that is not a child is refused.
  EXPECT_TRUE(r.RemoveChild(p, &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrInvalidArg);
  EXPECT_TRUE(r.RemoveChild(q, &hr).IsNull());
  EXPECT_TRUE(r.RemoveChild(xml::Node(), &hr).IsNull());
  // And the removed node can go back.
  EXPECT_EQ(r.AppendChild(p), p);
  EXPECT_EQ(r.SelectNodes("//p").Length(), 2u);
  EXPECT_EQ(r.LastChild(), p);
}

TEST(XmlDomTest, HandlesOutliveReplacedContentAndTheirDocumentHandle) {
  xml::Node kept;
  {
    xml::Document doc = Parse("<old><child v='1'/></old>");
    kept = doc.DocumentElement().FirstChild();
    ASSERT_TRUE(doc.LoadXml("<new/>"));
    EXPECT_EQ(doc.DocumentElement().NodeName(), "new");
    EXPECT_EQ(kept.GetAttribute("v"), "1");  // the old content lives on for its handles
    EXPECT_TRUE(kept.ParentNode().ParentNode().IsNull());
    EXPECT_EQ(kept.OwnerDocument(), doc);
  }
  // The document handle is gone; the node keeps its document alive.
  EXPECT_EQ(kept.NodeName(), "child");
  EXPECT_EQ(kept.OwnerDocument().DocumentElement().NodeName(), "new");
}

TEST(XmlDomTest, NodeListsWalkOnceAndGiveNullPastTheEnd) {
  xml::Document doc = Parse("<r><a/><b/></r>");
  xml::NodeList list = doc.DocumentElement().ChildNodes();
  EXPECT_EQ(list.Length(), 2u);
  EXPECT_TRUE(list.Item(2).IsNull());
  EXPECT_EQ(list.NextNode().NodeName(), "a");
  EXPECT_EQ(list.NextNode().NodeName(), "b");
  EXPECT_TRUE(list.NextNode().IsNull());
  EXPECT_TRUE(list.NextNode().IsNull());
  list.Reset();
  EXPECT_EQ(list.NextNode().NodeName(), "a");
  EXPECT_TRUE(xml::NodeList().Item(0).IsNull());
  EXPECT_TRUE(xml::NodeList().Empty());
}

TEST(XmlDomTest, NullHandlesAreSafeEverywhere) {
  const xml::Node null;
  EXPECT_TRUE(null.IsNull());
  EXPECT_FALSE(static_cast<bool>(null));
  EXPECT_EQ(null.NodeName(), "");
  EXPECT_EQ(null.Text(), "");
  EXPECT_EQ(null.Xml(), "");
  EXPECT_TRUE(null.ParentNode().IsNull());
  EXPECT_TRUE(null.OwnerDocument().IsNull());
  EXPECT_TRUE(null.FirstChild().IsNull());
  EXPECT_EQ(null.ChildNodes().Length(), 0u);
  EXPECT_EQ(null.Attributes().Length(), 0u);
  uint32_t hr = 0;
  EXPECT_TRUE(null.SelectSingleNode("a", &hr).IsNull());
  EXPECT_EQ(hr, xml::kErrInvalidArg);
  EXPECT_TRUE(null.AppendChild(null, &hr).IsNull());
  const xml::Document noDocument;
  EXPECT_FALSE(noDocument.LoadXml("<a/>"));
  EXPECT_FALSE(noDocument.Load("C:\\a.xml"));
  EXPECT_NE(noDocument.Save("C:\\a.xml"), xml::kOk);
  EXPECT_TRUE(noDocument.DocumentElement().IsNull());
  EXPECT_EQ(noDocument.Validate().errorCode, xml::kErrFail);
}

}  // namespace
