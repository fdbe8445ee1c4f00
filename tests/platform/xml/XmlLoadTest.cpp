// Loading documents: what is accepted, how failures are reported, and how
// files in the encodings the program meets are read.
#include <gtest/gtest.h>

#include "platform/Forwarding.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "support/TestHost.h"

namespace {

std::string Utf16Le(std::string_view utf8) { return text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(utf8)); }

std::string Utf16Be(std::string_view utf8) {
  std::string bytes = Utf16Le(utf8);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  return bytes;
}

struct Malformed {
  const char* what;
  std::string text;
  uint32_t code;
  int32_t line;
  int32_t position;
};

TEST(XmlLoadTest, MalformedTextFailsWithCodeReasonAndPosition) {
  const Malformed cases[] = {
      {"empty", "", xml::kXmlErrMissingRoot, 1, 1},
      {"whitespace only", " \n ", xml::kXmlErrMissingRoot, 2, 2},
      {"two roots", "<a/>\n<b/>", xml::kXmlErrMultipleRoots, 2, 1},
      {"text at top level", "<a/>tail", xml::kXmlErrInvalidAtTopLevel, 1, 5},
      {"mismatched end tag", "<a>\n  <b></c>\n</a>", xml::kXmlErrEndTagMismatch, 2, 8},
      {"unclosed element", "<a><b>", xml::kXmlErrUnclosedTags, 1, 6},
      {"duplicate attribute", "<a x='1' y='2' x='3'/>", xml::kXmlErrDuplicateAttribute, 1, 16},
      {"undefined entity", "<a>x &nbsp;</a>", xml::kXmlErrUndefinedEntity, 1, 6},
      {"bare ampersand", "<a>fish & chips</a>", xml::kXmlErrMissingSemicolon, 1, 9},
      {"entity in attribute", "<a v='&foo;'/>", xml::kXmlErrUndefinedEntity, 1, 7},
      {"reference to NUL", "<a>&#0;</a>", xml::kXmlErrInvalidCharRef, 1, 4},
      {"reference beyond Unicode", "<a>&#x110000;</a>", xml::kXmlErrInvalidCharRef, 1, 4},
      {"'<' in attribute", "<a v='1<2'/>", xml::kXmlErrBadCharInString, 1, 8},
      {"undeclared element prefix", "<t:a/>", xml::kXmlErrUndeclaredPrefix, 1, 2},
      {"undeclared attribute prefix", "<a q:v='1'/>", xml::kXmlErrUndeclaredPrefix, 1, 4},
      {"prefix out of scope", "<a><b xmlns:t='urn:t'/><t:c/></a>", xml::kXmlErrUndeclaredPrefix, 1, 25},
      {"control character", "<a>\x01</a>", xml::kXmlErrBadCharData, 1, 4},
      {"invalid UTF-8", "<a>\xC3</a>", xml::kXmlErrBadCharData, 1, 4},
      {"encoded surrogate", "<a>\xED\xA0\x80</a>", xml::kXmlErrBadCharData, 1, 4},
      {"two colons", "<a:b:c xmlns:a='urn:a'/>", xml::kXmlErrBadNameChar, 1, 2},
      {"unquoted attribute", "<a v=1/>", xml::kXmlErrMissingQuote, 1, 6},
      {"name starting with digit", "<1a/>", xml::kXmlErrBadStartNameChar, 1, 2},
      {"unclosed comment", "<a><!-- x</a>", xml::kXmlErrUnclosedComment, 1, 8},
      {"CDATA at top level", "<![CDATA[x]]><a/>", xml::kXmlErrInvalidAtTopLevel, 1, 10},
      {"declaration after a comment", "<!--c--><?xml version='1.0'?><a/>", xml::kXmlErrBadXmlDeclaration, 1, 9},
      {"declaration after the root", "<a/><?xml version='1.0'?>", xml::kXmlErrBadXmlDeclaration, 1, 5},
      {"unknown pseudo-attribute", "<?xml version='1.0' flavour='x'?><a/>", xml::kXmlErrUnexpectedAttribute, 1, 1},
      {"pseudo-attributes out of order", "<?xml encoding='UTF-8' version='1.0'?><a/>", xml::kXmlErrUnexpectedAttribute,
       1, 1},
      {"bad standalone", "<?xml version='1.0' standalone='maybe'?><a/>", xml::kXmlErrBadXmlDeclaration, 1, 1},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.what);
    xml::Document doc = xml::Document::Create();
    EXPECT_FALSE(doc.LoadXml(c.text));
    const xml::ParseError error = doc.GetParseError();
    EXPECT_EQ(error.errorCode, c.code) << std::hex << error.errorCode << " " << error.reason;
    EXPECT_EQ(error.line, c.line);
    EXPECT_EQ(error.linePosition, c.position);
    ASSERT_GE(error.reason.size(), 3u);
    EXPECT_EQ(error.reason.substr(error.reason.size() - 2), "\r\n");
    EXPECT_TRUE(doc.DocumentElement().IsNull());
    EXPECT_EQ(doc.Xml(), "");
  }
}

TEST(XmlLoadTest, ReasonsNameWhatIsWrong) {
  xml::Document doc = xml::Document::Create();
  EXPECT_FALSE(doc.LoadXml("<a>&nbsp;</a>"));
  EXPECT_EQ(doc.GetParseError().reason, "Reference to undefined entity 'nbsp'.\r\n");
  EXPECT_FALSE(doc.LoadXml("<t:a/>"));
  EXPECT_EQ(doc.GetParseError().reason, "Reference to undeclared namespace prefix: 't'.\r\n");
  EXPECT_FALSE(doc.LoadXml(""));
  EXPECT_EQ(doc.GetParseError().reason, "XML document must have a top level element.\r\n");
}

TEST(XmlLoadTest, PositionsCountCharactersNotBytes) {
  xml::Document doc = xml::Document::Create();
  // "ä" is two bytes, "😀" two UTF-16 units; CR LF and a lone CR end lines.
  EXPECT_FALSE(doc.LoadXml("<a>\r\n<b>\xC3\xA4\xF0\x9F\x98\x80&x;</b>\r<c/></a>"));
  EXPECT_EQ(doc.GetParseError().line, 2);
  EXPECT_EQ(doc.GetParseError().linePosition, 7);
  EXPECT_FALSE(doc.LoadXml("<a>\r\r<b x='1' x='2'/></a>"));
  EXPECT_EQ(doc.GetParseError().line, 3);
}

TEST(XmlLoadTest, SuccessClearsTheErrorAndAFailureEmptiesTheDocument) {
  xml::Document doc = xml::Document::Create();
  ASSERT_FALSE(doc.LoadXml("<a>"));
  EXPECT_NE(doc.GetParseError().errorCode, xml::kOk);
  ASSERT_TRUE(doc.LoadXml("<a/>"));
  EXPECT_EQ(doc.GetParseError().errorCode, xml::kOk);
  EXPECT_EQ(doc.GetParseError().reason, "");
  ASSERT_FALSE(doc.LoadXml("<b>"));
  EXPECT_TRUE(doc.DocumentElement().IsNull());
  EXPECT_FALSE(doc.HasChildNodes());
}

TEST(XmlLoadTest, WhitespaceBeforeTheDeclarationFailsButBeforeARootIsFine) {
  xml::Document doc = xml::Document::Create();
  EXPECT_FALSE(doc.LoadXml(" <?xml version=\"1.0\"?><a/>"));
  EXPECT_EQ(doc.GetParseError().errorCode, xml::kXmlErrBadXmlDeclaration);
  EXPECT_FALSE(doc.LoadXml("\r\n<?xml version=\"1.0\"?><a/>"));
  EXPECT_EQ(doc.GetParseError().line, 2);
  EXPECT_TRUE(doc.LoadXml("\n  <a/>"));
  // A processing instruction whose target merely starts with "xml" is not a declaration.
  EXPECT_TRUE(doc.LoadXml(" <?xml-stylesheet href='s'?><a/>"));

  TestHost host;
  host.WriteHostFile("C:\\lead.xml", "\t<?xml version=\"1.0\"?><a/>");
  EXPECT_FALSE(doc.Load("C:\\lead.xml"));
  EXPECT_EQ(doc.GetParseError().errorCode, xml::kXmlErrBadXmlDeclaration);
}

TEST(XmlLoadTest, EntityDeclarationsAreRefusedAndNoDtdIsRead) {
  xml::Document doc = xml::Document::Create();
  const std::string laughs =
      "<!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 \"&lol;&lol;&lol;&lol;\">]><lolz>&lol2;</lolz>";
  EXPECT_FALSE(doc.LoadXml(laughs));
  EXPECT_EQ(doc.GetParseError().errorCode, xml::kXmlErrDtdNotAllowed);
  EXPECT_NE(doc.GetParseError().reason.find("entity declarations"), std::string::npos);
  EXPECT_FALSE(doc.LoadXml("<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>"));
  EXPECT_EQ(doc.GetParseError().errorCode, xml::kXmlErrDtdNotAllowed);

  // A DOCTYPE that only names an external DTD is kept but never read: the
  // entity that file declares stays undefined.
  TestHost host;
  host.WriteHostFile("C:\\ent.dtd", "<!ENTITY e \"expanded\">");
  host.WriteHostFile("C:\\doc.xml", "<!DOCTYPE a SYSTEM \"ent.dtd\"><a>&e;</a>");
  EXPECT_FALSE(doc.Load("C:\\doc.xml"));
  EXPECT_EQ(doc.GetParseError().errorCode, xml::kXmlErrUndefinedEntity);
  ASSERT_TRUE(doc.LoadXml("<!DOCTYPE a SYSTEM \"ent.dtd\"><a>x</a>"));
  EXPECT_EQ(doc.FirstChild().Type(), xml::NodeType::kDocumentType);
  EXPECT_EQ(doc.FirstChild().NodeName(), "a");
  // Two DOCTYPEs, or one after the root, are not allowed.
  EXPECT_FALSE(doc.LoadXml("<a/><!DOCTYPE a>"));
  EXPECT_EQ(doc.GetParseError().errorCode, xml::kXmlErrInvalidAtTopLevel);
}

TEST(XmlLoadTest, ReferencesAndLineEndsAreDecoded) {
  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.LoadXml("<a v='&lt;&amp;&gt;&quot;&apos;&#65;&#x42;' w='x\r\ny\tz'>&lt;\r\n&#x263A;</a>"));
  const xml::Node a = doc.DocumentElement();
  EXPECT_EQ(a.GetAttribute("v"), "<&>\"'AB");
  EXPECT_EQ(a.GetAttribute("w"), "x y z");  // attribute whitespace is normalised to spaces
  EXPECT_EQ(a.FirstChild().NodeValue(), "<\n\xE2\x98\xBA");
}

TEST(XmlLoadTest, AUtf8ByteOrderMarkInTextIsSkipped) {
  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.LoadXml("\xEF\xBB\xBF<a/>"));
  EXPECT_EQ(doc.Xml(), "<a/>\r\n");
}

class XmlLoadFileTest : public ::testing::Test {
 protected:
  // Loads `bytes` from a host file and returns the document element's text.
  std::string LoadText(std::string_view bytes) {
    host_.WriteHostFile("C:\\in.xml", bytes);
    if (!doc_.Load("C:\\in.xml")) return "<failed: " + doc_.GetParseError().reason + ">";
    return doc_.DocumentElement().Text();
  }
  TestHost host_;
  xml::Document doc_ = xml::Document::Create();
};

TEST_F(XmlLoadFileTest, ReadsUtf8AndUtf16WithOrWithoutByteOrderMark) {
  const std::string body = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80</a>";
  const std::string expected = "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(LoadText("\xFF\xFE" + Utf16Le(body)), expected);
  EXPECT_EQ(LoadText("\xFE\xFF" + Utf16Be(body)), expected);
  EXPECT_EQ(LoadText(Utf16Le(body)), expected);
  EXPECT_EQ(LoadText(Utf16Be(body)), expected);
  EXPECT_EQ(LoadText(Utf16Le("\n<a>x</a>")), "x");  // no mark, whitespace first
  EXPECT_EQ(LoadText("\xEF\xBB\xBF<a>\xC3\xA4</a>"), "\xC3\xA4");
  EXPECT_EQ(LoadText("<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xC3\xA4</a>"), "\xC3\xA4");
  EXPECT_EQ(LoadText("<a>\xC3\xA4</a>"), "\xC3\xA4");  // no declaration: UTF-8
  // A UTF-16 file keeps its declaration for Xml and Save.
  LoadText("\xFF\xFE" + Utf16Le(body));
  EXPECT_EQ(doc_.Xml(), "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a>" + expected + "</a>\r\n");
}

// Long text goes through the decoder in pieces: characters of one to four
// bytes must survive at every position, also across the pieces' edges.
TEST_F(XmlLoadFileTest, LongUtf16TextKeepsEveryCharacter) {
  const char* characters[] = {"a", "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
  for (int shift = 0; shift < 4; ++shift) {
    std::string text(static_cast<size_t>(shift), 'x');
    for (size_t i = 0; text.size() < 70000; ++i) text += characters[(i * 7 + i / 3) % 4];
    EXPECT_EQ(LoadText("\xFF\xFE" + Utf16Le("<a>" + text + "</a>")), text) << "shift " << shift;
  }
}

TEST_F(XmlLoadFileTest, ReadsTheEightBitEncodingsTheDeclarationNames) {
  // 0x80 is the euro sign in windows-1252 but U+0080 in ISO-8859-1.
  EXPECT_EQ(LoadText("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xE4\x80</a>"), "\xC3\xA4\xE2\x82\xAC");
  EXPECT_EQ(LoadText("<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE4\x80</a>"), "\xC3\xA4\xC2\x80");
  EXPECT_EQ(LoadText("<?xml version=\"1.0\" encoding=\"us-ascii\"?><a>plain</a>"), "plain");
}

TEST_F(XmlLoadFileTest, RefusesBytesThatDoNotFitTheEncoding) {
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t code;
  };
  const Case cases[] = {
      {"unknown encoding", "<?xml version=\"1.0\" encoding=\"shift_jis\"?><a/>", xml::kXmlErrUnsupportedEncoding},
      {"8-bit file claiming UTF-16", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>", xml::kXmlErrEncodingSwitch},
      {"invalid UTF-8", "<a>\xE4</a>", xml::kXmlErrBadCharData},
      {"high byte in ASCII", "<?xml version=\"1.0\" encoding=\"us-ascii\"?><a>\xE4</a>", xml::kXmlErrBadCharData},
      {"odd UTF-16 length", "\xFF\xFE" + Utf16Le("<a/>") + "x", xml::kXmlErrBadCharData},
      {"lone surrogate", "\xFF\xFE" + Utf16Le("<a>") + std::string("\x00\xD8", 2) + Utf16Le("</a>"),
       xml::kXmlErrBadCharData},
      {"NUL in UTF-16", "\xFF\xFE" + Utf16Le("<a>") + std::string("\0\0", 2) + Utf16Le("</a>"),
       xml::kXmlErrBadCharData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host_.WriteHostFile("C:\\bad.xml", c.bytes);
    EXPECT_FALSE(doc_.Load("C:\\bad.xml"));
    EXPECT_EQ(doc_.GetParseError().errorCode, c.code) << doc_.GetParseError().reason;
    EXPECT_GT(doc_.GetParseError().line, 0);
  }
  // The position of a bad byte is where it stands in the decoded text.
  host_.WriteHostFile("C:\\bad.xml", "<a>\n  ok\xE4</a>");
  EXPECT_FALSE(doc_.Load("C:\\bad.xml"));
  EXPECT_EQ(doc_.GetParseError().line, 2);
  EXPECT_EQ(doc_.GetParseError().linePosition, 5);
}

TEST_F(XmlLoadFileTest, ReportsFileErrors) {
  EXPECT_FALSE(doc_.Load("C:\\missing.xml"));
  EXPECT_EQ(doc_.GetParseError().errorCode, xml::kErrObjectNotFound);
  EXPECT_EQ(doc_.GetParseError().reason, "The system cannot locate the object specified.\r\n");
  EXPECT_FALSE(doc_.Load("C:\\no\\such\\folder\\f.xml"));
  EXPECT_EQ(doc_.GetParseError().errorCode, xml::kErrObjectNotFound);
  EXPECT_FALSE(doc_.Load("C:\\Windows"));  // a folder
  EXPECT_EQ(doc_.GetParseError().errorCode, xml::HResultFromWin32(winerr::kAccessDenied));
  // Forward and back slashes both work, and names match without case.
  host_.WriteHostFile("C:\\Data\\Sec.xml", "<a/>");
  EXPECT_TRUE(doc_.Load("c:/data/SEC.XML"));
}

// A file service whose files claim a size beyond what a document may have,
// counting the reads made of them.
class HugeFiles : public plat::ForwardingFiles {
 public:
  using ForwardingFiles::ForwardingFiles;
  class HugeStream : public plat::IFileStream {
   public:
    explicit HugeStream(int* reads) : reads_(reads) {}
    uint32_t Read(void*, size_t, size_t* got) override {
      ++*reads_;
      *got = 0;
      return 0;
    }
    uint32_t Write(const void*, size_t) override { return winerr::kAccessDenied; }
    uint32_t Seek(uint64_t) override { return 0; }
    uint32_t SeekToEnd() override { return 0; }
    uint64_t Size() override { return uint64_t{8} << 30; }
    uint32_t Flush() override { return 0; }

   private:
    int* reads_;
  };
  uint32_t OpenStream(std::string_view, plat::OpenMode, std::unique_ptr<plat::IFileStream>* stream) override {
    ++opens;
    *stream = std::make_unique<HugeStream>(&reads);
    return 0;
  }
  int opens = 0;
  int reads = 0;
};

TEST_F(XmlLoadFileTest, RefusesAFileTooLargeBeforeReadingIt) {
  plat::ForwardingPlatform platform(host_.Platform());
  HugeFiles files(host_.Platform().Files());
  platform.SetFiles(&files);
  plat::ScopedPlatform installed(platform);
  EXPECT_FALSE(doc_.Load("C:\\huge.xml"));
  EXPECT_EQ(doc_.GetParseError().errorCode, xml::kXmlErrFileTooLarge);
  EXPECT_EQ(files.opens, 1);
  EXPECT_EQ(files.reads, 0);
}

}  // namespace
