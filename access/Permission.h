// The permission engine shared by the file and registry permission features.
// A feature names one object and lists permission entries (a trustee, the
// rights allowed and denied, how they are inherited); applying merges them
// into the object's DACL, sets whether the object inherits from its parent,
// and can rewrite the DACLs of everything below it. Reading an object's
// DACL back gives a feature of the same kind with one entry per explicit ACE.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "features/Feature.h"
#include "platform/Security.h"
#include "platform/winsec/Acl.h"
#include "platform/winsec/ExplicitAccess.h"

// The tri-state code of one right (GetProgramPermission's codes).
constexpr int32_t kRightNotGiven = -1;

// One right of a kind: its element, the access mask it stands for, and the
// language text of its message.
struct PermissionRight {
  const char* element;
  uint32_t mask;
  int text;
};

// One applyOnto text of a kind: the ACE inheritance flags it gives and the
// language text of its message.
struct ApplyOntoRow {
  const char* text;  // exact, case-sensitive
  uint8_t flags;
  int message;
};

// One permission entry: a trustee and its rights on the feature's object.
struct PermissionEntry {
  std::string user;
  std::string domain;
  std::string applyOnto;
  bool applyWithinThisContainerOnly = false;
  bool inherited = false;     // read from an inherited ACE
  bool synchronize = false;   // SYNCHRONIZE joins the allow mask
  int32_t inheritFromParentToChild = -1;
  int32_t replaceAllChild = -1;
  bool removeInherited = false;
  std::vector<int32_t> rights;  // one code per right of the kind, kRightNotGiven when absent
};

class CPermission : public CFeature {
 public:
  // Marks the entry that stands for all inherited ACEs of an object.
  static constexpr const char* kInheritedRightsUser = "_All_Inherited_Users_Rights_";

  ~CPermission() override;

  std::unique_ptr<CFeature> GetCurrentFeature(CErrorMgr& errorMgr) override;
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) override;

  // ---- Pieces other kinds use on their own ---------------------------------

  // Adds `mask` to the deny mask for code 1 and to the allow mask for code
  // 2; codes 0 and -1 change nothing. Any other code (allowed and denied) is
  // an error and gives false.
  static bool GetAccessDenyRights(CErrorMgr& errorMgr, uint32_t* allowMask, uint32_t* denyMask, int32_t code,
                                  uint32_t mask);
  // Removes repeated ACEs (same type, flags and SID), folding a later one's
  // rights into the first before deleting it.
  static void RemoveAllDoublets(CErrorMgr& errorMgr, winsec::Acl* acl);
  static bool IsSameAce(const winsec::Ace& a, const winsec::Ace& b);
  // Enables or disables SeTakeOwnershipPrivilege in the process token.
  static bool SetPrivilege(CErrorMgr& errorMgr, bool enable);

  // ---- The engine ------------------------------------------------------------

  // Merges every entry into the object's DACL; 0 or the Win32 code that
  // stopped it.
  uint32_t GrantDenyAccessToUser(CErrorMgr& errorMgr, plat::SeObjectType objectType, bool replaceAllChild);
  // One read-modify-write of an object's DACL with `records`.
  uint32_t AddAceToObjectsSecurityDescriptor(CErrorMgr& errorMgr, const std::string& objectName,
                                             plat::SeObjectType objectType,
                                             const std::vector<winsec::ExplicitAccess>& records, bool replaceAllChild,
                                             bool parentToChild);
  // Appends the explicit entries of the feature's object, last ACE first.
  uint32_t AddExplicitEntriesOfObject(CErrorMgr& errorMgr, plat::SeObjectType objectType,
                                      std::vector<winsec::ExplicitAccess>* records);
  bool HaveFittingTrustee(CErrorMgr& errorMgr, const std::vector<winsec::ExplicitAccess>& records,
                          const winsec::ExplicitAccess& record);
  std::string GetNameFromExplicitAccess(CErrorMgr& errorMgr, const winsec::ExplicitAccess& record);
  void ListACL(const winsec::Acl* acl, CErrorMgr& errorMgr);

  // Gives files owned by SYSTEM (or whose owner cannot be read) to the
  // Administrators group, the object and everything below it.
  void ChangeOwnerToAdmin(CErrorMgr& errorMgr, const std::string& path);
  void CheckRecurseSubDir(CErrorMgr& errorMgr, const std::string& path, const winsec::Sid& owner);
  bool IsOwnershipSystem(CErrorMgr& errorMgr, const std::string& path);

  // ---- Entries ---------------------------------------------------------------

  const std::string& GetPath() const { return path_; }
  const PermissionEntry& CurrentEntry() const { return current_; }
  const std::vector<PermissionEntry>& Entries() const { return entries_; }

 protected:
  CPermission();

  // ---- What each kind supplies -------------------------------------------------

  virtual std::unique_ptr<CPermission> CreateEmptyFeature() const = 0;
  // SE_FILE_OBJECT or SE_REGISTRY_KEY.
  virtual plat::SeObjectType ObjectType() const = 0;
  virtual size_t RightCount() const = 0;
  // The masks of the current entry; false after an invalid right.
  virtual bool GetAccessMasks(CErrorMgr& errorMgr, uint32_t* allowMask, uint32_t* denyMask) = 0;
  virtual uint8_t GetInheritanceFlags() const = 0;
  virtual void AddEntryFromAce(const CPermission& templateFeature, uint32_t mask, uint8_t aceFlags,
                               const std::string& name, const std::string& domain, bool allowed) = 0;
  virtual uint32_t ReplaceAllChildFileAccess(CErrorMgr& errorMgr, const std::string& folder,
                                             plat::SeObjectType objectType,
                                             const std::vector<winsec::ExplicitAccess>& records,
                                             bool parentToChild) = 0;
  // Takes over what a feature read from the system keeps of its template
  // beyond the common fields (the registry kind: its key).
  virtual void CopyObjectFrom(const CPermission& templateFeature);

  // ---- Reading and writing what both kinds share -------------------------------------

  // t:inheritFromParentToChild and t:replaceAllChild of a path element.
  void GetInheritanceSettings(const xml::Node& node);
  void SetInheritanceSettingsToXml(const xml::Node& pathElement, bool withMessage) const;
  // The rights of one entry element, in table order; true when one of them
  // gave a valid code.
  bool ReadRights(const xml::Node& entry, std::span<const PermissionRight> rights);
  void SetRightsToXml(const xml::Node& entry, std::span<const PermissionRight> rights, bool withMessage) const;
  // The entry's masks, the rights taken in `order` (indices into `rights`);
  // false at the first invalid one. SYNCHRONIZE joins a non-zero allow mask
  // when the entry asks for it, never a deny mask: a deny holding it would
  // block every synchronous open of the object.
  bool AccessMasksOf(CErrorMgr& errorMgr, std::span<const PermissionRight> rights, std::span<const size_t> order,
                     uint32_t* allowMask, uint32_t* denyMask) const;
  // The rights of an entry read from an ACE: full control only for exactly
  // its mask, every other right when its bit is set.
  void SetRightsFromAce(std::span<const PermissionRight> rights, uint32_t mask, bool allowed);
  static const ApplyOntoRow* FindApplyOnto(std::span<const ApplyOntoRow> rows, std::string_view text);
  // The current entry's ACE flags: its applyOnto row, NO_PROPAGATE for
  // applyWithinThisContainerOnly, INHERITED_ACE for an inherited entry.
  uint8_t InheritanceFlagsOf(std::span<const ApplyOntoRow> rows) const;
  // The part of an entry read from an ACE both kinds share: applyOnto and
  // its flags, the trustee and the rights.
  void SetEntryFromAce(std::span<const ApplyOntoRow> rows, std::span<const PermissionRight> rights, uint32_t mask,
                       uint8_t aceFlags, const std::string& name, const std::string& domain, bool allowed);
  // Writes every entry (the current one when there are none) with
  // WriteCurrentEntry; the path element written, or null.
  // A missing root is critical, reported under `label` naming `rootName`.
  xml::Node SetEntriesToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage, const char* label,
                            const char* rootName);
  // Writes the current entry below the root; false (after an entry) stops the writing.
  virtual bool WriteCurrentEntry(CErrorMgr& errorMgr, const xml::Node& root, bool withMessage,
                                 xml::Node* pathElement) = 0;

  // ---- The entry list ------------------------------------------------------------

  void ResetCurrentEntry();
  void AddCurrentEntry();
  bool RewindEntries();
  bool LoadNextEntry();
  void AddInheritedRightsEntry(const CPermission& templateFeature);

  std::string path_;
  PermissionEntry current_;
  std::string systemAccountName_;  // the machine's name for SYSTEM, once an entry for it was applied

 private:
  plat::SeObjectType EffectiveType(CErrorMgr& errorMgr, plat::SeObjectType type, int level) const;
  bool BuildRecords(CErrorMgr& errorMgr, std::vector<winsec::ExplicitAccess>* records);
  uint32_t RewriteSubtree(CErrorMgr& errorMgr, plat::SeObjectType objectType);
  uint32_t MergeRecords(CErrorMgr& errorMgr, const std::string& objectName,
                        const std::vector<winsec::ExplicitAccess>& records, winsec::Acl* dacl);
  uint32_t ResolveTrustee(std::string_view name, winsec::Sid* sid) const;
  void AddEntriesFromAcl(CErrorMgr& errorMgr, const winsec::Acl& dacl, CPermission* result) const;

  std::vector<PermissionEntry> entries_;
  size_t cursor_ = 0;  // entries_.size() when at the end
  // Trustee names of the records built in this run and their SIDs.
  std::map<std::string, winsec::Sid> trustees_;
  // While the tree below an object is rewritten: the object's own merge
  // has already taken over the ownership of that tree.
  bool ownershipCovered_ = false;
  // The system account name the object's ownership walk was last made
  // with. The owners only change by the walk itself, so a later merge of
  // the same feature walks again only when an entry for SYSTEM changed
  // which owners the walk takes over.
  std::optional<std::string> ownershipWalkedAs_;
};
