// The file-system permission feature.
#include "access/FilePermission.h"

#include <array>
#include <vector>

#include "infra/ErrorMgr.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/xml/XPathLiteral.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kSetLabel = "CFilePermission::SetFeatureToXml";
constexpr const char* kSetDocumentLabel = "CFilePermission::SetFeatureToXml(pXmlDoc)";
constexpr const char* kHistoryLabel = "CFilePermission::GetOriginalFeatureFromHistory";
constexpr const char* kWalkLabel = "CFilePermission::ReplaceAllChildFileAccess";

constexpr uint32_t kFileAllAccess = 0x001F01FF;

constexpr std::array<PermissionRight, 14> kFileRights = {{
    {"t:fullControl", kFileAllAccess, 111},
    {"t:traverseFolder_executeFile", 0x00000020, 112},
    {"t:listFolder_readData", 0x00000001, 113},
    {"t:readAttributes", 0x00000080, 114},
    {"t:readExtendedAttributes", 0x00000008, 115},
    {"t:createFiles_writeData", 0x00000002, 116},
    {"t:createFolders_appendData", 0x00000004, 117},
    {"t:writeAttributes", 0x00000100, 118},
    {"t:writeExtendedAttributes", 0x00000010, 119},
    {"t:deleteSubfoldersAndFiles", 0x00000040, 120},
    {"t:delete", 0x00010000, 121},
    {"t:readPermissions", 0x00020000, 122},
    {"t:changePermissions", 0x00040000, 123},
    {"t:takeOwnership", 0x00080000, 124},
}};
constexpr std::array<size_t, 14> kFileRightOrder = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};


constexpr std::array<ApplyOntoRow, 7> kApplyOnto = {{
    {"This folder only", 0x0, 106},
    {"This folder, subfolders and files", 0x3, 105},
    {"This folder and subfolders", 0x2, 107},
    {"This folder and files", 0x1, 170},
    {"Subfolders and files only", 0xB, 108},
    {"Subfolders only", 0xA, 109},
    {"Files only", 0x9, 110},
}};

std::string ValueOf(const xml::Node& node, std::string_view xpath) {
  std::string value;
  GetXmlValue(node, xpath, &value);
  return value;
}

bool IsTrue(const xml::Node& node, std::string_view xpath) { return text::AsciiLower(ValueOf(node, xpath)) == "true"; }

constexpr int kContainerText = 104;
constexpr int kWithinContainerText = 173;

}  // namespace

CFilePermission::CFilePermission() { ResetCurrentEntry(); }
CFilePermission::~CFilePermission() = default;

std::unique_ptr<CPermission> CFilePermission::CreateEmptyFeature() const { return std::make_unique<CFilePermission>(); }

size_t CFilePermission::RightCount() const { return kFileRights.size(); }

std::string CFilePermission::RemoveTrailingBackslash(std::string_view path) {
  const bool driveRoot = path.size() == 3 && path[1] == ':' && path[2] == '\\';
  if (!driveRoot && !path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

// ---- Reading -----------------------------------------------------------------------

bool CFilePermission::GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) {
  if (!InitFeatureFromNode(errorMgr, node, sessionId)) return false;
  GetInheritanceSettings(node);
  path_ = RemoveTrailingBackslash(ValueOf(node, "@value"));
  for (const xml::Node entry : node.SelectNodes("t:filePermissions")) {
    current_.user = ValueOf(entry, "@user");
    current_.domain = ValueOf(entry, "@domain");
    current_.applyOnto = ValueOf(entry, "@applyOnto");
    current_.applyWithinThisContainerOnly = IsTrue(entry, "@applyWithinThisContainerOnly");
    // Once one entry names a right, SYNCHRONIZE joins the allow masks of
    // this and the later entries.
    if (ReadRights(entry, kFileRights)) current_.synchronize = true;
    AddCurrentEntry();
  }
  return true;
}

// ---- Rights ----------------------------------------------------------------------------

bool CFilePermission::GetAccessMasks(CErrorMgr& errorMgr, uint32_t* allowMask, uint32_t* denyMask) {
  return AccessMasksOf(errorMgr, kFileRights, kFileRightOrder, allowMask, denyMask);
}

uint8_t CFilePermission::GetInheritanceFlags() const { return InheritanceFlagsOf(kApplyOnto); }

void CFilePermission::AddEntryFromAce(const CPermission& templateFeature, uint32_t mask, uint8_t aceFlags,
                                      const std::string& name, const std::string& domain, bool allowed) {
  SetEntryFromAce(kApplyOnto, kFileRights, mask, aceFlags, name, domain, allowed);
  current_.inheritFromParentToChild = 1;
  path_ = templateFeature.GetPath();
  // The entry list does not keep the inherited flag of a file entry.
  const bool inherited = current_.inherited;
  current_.inherited = false;
  AddCurrentEntry();
  current_.inherited = inherited;
}

// ---- Applying ----------------------------------------------------------------------------

bool CFilePermission::ApplyFeature(CErrorMgr& errorMgr) {
  GrantDenyAccessToUser(errorMgr, plat::SeObjectType::kFile, current_.replaceAllChild == 1);
  return !errorMgr.IsError();
}

// Visits the tree below `folder` with a list of folders still to do, not by
// recursion, and leaves reparse points alone: a link is not part of the
// tree, and what it leads to may lie anywhere.
uint32_t CFilePermission::ReplaceAllChildFileAccess(CErrorMgr& errorMgr, const std::string& folder,
                                                    plat::SeObjectType objectType,
                                                    const std::vector<winsec::ExplicitAccess>& records,
                                                    bool parentToChild) {
  plat::IFiles& files = plat::Current().Files();
  std::vector<plat::FileEntry> found;
  if (files.Find(folder, &found) != winerr::kSuccess || found.empty()) {
    errorMgr.AddMessageF(kLevelError, kWalkLabel, "FilePathExist(%s) failed", folder.c_str());
    return winerr::kPathNotFound;
  }
  if (!found.front().IsDirectory()) return winerr::kSuccess;
  uint32_t result = winerr::kSuccess;
  std::vector<std::string> folders = {folder};
  while (!folders.empty()) {
    const std::string current = folders.back();
    folders.pop_back();
    std::vector<plat::FileEntry> children;
    const uint32_t listed = files.Find(current + "\\*.*", &children);
    // An empty folder lists nothing, which the search reports as no file found.
    if (listed != winerr::kSuccess && listed != winerr::kFileNotFound) {
      errorMgr.AddMessageF(kLevelError, kWalkLabel, "FilePathExist(%s) failed", current.c_str());
      if (result == winerr::kSuccess) result = winerr::kPathNotFound;
      continue;
    }
    for (const plat::FileEntry& child : children) {
      if (child.name == "." || child.name == ".." || child.IsReparsePoint()) continue;
      const std::string path = current + "\\" + child.name;
      const uint32_t rc = AddAceToObjectsSecurityDescriptor(errorMgr, path, objectType, records, true, parentToChild);
      if (rc != winerr::kSuccess) {
        errorMgr.AddMessageF(kLevelError, kWalkLabel, "AceToObjectsSecurityDescriptor(%s) failed %d", path.c_str(),
                             static_cast<int>(rc));
        if (result == winerr::kSuccess) result = rc;
      }
      if (child.IsDirectory()) folders.push_back(path);
    }
  }
  return result;
}

// ---- Writing --------------------------------------------------------------------------------

bool CFilePermission::WriteCurrentEntry(CErrorMgr& errorMgr, const xml::Node& root, bool withMessage,
                                        xml::Node* pathElement) {
  const auto text = [withMessage](int number) { return ResourceTextIf(withMessage, number); };
  const xml::Node container = GetOrCreateChildElement(root, "t:fileSystemPermissions", text(kContainerText));
  if (container.IsNull()) return false;
  xml::Node element = container.FindChild("t:fileSystemPath", {{"value", path_}});
  if (element.IsNull()) element = container.AppendChild(container.OwnerDocument().CreateElement("t:fileSystemPath"));
  SetXmlAttribute(element, "value", path_);
  SetCommonAttributesToXml(element);
  *pathElement = element;

  xml::Node entry = element.FindChild("t:filePermissions", {{"user", current_.user},
                                                            {"domain", current_.domain},
                                                            {"applyOnto", current_.applyOnto}});
  if (entry.IsNull()) entry = element.AppendChild(element.OwnerDocument().CreateElement("t:filePermissions"));
  if (withMessage) {
    const ApplyOntoRow* row = FindApplyOnto(kApplyOnto, current_.applyOnto);
    if (row == nullptr) {
      errorMgr.AddMessageF(kLevelError, kSetLabel, "Internal error ApplyOnto value '%s' is not known. Happend in product %s",
                           current_.applyOnto.c_str(), GetProductName().c_str());
      return false;
    }
    SetXmlAttribute(entry, "message", text(row->message));
  }
  SetXmlAttribute(entry, "user", current_.user);
  SetXmlAttribute(entry, "domain", current_.domain);
  SetXmlAttribute(entry, "applyOnto", current_.applyOnto);
  SetXmlAttribute(entry, "applyWithinThisContainerOnly", current_.applyWithinThisContainerOnly ? "true" : "false");
  if (withMessage) SetXmlAttribute(entry, "message2", text(kWithinContainerText));
  SetRightsToXml(entry, kFileRights, withMessage);
  SetInheritanceSettingsToXml(element, withMessage);
  if (withMessage) AddRequestingProgram(element, GetProductName());
  return true;
}

xml::Node CFilePermission::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) {
  return SetEntriesToXml(errorMgr, pRootNode, withMessage, kSetLabel, "t:Tarvo");
}

bool CFilePermission::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc) {
  if (pXmlDoc.IsNull()) {
    errorMgr.AddMessage(kLevelError, kSetDocumentLabel, "Paramenter pXmlDoc may not be NULL!");
    return false;
  }
  return CFeature::SetFeatureToXml(errorMgr, pXmlDoc);
}

std::unique_ptr<CFeature> CFilePermission::GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool /*undo*/) {
  const xml::Document history = CRepositoryMgr::LoadHistoryXml(errorMgr);
  const xml::Node product = GetProductNodeFromHistory(errorMgr, history);
  if (errorMgr.IsError()) return nullptr;
  const xml::Node element = product.IsNull() ? xml::Node()
                                             : product.SelectSingleNode("t:fileSystemPermissions/t:fileSystemPath[@value=" +
                                                                        xml::XPathLiteral(path_) + "]");
  if (element.IsNull()) {
    errorMgr.AddMessageF(kLevelWarning, kHistoryLabel,
                         "There is no feature for path '%s' in the history file, so it's impossible to get original "
                         "value for this features",
                         path_.c_str());
    return nullptr;
  }
  auto original = std::make_unique<CFilePermission>();
  original->GetFeatureFromXml(errorMgr, element, GetSessionId());
  return original;
}
