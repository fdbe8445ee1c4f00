// The file-system permission feature: a security file's t:fileSystemPath
// grants and denies rights on one file or folder to any number of accounts,
// says how they are inherited below it, whether the object keeps inheriting
// from its parent, and whether the whole tree below is rewritten. Applying,
// current values and the log view are the permission engine's.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "access/Permission.h"

class CFilePermission : public CPermission {
 public:
  CFilePermission();
  ~CFilePermission() override;

  using CFeature::SetFeatureToXml;

  bool ApplyFeature(CErrorMgr& errorMgr) override;
  bool GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) override;
  // The t:fileSystemPath element below t:fileSystemPermissions, one
  // t:filePermissions per entry, merged into what was written before for
  // the same path.
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) override;
  bool SetFeatureToXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc) override;
  std::unique_ptr<CFeature> GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool undo) override;

  // The path of a t:fileSystemPath value: one trailing backslash removed,
  // except the one of a drive root ("C:\" names the root, "C:" a folder).
  static std::string RemoveTrailingBackslash(std::string_view path);

 protected:
  std::unique_ptr<CPermission> CreateEmptyFeature() const override;
  plat::SeObjectType ObjectType() const override { return plat::SeObjectType::kFile; }
  size_t RightCount() const override;
  bool GetAccessMasks(CErrorMgr& errorMgr, uint32_t* allowMask, uint32_t* denyMask) override;
  uint8_t GetInheritanceFlags() const override;
  void AddEntryFromAce(const CPermission& templateFeature, uint32_t mask, uint8_t aceFlags, const std::string& name,
                       const std::string& domain, bool allowed) override;
  uint32_t ReplaceAllChildFileAccess(CErrorMgr& errorMgr, const std::string& folder, plat::SeObjectType objectType,
                                     const std::vector<winsec::ExplicitAccess>& records, bool parentToChild) override;

 private:
  // Writes the current entry; false (after a level-5 entry) when its
  // applyOnto has no text to show.
  bool WriteCurrentEntry(CErrorMgr& errorMgr, const xml::Node& root, bool withMessage,
                         xml::Node* pathElement) override;
};
