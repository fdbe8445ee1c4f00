// ReturnFeatures: tells the setup which settings the security files ask for,
// with the texts to show, before anything is changed. Every feature writes
// its own element into one feature document (ReturnedFeatures.xml by
// default), whose path [RESULTS] MessageFullPath names.
#include "cli/Results.h"
#include "cli/Tarvo.h"
#include "infra/ErrorMgr.h"
#include "securityfiles/FeatureDiscovery.h"
#include "securityfiles/SecurityFileFormat.h"

namespace {

constexpr const char* kLabel = "CTarvo::ReturnFeatures";
constexpr const char* kCreateLabel = "CTarvo::CreateFeatureXML";

// Setups that run the tool only to show firewall settings take no snapshot.
bool IsGuiSession(const std::string& sessionId) {
  return sessionId == "88  Tarvo GUI" || sessionId == "88  Tarvo GUI OnlyFirewall";
}

xml::Document NewFeatureDocument() {
  xml::Document document = xml::Document::Create();
  document.AppendChild(
      document.CreateProcessingInstruction("xml", "version='1.0' encoding='UTF-16' standalone='no'"));
  xml::Node root = document.CreateElement("t:Tarvo");
  document.AppendChild(root);
  root.SetAttribute(secfile::kPrefixAttribute, secfile::kFeatureDocumentNamespace);
  return document;
}

}  // namespace

void CTarvo::CreateFeatureXML(CErrorMgr& errorMgr, const FeatureList& features) {
  const xml::Document document = NewFeatureDocument();
  for (const auto& feature : features) {
    if (errorMgr.GetHighestLevel() >= kLevelCritical) break;
    feature->SetFeatureToXml(errorMgr, document);
  }
  const std::string path = opFile_.GetValue(kResultsSection, "MessageFullPath");
  if (path.empty() || document.Save(path) != 0) {
    errorMgr.AddMessageF(kLevelCritical, kCreateLabel, "Could not save the XML File: %s", path.c_str());
  }
}

int CTarvo::ReturnFeatures(const std::string& opFilePath) {
  CErrorMgr errorMgr;
  methodName_ = "ReturnFeatures";
  int r = InitEnvironment(errorMgr, opFilePath, "ReturnFeatures");
  if (r == 0) {
    errorMgr.AddMessageF(kLevelInfo, kLabel, "    OPFile: %s", opFilePath.c_str());
    // Recorded only for a snapshot that will use it.
    const bool keepForSnapshot = SnapshotWanted();
    SecurityLoadRecord record;
    std::vector<CSecurityXmlEntry> files = GetSecurityXMLsLoaded(errorMgr, keepForSnapshot ? &record : nullptr);
    if (errorMgr.GetHighestLevel() < kLevelCritical) {
      FeatureList features;
      for (CSecurityXmlEntry& file : files) {
        if (errorMgr.GetHighestLevel() >= kLevelCritical) break;
        errorMgr.AddMessage(kLevelInfo, kLabel, "Read Features:");
        for (auto& feature : CXmlAnalyser::DiscoverFeatures(errorMgr, opFile_, file.path, file.document)) {
          features.push_back(std::move(feature));
        }
        if (!keepForSnapshot) file.document = xml::Document();
      }
      errorMgr.AddMessage(kLevelInfo, kLabel, "Create feature xml with language resources...");
      CreateFeatureXML(errorMgr, features);
      if (errorMgr.GetHighestLevel() > kLevelError) r = 6;
    }
    if (keepForSnapshot) keptLoad_ = KeptSecurityLoad{std::move(files), std::move(record)};
  }
  if (errorMgr.GetHighestLevel() < kLevelError) {
    errorMgr.AddMessage(kLevelInfo, kLabel, "Return features has finished...");
  } else {
    errorMgr.AddMessage(kLevelWarning, kLabel, "Return features has finished with error");
  }
  SetResults(opFile_, errorMgr);
  if (r != 1) WriteResults(opFilePath, opFile_);
  if (r == 0 && errorMgr.GetHighestLevel() > kLevelError) {
    r = 10;  // a critical entry while loading: feature reading turns its own into 6
  } else if (r == 0 && errorMgr.GetHighestLevel() > kLevelWarning) {
    r = 9;
  }
  SaveCurrentFirewallSettings(errorMgr, opFilePath);
  methodName_.clear();
  errorMgr.AddMessageF(kLevelInfo, "CTarvo::ReturnFeatures   END", "Returncode: %d", r);
  return r;
}

bool CTarvo::SnapshotWanted() const {
  return General("SaveCurrentFirewall") != "OFF" && !IsGuiSession(General("SessionID"));
}

void CTarvo::SaveCurrentFirewallSettings(CErrorMgr& errorMgr, const std::string& opFilePath) {
  if (!SnapshotWanted()) {
    errorMgr.AddMessage(kLevelInfo, kLabel, "The Current Firewall Settings will not be saved !");
    keptLoad_.reset();
    return;
  }
  RetrieveCustomFirewallFeatures(opFilePath, errorMgr);
}
