// Golden tests of the serializer: the Xml text is what the checksum hashes,
// so every byte of it is fixed here.
#include <gtest/gtest.h>

#include <set>

#include "platform/xml/Dom.h"

namespace {

xml::Document Parse(std::string_view text) {
  xml::Document doc = xml::Document::Create();
  EXPECT_TRUE(doc.LoadXml(text)) << doc.GetParseError().reason << " in: " << text;
  return doc;
}

TEST(XmlSerializerTest, InterElementWhitespaceBecomesCrLfAndOneTabPerLevel) {
  // The source's own indentation (spaces, LF, blank lines) does not survive:
  // each run is rewritten for the level of the node that follows it.
  xml::Document doc = Parse("<?xml version=\"1.0\"?>\n<Root>\n\t<Sub val=\"A\" />\n</Root>");
  EXPECT_EQ(doc.DocumentElement().Xml(), "<Root>\r\n\t<Sub val=\"A\"/>\r\n</Root>");
  EXPECT_EQ(doc.Xml(), "<?xml version=\"1.0\"?>\r\n<Root>\r\n\t<Sub val=\"A\"/>\r\n</Root>\r\n");

  doc = Parse("<a>\n    <b>\n\n        <c>x</c>\n    </b>\r\n  <d/>   </a>");
  EXPECT_EQ(doc.Xml(), "<a>\r\n\t<b>\r\n\t\t<c>x</c>\r\n\t</b>\r\n\t<d/>\r\n</a>\r\n");
  // A node inside the tree is written at its own nesting level.
  EXPECT_EQ(doc.SelectSingleNode("a/b").Xml(), "<b>\r\n\t\t<c>x</c>\r\n\t</b>");
}

TEST(XmlSerializerTest, AddsNothingWhereTheSourceHadNoWhitespace) {
  EXPECT_EQ(Parse("<a><b><c/></b>text<d/></a>").Xml(), "<a><b><c/></b>text<d/></a>\r\n");
  // Text with surrounding whitespace is content, kept as it is (LF stays LF).
  EXPECT_EQ(Parse("<a>\n  hello\n</a>").Xml(), "<a>\n  hello\n</a>\r\n");
  // A whitespace-only element body is one run before the end tag.
  EXPECT_EQ(Parse("<a><b>  </b></a>").Xml(), "<a><b>\r\n\t</b></a>\r\n");
  // Whitespace written as references is whitespace all the same.
  EXPECT_EQ(Parse("<a><b/>&#32;&#x9;<c/></a>").Xml(), "<a><b/>\r\n\t<c/></a>\r\n");
}

TEST(XmlSerializerTest, NodesTheProgramAddsGetNoIndentation) {
  xml::Document doc = xml::Document::Create();
  doc.AppendChild(doc.CreateProcessingInstruction("xml", "version='1.0' encoding='UTF-16' standalone='no'"));
  xml::Node root = doc.AppendChild(doc.CreateElement("t:TarvoRepository"));
  ASSERT_EQ(root.SetAttribute("xmlns:t", "http://tarvo.example/2009/Kelmar"), xml::kOk);
  xml::Node product = root.AppendChild(doc.CreateElement("t:Product"));
  product.SetAttribute("value", "P1");
  product.AppendChild(doc.CreateElement("t:file"));
  EXPECT_EQ(doc.Xml(),
            "<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?>\r\n"
            "<t:TarvoRepository xmlns:t=\"http://tarvo.example/2009/Kelmar\">"
            "<t:Product value=\"P1\"><t:file/></t:Product></t:TarvoRepository>\r\n");

  // Appended after the last run of a loaded element, a new node follows that
  // run, which takes the new node's level; nothing else is added.
  doc = Parse("<Root>\n\t<Sub/>\n</Root>");
  doc.DocumentElement().AppendChild(doc.CreateElement("New"));
  EXPECT_EQ(doc.Xml(), "<Root>\r\n\t<Sub/>\r\n\t<New/></Root>\r\n");
}

TEST(XmlSerializerTest, AdjacentRunsLeftByARemovalCountAsOne) {
  xml::Document doc = Parse("<r>\n\t<a/>\n\t<b/>\n</r>");
  xml::Node r = doc.DocumentElement();
  r.RemoveChild(r.SelectSingleNode("a"));
  EXPECT_EQ(doc.Xml(), "<r>\r\n\t<b/>\r\n</r>\r\n");
  r.RemoveChild(r.SelectSingleNode("b"));
  EXPECT_EQ(doc.Xml(), "<r>\r\n</r>\r\n");
}

TEST(XmlSerializerTest, EmptyElementsAreWrittenShortWithoutSpace) {
  EXPECT_EQ(Parse("<a />").Xml(), "<a/>\r\n");
  EXPECT_EQ(Parse("<EleTest Attr=\"\"></EleTest>").Xml(), "<EleTest Attr=\"\"/>\r\n");
  EXPECT_EQ(Parse("<a x='1'  y = \"2\" ><b\n/></a>").Xml(), "<a x=\"1\" y=\"2\"><b/></a>\r\n");
}

TEST(XmlSerializerTest, AttributeValuesAreDoubleQuotedAndEscaped) {
  xml::Document doc = xml::Document::Create();
  xml::Node e = doc.AppendChild(doc.CreateElement("e"));
  e.SetAttribute("attr", "\"a & b\"");
  EXPECT_EQ(e.Xml(), "<e attr=\"&quot;a &amp; b&quot;\"/>");
  e.SetAttribute("attr", "&quot;a");
  EXPECT_EQ(e.Xml(), "<e attr=\"&amp;quot;a\"/>");
  e.SetAttribute("attr", "x<y>z 'q'");
  EXPECT_EQ(e.Xml(), "<e attr=\"x&lt;y>z 'q'\"/>");
  // Tab, line feed and carriage return are written as references: written
  // raw they would read back as spaces.
  e.SetAttribute("attr", "1\t2\n3\r4");
  EXPECT_EQ(e.Xml(), "<e attr=\"1&#x9;2&#xA;3&#xD;4\"/>");
  EXPECT_EQ(e.GetAttributeNode("attr").Xml(), "attr=\"1&#x9;2&#xA;3&#xD;4\"");
  EXPECT_EQ(Parse(e.Xml()).DocumentElement().GetAttribute("attr"), "1\t2\n3\r4");
  // Single-quoted source attributes come out double-quoted.
  EXPECT_EQ(Parse("<e a='say \"hi\"'/>").Xml(), "<e a=\"say &quot;hi&quot;\"/>\r\n");
}

TEST(XmlSerializerTest, TextEscapesAmpersandAndAnglesButKeepsOtherCharacters) {
  EXPECT_EQ(Parse("<a>&amp;x \xE2\x84\x83</a>").Xml(), "<a>&amp;x \xE2\x84\x83</a>\r\n");
  EXPECT_EQ(Parse("<a>1 &lt; 2 &gt; 0 ' \"</a>").Xml(), "<a>1 &lt; 2 &gt; 0 ' \"</a>\r\n");
  EXPECT_EQ(Parse("<a>&#xE4;&#228;&#x1F600;</a>").Xml(), "<a>\xC3\xA4\xC3\xA4\xF0\x9F\x98\x80</a>\r\n");
  // A carriage return from a reference survives as a reference.
  EXPECT_EQ(Parse("<a>x&#13;y</a>").Xml(), "<a>x&#xD;y</a>\r\n");
}

TEST(XmlSerializerTest, CDataCommentsAndInstructionsAreVerbatim) {
  EXPECT_EQ(Parse("<a><![CDATA[ <x> & ]]><!-- c & d --><?pi some data?><?empty?></a>").Xml(),
            "<a><![CDATA[ <x> & ]]><!-- c & d --><?pi some data?><?empty?></a>\r\n");
  EXPECT_EQ(Parse("<ns:elem xmlns:ns=\"ns/uri\"><test xmlns=\"urn:d\"/></ns:elem>").Xml(),
            "<ns:elem xmlns:ns=\"ns/uri\"><test xmlns=\"urn:d\"/></ns:elem>\r\n");
}

TEST(XmlSerializerTest, EveryTopLevelNodeEndsWithCrLf) {
  xml::Document doc = xml::Document::Create();
  doc.AppendChild(doc.CreateProcessingInstruction("xml", "version=\"1.0\""));
  doc.AppendChild(doc.CreateElement("test"));
  EXPECT_EQ(doc.Xml(), "<?xml version=\"1.0\"?>\r\n<test/>\r\n");

  EXPECT_EQ(Parse("<!--x-->\n\n<a/>  \n<!--y--><?z?>").Xml(), "<!--x-->\r\n<a/>\r\n<!--y-->\r\n<?z?>\r\n");
  EXPECT_EQ(Parse("<!DOCTYPE a>\n<a/>").Xml(), "<!DOCTYPE a>\r\n<a/>\r\n");
  EXPECT_EQ(xml::Document::Create().Xml(), "");
}

TEST(XmlSerializerTest, DeclarationKeepsOnlyAUtf16EncodingInXmlText) {
  EXPECT_EQ(Parse("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a/>").Xml(), "<?xml version=\"1.0\"?>\r\n<a/>\r\n");
  EXPECT_EQ(Parse("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><a/>").Xml(),
            "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<a/>\r\n");
  EXPECT_EQ(Parse("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>test</a>").Xml(),
            "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a>test</a>\r\n");
  // Any letter case of UTF-16 is kept as written; quotes become double.
  EXPECT_EQ(Parse("<?xml version='1.0' encoding='utf-16' standalone='no'?><a/>").Xml(),
            "<?xml version=\"1.0\" encoding=\"utf-16\" standalone=\"no\"?>\r\n<a/>\r\n");
  // Without a declaration none is added.
  EXPECT_EQ(Parse("<a/>").Xml(), "<a/>\r\n");
  // The declaration node itself reads the same way.
  xml::Node declaration = Parse("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a/>").FirstChild();
  EXPECT_EQ(declaration.Xml(), "<?xml version=\"1.0\"?>");
}

TEST(XmlSerializerTest, PreservedWhitespaceIsWrittenAsItIs) {
  xml::Document doc = Parse("<a xml:space=\"preserve\">\n  <b/>\n</a>");
  EXPECT_EQ(doc.Xml(), "<a xml:space=\"preserve\">\n  <b/>\n</a>\r\n");
  EXPECT_EQ(doc.DocumentElement().ChildNodes().Length(), 3u);
  // xml:space="default" below it hides whitespace again.
  doc = Parse("<a xml:space=\"preserve\"> <b xml:space=\"default\"> <c/> </b> </a>");
  EXPECT_EQ(doc.Xml(), "<a xml:space=\"preserve\"> <b xml:space=\"default\">\r\n\t\t<c/>\r\n\t</b> </a>\r\n");
}

TEST(XmlSerializerTest, ReloadingTheXmlTextGivesTheSameText) {
  const char* sources[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<t:a xmlns:t=\"urn:t\">\n  <t:b v=\"&amp;&lt;&quot;&#10;\">x &amp; y</t:b>\n"
      "  <!-- note -->\n  <t:c><![CDATA[raw <>]]></t:c>\n</t:a>\n",
      "<a><b>  </b>\n<c>\xC3\xA4</c></a>",
      "<!DOCTYPE a><?pi x?><a xml:space='preserve'> <b/> </a><!--end-->",
  };
  for (const char* source : sources) {
    const std::string once = Parse(source).Xml();
    EXPECT_EQ(Parse(once).Xml(), once) << source;
  }
}

// XmlWithout must write what the text would be after the removal, byte for
// byte: the checksum of a loaded file is taken that way.
TEST(XmlSerializerTest, XmlWithoutANodeIsTheTextAfterItsRemoval) {
  struct Case {
    const char* source;
    const char* omitted;  // XPath of the node to leave out
  };
  const Case cases[] = {
      {"<r>\n\t<a/>\n\t<b/>\n</r>", "r/a"},                        // first of two, runs around it
      {"<r>\n\t<a/>\n\t<b/>\n</r>", "r/b"},                        // last child before the end tag
      {"<r>\n\t<a/>\n</r>", "r/a"},                                 // only child: the element stays open
      {"<r><a/></r>", "r/a"},                                        // only child without whitespace
      {"<r><a/>text<b/></r>", "r/a"},                                // beside text
      {"<r>\n <p>\n  <c v='1'/>\n  <d/>\n </p>\n <q/>\n</r>", "r/p/c"},  // nested
      {"<r>\n <p>\n  <c v='1'/>\n </p>\n <q/>\n</r>", "r/p"},         // a whole subtree
      {"<?xml version='1.0'?><!--x--><r/>", "r"},                    // the document element
  };
  for (const Case& c : cases) {
    const xml::Document kept = Parse(c.source);
    const xml::Document changed = Parse(c.source);
    const xml::Node node = changed.SelectSingleNode(c.omitted);
    ASSERT_FALSE(node.IsNull()) << c.source;
    node.ParentNode() ? node.ParentNode().RemoveChild(node) : changed.RemoveChild(node);
    EXPECT_EQ(kept.XmlWithout(kept.SelectSingleNode(c.omitted)), changed.Xml()) << c.source;
    EXPECT_EQ(kept.Xml(), Parse(c.source).Xml()) << "the document itself stays as it is: " << c.source;
  }
  // Nothing to leave out: the whole text.
  const xml::Document doc = Parse("<r>\n\t<a/>\n</r>");
  EXPECT_EQ(doc.XmlWithout(xml::Node()), doc.Xml());
  EXPECT_EQ(doc.XmlWithout(doc.SelectSingleNode("r/a/@missing")), doc.Xml());
}

// A document may stand for its own text only while that text is known to
// read back into content that gives the same text. Each change either keeps
// that or not; where it is kept, the text must indeed read back.
TEST(XmlSerializerTest, ADocumentReadsBackAsItIsUntilAChangeMightNot) {
  EXPECT_FALSE(xml::Document().ReadsBackAsItIs());
  const xml::Document built = xml::Document::Create();
  built.AppendChild(built.CreateElement("r"));
  EXPECT_FALSE(built.ReadsBackAsItIs()) << "built at the top level";

  using Change = void (*)(const xml::Document&);
  const struct {
    const char* what;
    Change change;
    bool keeps;
  } cases[] = {
      {"reading", [](const xml::Document& d) { d.SelectSingleNode("r/b").Xml(); }, true},
      {"an attribute", [](const xml::Document& d) { d.DocumentElement().SetAttribute("a", "1"); }, true},
      {"a value to escape",
       [](const xml::Document& d) { d.SelectSingleNode("r/b").SetAttribute("v", "<&\"\r\n\t>  two  "); }, true},
      {"a bound prefix", [](const xml::Document& d) { d.SelectSingleNode("r/b").SetAttribute("t:v", "x"); }, true},
      {"an unbound prefix", [](const xml::Document& d) { d.DocumentElement().SetAttribute("u:v", "x"); }, false},
      {"a declaration", [](const xml::Document& d) { d.DocumentElement().SetAttribute("xmlns:u", "urn:u"); }, false},
      {"xml:space", [](const xml::Document& d) { d.DocumentElement().SetAttribute("xml:space", "preserve"); }, false},
      {"removing an attribute", [](const xml::Document& d) { d.DocumentElement().RemoveAttribute("a"); }, true},
      {"removing a declaration", [](const xml::Document& d) { d.DocumentElement().RemoveAttribute("xmlns:t"); },
       false},
      {"a new element",
       [](const xml::Document& d) {
         const xml::Node c = d.CreateElement("t:c");
         c.AppendChild(d.CreateElement("d")).SetAttribute("t:e", "1");
         d.SelectSingleNode("r/b").AppendChild(c);
       },
       true},
      {"a new element of an unbound prefix",
       [](const xml::Document& d) { d.DocumentElement().AppendChild(d.CreateElement("u:c")); }, false},
      {"a copy of elements",
       [](const xml::Document& d) { d.DocumentElement().AppendChild(Parse("<c x='1'><d/></c>").DocumentElement()); },
       true},
      {"a copy with whitespace",
       [](const xml::Document& d) { d.DocumentElement().AppendChild(Parse("<c>\n<d/></c>").DocumentElement()); },
       false},
      {"a copy with text",
       [](const xml::Document& d) { d.DocumentElement().AppendChild(Parse("<c>x</c>").DocumentElement()); }, false},
      {"a move", [](const xml::Document& d) { d.DocumentElement().AppendChild(d.SelectSingleNode("r/b")); }, false},
      {"removing between whitespace",
       [](const xml::Document& d) { d.DocumentElement().RemoveChild(d.SelectSingleNode("r/b")); }, true},
      {"removing between whitespace and text",
       [](const xml::Document& d) { d.DocumentElement().RemoveChild(d.SelectSingleNode("r/f")); }, false},
      {"removing the document element", [](const xml::Document& d) { d.RemoveChild(d.DocumentElement()); }, false},
  };
  for (const auto& c : cases) {
    const xml::Document doc = Parse("<r a='1' xmlns:t='urn:t'>\n\t<b/>\n\t<f/>text</r>");
    ASSERT_TRUE(doc.ReadsBackAsItIs());
    c.change(doc);
    EXPECT_EQ(doc.ReadsBackAsItIs(), c.keeps) << c.what;
    if (doc.ReadsBackAsItIs()) {
      EXPECT_EQ(Parse(doc.Xml()).Xml(), doc.Xml()) << c.what;
    }
  }
  // Why the rules are there: these texts do not read back as they are.
  for (const int lost : {6, 16}) {
    const xml::Document doc = Parse("<r a='1' xmlns:t='urn:t'>\n\t<b/>\n\t<f/>text</r>");
    cases[lost].change(doc);
    EXPECT_NE(Parse(doc.Xml()).Xml(), doc.Xml()) << cases[lost].what;
  }

  // A node appended elsewhere is copied: its own document is unchanged.
  const xml::Document source = Parse("<r><b x='1'/></r>");
  Parse("<r/>").DocumentElement().AppendChild(source.SelectSingleNode("r/b"));
  EXPECT_TRUE(source.ReadsBackAsItIs());
  xml::Document doc = Parse("<r><b/></r>");
  const xml::Node orphan = doc.CreateElement("c");
  orphan.SetAttribute("xmlns:u", "urn:u");
  orphan.AppendChild(doc.CreateElement("u:d"));
  EXPECT_TRUE(doc.ReadsBackAsItIs()) << "what is built in the orphanage is no part of the text yet";
  doc.DocumentElement().AppendChild(orphan);
  EXPECT_FALSE(doc.ReadsBackAsItIs()) << "it declares a namespace";
  doc = Parse("<r><b/></r>");
  doc.CreateElement("c").AppendChild(doc.SelectSingleNode("r/b"));
  EXPECT_FALSE(doc.ReadsBackAsItIs()) << "a node taken out of the document";

  EXPECT_TRUE(doc.LoadXml("<again/>"));
  EXPECT_TRUE(doc.ReadsBackAsItIs()) << "a new load starts again";
  EXPECT_FALSE(doc.LoadXml("<broken>"));
  EXPECT_FALSE(doc.ReadsBackAsItIs());
}

// A version stands for one content: reads keep it, and every write and load
// (of this or any other document) gives one not seen before.
TEST(XmlSerializerTest, EveryChangeOrLoadGivesANewVersion) {
  EXPECT_EQ(xml::Document().Version(), 0u);
  xml::Document doc = Parse("<r a='1'><b/></r>");
  std::set<uint64_t> seen{doc.Version()};
  const auto expectNew = [&](const char* step) { EXPECT_TRUE(seen.insert(doc.Version()).second) << step; };
  doc.SelectNodes("//*");
  doc.Xml();
  EXPECT_EQ(doc.Version(), *seen.begin()) << "reading";
  doc.DocumentElement().SetAttribute("a", "1");
  expectNew("the same value set again");
  doc.DocumentElement().RemoveAttribute("a");
  expectNew("an attribute removed");
  doc.DocumentElement().AppendChild(doc.CreateElement("c"));
  expectNew("a child appended");
  doc.DocumentElement().RemoveChild(doc.SelectSingleNode("r/b"));
  expectNew("a child removed");
  EXPECT_TRUE(doc.LoadXml("<r a='1'><b/></r>"));
  expectNew("the first text loaded again");
  EXPECT_TRUE(Parse("<other/>").Version() > doc.Version()) << "another document's content";
}

}  // namespace
