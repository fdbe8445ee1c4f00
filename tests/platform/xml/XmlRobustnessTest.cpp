// Robustness: very deep and very large documents, and arbitrary bytes. The
// component must answer with a clear result, never crash, never recurse
// per nesting level, and never let a small input grow without bound.
#include <gtest/gtest.h>

#include <random>

#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "support/TestHost.h"

namespace {

constexpr int kDepth = 100000;

std::string Nested(int depth, std::string_view between = "", std::string_view innermost = "") {
  std::string text;
  text.reserve(static_cast<size_t>(depth) * (8 + between.size()));
  for (int i = 0; i < depth; ++i) {
    text += "<n>";
    text += between;
  }
  text += innermost;
  for (int i = 0; i < depth; ++i) text += "</n>";
  return text;
}

TEST(XmlRobustnessTest, DeeplyNestedDocumentsWorkThroughout) {
  const std::string source = Nested(kDepth, "", "deep &amp; down");
  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.LoadXml(source)) << doc.GetParseError().reason;
  EXPECT_EQ(doc.Xml(), source + "\r\n");
  EXPECT_EQ(doc.Text(), "deep & down");
  EXPECT_EQ(doc.SelectNodes("//n").Length(), static_cast<size_t>(kDepth));

  xml::Node deepest = doc.DocumentElement();
  while (deepest.FirstChild().Type() == xml::NodeType::kElement) deepest = deepest.FirstChild();
  EXPECT_EQ(deepest.Xml(), "<n>deep &amp; down</n>");
  EXPECT_EQ(deepest.SelectNodes("ancestor::n").Length(), static_cast<size_t>(kDepth - 1));

  // Copied into another document, moved, removed, and freed with it.
  xml::Document other = xml::Document::Create();
  ASSERT_FALSE(other.AppendChild(doc.DocumentElement()).IsNull());
  EXPECT_EQ(other.Xml(), doc.Xml());
  const xml::Node top = doc.DocumentElement();
  const xml::Node child = top.FirstChild();
  ASSERT_EQ(top.RemoveChild(child), child);
  EXPECT_EQ(doc.Xml(), "<n/>\r\n");
  ASSERT_EQ(top.AppendChild(child), child);
  EXPECT_EQ(doc.Xml(), source + "\r\n");
  top.RemoveChild(child);
}

TEST(XmlRobustnessTest, IndentationOfADeepDocumentStaysBounded) {
  // One line break per level is a small input; a tab per level on every
  // line would make it quadratic, so indentation stops growing.
  const std::string source = Nested(kDepth, "\n");
  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.LoadXml(source));
  const std::string out = doc.Xml();
  EXPECT_EQ(out.substr(0, 16), "<n>\r\n\t<n>\r\n\t\t<n>");
  EXPECT_LE(out.size(), static_cast<size_t>(kDepth) * (3 + 2 + 128 + 4) + 2);
  EXPECT_NE(out.find("\r\n" + std::string(128, '\t') + "<n>"), std::string::npos);
  EXPECT_EQ(out.find(std::string(129, '\t')), std::string::npos);
}

TEST(XmlRobustnessTest, ManyAttributesAndNamespacesStayLinear) {
  std::string text = "<a";
  for (int i = 0; i < 20000; ++i) text += text::Format(" xmlns:p%d='urn:%d' p%d:v='%d'", i, i, i, i);
  text += "/>";
  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.LoadXml(text)) << doc.GetParseError().reason;
  EXPECT_EQ(doc.DocumentElement().Attributes().Length(), 40000u);
  text.insert(text.size() - 2, " p7:v='again'");
  EXPECT_FALSE(doc.LoadXml(text));
  EXPECT_EQ(doc.GetParseError().errorCode, xml::kXmlErrDuplicateAttribute);
}

TEST(XmlRobustnessTest, AFiftyMegabyteFileLoadsQueriesAndSaves) {
  TestHost host;
  constexpr int kProducts = 700000;
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<t:vscSetup xmlns:t=\"urn:t\">\n";
  text.reserve(size_t{55} << 20);
  for (int i = 0; i < kProducts; ++i) {
    text += text::Format("  <t:product value=\"P%07d\" platform=\"x64\">text &amp; \xC3\xA4 %d</t:product>\n", i, i);
  }
  text += "</t:vscSetup>\n";
  ASSERT_GT(text.size(), size_t{50} << 20);
  host.WriteHostFile("C:\\big.xml", text);

  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.Load("C:\\big.xml")) << doc.GetParseError().reason;
  EXPECT_EQ(doc.DocumentElement().ChildNodes().Length(), static_cast<size_t>(kProducts));
  EXPECT_EQ(doc.SelectSingleNode("t:vscSetup/t:product[@value='P0699999']").Text(), "text & \xC3\xA4 699999");
  ASSERT_EQ(doc.Save("C:\\big2.xml"), xml::kOk);
  xml::Document again = xml::Document::Create();
  ASSERT_TRUE(again.Load("C:\\big2.xml"));
  EXPECT_EQ(again.Xml().size(), doc.Xml().size());
}

// Whatever the bytes, a load either fails with a code, a reason and a line,
// or succeeds with a document whose text loads back to the same text.
// Returns whether it loaded.
bool CheckAnswer(xml::Document& doc, bool loaded, const std::string& input) {
  if (!loaded) {
    const xml::ParseError error = doc.GetParseError();
    EXPECT_NE(error.errorCode, xml::kOk) << input;
    EXPECT_GT(error.reason.size(), 2u) << input;
    return false;
  }
  const std::string once = doc.Xml();
  xml::Document again = xml::Document::Create();
  EXPECT_TRUE(again.LoadXml(once)) << again.GetParseError().reason << "\ninput: " << input << "\nxml: " << once;
  EXPECT_EQ(again.Xml(), once) << input;
  return true;
}

TEST(XmlRobustnessTest, RandomBytesGiveAClearAnswer) {
  std::mt19937 random(20240611);
  const std::string alphabet = std::string("<>/?!&;=\"' \n\r\tabt:x#[]-", 24) + std::string("\0\x01\xC3\xA4\xFF\xFE", 6);
  xml::Document doc = xml::Document::Create();
  for (int round = 0; round < 3000; ++round) {
    std::string input(random() % 200, ' ');
    for (char& c : input) c = random() % 4 == 0 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
    CheckAnswer(doc, doc.LoadXml(input), input);
  }
}

TEST(XmlRobustnessTest, MutatedDocumentsGiveAClearAnswer) {
  const std::string seed =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE t:a>\n<t:a xmlns:t=\"urn:t\" x='1'>\n"
      "  <t:b v=\"&amp;&#65;\">text &lt; \xC3\xA4<![CDATA[c]]></t:b>&#32;<e/>\n  <!-- c --><?pi d?>\n"
      "  <c xml:space=\"preserve\"> <d/> </c>\n</t:a>\n";
  std::mt19937 random(7);
  xml::Document doc = xml::Document::Create();
  int loaded = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string input = seed;
    for (int edits = 1 + random() % 3; edits > 0; --edits) {
      const size_t at = random() % input.size();
      switch (random() % 3) {
        case 0: input[at] = static_cast<char>(random()); break;
        case 1: input.insert(at, 1, seed[random() % seed.size()]); break;
        default: input.erase(at, 1 + random() % 4); break;
      }
      if (input.empty()) input = "<";
    }
    if (CheckAnswer(doc, doc.LoadXml(input), input)) ++loaded;
  }
  // Both answers are exercised.
  EXPECT_GT(loaded, 500);
  EXPECT_LT(loaded, 4500);
}

TEST(XmlRobustnessTest, RandomFilesGiveAClearAnswer) {
  TestHost host;
  std::mt19937 random(99);
  const std::string prefixes[] = {"", "\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF",
                                  "<?xml version='1.0' encoding='windows-1252'?>", "<\0"};
  xml::Document doc = xml::Document::Create();
  for (int round = 0; round < 300; ++round) {
    std::string input = prefixes[random() % std::size(prefixes)];
    for (size_t n = random() % 64; n > 0; --n) input += static_cast<char>(random() % 3 ? "<a/>&\0"[random() % 6] : random());
    host.WriteHostFile("C:\\random.xml", input);
    CheckAnswer(doc, doc.Load("C:\\random.xml"), input);
  }
}

}  // namespace
