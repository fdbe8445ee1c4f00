// Saving: the bytes written in each encoding, and how failures leave the
// old file alone.
#include <gtest/gtest.h>

#include <functional>

#include "platform/Files.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "support/TestHost.h"

namespace {

class XmlSaveTest : public ::testing::Test {
 protected:
  xml::Document Parse(std::string_view text) {
    xml::Document doc = xml::Document::Create();
    EXPECT_TRUE(doc.LoadXml(text)) << doc.GetParseError().reason;
    return doc;
  }
  // Saves `text` loaded into a document and returns the bytes written.
  std::string SavedBytes(std::string_view text) {
    EXPECT_EQ(Parse(text).Save("C:\\out.xml"), xml::kOk);
    return host_.ReadHostFile("C:\\out.xml");
  }
  TestHost host_;
};

TEST_F(XmlSaveTest, WithoutDeclarationWritesUtf8WithoutByteOrderMark) {
  EXPECT_EQ(SavedBytes("<a>\xC3\xA4</a>"), "<a>\xC3\xA4</a>\r\n");
  EXPECT_EQ(SavedBytes("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>\n\t<b/>\n</a>"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\r\n\t<b/>\r\n</a>\r\n");
}

TEST_F(XmlSaveTest, WritesUtf16LittleEndianWithByteOrderMark) {
  const std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?>\r\n<a>\xC3\xA4\xF0\x9F\x98\x80</a>\r\n";
  EXPECT_EQ(SavedBytes("<?xml version='1.0' encoding='UTF-16' standalone='no'?><a>\xC3\xA4\xF0\x9F\x98\x80</a>"),
            "\xFF\xFE" + text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(expected)));
}

// ASCII is encoded eight characters at a time: a non-ASCII character at
// every place of such a run, and runs cut short by the end of the text.
TEST_F(XmlSaveTest, Utf16EncodingAroundEveryPlaceOfAnAsciiRun) {
  for (size_t at = 0; at <= 17; ++at) {
    std::string content(17, 'x');
    content.insert(at, at % 2 ? "\xC3\xA4" : "\xF0\x9F\x98\x80");
    const std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a>" + content + "</a>\r\n";
    EXPECT_EQ(SavedBytes("<?xml version='1.0' encoding='UTF-16'?><a>" + content + "</a>"),
              "\xFF\xFE" + text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(expected)))
        << at;
  }
}

TEST_F(XmlSaveTest, WritesTheEightBitEncodingTheDeclarationNames) {
  EXPECT_EQ(SavedBytes("<?xml version=\"1.0\" encoding=\"windows-1252\"?><test>\xC3\xA4\xE2\x82\xAC</test>"),
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<test>\xE4\x80</test>\r\n");
  EXPECT_EQ(SavedBytes("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><test>\xC3\xA4</test>"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<test>\xE4</test>\r\n");
}

TEST_F(XmlSaveTest, ACharacterTheEncodingCannotHoldFailsAndKeepsTheOldFile) {
  host_.WriteHostFile("C:\\out.xml", "old");
  xml::Document doc = Parse("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xE4\xB8\xAD</a>");
  EXPECT_EQ(doc.Save("C:\\out.xml"), xml::kXmlErrBadEncoding);
  doc = Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE2\x82\xAC</a>");
  EXPECT_EQ(doc.Save("C:\\out.xml"), xml::kXmlErrBadEncoding);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), "old");
  // A declaration the program made may name an encoding we cannot write.
  doc = xml::Document::Create();
  doc.AppendChild(doc.CreateProcessingInstruction("xml", "version='1.0' encoding='koi8-r'"));
  doc.AppendChild(doc.CreateElement("a"));
  EXPECT_EQ(doc.Save("C:\\out.xml"), xml::kXmlErrUnsupportedEncoding);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), "old");
}

TEST_F(XmlSaveTest, ADocumentWhoseTextWouldNotLoadIsNotWritten) {
  host_.WriteHostFile("C:\\out.xml", "old");
  xml::Document empty = xml::Document::Create();
  EXPECT_EQ(empty.Save("C:\\out.xml"), xml::kXmlErrMissingRoot);
  xml::Document undeclared = Parse("<t:a xmlns:t='urn:t'/>");
  undeclared.DocumentElement().AppendChild(undeclared.CreateElement("u:b"));
  EXPECT_EQ(undeclared.Save("C:\\out.xml"), xml::kXmlErrUndeclaredPrefix);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), "old");
  // Characters XML cannot carry never reach the file: the value was made safe.
  xml::Document control = Parse("<a/>");
  control.DocumentElement().SetAttribute("v", "x\x01y");
  EXPECT_EQ(control.Save("C:\\out.xml"), xml::kOk);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), "<a v=\"x\xEF\xBF\xBDy\"/>\r\n");
}

TEST_F(XmlSaveTest, FileErrorsComeBackAsHResultsAndLeaveNoTemporaryFile) {
  xml::Document doc = Parse("<a/>");
  EXPECT_EQ(doc.Save("C:\\no\\such\\folder\\out.xml"), xml::HResultFromWin32(winerr::kPathNotFound));
  host_.WriteHostFile("C:\\Repo\\ro.xml", "keep");
  ASSERT_EQ(host_.Platform().Files().SetReadOnly("C:\\Repo\\ro.xml", true), winerr::kSuccess);
  EXPECT_EQ(doc.Save("C:\\Repo\\ro.xml"), xml::HResultFromWin32(winerr::kAccessDenied));
  EXPECT_EQ(host_.ReadHostFile("C:\\Repo\\ro.xml"), "keep");
  std::vector<plat::FileEntry> found;
  ASSERT_EQ(host_.Platform().Files().Find("C:\\Repo\\*", &found), winerr::kSuccess);
  EXPECT_EQ(found.size(), 1u);
}

TEST_F(XmlSaveTest, ASavedDocumentLoadsBackToTheSameText) {
  const char* sources[] = {
      "<?xml version='1.0' encoding='UTF-16' standalone='no'?>\n<t:a xmlns:t='urn:t'>\n  <t:b v='&quot;&amp;'>\xE2\x82\xAC</t:b>\n</t:a>",
      "<?xml version='1.0' encoding='windows-1252'?><a>\xC3\xA4</a>",
      "<a>\xF0\x9F\x98\x80</a>",
  };
  for (const char* source : sources) {
    const xml::Document doc = Parse(source);
    ASSERT_EQ(doc.Save("C:\\round.xml"), xml::kOk) << source;
    xml::Document again = xml::Document::Create();
    ASSERT_TRUE(again.Load("C:\\round.xml")) << again.GetParseError().reason;
    EXPECT_EQ(again.Xml(), doc.Xml());
  }
}

// A document saved again and again, as the history is, writes anew only the
// elements of the first two levels changed since; every file must still be
// what its text is, and a change that breaks the text must still be refused.
// The text without one node (what a checksum hashes) reuses the same memo.
TEST_F(XmlSaveTest, ADocumentSavedRepeatedlyWritesEveryChange) {
  xml::Document doc =
      Parse("<t:h xmlns:t='urn:t'>\n\t<t:s id='1'>\n\t\t<t:p/>\n\t</t:s>\n\t<t:s id='2'/>\n\t<t:s id='3'/>\n</t:h>");
  const xml::Node root = doc.DocumentElement();
  auto branch = [&](const char* id) { return root.SelectSingleNode(std::string("t:s[@id='") + id + "']"); };
  const struct {
    const char* change;
    std::function<void()> apply;
    uint32_t expected;
  } steps[] = {
      {"attribute in a branch", [&] { branch("2").SetAttribute("v", "x"); }, xml::kOk},
      {"element deep in a branch", [&] { branch("1").FirstChild().AppendChild(doc.CreateElement("t:q")); }, xml::kOk},
      {"attribute removed", [&] { branch("2").RemoveAttribute("v"); }, xml::kOk},
      {"element moved between branches", [&] { branch("3").AppendChild(branch("1").FirstChild()); }, xml::kOk},
      {"children for a branch",
       [&] {
         for (const char* id : {"a", "b", "c"}) branch("2").AppendChild(doc.CreateElement("t:p")).SetAttribute("id", id);
       },
       xml::kOk},
      {"attribute of one child", [&] { branch("2").SelectSingleNode("t:p[@id='b']").SetAttribute("v", "1"); }, xml::kOk},
      {"element below one child",
       [&] { branch("2").SelectSingleNode("t:p[@id='c']").AppendChild(doc.CreateElement("t:g")); }, xml::kOk},
      {"child taken out, changed, put into another branch",
       [&] {
         const xml::Node taken = branch("2").RemoveChild(branch("2").SelectSingleNode("t:p[@id='a']"));
         taken.SetAttribute("v", "moved");
         branch("1").AppendChild(taken);
       },
       xml::kOk},
      {"child moved a level down",
       [&] {
         branch("2").SelectSingleNode("t:p[@id='b']").AppendChild(branch("2").SelectSingleNode("t:p[@id='c']"));
       },
       xml::kOk},
      {"new branch", [&] { root.AppendChild(doc.CreateElement("t:s")).SetAttribute("id", "4"); }, xml::kOk},
      {"undeclared prefix in a branch", [&] { branch("2").AppendChild(doc.CreateElement("u:b")); },
       xml::kXmlErrUndeclaredPrefix},
      {"prefix declared on the root", [&] { root.SetAttribute("xmlns:u", "urn:u"); }, xml::kOk},
      {"branch unchanged, declaration gone", [&] { root.RemoveAttribute("xmlns:u"); }, xml::kXmlErrUndeclaredPrefix},
      {"declaration back", [&] { root.SetAttribute("xmlns:u", "urn:u"); }, xml::kOk},
      {"branch removed", [&] { root.RemoveChild(branch("3")); }, xml::kOk},
  };
  ASSERT_EQ(doc.Save("C:\\kept.xml"), xml::kOk);
  for (const auto& step : steps) {
    SCOPED_TRACE(step.change);
    const std::string before = host_.ReadHostFile("C:\\kept.xml");
    step.apply();
    // The text without one node copies from the same memo as the save.
    const xml::Document copy = xml::Document::Create();
    copy.AppendChild(doc.DocumentElement());
    for (const char* omitted : {"t:h/t:s[1]", "t:h/t:s[2]/t:p[2]", "//t:g", "//t:q"}) {
      EXPECT_EQ(doc.XmlWithout(doc.SelectSingleNode(omitted)), copy.XmlWithout(copy.SelectSingleNode(omitted)))
          << omitted;
    }
    EXPECT_EQ(doc.Save("C:\\kept.xml"), step.expected);
    EXPECT_EQ(host_.ReadHostFile("C:\\kept.xml"), step.expected == xml::kOk ? doc.Xml() : before);
  }
}

}  // namespace
