// The local group feature: a security file's t:groupuser element asks for
// local groups to exist or not, and for accounts to be members of local
// groups or not. Groups and memberships in a domain are refused; names of
// well-known accounts are translated to the machine's language first.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "features/Feature.h"

// One group (t:group) or one membership (t:groupmember). DoesNotExistYet
// asks for the group to be deleted or the membership removed.
struct CUserGroup {
  std::string domain;
  std::string name;
  std::string comment;
  bool doesNotExistYet = false;
};

// One account (t:user) and the memberships asked for it.
struct UserEntry {
  std::string domain;
  std::string name;
  std::vector<CUserGroup> memberships;
};

class CGroupUser : public CFeature {
 public:
  CGroupUser() = default;
  ~CGroupUser() override;

  using CFeature::SetFeatureToXml;

  // Groups first, so that members can be added to the groups just made.
  // True unless the error flag is set.
  bool ApplyFeature(CErrorMgr& errorMgr) override;
  // Creates and deletes the groups. True unless the error flag is set.
  bool ApplyGroups(CErrorMgr& errorMgr);
  // The t:groupuser element below `pRootNode`, merged into one written
  // earlier: groups, users and memberships are matched by name and domain.
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) override;
  bool GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) override;
  // The first t:groupuser of this product's values before the change.
  std::unique_ptr<CFeature> GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool undo) override;
  // The same groups and memberships, each marked DoesNotExistYet when the
  // machine does not have it now.
  std::unique_ptr<CFeature> GetCurrentFeature(CErrorMgr& errorMgr) override;
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) override;

  const std::vector<CUserGroup>& Groups() const { return groups_; }
  const std::vector<UserEntry>& Users() const { return users_; }

 private:
  void ApplyGroup(CErrorMgr& errorMgr, const CUserGroup& group);
  void ApplyMemberships(CErrorMgr& errorMgr, const UserEntry& user);

  std::vector<CUserGroup> groups_;
  std::vector<UserEntry> users_;
};
