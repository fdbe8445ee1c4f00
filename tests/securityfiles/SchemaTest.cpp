// The shipped schema against the shipped examples and against small
// documents that differ from a valid one in a single place. libxml2 is used
// directly, so these tests depend on nothing but the schema file itself.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/schemasInternals.h>
#include <libxml/xmlschemas.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "securityfiles/SecurityFileFormat.h"

namespace {

const char* const kSchemaPath = TARVO_SOURCE_DIR "/data/Tarvo2.xsd";
const char* const kControlStation = TARVO_SOURCE_DIR "/examples/ControlStation.xml";
const char* const kDataServer = TARVO_SOURCE_DIR "/examples/DataServer.xml";

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

void CollectError(void* sink, xmlErrorPtr error) {
  if (error && error->message) static_cast<std::string*>(sink)->append(error->message);
}

struct Verdict {
  bool parsed = false;
  bool valid = false;
  std::string messages;  // the validator's reasons, for failure output
};

// Validates and frees the document.
Verdict Validate(xmlSchemaPtr schema, xmlDocPtr doc) {
  Verdict verdict;
  verdict.parsed = doc != nullptr;
  if (!doc) return verdict;
  xmlSchemaValidCtxtPtr validator = xmlSchemaNewValidCtxt(schema);
  xmlSchemaSetValidStructuredErrors(validator, CollectError, &verdict.messages);
  verdict.valid = xmlSchemaValidateDoc(validator, doc) == 0;
  xmlSchemaFreeValidCtxt(validator);
  xmlFreeDoc(doc);
  return verdict;
}

// One document that uses every feature kind once, each part in its shortest
// valid form. The tests change one place of it at a time.
std::string BaseDocument() {
  return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<t:vscSetup xmlns:t=")") +
         secfile::kSecurityFileNamespace + R"(">
  <t:host name="">
    <t:products>
      <t:product value="Control Station"/>
      <t:checksum value=""/>
    </t:products>
    <t:body>
      <t:groupuser reboot="no">
        <t:group value="CS Operators" domain="" comment="Operators"/>
        <t:user value="operator" domain="">
          <t:groupmember value="CS Operators" domain=""/>
        </t:user>
      </t:groupuser>
      <t:fileSystemPermissions>
        <t:fileSystemPath value="C:\Projects" osversion="+=win7">
          <t:filePermissions user="CS Operators" domain="" applyOnto="This folder only" applyWithinThisContainerOnly="false">
            <t:fullControl allow="true" deny="false"/>
          </t:filePermissions>
          <t:inheritFromParentToChild value="true" inherited="CopyInherited"/>
          <t:replaceAllChild value="false"/>
        </t:fileSystemPath>
      </t:fileSystemPermissions>
      <t:registry>
        <t:path hkey="HKEY_LOCAL_MACHINE" value="SOFTWARE\Control Station">
          <t:key name="InstallPath" keytype="REG_SZ" value="C:\CS"/>
          <t:registryPermissions user="CS Operators" domain="" applyOntoReg="This key only">
            <t:queryValue allow="true" deny="false"/>
          </t:registryPermissions>
        </t:path>
      </t:registry>
      <t:componentService>
        <t:dcom>
          <t:limits>
            <t:launch domain="" user="CS Operators">
              <t:localLaunch allow="true" deny="false"/>
            </t:launch>
          </t:limits>
          <t:component applicationID="{6C1D2E4A-93B7-4F0E-8A51-2D7C9B3E5F10}" name="Runtime">
            <t:authenticationLevel value="packet privacy"/>
            <t:launchPermissions value="use default"/>
          </t:component>
        </t:dcom>
      </t:componentService>
      <t:network>
        <t:lan value="Local Area Connection">
          <t:icmp value="true"/>
          <t:service name="Runtime" exepath="C:\CS\runtime.exe" exists="true">
            <t:scopeAny/>
          </t:service>
          <t:port name="Alarms" value="50120" tcp="true">
            <t:scopeSubnet/>
          </t:port>
          <t:systemService name="NET_FW_SERVICE_UPNP" value="true">
            <t:scopeCustom value="10.0.0.1"/>
          </t:systemService>
        </t:lan>
      </t:network>
      <t:wua value="pause"/>
    </t:body>
  </t:host>
</t:vscSetup>
)";
}

// The text of the base document from `begin` to the end of the next `end`.
std::string PartOfBaseDocument(const std::string& begin, const std::string& end) {
  const std::string doc = BaseDocument();
  const size_t from = doc.find(begin);
  return doc.substr(from, doc.find(end, from) + end.size() - from);
}

// The whole t:body element of the base document.
std::string BodyOfBaseDocument() { return PartOfBaseDocument("<t:body>", "</t:body>"); }

// A change to the base document: `from` must occur exactly once.
struct Change {
  const char* what;
  std::string from;
  std::string to;
};

// Replaces the children of the base document's element that starts with
// `startTag` by `children`, in the order given.
Change WithChildren(const char* what, const std::string& startTag, const std::string& endTag,
                    std::initializer_list<std::string> children) {
  std::string element = startTag;
  for (const std::string& child : children) element += child;
  return {what, PartOfBaseDocument(startTag, endTag), element + endTag};
}

// The base document with the change applied, or "" (and a test failure)
// when the change does not fit the document.
std::string Changed(const Change& change) {
  std::string doc = BaseDocument();
  const size_t at = doc.find(change.from);
  if (at == std::string::npos || doc.find(change.from, at + 1) != std::string::npos) {
    ADD_FAILURE() << change.what << ": '" << change.from << "' does not occur exactly once";
    return "";
  }
  return doc.replace(at, change.from.size(), change.to);
}

// The schema is parsed once and shared by the suites below.
class SchemaFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (schema_) return;
    xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(kSchemaPath);
    xmlSchemaSetParserStructuredErrors(parser, CollectError, &schemaErrors_);
    schema_ = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
  }

  void SetUp() override { ASSERT_NE(schema_, nullptr) << "the schema does not parse: " << schemaErrors_; }

  static Verdict ValidateFile(const char* path) { return Validate(schema_, xmlReadFile(path, nullptr, kParseOptions)); }

  static Verdict ValidateText(const std::string& xml) {
    return Validate(schema_,
                    xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "memory.xml", nullptr, kParseOptions));
  }

  static void ExpectEachChange(const std::vector<Change>& changes, bool expectValid) {
    for (const Change& change : changes) {
      const std::string doc = Changed(change);
      if (doc.empty()) continue;
      const Verdict verdict = ValidateText(doc);
      EXPECT_TRUE(verdict.parsed) << change.what;
      EXPECT_EQ(verdict.valid, expectValid) << change.what << (expectValid ? ": " + verdict.messages : "");
    }
  }

  static xmlSchemaPtr schema_;
  static std::string schemaErrors_;
};

xmlSchemaPtr SchemaFixture::schema_ = nullptr;
std::string SchemaFixture::schemaErrors_;

class SchemaExamples : public SchemaFixture {};
class SchemaCommonAttributes : public SchemaFixture {};
class SchemaFeatureValues : public SchemaFixture {};
class SchemaStructure : public SchemaFixture {};

// --- the shipped files ---------------------------------------------------------

TEST_F(SchemaExamples, TargetNamespaceIsTheSecurityFileNamespace) {
  ASSERT_NE(schema_->targetNamespace, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(schema_->targetNamespace), secfile::kSecurityFileNamespace);
}

TEST_F(SchemaExamples, BothExamplesValidate) {
  for (const char* path : {kControlStation, kDataServer}) {
    const Verdict verdict = ValidateFile(path);
    EXPECT_TRUE(verdict.parsed) << path;
    EXPECT_TRUE(verdict.valid) << path << ": " << verdict.messages;
  }
}

TEST_F(SchemaExamples, BaseDocumentOfTheseTestsValidates) {
  const Verdict verdict = ValidateText(BaseDocument());
  EXPECT_TRUE(verdict.valid) << verdict.messages;
}

// A firewall snapshot as the program writes it: schema-instance attributes on
// the root, an empty host name, a signed checksum, the display text on the
// ICMP element, "else" for a service switched off, "yes" for enable.
TEST_F(SchemaExamples, SnapshotWrittenByTheProgramValidates) {
  const std::string checksum = "-12345678" + std::string(23, '0');
  const std::string doc = std::string("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n") +
                          "<t:vscSetup xmlns:t=\"" + secfile::kSecurityFileNamespace + "\" xmlns:xsi=\"" +
                          secfile::kSchemaInstanceNamespace + "\" xsi:schemaLocation=\"" +
                          secfile::WrittenSchemaLocation() + "\">" +
                          "<t:host name=\"\"><t:products><t:product value=\"Control Station\"/>"
                          "<t:checksum value=\"" + checksum + "\"/></t:products>"
                          "<t:body><t:network><t:lan value=\"Local Area Connection\">"
                          "<t:icmp value=\"true\" message=\"Inbound echo requests are answered\"/>"
                          "<t:systemService name=\"NET_FW_SERVICE_FILE_AND_PRINT\" value=\"else\" "
                          "firewallProfile=\"all\"><t:scopeSubnet/></t:systemService>"
                          "<t:port udp=\"false\" tcp=\"true\" name=\"Alarms\" value=\"50120\" exists=\"true\" "
                          "enable=\"yes\" firewallProfile=\"private\"><t:scopeCustom value=\"10.20.0.0/255.255.0.0\"/>"
                          "</t:port>"
                          "<t:service name=\"Runtime\" exepath=\"C:\\CS\\runtime.exe\" enable=\"no\" "
                          "firewallProfile=\"all\" exists=\"false\"><t:scopeAny/></t:service>"
                          "</t:lan></t:network></t:body></t:host></t:vscSetup>\n";
  const Verdict verdict = ValidateText(doc);
  EXPECT_TRUE(verdict.valid) << verdict.messages;
}

// --- attributes every feature element shares ------------------------------------

TEST_F(SchemaCommonAttributes, AcceptsTheSpellingsTheProgramUnderstands) {
  ExpectEachChange(
      {
          {"reboot in mixed case", R"(reboot="no")", R"(reboot="AfterInstallation")"},
          {"reboot in capitals", R"(reboot="no")", R"(reboot="BEFOREINSTALLATION")"},
          {"reboot false", R"(reboot="no")", R"(reboot="False")"},
          {"critical YES", R"(reboot="no")", R"(critical="YES")"},
          {"critical true", R"(reboot="no")", R"(critical="true")"},
          {"adaptionmoment", R"(reboot="no")", R"(adaptionmoment="BeforeInstallation")"},
          {"os64bit lower case", R"(reboot="no")", R"(os64bit="no")"},
          {"oswow", R"(reboot="no")", R"(oswow="YES")"},
          {"version name without operator", R"(osversion="+=win7")", R"(osversion="WIN7")"},
          {"longer version name", R"(osversion="+=win7")", R"(osversion="win2008r2")"},
          {"service pack", R"(osversion="+=win7")", R"(osversion="=winxpsp2")"},
          {"lower than a number", R"(osversion="+=win7")", R"(osversion="-6.1")"},
          {"point without minor", R"(osversion="+=win7")", R"(osversion="=6.")"},
          {"lower or equal", R"(osversion="+=win7")", R"(osversion="-=win2012r2")"},
          {"higher than a two-digit major", R"(osversion="+=win7")", R"(osversion="+10.0")"},
          {"number with service pack", R"(osversion="+=win7")", R"(osversion="+=6.1sp1")"},
      },
      true);
}

TEST_F(SchemaCommonAttributes, RejectsTextsTheProgramOnlyCarriesOnAsInvalid) {
  ExpectEachChange(
      {
          {"reboot yes says not when", R"(reboot="no")", R"(reboot="yes")"},
          {"adaptionmoment while the installation runs", R"(reboot="no")", R"(adaptionmoment="whileinstallation")"},
          {"critical 1", R"(reboot="no")", R"(critical="1")"},
          {"os64bit other word", R"(reboot="no")", R"(os64bit="x64")"},
          {"number without operator", R"(osversion="+=win7")", R"(osversion="6.1")"},
          {"unknown version name", R"(osversion="+=win7")", R"(osversion="=win10")"},
          {"relation written as in C", R"(osversion="+=win7")", R"(osversion=">=win7")"},
          {"trailing blank", R"(osversion="+=win7")", R"(osversion="+=win7 ")"},
          {"two minor digits", R"(osversion="+=win7")", R"(osversion="=6.10")"},
      },
      false);
}

// --- values of the individual features ---------------------------------------------

TEST_F(SchemaFeatureValues, AcceptsEveryLetterCaseWhereTheProgramFoldsIt) {
  ExpectEachChange(
      {
          {"right in capitals", R"(<t:fullControl allow="true" deny="false"/>)",
           R"(<t:fullControl allow="TRUE" deny="False"/>)"},
          {"right without attributes means denied", R"(<t:queryValue allow="true" deny="false"/>)",
           "<t:queryValue/>"},
          {"inherited", R"(inherited="CopyInherited")", R"(inherited="removeinherited")"},
          {"tri-state nomatter", R"(exists="true")", R"(exists="NoMatter")"},
          {"tri-state yes", R"(exists="true")", R"(exists="yes")"},
          {"tri-state no", R"(exists="true")", R"(exists="No")"},
          {"authentication level", R"(value="packet privacy")", R"(value="Packet Privacy")"},
          {"permissions mode", R"(value="use default")", R"(value="Use Default")"},
          {"system service off as the program writes it", R"(name="NET_FW_SERVICE_UPNP" value="true")",
           R"(name="NET_FW_SERVICE_UPNP" value="else")"},
          {"wua", R"(<t:wua value="pause"/>)", R"(<t:wua value="Resume"/>)"},
          {"wua without value resumes", R"(<t:wua value="pause"/>)", "<t:wua/>"},
          {"dword value", R"(keytype="REG_SZ" value="C:\CS")", R"(keytype="REG_DWORD" value="0x10")"},
          {"default value of a key", R"(name="InstallPath" )", ""},
          {"port range", R"(value="50120")", R"(value="50120-50130")"},
          {"signed checksum", R"(<t:checksum value=""/>)", R"(<t:checksum value="24930000000000000000000000000000"/>)"},
          {"negative checksum", R"(<t:checksum value=""/>)", R"(<t:checksum value="-1000000000000000000000000000000"/>)"},
      },
      true);
}

TEST_F(SchemaFeatureValues, RejectsValuesOutsideTheSpellingsTheProgramKnows) {
  ExpectEachChange(
      {
          {"applyOnto in the wrong case", R"(applyOnto="This folder only")", R"(applyOnto="this folder only")"},
          {"applyOntoReg in the wrong case", R"(applyOntoReg="This key only")", R"(applyOntoReg="This Key Only")"},
          {"applyOnto of a registry key on a folder", R"(applyOnto="This folder only")",
           R"(applyOnto="This key only")"},
          {"keytype that cannot be written", R"(keytype="REG_SZ")", R"(keytype="REG_BINARY")"},
          {"keytype in lower case", R"(keytype="REG_SZ")", R"(keytype="reg_sz")"},
          {"hive abbreviated", R"(hkey="HKEY_LOCAL_MACHINE")", R"(hkey="HKLM")"},
          {"firewall profile in capitals", R"(exists="true")", R"(exists="true" firewallProfile="Public")"},
          {"icmp in capitals", R"(<t:icmp value="true"/>)", R"(<t:icmp value="TRUE"/>)"},
          {"system service in lower case", R"(name="NET_FW_SERVICE_UPNP")", R"(name="net_fw_service_upnp")"},
          {"DoesNotExistOnSystem in capitals", R"(name="Runtime">)", R"(name="Runtime" DoesNotExistOnSystem="True">)"},
          {"unknown authentication level", R"(value="packet privacy")", R"(value="encrypted")"},
          {"unknown permissions mode", R"(value="use default")", R"(value="inherit")"},
          {"wua stop", R"(<t:wua value="pause"/>)", R"(<t:wua value="stop"/>)"},
          {"right as a number", R"(<t:fullControl allow="true" deny="false"/>)",
           R"(<t:fullControl allow="1" deny="0"/>)"},
          {"tri-state other word", R"(tcp="true")", R"(tcp="on")"},
          {"checksum too short", R"(<t:checksum value=""/>)", R"(<t:checksum value="2493"/>)"},
          {"empty product", R"(<t:product value="Control Station"/>)", R"(<t:product value=""/>)"},
      },
      false);
}

// --- structure ----------------------------------------------------------------------

TEST_F(SchemaStructure, RejectsMissingRequiredParts) {
  ExpectEachChange(
      {
          {"no products", R"(<t:products>
      <t:product value="Control Station"/>
      <t:checksum value=""/>
    </t:products>)",
           ""},
          {"no product", R"(<t:product value="Control Station"/>)", ""},
          {"no checksum", R"(<t:checksum value=""/>)", ""},
          {"firewall entry without scope", "<t:scopeSubnet/>", ""},
          {"DCOM feature without dcom element", "<t:componentService>", "<t:componentService/><t:componentService>"},
          {"path without value", R"(<t:fileSystemPath value="C:\Projects")", "<t:fileSystemPath"},
          {"permission entry without applyOnto", R"(applyOnto="This folder only")", ""},
          {"registry path without hive", R"(hkey="HKEY_LOCAL_MACHINE")", ""},
          {"DCOM application without id", R"(applicationID="{6C1D2E4A-93B7-4F0E-8A51-2D7C9B3E5F10}")", ""},
          {"port without number", R"(value="50120")", ""},
          {"icmp without value", R"(<t:icmp value="true"/>)", "<t:icmp/>"},
      },
      false);
}

TEST_F(SchemaStructure, RejectsWhatTheProgramWouldIgnore) {
  ExpectEachChange(
      {
          {"unknown element in the body", "<t:wua value=\"pause\"/>",
           "<t:wua value=\"pause\"/><t:printer value=\"x\"/>"},
          {"element of another namespace in the body", "<t:wua value=\"pause\"/>",
           "<t:wua value=\"pause\"/><x:note xmlns:x=\"urn:example:other\"/>"},
          {"attribute of feature documents only", R"(reboot="no")", R"(reboot="no" platform="X64")"},
          {"misspelt right", R"(<t:fullControl allow="true" deny="false"/>)",
           R"(<t:fullcontrol allow="true" deny="false"/>)"},
          {"second icmp setting", R"(<t:icmp value="true"/>)", R"(<t:icmp value="true"/><t:icmp value="false"/>)"},
          {"second scope", "<t:scopeSubnet/>", "<t:scopeSubnet/><t:scopeAny/>"},
          {"right given twice", R"(<t:queryValue allow="true" deny="false"/>)",
           R"(<t:queryValue allow="true" deny="false"/><t:queryValue allow="false" deny="true"/>)"},
          {"feature outside the body", "<t:body>", "<t:wua value=\"pause\"/><t:body>"},
      },
      false);
}

TEST_F(SchemaStructure, RejectsADocumentInAnotherNamespace) {
  std::string doc = BaseDocument();
  const std::string ns = secfile::kSecurityFileNamespace;
  doc.replace(doc.find(ns), ns.size(), secfile::kProgramNamespace);
  const Verdict verdict = ValidateText(doc);
  EXPECT_TRUE(verdict.parsed);
  EXPECT_FALSE(verdict.valid);
}

TEST_F(SchemaStructure, AcceptsTheOptionalPartsLeftOutOrRepeated) {
  ExpectEachChange(
      {
          {"no body", BodyOfBaseDocument(), ""},
          {"empty body", BodyOfBaseDocument(), "<t:body/>"},
          {"second product", R"(<t:product value="Control Station"/>)",
           R"(<t:product value="Control Station"/><t:product value="Data Server"/>)"},
          {"clientxml after the checksum", R"(<t:checksum value=""/>)",
           R"(<t:checksum value=""/><t:clientxml value="yes"/>)"},
          {"clientxml before the checksum", R"(<t:checksum value=""/>)",
           R"(<t:clientxml value="Data Server"/><t:checksum value=""/>)"},
          {"application after a system service", "</t:systemService>",
           R"(</t:systemService><t:service name="Viewer" exepath="C:\CS\viewer.exe"><t:scopeAny/></t:service>)"},
          {"rights in another order", R"(<t:queryValue allow="true" deny="false"/>)",
           R"(<t:readControl allow="true" deny="false"/><t:queryValue allow="true" deny="false"/>)"},
          {"features repeated", "<t:wua value=\"pause\"/>", "<t:wua value=\"pause\"/><t:wua value=\"resume\"/>"},
          {"DCOM application to be removed", R"(name="Runtime">)", R"(name="Runtime" DoesNotExistOnSystem="true">)"},
          {"permission container without paths", R"(<t:registry>
        <t:path hkey="HKEY_LOCAL_MACHINE" value="SOFTWARE\Control Station">)",
           R"(<t:registry/><t:registry>
        <t:path hkey="HKEY_LOCAL_MACHINE" value="SOFTWARE\Control Station">)"},
      },
      true);
}

// --- children of feature elements in any order ----------------------------------

const std::string kGroupUser = R"(<t:groupuser reboot="no">)";
const std::string kFilePath = R"(<t:fileSystemPath value="C:\Projects" osversion="+=win7">)";
const std::string kRegistryPath = R"(<t:path hkey="HKEY_LOCAL_MACHINE" value="SOFTWARE\Control Station">)";
const std::string kComponentService = "<t:componentService>";
const std::string kDcom = "<t:dcom>";
const std::string kLimits = "<t:limits>";
const std::string kComponent = R"(<t:component applicationID="{6C1D2E4A-93B7-4F0E-8A51-2D7C9B3E5F10}" name="Runtime">)";
const std::string kLan = R"(<t:lan value="Local Area Connection">)";

const std::string kGroup = R"(<t:group value="CS Operators"/>)";
const std::string kUser = R"(<t:user value="operator"><t:groupmember value="CS Operators"/></t:user>)";
const std::string kFileEntry =
    R"(<t:filePermissions user="CS Operators" applyOnto="This folder only"><t:fullControl allow="true"/></t:filePermissions>)";
const std::string kInherit = R"(<t:inheritFromParentToChild value="true" inherited="CopyInherited"/>)";
const std::string kReplace = R"(<t:replaceAllChild value="false"/>)";
const std::string kKey = R"(<t:key name="InstallPath" keytype="REG_SZ" value="C:\CS"/>)";
const std::string kRegistryEntry =
    R"(<t:registryPermissions user="CS Operators" applyOntoReg="This key only"><t:queryValue allow="true"/></t:registryPermissions>)";
const std::string kLaunch = R"(<t:launch user="CS Operators"><t:localLaunch allow="true"/></t:launch>)";
const std::string kAccess = R"(<t:access user="CS Operators"><t:remoteAccess allow="true"/></t:access>)";
const std::string kDefaults = "<t:defaults>" + kAccess + "</t:defaults>";
const std::string kLimitsElement = "<t:limits>" + kLaunch + "</t:limits>";
const std::string kComponentElement = R"(<t:component applicationID="{0A}"/>)";
const std::string kAuthentication = R"(<t:authenticationLevel value="call"/>)";
const std::string kLaunchPermissions = R"(<t:launchPermissions value="customize">)" + kLaunch + "</t:launchPermissions>";
const std::string kAccessPermissions = R"(<t:accessPermissions value="customize">)" + kAccess + "</t:accessPermissions>";
const std::string kIcmp = R"(<t:icmp value="false"/>)";
const std::string kService = R"(<t:service name="Viewer" exepath="C:\CS\viewer.exe"><t:scopeAny/></t:service>)";
const std::string kPort = R"(<t:port name="Alarms" value="50120"><t:scopeAny/></t:port>)";
const std::string kSystemService = R"(<t:systemService name="NET_FW_SERVICE_UPNP"><t:scopeAny/></t:systemService>)";

TEST_F(SchemaStructure, AcceptsTheChildrenOfFeatureElementsInAnyOrder) {
  ExpectEachChange(
      {
          WithChildren("users before groups", kGroupUser, "</t:groupuser>", {kUser, kGroup, kUser}),
          WithChildren("file path reversed", kFilePath, "</t:fileSystemPath>", {kReplace, kInherit, kFileEntry}),
          WithChildren("file path mixed", kFilePath, "</t:fileSystemPath>",
                       {kInherit, kFileEntry, kReplace, kFileEntry}),
          WithChildren("registry path reversed", kRegistryPath, "</t:path>",
                       {kReplace, kInherit, kRegistryEntry, kKey}),
          WithChildren("registry path mixed", kRegistryPath, "</t:path>",
                       {kRegistryEntry, kInherit, kKey, kReplace, kRegistryEntry, kKey}),
          WithChildren("dcom reversed", kDcom, "</t:dcom>", {kComponentElement, kLimitsElement, kDefaults}),
          WithChildren("access before launch", kLimits, "</t:limits>", {kAccess, kLaunch, kAccess}),
          WithChildren("DCOM application reversed", kComponent, "</t:component>",
                       {kAccessPermissions, kLaunchPermissions, kAuthentication}),
          WithChildren("firewall reversed", kLan, "</t:lan>", {kSystemService, kPort, kService, kIcmp}),
          WithChildren("icmp between entries", kLan, "</t:lan>", {kPort, kIcmp, kService}),
      },
      true);
}

// Reordering must not loosen anything else: each setting still occurs once,
// and only the children and values of the element are allowed.
TEST_F(SchemaStructure, KeepsTheLimitsOfChildrenInAnyOrder) {
  ExpectEachChange(
      {
          WithChildren("second inheritance setting", kFilePath, "</t:fileSystemPath>",
                       {kInherit, kFileEntry, kInherit}),
          WithChildren("second replace setting", kFilePath, "</t:fileSystemPath>", {kReplace, kReplace}),
          WithChildren("second setting after both", kRegistryPath, "</t:path>", {kReplace, kKey, kInherit, kReplace}),
          WithChildren("second icmp after an entry", kLan, "</t:lan>", {kIcmp, kPort, kIcmp}),
          WithChildren("registry value on a file path", kFilePath, "</t:fileSystemPath>", {kInherit, kKey}),
          WithChildren("file entry on a registry path", kRegistryPath, "</t:path>", {kReplace, kFileEntry}),
          WithChildren("unknown inheritance mode first", kFilePath, "</t:fileSystemPath>",
                       {R"(<t:inheritFromParentToChild value="true" inherited="Keep"/>)", kFileEntry}),
          WithChildren("second dcom element", kComponentService, "</t:componentService>",
                       {"<t:dcom/>", "<t:dcom/>"}),
          WithChildren("second authentication level", kComponent, "</t:component>",
                       {kAuthentication, kLaunchPermissions, kAuthentication}),
      },
      false);
}

}  // namespace
