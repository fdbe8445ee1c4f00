// The XML document services: reading values, booleans and three-valued
// settings with their defaults, writing attributes, getting or creating
// child elements, finding nodes by attribute, creating the program's own
// documents and loading files with their result codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "infra/ErrorMgr.h"
#include "platform/xml/Dom.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"
#include "support/TestHost.h"

namespace {

xml::Document Parse(const std::string& text) {
  xml::Document document = xml::Document::Create();
  EXPECT_TRUE(document.LoadXml(text)) << document.GetParseError().reason;
  return document;
}

// A feature element with the spellings the readers have to understand.
const char* const kSettings = R"(<t:vscSetup xmlns:t="urn:example:security">
  <t:port name="Alarms" tcp="TRUE" udp="Yes" exists="NoMatter" enable="NOMATTER" icmp="no" scope="false"
          number="1" empty="" bool="True">text of the port</t:port>
</t:vscSetup>)";

// ---- GetXmlValue -------------------------------------------------------------

TEST(XmlServicesValue, AttributesAndTextHaveValuesElementsDoNot) {
  const xml::Document doc = Parse(kSettings);
  std::string value;
  EXPECT_EQ(GetXmlValue(doc, "t:vscSetup/t:port/@name", &value, "fallback"), 0u);
  EXPECT_EQ(value, "Alarms");
  EXPECT_EQ(GetXmlValue(doc, "t:vscSetup/t:port/text()", &value), 0u);
  EXPECT_EQ(value, "text of the port");
  // The query matches, but an element has no value: the default answers.
  EXPECT_EQ(GetXmlValue(doc, "t:vscSetup/t:port", &value, "fallback"), 0u);
  EXPECT_EQ(value, "fallback");
  EXPECT_EQ(GetXmlValue(doc, "t:vscSetup/t:port", &value), 0u);
  EXPECT_EQ(value, "");
}

TEST(XmlServicesValue, NoMatchAndEmptyValuesGiveTheDefaultWithCodeZero) {
  const xml::Document doc = Parse(kSettings);
  std::string value = "stale";
  EXPECT_EQ(GetXmlValue(doc, "t:vscSetup/t:port/@missing", &value), 0u);
  EXPECT_EQ(value, "");
  EXPECT_EQ(GetXmlValue(doc, "t:vscSetup/t:port/@missing", &value, "fallback"), 0u);
  EXPECT_EQ(value, "fallback");
  // An empty attribute reads like an absent one.
  EXPECT_EQ(GetXmlValue(doc, "t:vscSetup/t:port/@empty", &value, "fallback"), 0u);
  EXPECT_EQ(value, "fallback");
}

TEST(XmlServicesValue, NullNodeAndMalformedQueryGiveCodesAndStillTheDefault) {
  std::string value = "stale";
  EXPECT_EQ(GetXmlValue(xml::Node(), "@name", &value, "fallback"), kXmlNullNode);
  EXPECT_EQ(value, "fallback");
  EXPECT_EQ(GetXmlValue(xml::Document(), "@name", &value), kXmlNullNode);
  EXPECT_EQ(value, "");
  const xml::Document doc = Parse(kSettings);
  EXPECT_EQ(GetXmlValue(doc, "t:vscSetup/t:port[@name=", &value, "fallback"), xml::kErrXPath);
  EXPECT_EQ(value, "fallback");
}

TEST(XmlServicesValue, QueriesRunRelativeToTheNodeGiven) {
  const xml::Document doc = Parse(kSettings);
  const xml::Node port = doc.SelectSingleNode("t:vscSetup/t:port");
  std::string value;
  EXPECT_EQ(GetXmlValue(port, "@name", &value), 0u);
  EXPECT_EQ(value, "Alarms");
  EXPECT_EQ(GetXmlValue(port, "../t:port/@tcp", &value), 0u);
  EXPECT_EQ(value, "TRUE");
}

// ---- GetXmlBool ----------------------------------------------------------------

TEST(XmlServicesBool, OnlyTrueInAnyCaseIsTrue) {
  const xml::Document doc = Parse(kSettings);
  const xml::Node port = doc.SelectSingleNode("t:vscSetup/t:port");
  bool value = false;
  EXPECT_EQ(GetXmlBool(port, "@tcp", &value), 0u);
  EXPECT_TRUE(value);
  EXPECT_EQ(GetXmlBool(port, "@bool", &value), 0u);
  EXPECT_TRUE(value);
  for (const char* attribute : {"@udp", "@number", "@scope", "@name"}) {
    value = true;
    EXPECT_EQ(GetXmlBool(port, attribute, &value), 0u) << attribute;
    EXPECT_FALSE(value) << attribute;
  }
}

TEST(XmlServicesBool, DefaultsOfMissingValues) {
  const xml::Document doc = Parse(kSettings);
  const xml::Node port = doc.SelectSingleNode("t:vscSetup/t:port");
  bool value = false;
  EXPECT_EQ(GetXmlBool(port, "@missing", &value, 1), 0u);
  EXPECT_TRUE(value);
  value = true;
  EXPECT_EQ(GetXmlBool(port, "@missing", &value, 0), 0u);
  EXPECT_FALSE(value);
  // Any default other than -1 and 1 means "false".
  value = true;
  EXPECT_EQ(GetXmlBool(port, "@missing", &value, 7), 0u);
  EXPECT_FALSE(value);
  value = true;
  EXPECT_EQ(GetXmlBool(port, "@missing", &value, kXmlBoolNoDefault), kXmlNoValue);
  EXPECT_FALSE(value);
  value = true;
  EXPECT_EQ(GetXmlBool(port, "@empty", &value), kXmlNoValue);
  EXPECT_FALSE(value);
}

TEST(XmlServicesBool, NullNodeTakesTheDefaultButKeepsItsCode) {
  bool value = false;
  EXPECT_EQ(GetXmlBool(xml::Node(), "@tcp", &value, 1), kXmlNullNode);
  EXPECT_TRUE(value);
  EXPECT_EQ(GetXmlBool(xml::Node(), "@tcp", &value), kXmlNoValue);
  EXPECT_FALSE(value);
}

// ---- Three-valued settings -----------------------------------------------------

struct TriStateCase {
  const char* attribute;
  int expected;
  int expectedDefaultYes;
};

TEST(XmlServicesTriState, SpellingsInAnyCase) {
  const xml::Document doc = Parse(kSettings);
  const xml::Node port = doc.SelectSingleNode("t:vscSetup/t:port");
  const std::vector<TriStateCase> cases = {
      {"@tcp", kTriStateTrue, kTriStateTrue},             // TRUE
      {"@udp", kTriStateTrue, kTriStateTrue},             // Yes
      {"@exists", kTriStateNoMatter, kTriStateNoMatter},  // NoMatter
      {"@enable", kTriStateNoMatter, kTriStateNoMatter},  // NOMATTER
      {"@icmp", kTriStateFalse, kTriStateFalse},          // no
      {"@scope", kTriStateFalse, kTriStateFalse},         // false
      {"@number", kTriStateFalse, kTriStateFalse},        // 1 is not a spelling of true
      {"@missing", kTriStateNoMatter, kTriStateTrue},
      {"@empty", kTriStateNoMatter, kTriStateTrue},
  };
  for (const TriStateCase& c : cases) {
    int value = 99;
    EXPECT_EQ(GetXmlTriState(port, c.attribute, &value), 0u) << c.attribute;
    EXPECT_EQ(value, c.expected) << c.attribute;
    value = 99;
    EXPECT_EQ(GetXmlTriStateDefaultYes(port, c.attribute, &value), 0u) << c.attribute;
    EXPECT_EQ(value, c.expectedDefaultYes) << c.attribute;
  }
}

TEST(XmlServicesTriState, NullNodeReadsTheDefaultWithItsCode) {
  int value = 99;
  EXPECT_EQ(GetXmlTriState(xml::Node(), "@tcp", &value), kXmlNullNode);
  EXPECT_EQ(value, kTriStateNoMatter);
  EXPECT_EQ(GetXmlTriStateDefaultYes(xml::Node(), "@tcp", &value), kXmlNullNode);
  EXPECT_EQ(value, kTriStateTrue);
}

// ---- Attributes ----------------------------------------------------------------

TEST(XmlServicesAttribute, SetStripsLeadingAtSignsAndReplaces) {
  const xml::Document doc = Parse(R"(<t:a xmlns:t="urn:example" value="old"/>)");
  const xml::Node element = doc.DocumentElement();
  EXPECT_EQ(SetXmlAttribute(element, "@value", "new"), 0u);
  EXPECT_EQ(SetXmlAttribute(element, "@@other", "x"), 0u);
  EXPECT_EQ(element.Xml(), R"(<t:a xmlns:t="urn:example" value="new" other="x"/>)");
  EXPECT_TRUE(HasXmlAttribute(element, "other"));
  EXPECT_FALSE(HasXmlAttribute(element, "@other"));
}

TEST(XmlServicesAttribute, FailuresComeBackAsCodes) {
  const xml::Document doc = Parse(R"(<a value="old"/>)");
  const xml::Node element = doc.DocumentElement();
  EXPECT_EQ(SetXmlAttribute(xml::Node(), "value", "x"), kXmlNullNode);
  EXPECT_EQ(SetXmlAttribute(element, "@", "x"), xml::kErrInvalidArg);
  EXPECT_EQ(SetXmlAttribute(element, "bad name", "x"), xml::kErrInvalidArg);
  EXPECT_EQ(SetXmlAttribute(element.GetAttributeNode("value"), "x", "y"), xml::kErrFail);
  EXPECT_EQ(element.Xml(), R"(<a value="old"/>)");
}

TEST(XmlServicesAttribute, HasIsExactAndSafeOnNull) {
  const xml::Document doc = Parse(R"(<a Value="" t:b="1" xmlns:t="urn:example"/>)");
  const xml::Node element = doc.DocumentElement();
  EXPECT_TRUE(HasXmlAttribute(element, "Value"));  // present though empty
  EXPECT_FALSE(HasXmlAttribute(element, "value"));
  EXPECT_TRUE(HasXmlAttribute(element, "t:b"));
  EXPECT_FALSE(HasXmlAttribute(element, "b"));
  EXPECT_FALSE(HasXmlAttribute(xml::Node(), "Value"));
}

// ---- Child elements ------------------------------------------------------------

TEST(XmlServicesChildElement, SecondCallFindsTheFirstAndMessagesOverwrite) {
  const xml::Document doc = Parse(R"(<t:r xmlns:t="urn:example"><t:x/></t:r>)");
  const xml::Node root = doc.DocumentElement();
  const xml::Node first = GetOrCreateChildElement(root, "t:Product", "first");
  ASSERT_FALSE(first.IsNull());
  EXPECT_EQ(GetOrCreateChildElement(root, "t:Product"), first);
  EXPECT_EQ(first.GetAttribute("message"), "first");  // an empty message leaves it
  EXPECT_EQ(GetOrCreateChildElement(root, "t:Product", "second"), first);
  EXPECT_EQ(root.Xml(), R"(<t:r xmlns:t="urn:example"><t:x/><t:Product message="second"/></t:r>)");
}

TEST(XmlServicesChildElement, FindsOnlyDirectChildrenOfExactlyThatName) {
  const xml::Document doc = Parse(R"(<r><a><b/></a><B/></r>)");
  const xml::Node root = doc.DocumentElement();
  const xml::Node b = GetOrCreateChildElement(root, "b");
  EXPECT_EQ(root.Xml(), R"(<r><a><b/></a><B/><b/></r>)");
  EXPECT_EQ(b.ParentNode(), root);
}

TEST(XmlServicesChildElement, ANameIsNeverReadAsAQuery) {
  const xml::Document doc = Parse(R"(<r><a x="1"/></r>)");
  const xml::Node root = doc.DocumentElement();
  EXPECT_TRUE(GetOrCreateChildElement(root, "a[@x='1']").IsNull());
  EXPECT_TRUE(GetOrCreateChildElement(root, "*").IsNull());
  EXPECT_TRUE(GetOrCreateChildElement(xml::Node(), "a").IsNull());
  EXPECT_EQ(root.Xml(), R"(<r><a x="1"/></r>)");
}

TEST(XmlServicesChildElement, ADocumentFindsItsRootButGetsNoSecondOne) {
  const xml::Document doc = Parse(R"(<r/>)");
  EXPECT_EQ(GetOrCreateChildElement(doc, "r"), doc.DocumentElement());
  EXPECT_TRUE(GetOrCreateChildElement(doc, "other").IsNull());
  EXPECT_EQ(doc.Xml(), "<r/>\r\n");
}

// ---- Finding by attribute ------------------------------------------------------

TEST(XmlServicesFindNode, FirstExactMatchInDocumentOrder) {
  const xml::Document doc = Parse(R"(<r>
  <p id="1" name="Data"/><p id="2" name="data"/><q><p id="3" name="data"/></q><p id="4" name="data"/>
</r>)");
  const xml::Node found = FindNodeByAttribute(doc, "//p", "name", "data");
  ASSERT_FALSE(found.IsNull());
  EXPECT_EQ(found.GetAttribute("id"), "2");
  EXPECT_EQ(FindNodeByAttribute(doc, "//p", "name", "Data").GetAttribute("id"), "1");
  EXPECT_TRUE(FindNodeByAttribute(doc, "//p", "name", "DATA").IsNull());
  EXPECT_TRUE(FindNodeByAttribute(doc, "//p", "other", "data").IsNull());
  EXPECT_TRUE(FindNodeByAttribute(xml::Node(), "//p", "name", "data").IsNull());
  EXPECT_TRUE(FindNodeByAttribute(doc, "//p[", "name", "data").IsNull());
}

TEST(XmlServicesFindNode, ValuesWithQuotesAndBackslashesMatchAsTheyAre) {
  const xml::Document doc = Parse(R"(<r>
  <f value="C:\Users\O'Brien" id="1"/><f value="say &quot;hi&quot; it's" id="2"/><f value="" id="3"/><f id="4"/>
</r>)");
  EXPECT_EQ(FindNodeByAttribute(doc, "r/f", "value", "C:\\Users\\O'Brien").GetAttribute("id"), "1");
  EXPECT_EQ(FindNodeByAttribute(doc, "r/f", "value", "say \"hi\" it's").GetAttribute("id"), "2");
  // An empty value matches an empty attribute, not a missing one.
  EXPECT_EQ(FindNodeByAttribute(doc, "r/f", "value", "").GetAttribute("id"), "3");
  EXPECT_TRUE(FindNodeByAttribute(doc, "r/f", "value", "C:\\\\Users\\\\O'Brien").IsNull());
}

TEST(XmlServicesFindNode, AValueXmlCannotCarryFindsTheNodeItWasStoredIn) {
  const xml::Document doc = Parse(R"(<r><f id="1"/></r>)");
  const xml::Node f = doc.SelectSingleNode("r/f");
  ASSERT_EQ(SetXmlAttribute(f, "value", "Session\x01"), 0u);
  EXPECT_EQ(FindNodeByAttribute(doc, "r/f", "value", "Session\x01"), f);
}

// ---- Documents -----------------------------------------------------------------

TEST(XmlServicesCreate, TheProgramsDocumentsAreUtf16WithTheirNamespace) {
  TestHost host;
  CErrorMgr errorMgr;
  const xml::Document doc = CreateXMLDoc(errorMgr, "t:TarvoRepository");
  ASSERT_FALSE(doc.IsNull());
  EXPECT_EQ(doc.Xml(), std::string("<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?>\r\n"
                                   "<t:TarvoRepository xmlns:t=\"") +
                           secfile::kProgramNamespace + "\"/>\r\n");
  EXPECT_FALSE(doc.SelectSingleNode("t:TarvoRepository").IsNull());
  EXPECT_TRUE(errorMgr.Entries().empty());
  ASSERT_EQ(doc.Save("C:\\Repository.xml"), 0u);
  EXPECT_EQ(host.ReadHostFile("C:\\Repository.xml").substr(0, 4), std::string("\xFF\xFE<\0", 4));
}

TEST(XmlServicesCreate, AnInvalidRootNameGivesNullWithAnError) {
  CErrorMgr errorMgr;
  EXPECT_TRUE(CreateXMLDoc(errorMgr, "t:Tarvo Repository").IsNull());
  ASSERT_EQ(errorMgr.Entries().size(), 1u);
  EXPECT_EQ(errorMgr.Entries()[0]->function, "CTarvo::CreateXMLDoc");
  EXPECT_EQ(errorMgr.Entries()[0]->level, kLevelError);
}

class XmlServicesLoad : public ::testing::Test {
 protected:
  TestHost host_;
};

TEST_F(XmlServicesLoad, MissingFilesAndFoldersGiveTwoWithoutADocument) {
  host_.WriteHostFile("C:\\Data\\there.xml", "<a/>");
  for (const char* path : {"C:\\Data\\missing.xml", "C:\\NoFolder\\missing.xml"}) {
    xml::Document doc = xml::Document::Create();
    EXPECT_EQ(LoadXmlFile(path, &doc), kLoadXmlFileNotFound) << path;
    EXPECT_TRUE(doc.IsNull()) << path;
  }
}

TEST_F(XmlServicesLoad, AFailingExistenceCheckIsItsOwnCode) {
  xml::Document doc;
  // The host reaches no network shares: the search itself fails.
  EXPECT_EQ(LoadXmlFile("\\\\server\\share\\file.xml", &doc), kLoadXmlCheckFailed);
  EXPECT_TRUE(doc.IsNull());
}

TEST_F(XmlServicesLoad, LoadsUtf8AndUtf16Files) {
  host_.WriteHostFile("C:\\Data\\utf8.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a v=\"\xC3\xA4\"/>\n");
  host_.WriteHostFile("C:\\Data\\utf16.xml", std::string("\xFF\xFE<\0a\0 \0v\0=\0\"\0\xE4\0\"\0/\0>\0", 22));
  for (const char* path : {"C:\\Data\\utf8.xml", "c:\\data\\UTF16.XML"}) {
    xml::Document doc;
    ASSERT_EQ(LoadXmlFile(path, &doc), kLoadXmlOk) << path;
    ASSERT_FALSE(doc.IsNull());
    EXPECT_EQ(doc.DocumentElement().GetAttribute("v"), "\xC3\xA4") << path;
  }
}

TEST_F(XmlServicesLoad, AMalformedFileIsRejectedWithTheParsersReason) {
  host_.WriteHostFile("C:\\Data\\broken.xml", "<a>\n<b></a>\n");
  xml::Document doc = xml::Document::Create();
  xml::ParseError error;
  EXPECT_EQ(LoadXmlFile("C:\\Data\\broken.xml", &doc, &error), kLoadXmlRejected);
  EXPECT_TRUE(doc.IsNull());
  EXPECT_TRUE(error.Failed());
  EXPECT_EQ(error.line, 2);
  EXPECT_FALSE(error.reason.empty());
}

TEST_F(XmlServicesLoad, TheParsersReasonReadsAsOneLogLineSuffix) {
  host_.WriteHostFile("C:\\Data\\control.xml", "<a>\n  <b v=\"x\x01\"/>\n</a>\n");
  xml::Document doc;
  xml::ParseError error;
  ASSERT_EQ(LoadXmlFile("C:\\Data\\control.xml", &doc, &error), kLoadXmlRejected);
  EXPECT_EQ(ParseErrorSuffix(error), " (Line: 2 Position: 10) An invalid character was found in text content.");
  EXPECT_EQ(ParseErrorSuffix(xml::MakeParseError(xml::kErrFail, "The file could not be read.")),
            " The file could not be read.");
  ASSERT_EQ(LoadXmlFile("C:\\Data\\missing.xml", &doc, &error), kLoadXmlFileNotFound);
  EXPECT_EQ(ParseErrorSuffix(error), "");
}

TEST_F(XmlServicesLoad, AFolderExistsButDoesNotLoad) {
  host_.WriteHostFile("C:\\Data\\inner\\x.xml", "<a/>");
  xml::Document doc;
  EXPECT_EQ(LoadXmlFile("C:\\Data\\inner", &doc), kLoadXmlRejected);
  EXPECT_TRUE(doc.IsNull());
}

}  // namespace
