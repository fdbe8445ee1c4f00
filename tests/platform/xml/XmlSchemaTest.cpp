// XSD validation: the schema cache, what Validate reports, that nothing but
// the schema file is ever read, and the parser-class seam.
#include <gtest/gtest.h>
#include <libxml/globals.h>
#include <libxml/xmlIO.h>

#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "platform/xml/ParserClasses.h"
#include "platform/xml/Schema.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kNs = "http://security.example/automation/2005/VantrixSecurityControl";

std::string Schema(std::string_view targetNamespace, std::string_view extra = "") {
  return text::Format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:t=\"%.*s\" targetNamespace=\"%.*s\"\n"
      "           elementFormDefault=\"qualified\">\n"
      "  %.*s\n"
      "  <xs:element name=\"vscSetup\"><xs:complexType><xs:sequence>\n"
      "    <xs:element name=\"host\"><xs:complexType><xs:sequence>\n"
      "      <xs:element name=\"product\" minOccurs=\"0\" maxOccurs=\"unbounded\"><xs:complexType>\n"
      "        <xs:attribute name=\"value\" type=\"xs:string\" use=\"required\"/>\n"
      "        <xs:attribute name=\"platform\" type=\"t:platform\"/>\n"
      "      </xs:complexType></xs:element>\n"
      "      <xs:element name=\"count\" type=\"xs:int\" minOccurs=\"0\"/>\n"
      "    </xs:sequence></xs:complexType></xs:element>\n"
      "  </xs:sequence></xs:complexType></xs:element>\n"
      "  <xs:simpleType name=\"platform\"><xs:restriction base=\"xs:string\">\n"
      "    <xs:enumeration value=\"x86\"/><xs:enumeration value=\"x64\"/>\n"
      "  </xs:restriction></xs:simpleType>\n"
      "  <xs:element name=\"n\"><xs:complexType><xs:sequence><xs:element ref=\"t:n\" minOccurs=\"0\"/></xs:sequence>\n"
      "    <xs:attribute name=\"v\" type=\"xs:int\"/></xs:complexType></xs:element>\n"
      "</xs:schema>\n",
      static_cast<int>(targetNamespace.size()), targetNamespace.data(), static_cast<int>(targetNamespace.size()),
      targetNamespace.data(), static_cast<int>(extra.size()), extra.data());
}

std::string SecurityFile(std::string_view hostContent) {
  return text::Format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<t:vscSetup xmlns:t=\"%s\">\n"
      "  <t:host>\n"
      "%.*s"
      "  </t:host>\n"
      "</t:vscSetup>\n",
      kNs, static_cast<int>(hostContent.size()), hostContent.data());
}

class XmlSchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.WriteHostFile("C:\\Tarvo\\Tarvo2.xsd", Schema(kNs));
    ASSERT_EQ(cache_.Add(kNs, "C:\\Tarvo\\Tarvo2.xsd"), xml::kOk);
  }
  void TearDown() override { xml::ResetParserClasses(); }

  xml::ParseError ValidateText(std::string_view text) {
    xml::Document doc = xml::Document::Create();
    EXPECT_TRUE(doc.LoadXml(text)) << doc.GetParseError().reason;
    doc.SetSchemas(cache_);
    return doc.Validate();
  }

  TestHost host_;
  xml::SchemaCache cache_;
};

TEST_F(XmlSchemaTest, AValidDocumentGivesErrorCodeZero) {
  host_.WriteHostFile("C:\\sec.xml", SecurityFile("    <t:product value=\"P1\" platform=\"x64\"/>\n    <t:count>3</t:count>\n"));
  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.Load("C:\\sec.xml"));
  doc.SetSchemas(cache_);
  const xml::ParseError result = doc.Validate();
  EXPECT_EQ(result.errorCode, xml::kOk) << result.reason;
  EXPECT_EQ(result.reason, "");
  // The default namespace works as well as a prefix.
  EXPECT_EQ(ValidateText(text::Format("<vscSetup xmlns=\"%s\"><host/></vscSetup>", kNs)).errorCode, xml::kOk);
}

TEST_F(XmlSchemaTest, AViolationGivesCodeReasonAndTheElementsPosition) {
  struct Case {
    const char* what;
    const char* content;
    const char* mentions;
    int32_t line;
    int32_t position;
  };
  const Case cases[] = {
      {"missing required attribute", "    <t:product platform=\"x86\"/>\n", "value", 4, 5},
      {"value outside the enumeration", "    <t:product value=\"P\" platform=\"arm\"/>\n", "arm", 4, 5},
      {"unexpected element", "    <t:product value=\"P\"/>\n      <t:bogus/>\n", "t:bogus", 5, 7},
      {"text where a number belongs", "    <t:count>three</t:count>\n", "three", 4, 5},
      {"elements out of order", "    <t:count>1</t:count><t:product value=\"P\"/>\n", "t:product", 4, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const xml::ParseError result = ValidateText(SecurityFile(c.content));
    EXPECT_EQ(result.errorCode, xml::kXmlErrSchemaViolation);
    EXPECT_NE(result.reason.find(c.mentions), std::string::npos) << result.reason;
    EXPECT_EQ(result.reason.substr(result.reason.size() - 2), "\r\n");
    EXPECT_EQ(result.line, c.line) << result.reason;
    EXPECT_EQ(result.linePosition, c.position) << result.reason;
  }
  // Elements are named as written, not by namespace URI.
  const xml::ParseError result = ValidateText(SecurityFile("    <t:bogus/>\n"));
  EXPECT_EQ(result.reason.rfind("Element 't:bogus': ", 0), 0u) << result.reason;
}

TEST_F(XmlSchemaTest, TheSchemaCheckRoundTripReportsPositionsInTheSerialisedText) {
  // As the program checks a security file: its Xml text goes into a new
  // document of the 4.0 class, which is validated.
  xml::Document original = xml::Document::Create();
  ASSERT_TRUE(original.LoadXml(SecurityFile("\n\n    <t:product/>\n")));
  xml::Document check;
  ASSERT_EQ(xml::CreateDocument(xml::ParserClass::kDocument40, &check), xml::kOk);
  check.SetSchemas(cache_);
  ASSERT_TRUE(check.LoadXml(original.Xml()));
  const xml::ParseError result = check.Validate();
  EXPECT_EQ(result.errorCode, xml::kXmlErrSchemaViolation);
  EXPECT_EQ(result.line, 4);  // the blank lines collapsed into one line break
  EXPECT_EQ(result.linePosition, 3);
}

TEST_F(XmlSchemaTest, NodesTheProgramAddedHaveNoPosition) {
  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.LoadXml(SecurityFile("")));
  doc.SelectSingleNode("t:vscSetup/t:host").AppendChild(doc.CreateElement("t:product"));
  doc.SetSchemas(cache_);
  const xml::ParseError result = doc.Validate();
  EXPECT_EQ(result.errorCode, xml::kXmlErrSchemaViolation);
  EXPECT_EQ(result.line, 0);
  EXPECT_EQ(result.linePosition, 0);
}

TEST_F(XmlSchemaTest, DocumentsWithoutRootOrSchemaAreNotValid) {
  xml::Document doc = xml::Document::Create();
  doc.SetSchemas(cache_);
  EXPECT_EQ(doc.Validate().errorCode, xml::kXmlErrValidateNoRoot);
  EXPECT_EQ(ValidateText("<t:vscSetup xmlns:t=\"urn:other\"/>").errorCode, xml::kXmlErrNoSchema);
  EXPECT_EQ(ValidateText("<vscSetup/>").errorCode, xml::kXmlErrNoSchema);
  xml::Document unset = xml::Document::Create();
  ASSERT_TRUE(unset.LoadXml(SecurityFile("")));
  EXPECT_EQ(unset.Validate().errorCode, xml::kXmlErrNoSchema);
}

TEST_F(XmlSchemaTest, SchemaLocationHintsInTheDocumentAreIgnored) {
  // A hint at a schema that would accept anything changes nothing.
  host_.WriteHostFile("C:\\lax.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'/>");
  const std::string text = text::Format(
      "<t:vscSetup xmlns:t=\"%s\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:schemaLocation=\"%s %s\"><t:host><t:nope/></t:host></t:vscSetup>",
      kNs, kNs, host_.HostPath("C:\\lax.xsd").c_str());
  EXPECT_EQ(ValidateText(text).errorCode, xml::kXmlErrSchemaViolation);
}

TEST_F(XmlSchemaTest, AddReportsUnusableSchemaFiles) {
  xml::SchemaCache cache;
  std::string reason;
  EXPECT_EQ(cache.Add(kNs, "C:\\none.xsd", &reason), xml::HResultFromWin32(winerr::kFileNotFound));
  EXPECT_FALSE(reason.empty());
  host_.WriteHostFile("C:\\broken.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>");
  EXPECT_EQ(cache.Add(kNs, "C:\\broken.xsd", &reason), xml::kXmlErrSchemaLoad);
  EXPECT_FALSE(reason.empty());
  host_.WriteHostFile("C:\\plain.xml", "<notASchema/>");
  EXPECT_EQ(cache.Add(kNs, "C:\\plain.xml", &reason), xml::kXmlErrSchemaLoad);
  EXPECT_EQ(cache.Add("urn:wrong", "C:\\Tarvo\\Tarvo2.xsd", &reason), xml::kXmlErrSchemaNamespace);
  EXPECT_NE(reason.find("urn:wrong"), std::string::npos);
  EXPECT_EQ(cache.Length(), 0u);
}

TEST_F(XmlSchemaTest, IncludedFilesAreNeverRead) {
  // The same type definition compiles inline, and is refused once it has to
  // come from another file, by a relative name, a host path or a Linux path.
  const std::string type = "<xs:simpleType name=\"extra\"><xs:restriction base=\"xs:string\"/></xs:simpleType>";
  const std::string user = "<xs:element name=\"x\" type=\"t:extra\"/>";
  host_.WriteHostFile("C:\\Tarvo\\inline.xsd", Schema(kNs, type + user));
  EXPECT_EQ(xml::SchemaCache().Add(kNs, "C:\\Tarvo\\inline.xsd"), xml::kOk);

  const std::string part = text::Format(
      "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"%s\">%s</xs:schema>", kNs,
      type.c_str());
  const std::string linuxPath = host_.WriteHostFile("C:\\Tarvo\\part.xsd", part);
  for (const std::string& location : {std::string("part.xsd"), std::string("C:\\Tarvo\\part.xsd"), linuxPath,
                                      "file://" + linuxPath}) {
    SCOPED_TRACE(location);
    host_.WriteHostFile("C:\\Tarvo\\main.xsd",
                        Schema(kNs, "<xs:include schemaLocation=\"" + location + "\"/>" + user));
    testing::internal::CaptureStderr();
    std::string reason;
    EXPECT_EQ(xml::SchemaCache().Add(kNs, "C:\\Tarvo\\main.xsd", &reason), xml::kXmlErrSchemaLoad);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // reported, not printed
    EXPECT_FALSE(reason.empty());
  }
}

TEST_F(XmlSchemaTest, LeavesTheLibraryAsItFoundItForOtherUsers) {
  // The refusing loader and the error capture are process-wide in libxml2;
  // they are ours only while an operation runs.
  const xmlExternalEntityLoader loader = xmlGetExternalEntityLoader();
  const xmlStructuredErrorFunc handler = xmlStructuredError;
  host_.WriteHostFile("C:\\broken.xsd", "<xs:schema");
  EXPECT_EQ(xml::SchemaCache().Add(kNs, "C:\\broken.xsd"), xml::kXmlErrSchemaLoad);
  EXPECT_EQ(ValidateText(SecurityFile("    <t:bogus/>\n")).errorCode, xml::kXmlErrSchemaViolation);
  EXPECT_EQ(xmlGetExternalEntityLoader(), loader);
  EXPECT_EQ(xmlStructuredError, handler);
}

TEST_F(XmlSchemaTest, TheCacheHoldsOneSchemaPerNamespaceAndIsShared) {
  EXPECT_EQ(cache_.Length(), 1u);
  EXPECT_EQ(cache_.Add(kNs, "C:\\Tarvo\\Tarvo2.xsd"), xml::kOk);  // replaces
  EXPECT_EQ(cache_.Length(), 1u);

  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.LoadXml("<o:vscSetup xmlns:o=\"urn:other\"><o:host/></o:vscSetup>"));
  doc.SetSchemas(cache_);
  EXPECT_EQ(doc.Validate().errorCode, xml::kXmlErrNoSchema);
  // Added after SetSchemas, the second schema is seen by the document.
  host_.WriteHostFile("C:\\other.xsd", Schema("urn:other"));
  ASSERT_EQ(cache_.Add("urn:other", "C:\\other.xsd"), xml::kOk);
  EXPECT_EQ(doc.Validate().errorCode, xml::kOk);
  EXPECT_EQ(cache_.NamespaceUris(), (std::vector<std::string>{kNs, "urn:other"}));
  EXPECT_EQ(ValidateText(SecurityFile("")).errorCode, xml::kOk);
}

TEST_F(XmlSchemaTest, DeepDocumentsValidateWithoutRecursion) {
  constexpr int kDepth = 100000;
  std::string text = text::Format("<t:n xmlns:t=\"%s\">", kNs);
  for (int i = 1; i < kDepth; ++i) text += i == kDepth - 1 ? "<t:n v=\"x\">" : "<t:n>";
  for (int i = 0; i < kDepth; ++i) text += "</t:n>";
  const xml::ParseError invalid = ValidateText(text);
  EXPECT_EQ(invalid.errorCode, xml::kXmlErrSchemaViolation);
  EXPECT_EQ(invalid.line, 1);
  const size_t last = text.find("<t:n v=");
  const std::string fixed = text.replace(last, 11, "<t:n v=\"7\">");
  EXPECT_EQ(ValidateText(fixed).errorCode, xml::kOk);
}

TEST_F(XmlSchemaTest, ParserClassesCanBeSwitchedOffForTests) {
  xml::Document doc;
  xml::SchemaCache cache;
  for (xml::ParserClass c : {xml::ParserClass::kDocument40, xml::ParserClass::kDocument60}) {
    EXPECT_TRUE(xml::IsParserClassAvailable(c));
    EXPECT_EQ(xml::CreateDocument(c, &doc), xml::kOk);
    EXPECT_FALSE(doc.IsNull());
    EXPECT_EQ(xml::CreateSchemaCache(c, &cache), xml::kErrInvalidArg);
  }
  EXPECT_EQ(xml::CreateSchemaCache(xml::ParserClass::kSchemaCache60, &cache), xml::kOk);
  EXPECT_EQ(xml::CreateDocument(xml::ParserClass::kSchemaCache40, &doc), xml::kErrInvalidArg);

  xml::SetParserClassAvailable(xml::ParserClass::kDocument40, false);
  xml::SetParserClassAvailable(xml::ParserClass::kSchemaCache60, false);
  EXPECT_EQ(xml::CreateDocument(xml::ParserClass::kDocument40, &doc), xml::kErrClassNotRegistered);
  EXPECT_TRUE(doc.IsNull());
  EXPECT_EQ(xml::CreateDocument(xml::ParserClass::kDocument60, &doc), xml::kOk);
  EXPECT_EQ(xml::CreateSchemaCache(xml::ParserClass::kSchemaCache60, &cache), xml::kErrClassNotRegistered);
  EXPECT_EQ(xml::CreateSchemaCache(xml::ParserClass::kSchemaCache40, &cache), xml::kOk);

  xml::ResetParserClasses();
  EXPECT_TRUE(xml::IsParserClassAvailable(xml::ParserClass::kDocument40));
  EXPECT_TRUE(xml::IsParserClassAvailable(xml::ParserClass::kSchemaCache60));
}

}  // namespace
