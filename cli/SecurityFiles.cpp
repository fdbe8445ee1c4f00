// Loading the security files that the OPFile names: each product section
// ProductN lists its files as SecurityXML1, SecurityXML2, ...; every file is
// loaded, checked against the schema and its checksum, and its placeholders
// are resolved.
#include <functional>
#include <utility>

#include "cli/Tarvo.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"
#include "securityfiles/Placeholders.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kLabel = "CTarvo::::GetSecurityXMLsLoaded";
constexpr const char* kSchemaFile = "Tarvo2.xsd";

std::string ProductSection(int n) { return text::Format("Product%d", n); }
std::string SecurityXmlKey(int k) { return text::Format("SecurityXML%d", k); }

bool StatusQuerySucceeds(std::string_view path) {
  uint32_t attributes = 0;
  return !path.empty() && plat::Current().Files().GetAttributes(path, &attributes) == 0;
}

}  // namespace

std::vector<CSecurityXmlEntry> CTarvo::GetSecurityXMLsLoaded(CErrorMgr& errorMgr, SecurityLoadRecord* record) {
  const size_t firstEntry = errorMgr.Entries().size();
  const size_t firstWrongFile = errorMgr.WrongFiles().size();
  std::optional<size_t> errorFlagClearedAt;
  std::vector<CSecurityXmlEntry> result = LoadSecurityFiles(errorMgr, [&] {
    errorMgr.SetError(false);
    errorFlagClearedAt = errorMgr.Entries().size() - firstEntry;
  });
  if (record) {
    *record = SecurityLoadRecord{};
    for (size_t i = firstEntry; i < errorMgr.Entries().size(); ++i) {
      const CErrorObject& entry = *errorMgr.Entries()[i];
      record->entries.push_back({entry.level, entry.function, entry.message, entry.logText});
    }
    record->errorFlagClearedAt = errorFlagClearedAt;
    const std::vector<std::string>& wrong = errorMgr.WrongFiles();
    record->wrongFiles.assign(wrong.begin() + static_cast<std::ptrdiff_t>(firstWrongFile), wrong.end());
    for (const CSecurityXmlEntry& file : result) record->versions.push_back(file.document.Version());
    record->clientXml = CurrentProcessState().clientXml;
  }
  return result;
}

std::vector<CSecurityXmlEntry> CTarvo::SecurityFilesForSnapshot(CErrorMgr& errorMgr) {
  std::optional<KeptSecurityLoad> kept = std::exchange(keptLoad_, std::nullopt);
  bool unchanged = kept && kept->files.size() == kept->record.versions.size();
  for (size_t i = 0; unchanged && i < kept->files.size(); ++i) {
    unchanged = kept->files[i].document.Version() == kept->record.versions[i];
  }
  if (!unchanged) return GetSecurityXMLsLoaded(errorMgr);
  const SecurityLoadRecord& record = kept->record;
  for (size_t i = 0; i < record.entries.size(); ++i) {
    if (record.errorFlagClearedAt == i) errorMgr.SetError(false);
    const SecurityLoadRecord::Entry& entry = record.entries[i];
    errorMgr.AddMessage(entry.level, entry.function, entry.message, entry.logText);
  }
  if (record.errorFlagClearedAt == record.entries.size()) errorMgr.SetError(false);
  for (const std::string& path : record.wrongFiles) errorMgr.AddWrongFile(path);
  CurrentProcessState().clientXml = record.clientXml;
  return std::move(kept->files);
}

std::vector<CSecurityXmlEntry> CTarvo::LoadSecurityFiles(CErrorMgr& errorMgr,
                                                         const std::function<void()>& clearErrorFlag) {
  std::vector<CSecurityXmlEntry> result;
  if (opFile_.GetValue(ProductSection(1), SecurityXmlKey(1)).empty()) {
    errorMgr.AddMessage(kLevelCritical, kLabel,
                        "Internal error: There is not at least one Section '[Product1]' and/or the attribute "
                        "'SecurityXML1' in this section is missing within the OPFile");
    return result;
  }
  const std::string resourcePath = General("ResourcePath");
  const std::string languagePackPath = General("LanguagePackPath");
  const bool repositoryMode = General("RepositorySettings") == "1";
  for (int n = 1; !opFile_.GetValue(ProductSection(n), SecurityXmlKey(1)).empty(); ++n) {
    const std::string section = ProductSection(n);
    errorMgr.AddMessage(kLevelInfo, kLabel, "  " + section);
    for (int k = 1;; ++k) {
      const std::string key = SecurityXmlKey(k);
      const std::string path = opFile_.GetValue(section, key);
      if (path.empty()) break;
      xml::Document document;
      xml::ParseError parseError;
      const int code = LoadXmlFile(path, &document, &parseError);
      errorMgr.AddMessage(kLevelInfo, kLabel, "  " + key + "= " + path);
      if (code != 0) {
        errorMgr.AddMessageF(kLevelCritical, kLabel, "SecurityXML %s could not be loaded. Error: %d%s", path.c_str(),
                             code, ParseErrorSuffix(parseError).c_str());
        continue;
      }
      const std::string folder =
          !languagePackPath.empty() && StatusQuerySucceeds(languagePackPath) ? languagePackPath : resourcePath;
      std::string schema = CStdTool::CombinePath(folder, kSchemaFile);
      if (!CStdTool::FileExists(schema)) schema = CStdTool::CombinePath(resourcePath, kSchemaFile);
      CXmlTool::MakeSchemaCheck(errorMgr, document, schema, path);
      if (!CRepositoryMgr::CheckCheckSum(errorMgr, document, path, repositoryMode)) continue;
      std::string client;
      if (!repositoryMode) {
        clearErrorFlag();
        CPlaceholders::RePlaceHolders(errorMgr, document, opFile_, n, k, methodName_);
        if (errorMgr.IsError()) errorMgr.AddWrongFile(path);
        client = CXmlTool::CheckClientXML(errorMgr, document, path);
      }
      const std::string upgradeCode = opFile_.GetValue(section, "UpgradeCode");
      if (upgradeCode.empty()) {
        errorMgr.AddMessageF(kLevelError, kLabel,
                             "The OPFile does not contain an \"UpgradeCode\" attribute within the section %s",
                             section.c_str());
      }
      result.push_back(CSecurityXmlEntry{document, path, upgradeCode});
      CurrentProcessState().clientXml = !client.empty();
      if (!client.empty()) {
        const bool found = CRepositoryMgr::AddClientXML(errorMgr, result, client);
        errorMgr.AddMessage(kLevelInfo, kLabel, found ? "Client xml files found" : "no Client xml files found");
      }
    }
  }
  return result;
}
