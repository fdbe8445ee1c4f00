#include "securityfiles/RepositoryMgr.h"

#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "infra/Tool.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "platform/xml/XPathLiteral.h"
#include "securityfiles/RepositoryLock.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"

std::string CRepositoryMgr::ReturnRepositoryDir(CErrorMgr& errorMgr, bool create) {
  std::string windows;
  plat::Current().System().GetFolderPath(plat::csidl::kWindows, &windows);
  const std::string folder = CStdTool::CombinePath(CStdTool::CombinePath(windows, "Security"), "Kelmar");
  if (create && !plat::IsDirectory(plat::Current().Files(), folder) &&
      plat::Current().Files().MakeDirectory(folder) != 0) {
    errorMgr.AddMessageF(kLevelCritical, "CRepositoryMgr::ReturnRepositoryDir",
                         "Error trying to create the repository folder '%s'", folder.c_str());
    return "";
  }
  return folder;
}

// ---------------------------------------------------------------------------
// Repository files and stored copies.

namespace {

constexpr const char* kRootName = "t:TarvoRepository";
constexpr const char* kProductsElement = "t:products";
constexpr const char* kProductElement = "t:product";
constexpr const char* kLanguageElement = "t:language";
constexpr const char* kSecurityFileElement = "t:securityfile";
constexpr const char* kValueAttribute = "value";
constexpr const char* kPlatformAttribute = "platform";
constexpr const char* kOriginalNameAttribute = "originalname";
constexpr const char* kSecFileNameAttribute = "secfilename";
constexpr const char* kLanguageValuePath = "t:TarvoRepository/t:language/@value";
constexpr const char* kProductsQuery = "t:TarvoRepository/t:products/t:product";
constexpr const char* kDefaultLanguage = "1033";

constexpr const char* kLoadLabel = "CRepositoryMgr::LoadRepository";
constexpr const char* kCheckLabel = "CRepositoryMgr::CheckRepository";
constexpr const char* kOpenLabel = "CRepositoryMgr::OpenRepository";
constexpr const char* kOpenFirewallLabel = "CRepositoryMgr::OpenOnlyFirewallRepository";
constexpr const char* kLoadFirewallLabel = "CRepositoryMgr::LoadRepositoryOnlyFirewall";
constexpr const char* kSaveLabel = "CRepositoryMgr::SaveRepository";
constexpr const char* kStoreLabel = "::SaveSecurityXMLToRepository";
constexpr const char* kLanguageLabel = "::GetLanguageFromRepositor";
constexpr const char* kClientLabel = "CRepositoryMgr::AddClientXML";

constexpr const char* kNotFoundMessage = "The repository file was not found here: '%s'";

std::string RepositoryFilePath(CErrorMgr& errorMgr) {
  return CStdTool::CombinePath(CRepositoryMgr::ReturnRepositoryDir(errorMgr, true), kRepositoryFileName);
}

// The firewall repository lives in the caller's folder; without one it
// falls back to the repository folder, for loading and saving alike, so
// that a document opened without a folder is found again by its save.
std::string FirewallFilePath(CErrorMgr& errorMgr, std::string_view folder) {
  const std::string dir = folder.empty() ? CRepositoryMgr::ReturnRepositoryDir(errorMgr, true) : std::string(folder);
  return CStdTool::CombinePath(dir, kFirewallRepositoryFileName);
}

bool FileExists(std::string_view path) { return plat::PathExists(plat::Current().Files(), path); }

// A file name alone (no folder) means the folder could not be had; such a
// path would land wherever the process happens to run, so it is never
// written.
bool HasFolder(std::string_view path) { return path.find('\\') != std::string_view::npos; }

xml::Document LoadVerified(CErrorMgr& errorMgr, const std::string& path, const char* label) {
  xml::Document document;
  if (LoadXmlFile(path, &document) != kLoadXmlOk) {
    errorMgr.AddMessageF(kLevelCritical, label, kNotFoundMessage, path.c_str());
    return xml::Document();
  }
  // A mismatch is reported but the document is returned: the caller decides.
  CRepositoryMgr::CheckCheckSum(errorMgr, document, path, false);
  return document;
}

// `readBack`, when given, receives the document as a load of the saved file gives it.
bool SaveRepositoryTo(CErrorMgr& errorMgr, const xml::Document& document, const std::string& path,
                      xml::Document* readBack = nullptr) {
  if (CRepositoryMgr::SetCheckSum(errorMgr, document, readBack) &&
      (!HasFolder(path) || document.Save(path) != 0)) {
    errorMgr.AddMessageF(kLevelCritical, kSaveLabel, "Could not save the repository under: %s", path.c_str());
  }
  return !errorMgr.IsError();
}

xml::Document CreateRepositoryDocument(CErrorMgr& errorMgr, const std::string& path) {
  errorMgr.AddMessageF(kLevelInfo, kOpenLabel, "The repository was not found here. It will be created here: '%s'",
                       path.c_str());
  return CreateXMLDoc(errorMgr, kRootName);
}

void NoteCreated(CErrorMgr& errorMgr) {
  errorMgr.AddMessage(kLevelInfo, kOpenLabel, "The repository was created successfully! ");
}

// Every value goes into the query as an XPath literal, so apostrophes and
// backslashes in names and paths match the stored text as it is. (The
// stored attributes hold the paths unchanged; a doubled backslash in the
// query would never match them.)
xml::Node FindOrAddProduct(const xml::Node& products, std::string_view upgradeCode) {
  const std::string query = text::Format("t:product[@value=%s and @platform=%s]",
                                         xml::XPathLiteral(upgradeCode).c_str(),
                                         xml::XPathLiteral(kBuildPlatform).c_str());
  xml::Node product = products.SelectSingleNode(query);
  if (!product.IsNull()) return product;
  product = products.AppendChild(products.OwnerDocument().CreateElement(kProductElement));
  SetXmlAttribute(product, kValueAttribute, upgradeCode);
  SetXmlAttribute(product, kPlatformAttribute, kBuildPlatform);
  return product;
}

xml::Node FindSecurityFile(const xml::Node& product, std::string_view originalName) {
  return product.SelectSingleNode(
      text::Format("t:securityfile[@originalname=%s]", xml::XPathLiteral(originalName).c_str()));
}

xml::Node AddSecurityFile(const xml::Node& product, std::string_view originalName) {
  const xml::Node file = product.AppendChild(product.OwnerDocument().CreateElement(kSecurityFileElement));
  SetXmlAttribute(file, kOriginalNameAttribute, originalName);
  return file;
}

// t:products below the root, with t:language set to the given language.
xml::Node PrepareProducts(const xml::Document& repository, std::string_view language) {
  const xml::Node root = repository.DocumentElement();
  const xml::Node products = GetOrCreateChildElement(root, kProductsElement);
  SetXmlAttribute(GetOrCreateChildElement(root, kLanguageElement), kValueAttribute, language);
  return products;
}

bool IsRegistered(const xml::Document& repository, const std::string& path) {
  for (const xml::Node file : repository.SelectNodes(std::string(kProductsQuery) + "/t:securityfile")) {
    std::string registered;
    GetXmlValue(file, "@secfilename", &registered);
    if (text::EqualsNoCase(registered, path)) return true;
  }
  return false;
}

bool IsReservedName(std::string_view fileName) {
  for (const char* reserved : {kRepositoryFileName, kFirewallRepositoryFileName, kHistoryFileName,
                               kRepositoryLockFileName}) {
    if (text::EqualsNoCase(fileName, reserved)) return true;
  }
  return false;
}

// A copy of this product that no entry registers was stored by a run that
// stopped before it registered it (the repository lock keeps every other
// run out of this step): it is taken over instead of kept beside a new one.
bool IsAbandonedCopy(const xml::Document& repository, const std::string& path, std::string_view productValue) {
  if (IsRegistered(repository, path)) return false;
  xml::Document copy;
  if (LoadXmlFile(path, &copy) != kLoadXmlOk) return false;
  std::string value;
  GetXmlValue(copy, std::string("/") + secfile::kProductValuePath, &value);
  return value == productValue;
}

std::string CopyName(const std::string& base, int number) {
  return number < 0 ? base + ".xml" : base + "_" + std::to_string(number) + ".xml";
}

// "<product>.xml", else "<product>_0.xml", "<product>_1.xml" ...: the first
// name that is free or holds an abandoned copy of the same product. While
// the run's repository document is kept (no other run stored anything
// since), the search goes on after the name it handed out last for the same
// base: the names before it were taken then, and copies are never removed.
std::string CopyPath(const xml::Document& repository, const std::string& folder, std::string_view productValue) {
  const std::string base = CRepositoryMgr::FileNameFromProduct(productValue);
  const auto next = CurrentProcessState().nextCopyNumber.try_emplace(base, -1).first;
  for (int n = next->second;; ++n) {
    const std::string name = CopyName(base, n);
    const std::string path = CStdTool::CombinePath(folder, name);
    if (!IsReservedName(name) && (!FileExists(path) || IsAbandonedCopy(repository, path, productValue))) {
      next->second = n + 1;
      return path;
    }
  }
}

// Saves the stored copy and registers it; false after the level-5 entry.
bool StoreCopy(CErrorMgr& errorMgr, const xml::Node& securityFile, const xml::Document& document) {
  std::string productValue;
  GetXmlValue(document, std::string("/") + secfile::kProductValuePath, &productValue);
  const std::string folder = CRepositoryMgr::ReturnRepositoryDir(errorMgr, true);
  const std::string path = folder.empty() ? "" : CopyPath(securityFile.OwnerDocument(), folder, productValue);
  SetXmlAttribute(securityFile, kSecFileNameAttribute, path);
  if (folder.empty() || !CRepositoryMgr::SetCheckSum(errorMgr, document) || document.Save(path) != 0) {
    errorMgr.AddMessage(kLevelError, kStoreLabel, "Could not save the security XML file to the repository directory");
    return false;
  }
  return true;
}

// The repository for a change under the lock: the document this run saved
// last while the file is still the one that save left, else the file as
// OpenRepository gives it (and then the copy names are searched from the
// start again: another run may have stored copies meanwhile).
xml::Document OpenRepositoryForChange(CErrorMgr& errorMgr) {
  ProcessState& state = CurrentProcessState();
  xml::Document kept = state.repository.Take(RepositoryFilePath(errorMgr));
  if (!kept.IsNull()) return kept;
  state.nextCopyNumber.clear();
  return CRepositoryMgr::OpenRepository(errorMgr);
}

// SaveRepository, keeping the document for the run's next change of it.
void SaveAndKeepRepository(CErrorMgr& errorMgr, const xml::Document& repository) {
  const std::string path = RepositoryFilePath(errorMgr);
  xml::Document readBack;
  if (SaveRepositoryTo(errorMgr, repository, path, &readBack) && SavesItsXmlText(repository)) {
    CurrentProcessState().repository.Keep(path, readBack);
  }
}

std::vector<CRepositoryProduct> ProductsOf(const xml::Document& repository, const std::string& query) {
  std::vector<CRepositoryProduct> products;
  if (repository.IsNull()) return products;
  for (const xml::Node product : repository.SelectNodes(query)) {
    std::string value;
    GetXmlValue(product, "@value", &value);
    for (const xml::Node file : product.SelectNodes(kSecurityFileElement)) {
      std::string secFileName;
      GetXmlValue(file, "@secfilename", &secFileName);
      products.push_back({value, secFileName});
    }
  }
  return products;
}

}  // namespace

std::string CRepositoryMgr::FileNameFromProduct(std::string_view product) {
  std::string name(product);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
      c = '_';
    }
  }
  return name;
}

bool CRepositoryMgr::RepositoryExists() {
  CErrorMgr quiet;  // the question alone must not create the folder or report
  return FileExists(CStdTool::CombinePath(ReturnRepositoryDir(quiet, false), kRepositoryFileName));
}

xml::Document CRepositoryMgr::LoadRepository(CErrorMgr& errorMgr) {
  return LoadVerified(errorMgr, RepositoryFilePath(errorMgr), kLoadLabel);
}

bool CRepositoryMgr::CheckRepository(CErrorMgr& errorMgr) {
  const std::string path = RepositoryFilePath(errorMgr);
  xml::Document document;
  if (LoadXmlFile(path, &document) != kLoadXmlOk) {
    errorMgr.AddMessageF(kLevelInfo, kCheckLabel, "  The repository file was not found here: '%s'", path.c_str());
    return false;
  }
  return true;
}

xml::Document CRepositoryMgr::OpenRepository(CErrorMgr& errorMgr) {
  if (RepositoryExists()) {
    xml::Document document = LoadRepository(errorMgr);
    if (document.IsNull()) {
      errorMgr.AddMessage(kLevelCritical, kOpenLabel,
                          "Error while opening the Tarvo Repository. The file exists, but couldn't be opened");
    }
    return document;
  }
  xml::Document document = CreateRepositoryDocument(errorMgr, RepositoryFilePath(errorMgr));
  if (!document.IsNull() && SaveRepository(errorMgr, document)) NoteCreated(errorMgr);
  return document;
}

bool CRepositoryMgr::SaveRepository(CErrorMgr& errorMgr, const xml::Document& document) {
  return SaveRepositoryTo(errorMgr, document, RepositoryFilePath(errorMgr));
}

xml::Document CRepositoryMgr::LoadRepositoryOnlyFirewall(CErrorMgr& errorMgr, std::string_view folder) {
  const std::string path = FirewallFilePath(errorMgr, folder);
  if (!FileExists(path)) return xml::Document();
  return LoadVerified(errorMgr, path, kLoadFirewallLabel);
}

xml::Document CRepositoryMgr::OpenOnlyFirewallRepository(CErrorMgr& errorMgr, std::string_view folder) {
  const std::string path = FirewallFilePath(errorMgr, folder);
  if (FileExists(path)) {
    xml::Document document = LoadRepositoryOnlyFirewall(errorMgr, folder);
    if (document.IsNull()) {
      errorMgr.AddMessage(kLevelCritical, kOpenFirewallLabel,
                          "Error while opening the Tarvo Repository. The file exists, but couldn't be opened");
    }
    return document;
  }
  // The caller fills the new document and saves it itself.
  xml::Document document = CreateRepositoryDocument(errorMgr, path);
  if (!document.IsNull()) NoteCreated(errorMgr);
  return document;
}

bool CRepositoryMgr::SaveRepositoryOnlyFirewall(CErrorMgr& errorMgr, const xml::Document& document,
                                                std::string_view folder) {
  return SaveRepositoryTo(errorMgr, document, FirewallFilePath(errorMgr, folder));
}

void CRepositoryMgr::RegisterSnapshotFile(const xml::Document& repository, std::string_view snapshotPath,
                                          std::string_view upgradeCode, std::string_view language) {
  const xml::Node product = FindOrAddProduct(PrepareProducts(repository, language), upgradeCode);
  if (FindSecurityFile(product, snapshotPath).IsNull()) {
    SetXmlAttribute(AddSecurityFile(product, snapshotPath), kSecFileNameAttribute, snapshotPath);
  }
}

void CRepositoryMgr::AddToFirewallRepository(CErrorMgr& errorMgr, std::string_view snapshotPath,
                                             std::string_view upgradeCode, std::string_view language,
                                             std::string_view snapshotFolder) {
  const std::string_view folder = snapshotPath.empty() ? std::string_view() : snapshotFolder;
  const CRepositoryLock lock(errorMgr);
  if (!lock.IsHeld()) return;
  const xml::Document repository = OpenOnlyFirewallRepository(errorMgr, folder);
  if (repository.IsNull()) return;
  RegisterSnapshotFile(repository, snapshotPath, upgradeCode, language);
  // The file's own folder is where the repository was opened (the snapshot
  // folder); a path without a folder saves where an empty folder opens.
  const size_t slash = snapshotPath.rfind('\\');
  const std::string_view saveFolder = slash == std::string_view::npos ? folder : snapshotPath.substr(0, slash);
  SaveRepositoryOnlyFirewall(errorMgr, repository, saveFolder);
}

bool CRepositoryMgr::SaveSecurityXMLToRepository(CErrorMgr& errorMgr, std::string_view language,
                                                 const CSecurityXmlEntry& entry) {
  if (entry.upgradeCode == kDoNotSaveUpgradeCode) return true;
  if (entry.upgradeCode.empty()) {
    errorMgr.AddMessage(kLevelError, kStoreLabel, "internal Error: pRawFeatures didn't contain a ProductName");
    return !errorMgr.IsError();
  }
  const CRepositoryLock lock(errorMgr);
  if (!lock.IsHeld()) return false;
  const xml::Document repository = OpenRepositoryForChange(errorMgr);
  if (repository.IsNull()) return !errorMgr.IsError();
  const xml::Node product = FindOrAddProduct(PrepareProducts(repository, language), entry.upgradeCode);
  // A path registered before keeps its first stored copy.
  if (!FindSecurityFile(product, entry.path).IsNull() ||
      StoreCopy(errorMgr, AddSecurityFile(product, entry.path), entry.document)) {
    SaveAndKeepRepository(errorMgr, repository);
  }
  return !errorMgr.IsError();
}

std::vector<CRepositoryProduct> CRepositoryMgr::GetRepositoryProducts(CErrorMgr& errorMgr, int selection) {
  std::string query = kProductsQuery;
  if (selection == kRepositoryProductsX86) query += "[@platform='X86']";
  if (selection == kRepositoryProductsX64) query += "[@platform='X64']";
  return ProductsOf(LoadRepository(errorMgr), query);
}

std::vector<CRepositoryProduct> CRepositoryMgr::GetFirewallRepositoryProducts(CErrorMgr& errorMgr,
                                                                             std::string_view folder) {
  return ProductsOf(LoadRepositoryOnlyFirewall(errorMgr, folder), kProductsQuery);
}

std::string CRepositoryMgr::GetRepositoryLanguage(CErrorMgr& errorMgr) {
  const xml::Document repository = LoadRepository(errorMgr);
  if (errorMgr.IsError()) return kDefaultLanguage;
  std::string language;
  GetXmlValue(repository, kLanguageValuePath, &language);
  if (language.empty()) {
    errorMgr.AddMessage(kLevelCritical, kLanguageLabel, "Could not find the language within the repository file...");
  }
  return language;
}

bool CRepositoryMgr::AddClientXML(CErrorMgr& errorMgr, std::vector<CSecurityXmlEntry>& entries,
                                  std::string_view productValue) {
  if (!CheckRepository(errorMgr)) return false;
  const int selection = kBuildIs64Bit ? kRepositoryProductsX64 : kRepositoryProductsX86;
  bool added = false;
  for (const CRepositoryProduct& stored : GetRepositoryProducts(errorMgr, selection)) {
    // The name test is only a cheap preselection: a product name inside
    // another's file name (P in PA.xml) is dropped by the exact test below.
    if (productValue.empty() || stored.secFileName.find(productValue) == std::string::npos) continue;
    xml::Document document;
    if (LoadXmlFile(stored.secFileName, &document) != kLoadXmlOk) {
      errorMgr.AddMessageF(kLevelInfo, kClientLabel, "ignore settings from:  %s", stored.secFileName.c_str());
      continue;
    }
    std::string value;
    GetXmlValue(document, secfile::kProductValuePath, &value);
    if (value != productValue) continue;
    if (!CheckCheckSum(errorMgr, document, stored.secFileName, true)) {
      errorMgr.AddMessageF(kLevelInfo, kClientLabel, "ignore settings from:  %s", stored.secFileName.c_str());
      continue;
    }
    errorMgr.AddMessageF(kLevelInfo, kClientLabel, "  load from repository= %s", stored.secFileName.c_str());
    entries.push_back({document, stored.secFileName, kDoNotSaveUpgradeCode});
    added = true;
  }
  return added;
}
