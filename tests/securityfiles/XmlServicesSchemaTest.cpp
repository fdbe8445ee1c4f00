// The schema check of security files against the shipped schema, with its
// notes, warnings and the critical missing schema, the fallbacks between
// parser versions, and the client-XML setting of a security file.
#include <gtest/gtest.h>

#include <string>

#include "infra/ErrorMgr.h"
#include "platform/xml/Dom.h"
#include "platform/xml/ParserClasses.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kFileName = "C:\\Setup\\Station.xml";

// The shortest valid security file, with one feature whose value is ours to change.
std::string SecurityFile(const std::string& wuaValue = "pause", const std::string& products = "") {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<t:vscSetup xmlns:t=\"") +
         secfile::kSecurityFileNamespace +
         "\">\n"
         "\t<t:host name=\"\">\n"
         "\t\t<t:products>\n"
         "\t\t\t<t:product value=\"Control Station\"/>\n" +
         products +
         "\t\t\t<t:checksum value=\"\"/>\n"
         "\t\t</t:products>\n"
         "\t\t<t:body>\n"
         "\t\t\t<t:wua value=\"" +
         wuaValue +
         "\"/>\n"
         "\t\t</t:body>\n"
         "\t</t:host>\n"
         "</t:vscSetup>\n";
}

xml::Document Parse(const std::string& text) {
  xml::Document document = xml::Document::Create();
  EXPECT_TRUE(document.LoadXml(text)) << document.GetParseError().reason;
  return document;
}

class XmlServicesSchema : public ::testing::Test {
 protected:
  void TearDown() override { xml::ResetParserClasses(); }

  std::string SchemaPath() const { return host_.WindowsPathOf(TARVO_SOURCE_DIR "/data/Tarvo2.xsd"); }

  bool Check(const xml::Document& doc) { return CXmlTool::MakeSchemaCheck(errorMgr_, doc, SchemaPath(), kFileName); }

  // The one entry the check recorded, or a failure.
  const CErrorObject* OnlyEntry() const {
    EXPECT_EQ(errorMgr_.Entries().size(), 1u);
    if (errorMgr_.Entries().size() != 1) return nullptr;
    EXPECT_EQ(errorMgr_.Entries()[0]->function, "CXmlTool::MakeSchemaCheck");
    return errorMgr_.Entries()[0].get();
  }

  TestHost host_;
  CErrorMgr errorMgr_;
};

TEST_F(XmlServicesSchema, AValidFileRecordsNothing) {
  EXPECT_TRUE(Check(Parse(SecurityFile())));
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

TEST_F(XmlServicesSchema, TheShippedExamplesAreValid) {
  for (const char* example : {"/examples/ControlStation.xml", "/examples/DataServer.xml"}) {
    xml::Document doc;
    ASSERT_EQ(LoadXmlFile(host_.WindowsPathOf(std::string(TARVO_SOURCE_DIR) + example), &doc), kLoadXmlOk);
    EXPECT_TRUE(Check(doc)) << example;
  }
  for (const auto& entry : errorMgr_.Entries()) ADD_FAILURE() << entry->message;
}

TEST_F(XmlServicesSchema, AnUnknownValueIsOnlyNotedWithItsPlaceAndOneLineOfReason) {
  EXPECT_TRUE(Check(Parse(SecurityFile("stop"))));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelInfo);
  EXPECT_FALSE(errorMgr_.IsError());
  // The place is in the document's text: the feature's element on line 9,
  // after its three tabs.
  const std::string prefix = std::string("Incorrect security file: ") + kFileName + "  (Line: 9 Position: 4) ";
  EXPECT_EQ(entry->message.substr(0, prefix.size()), prefix) << entry->message;
  EXPECT_NE(entry->message.find("'stop'"), std::string::npos) << entry->message;
  EXPECT_EQ(entry->message.find_first_of("\r\n"), std::string::npos) << entry->message;
}

TEST_F(XmlServicesSchema, TheCurrentDocumentIsCheckedNotTheFileItCameFrom) {
  const xml::Document doc = Parse(SecurityFile());
  doc.SelectSingleNode("t:vscSetup/t:host/t:body/t:wua").SetAttribute("value", "stop");
  EXPECT_TRUE(Check(doc));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelInfo);
}

TEST_F(XmlServicesSchema, AViolationWithoutAPlaceNamesOnlyTheFile) {
  // A document of another namespace has no schema: the whole document is wrong.
  std::string text = SecurityFile();
  const std::string ns = secfile::kSecurityFileNamespace;
  text.replace(text.find(ns), ns.size(), "urn:example:other");
  EXPECT_TRUE(Check(Parse(text)));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelInfo);
  EXPECT_EQ(entry->message, std::string("Incorrect security file: ") + kFileName);
}

TEST_F(XmlServicesSchema, AMissingSchemaFileIsCritical) {
  const std::string missing = "C:\\Resources\\Tarvo2.xsd";
  EXPECT_FALSE(CXmlTool::MakeSchemaCheck(errorMgr_, Parse(SecurityFile("stop")), missing, kFileName));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelCritical);
  EXPECT_EQ(entry->message, "XSD schema file 'C:\\Resources\\Tarvo2.xsd' was not found at the given location!");
  EXPECT_EQ(errorMgr_.GetHighestLevel(), kLevelCritical);
}

TEST_F(XmlServicesSchema, ASchemaFileThatIsNoSchemaIsCriticalToo) {
  host_.WriteHostFile("C:\\Resources\\Tarvo2.xsd", "<notASchema/>");
  EXPECT_FALSE(CXmlTool::MakeSchemaCheck(errorMgr_, Parse(SecurityFile()), "C:\\Resources\\Tarvo2.xsd", kFileName));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelCritical);
  const std::string prefix = "XSD schema file 'C:\\Resources\\Tarvo2.xsd' could not be used (0x";
  EXPECT_EQ(entry->message.substr(0, prefix.size()), prefix) << entry->message;
}

TEST_F(XmlServicesSchema, ANullDocumentIsAnInternalError) {
  EXPECT_FALSE(Check(xml::Document()));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelError);
  EXPECT_EQ(entry->message, "Internal error: Parameter pXMLDocToCheck may not be NULL");
}

TEST_F(XmlServicesSchema, TextThatDoesNotLoadAgainIsAWarning) {
  const xml::Document doc = Parse(SecurityFile());
  // An element whose prefix nothing declares: the written text is no longer XML.
  const xml::Node body = doc.SelectSingleNode("t:vscSetup/t:host/t:body");
  ASSERT_FALSE(body.AppendChild(doc.CreateElement("u:extra")).IsNull());
  EXPECT_TRUE(Check(doc));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelWarning);
  EXPECT_EQ(entry->message, "XSD check was not possible - XML could not be loaded");
}

TEST_F(XmlServicesSchema, ResultFollowsTheErrorFlagSetBefore) {
  errorMgr_.AddMessage(kLevelError, "Test::Earlier", "an earlier error");
  EXPECT_FALSE(Check(Parse(SecurityFile())));
  EXPECT_EQ(errorMgr_.Entries().size(), 1u);
}

// ---- Parser versions -----------------------------------------------------------

TEST_F(XmlServicesSchema, WithoutVersion4TheCheckRunsWithVersion6) {
  xml::SetParserClassAvailable(xml::ParserClass::kDocument40, false);
  xml::SetParserClassAvailable(xml::ParserClass::kSchemaCache40, false);
  EXPECT_TRUE(Check(Parse(SecurityFile("stop"))));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelInfo) << entry->message;
  EXPECT_EQ(entry->message.rfind("Incorrect security file: ", 0), 0u) << entry->message;
}

TEST_F(XmlServicesSchema, NoDocumentClassIsAWarningAndNoCheck) {
  xml::SetParserClassAvailable(xml::ParserClass::kDocument40, false);
  xml::SetParserClassAvailable(xml::ParserClass::kDocument60, false);
  // Not even the missing schema is looked for.
  EXPECT_TRUE(CXmlTool::MakeSchemaCheck(errorMgr_, Parse(SecurityFile("stop")), "C:\\None.xsd", kFileName));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelWarning);
  EXPECT_EQ(entry->message,
            "XSD check was not possible - maybe XML parser version is to low - "
            "pXMLDoc.CreateInstance(\"Msxml2.DOMDocument.4.0\") failed.");
}

TEST_F(XmlServicesSchema, TheSchemaCacheMustMatchTheDocumentsVersion) {
  // Version 4.0 documents exist but their cache does not; the 6.0 cache is not tried.
  xml::SetParserClassAvailable(xml::ParserClass::kSchemaCache40, false);
  EXPECT_TRUE(Check(Parse(SecurityFile("stop"))));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelWarning);
  EXPECT_EQ(entry->message,
            "XSD check was not possible - maybe XML parser version is to old - "
            "pSchemaCache.CreateInstance(__uuidof(MSXML2::XMLSchemaCache40) failed.");
}

TEST_F(XmlServicesSchema, Version6DocumentsNeedTheVersion6Cache) {
  xml::SetParserClassAvailable(xml::ParserClass::kDocument40, false);
  xml::SetParserClassAvailable(xml::ParserClass::kSchemaCache60, false);
  EXPECT_TRUE(Check(Parse(SecurityFile())));
  const CErrorObject* entry = OnlyEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelWarning);
}

// ---- Client XML ----------------------------------------------------------------

class XmlServicesClientXml : public ::testing::Test {
 protected:
  std::string Client(const std::string& products) {
    return CXmlTool::CheckClientXML(errorMgr_, Parse(SecurityFile("pause", products)), kFileName);
  }
  CErrorMgr errorMgr_;
};

TEST_F(XmlServicesClientXml, NoneGivesNothingAndNoNote) {
  EXPECT_EQ(Client(""), "");
  EXPECT_EQ(Client("<t:clientxml value=\"\"/>"), "");
  EXPECT_EQ(CXmlTool::CheckClientXML(errorMgr_, xml::Document(), kFileName), "");
  EXPECT_TRUE(errorMgr_.Entries().empty());
}

TEST_F(XmlServicesClientXml, ExactlyYesNamesTheFilesOwnProduct) {
  EXPECT_EQ(Client("<t:clientxml value=\"yes\"/>"), "Control Station");
  ASSERT_EQ(errorMgr_.Entries().size(), 1u);
  const CErrorObject& entry = *errorMgr_.Entries()[0];
  EXPECT_EQ(entry.level, kLevelInfo);
  EXPECT_EQ(entry.function, "CXmlTool::CheckClientXML");
  EXPECT_EQ(entry.message, "repeat Client XML from repository with product value: 'Control Station'");
}

TEST_F(XmlServicesClientXml, OtherSpellingsOfYesAreProductNames) {
  EXPECT_EQ(Client("<t:clientxml value=\"Yes\"/>"), "Yes");
  EXPECT_EQ(Client("<t:clientxml value=\"YES\"/>"), "YES");
  EXPECT_EQ(Client("<t:clientxml value=\"Data Server\"/>"), "Data Server");
  ASSERT_EQ(errorMgr_.Entries().size(), 3u);
  EXPECT_EQ(errorMgr_.Entries()[0]->message, "repeat Client XML from repository with product value: 'Yes'");
}

}  // namespace
