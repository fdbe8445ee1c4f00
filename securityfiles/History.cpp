// The history file: for every setup run and product, the target values of
// each feature ApplyFeatures applied. It is written back whole for every
// applied feature, and only ever grows. The document saved last is kept
// and used again while the file is still the one this process wrote.
#include <string>

#include "features/Feature.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"
#include "platform/xml/XPathLiteral.h"
#include "securityfiles/RepositoryLock.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kHistoryRoot = "t:TarvoHistory";

std::string HistoryPath(CErrorMgr& errorMgr, bool createFolder) {
  const std::string folder = CRepositoryMgr::ReturnRepositoryDir(errorMgr, createFolder);
  return folder.empty() ? "" : CStdTool::CombinePath(folder, kHistoryFileName);
}

// "History.xml.unreadable-YYYYMMDD-HHMMSS" beside the file, with a counter
// when a file of that name exists already.
std::string UnreadableCopyName(const std::string& path) {
  const plat::SystemTime now = plat::Current().System().LocalTime();
  const std::string base = path + text::Format(".unreadable-%04u%02u%02u-%02u%02u%02u", now.year, now.month,
                                               now.day, now.hour, now.minute, now.second);
  std::string candidate = base;
  for (int n = 1; CStdTool::FileExists(candidate); ++n) candidate = base + text::Format("-%d", n);
  return candidate;
}

// A history file that exists but does not load is kept under a new name, so
// that starting a new document loses none of its entries. False (after a
// level-5 entry) when it cannot be moved aside.
bool KeepUnreadableHistory(CErrorMgr& errorMgr, const std::string& path) {
  const std::string copy = UnreadableCopyName(path);
  if (plat::Current().Files().MoveReplace(path, copy) != 0) {
    errorMgr.AddMessageF(kLevelError, "CRepositoryMgr::OpenHistoryDocument",
                         "The history file %s cannot be read and could not be kept as %s; "
                         "the history is not written",
                         path.c_str(), copy.c_str());
    return false;
  }
  errorMgr.AddMessageF(kLevelWarning, "CRepositoryMgr::OpenHistoryDocument",
                       "The history file %s cannot be read; it was kept as %s and a new history is started",
                       path.c_str(), copy.c_str());
  return true;
}

xml::Node AppendNewChild(const xml::Node& parent, const char* elementName) {
  const xml::Node child = parent.OwnerDocument().CreateElement(elementName);
  parent.AppendChild(child);
  return child;
}

xml::Node SetupElement(const xml::Node& root, const std::string& sessionId) {
  xml::Node setup = root.SelectSingleNode("t:Setup[@SessionId=" + xml::XPathLiteral(sessionId) + "]");
  if (setup.IsNull()) {
    setup = AppendNewChild(root, "t:Setup");
    setup.SetAttribute("SessionId", sessionId);
  }
  return setup;
}

xml::Node ProductElement(const xml::Node& setup, const std::string& productName, std::string_view moment) {
  xml::Node product = setup.SelectSingleNode("t:Product[@name=" + xml::XPathLiteral(productName) +
                                             " and @moment=" + xml::XPathLiteral(moment) + "]");
  if (product.IsNull()) {
    product = AppendNewChild(setup, "t:Product");
    product.SetAttribute("name", productName);
    product.SetAttribute("moment", moment);
  }
  return product;
}

}  // namespace

xml::Document CRepositoryMgr::OpenHistoryDocument(CErrorMgr& errorMgr) {
  const std::string path = HistoryPath(errorMgr, true);
  if (path.empty()) return {};
  // Loading a large history again for every feature would cost more than
  // the feature: the document saved last serves while the file is unchanged.
  if (xml::Document kept = CurrentProcessState().history.Take(path); !kept.IsNull()) return kept;
  xml::Document document;
  const int code = LoadXmlFile(path, &document);
  if (code == kLoadXmlOk) return document;
  if (code != kLoadXmlFileNotFound && !KeepUnreadableHistory(errorMgr, path)) return {};
  return CreateXMLDoc(errorMgr, kHistoryRoot);
}

bool CRepositoryMgr::SaveHistory(CErrorMgr& errorMgr, const xml::Document& document) {
  const std::string path = HistoryPath(errorMgr, true);
  if (path.empty() || document.Save(path) != 0) {
    // The document now holds what the file does not: the file is read again.
    CurrentProcessState().history.Forget();
    errorMgr.AddMessageF(kLevelCritical, "CRepositoryMgr::SaveHistory", "Could not save the history under: %s",
                         path.c_str());
  } else {
    // A history started by this run is read back once here, so that the
    // later saves need not read their growing text back.
    CurrentProcessState().history.Keep(path, AsItsSavedFileLoads(document));
  }
  return !errorMgr.IsError();
}

xml::Document CRepositoryMgr::LoadHistoryXml(CErrorMgr& errorMgr) {
  const std::string path = HistoryPath(errorMgr, false);
  xml::Document document;
  if (path.empty() || LoadXmlFile(path, &document) != kLoadXmlOk) {
    errorMgr.AddMessage(kLevelError, "CRepositoryMgr::LoadHistoryXml", "history file could not be loaded");
    return {};
  }
  return document;
}

void CRepositoryMgr::AddFeatureToHistory(CErrorMgr& errorMgr, CFeature& feature, std::string_view moment) {
  if (errorMgr.GetHighestLevel() >= kLevelError) return;
  const CRepositoryLock lock(errorMgr);
  if (!lock.IsHeld()) return;
  const xml::Document document = OpenHistoryDocument(errorMgr);
  if (errorMgr.GetHighestLevel() >= kLevelError || document.IsNull()) return;
  // SelectSingleNode and not DocumentElement: a file whose root has another
  // name is not this program's history and is left as it is.
  const xml::Node root = document.SelectSingleNode(kHistoryRoot);
  if (root.IsNull()) {
    errorMgr.AddMessage(kLevelError, "CRepositoryMgr::AddFeatureToHistory",
                        "The history file has no root element 't:TarvoHistory'; the feature is not recorded");
    return;
  }
  const xml::Node setup = SetupElement(root, feature.GetSessionId());
  const xml::Node product = ProductElement(setup, feature.GetProductName(), moment);
  feature.SetFeatureToXml(errorMgr, product, false);
  SaveHistory(errorMgr, document);
}
