// Fuzzes the XML services with whole security files: the load through the
// file service, the value readers over the paths the program queries, the
// schema check, feature discovery and the checksum. Checks that a checksum
// just set also verifies, and that the document with it still reads back
// when it says so.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzHost.h"
#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "platform/xml/Dom.h"
#include "securityfiles/FeatureDiscovery.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr std::string_view kFileName = "Fuzz.xml";

// Attribute queries made on every element of a security file's body.
constexpr const char* kElementAttributes[] = {"@critical", "@adaptionmoment", "@reboot", "@os64bit", "@value"};

void ReadDocumentValues(const xml::Document& document) {
  std::string value;
  GetXmlValue(document, secfile::kProductValuePath, &value);
  GetXmlValue(document, secfile::kChecksumValuePath, &value, "none");
  GetXmlValue(document, "t:vscSetup/t:host/@name", &value);
  // Malformed queries answer with a code, never a crash.
  GetXmlValue(document, "t:vscSetup/[", &value);
  bool flag = false;
  GetXmlBool(document, "t:vscSetup/t:host/t:body/*/@critical", &flag, 0);
  int triState = kTriStateNoMatter;
  GetXmlTriState(document, "t:vscSetup/t:host/t:body/*/@os64bit", &triState);
  FindNodeByAttribute(document, "//t:group", "value", "CS Operators");
  FindNodeByAttribute(document, "//*", "name", "it's \"quoted\"");
  CErrorMgr errorMgr;
  CXmlTool::CheckClientXML(errorMgr, document, kFileName);
}

void ReadBodyElements(const xml::Document& document) {
  for (const xml::Node& element : document.SelectNodes("/t:vscSetup/t:host/t:body//*")) {
    for (const char* attribute : kElementAttributes) {
      std::string value;
      GetXmlValue(element, attribute, &value, "default");
      bool flag = false;
      GetXmlBool(element, attribute, &flag, 1);
      int triState = kTriStateNoMatter;
      GetXmlTriStateDefaultYes(element, attribute, &triState);
    }
    HasXmlAttribute(element, "domain");
  }
}

void CheckSchemaAndFeatures(const xml::Document& document) {
  static const std::string schemaPath = fuzzing::WindowsPathOf(TARVO_SOURCE_DIR "/data/Tarvo2.xsd");
  CErrorMgr errorMgr;
  CXmlTool::MakeSchemaCheck(errorMgr, document, schemaPath, kFileName);
  CIniFile opFile;
  opFile.SetValue("GENERAL", "Feature", "");
  const FeatureList features = CXmlAnalyser::DiscoverFeatures(errorMgr, opFile, kFileName, document);
  (void)features;
}

void CheckChecksum(const xml::Document& document) {
  CErrorMgr errorMgr;
  CRepositoryMgr::CheckCheckSum(errorMgr, document, kFileName, true);
  if (!CRepositoryMgr::SetCheckSum(errorMgr, document)) return;
  fuzzing::CheckReadsBack(document);
  CErrorMgr verifier;
  if (!CRepositoryMgr::CheckCheckSum(verifier, document, kFileName, false)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string path = fuzzing::WriteHostFile(std::string(kFileName), bytes);
  xml::Document document;
  xml::ParseError parseError;
  if (LoadXmlFile(path, &document, &parseError) != kLoadXmlOk) {
    if (!document.IsNull()) std::abort();  // a failed load hands out no document
    return 0;
  }
  ReadDocumentValues(document);
  ReadBodyElements(document);
  CheckSchemaAndFeatures(document);
  CheckChecksum(document);
  return 0;
}
