// Fuzzes placeholder resolution: the input is a security file, loaded and
// then resolved twice against one fixed OPFile (once as file 1 while
// reporting, once as file 2 while applying, which reads other keys and
// meets already resolved values).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzHost.h"
#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "platform/xml/Dom.h"
#include "securityfiles/Placeholders.h"
#include "securityfiles/XmlServices.h"

namespace {

CIniFile MakeOpFile() {
  CIniFile opFile;
  opFile.SetValue("GENERAL", "SetupLanguage", "1033");
  opFile.SetValue("Product1", "InstallDir", "C:\\Program Files\\Control Station\\");
  opFile.SetValue("Product1", "InstallDir2", "C:\\Program Files (x86)\\Data Server");
  opFile.SetValue("Product1", "CommonDir1", "C:\\Program Files\\Common Files\\Norvale");
  opFile.SetValue("Product1", "Anchor", "bin");
  return opFile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const CIniFile opFile = MakeOpFile();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string path = fuzzing::WriteHostFile("Placeholders.xml", bytes);
  xml::Document document;
  if (LoadXmlFile(path, &document) != kLoadXmlOk) return 0;

  CErrorMgr reporting;
  CPlaceholders::RePlaceHolders(reporting, document, opFile, 1, 1, "ReturnFeatures");
  CErrorMgr applying;
  CPlaceholders::RePlaceHolders(applying, document, opFile, 1, 2, "ApplyFeatures");
  // The resolved document must still serialize, and read back when it says so.
  fuzzing::CheckReadsBack(document);
  (void)document.Xml();
  return 0;
}
