// The local group feature.
#include "access/GroupUser.h"

#include <algorithm>
#include <optional>

#include "access/WellKnownAccounts.h"
#include "infra/ErrorMgr.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kApplyLabel = "CGroupUser::ApplyFeature";
constexpr const char* kGroupsLabel = "CGroupUser::ApplyGroups";
constexpr const char* kCurrentLabel = "CGroupUser::GetCurrentFeature";
constexpr const char* kSetLabel = "CGroupUser::SetFeatureToXml()";
constexpr const char* kHistoryLabel = "CGroupUser::GetOriginalFeatureFromHistory()";

constexpr int kContainerText = 140;
constexpr int kGroupText = 141;
constexpr int kUserText = 142;

using winerr::kAliasExists;
using winerr::kInvalidMember;
using winerr::kMemberInAlias;
using winerr::kMemberNotInAlias;
using winerr::kNerrGroupExists;
using winerr::kNerrGroupNotFound;
using winerr::kNoSuchAlias;
using winerr::kNoSuchMember;
constexpr uint32_t kNerrSuccess = winerr::kSuccess;

int Code(uint32_t rc) { return static_cast<int>(rc); }

bool IsGroupMissing(uint32_t rc) { return rc == kNoSuchAlias || rc == kNerrGroupNotFound; }

CUserGroup ReadUserGroup(const xml::Node& node) {
  CUserGroup group;
  GetXmlValue(node, "@value", &group.name);
  GetXmlValue(node, "@domain", &group.domain);
  GetXmlValue(node, "@comment", &group.comment);
  std::string flag;
  GetXmlValue(node, "@DoesNotExistYet", &flag);
  group.doesNotExistYet = text::AsciiLower(flag) == "true";
  return group;
}

// Whether the account is a member of the local group: directly (any kind of
// account, compared by SID), or for a local user also through a global group.
bool IsMember(const ResolvedAccount& account, const std::string& groupName) {
  if (!account.found) return false;
  if (account.bySid && CTool::IsUserInLocalGroup(account.name, groupName)) return true;
  std::vector<plat::LocalGroupMember> members;
  if (plat::Current().Accounts().LocalGroupGetMembers(groupName, &members) != kNerrSuccess) return false;
  return std::any_of(members.begin(), members.end(),
                     [&](const plat::LocalGroupMember& member) { return member.sid == account.sid; });
}

void AddMembership(CErrorMgr& errorMgr, const UserEntry& user, const ResolvedAccount& account,
                   const std::string& groupName) {
  plat::IAccounts& accounts = plat::Current().Accounts();
  uint32_t rc;
  if (account.bySid) {
    errorMgr.AddMessageF(kLevelDebug, kApplyLabel, "Call NetLocalGroupAddMembers( GroupName='%s'  User='%s')",
                         groupName.c_str(), account.name.c_str());
    rc = accounts.LocalGroupAddMembers(groupName, {account.sid});
  } else {
    const std::string qualified = user.domain + "\\" + account.name;
    errorMgr.AddMessageF(kLevelDebug, kApplyLabel, "Call NetLocalGroupAddMembers( GroupName='%s'  UserInfo='%s')",
                         groupName.c_str(), qualified.c_str());
    rc = accounts.LocalGroupAddMembersByName(groupName, {qualified});
  }
  const char* userText = account.name.c_str();
  const char* group = groupName.c_str();
  switch (rc) {
    case kNerrSuccess:
      errorMgr.AddMessageF(kLevelInfo, kApplyLabel, "  add User '%s' to UserGroup '%s'", userText, group);
      break;
    case kMemberInAlias:
      errorMgr.AddMessageF(kLevelInfo, kApplyLabel,
                           "  User '%s' were already member of the local group '%s'  No new member were added", userText,
                           group);
      break;
    case kNerrGroupNotFound:
      errorMgr.AddMessageF(kLevelWarning, kApplyLabel,
                           "  User group '%s' does not exist, so the user '%s' couldn't be added as member", group,
                           userText);
      break;
    case winerr::kAccessDenied:
      errorMgr.AddMessage(kLevelError, kApplyLabel, "The user does not have access to the requested information");
      break;
    case kNoSuchMember:
      errorMgr.AddMessage(kLevelError, kApplyLabel,
                          "specified member do not exist. Therefore, no new member were added");
      break;
    case kInvalidMember:
      errorMgr.AddMessage(kLevelError, kApplyLabel,
                          "member cannot be added because their account type is invalid. No new member were added");
      break;
    default:
      errorMgr.AddMessageF(kLevelError, kApplyLabel, "NetLocalGroupAddMembers(User='%s' UserGroup ='%s') returns error: %d",
                           userText, group, Code(rc));
  }
}

// Removes without asking first: whether the account is a member is the
// platform's answer, for well-known groups as for users. A membership that
// does not hold, or a group that is gone, leaves nothing to do.
void RemoveMembership(CErrorMgr& errorMgr, const ResolvedAccount& account, const std::string& groupName) {
  errorMgr.AddMessageF(kLevelDebug, kApplyLabel, "remove the membership User='%s' UserGroup='%s'",
                       account.name.c_str(), groupName.c_str());
  const uint32_t rc = plat::Current().Accounts().LocalGroupDelMembers(groupName, {account.sid});
  if (rc == kMemberNotInAlias || rc == kNoSuchMember || IsGroupMissing(rc)) return;
  if (rc != kNerrSuccess) {
    errorMgr.AddMessageF(kLevelError, kApplyLabel, "NetLocalGroupDelMembers(User='%s' UserGroup ='%s') returns error: %d",
                         account.name.c_str(), groupName.c_str(), Code(rc));
    return;
  }
  errorMgr.AddMessageF(kLevelDebug, kApplyLabel, "  NetLocalGroupDelMembers(User='%s' UserGroup ='%s')",
                       account.name.c_str(), groupName.c_str());
}

// The child `elementName` of `parent` with that value and domain, appended
// when there is none.
xml::Node GetOrAppendNamedChild(const xml::Node& parent, std::string_view elementName, const std::string& value,
                                const std::string& domain) {
  const xml::Node found = parent.FindChild(elementName, {{"value", value}, {"domain", domain}});
  if (!found.IsNull()) return found;
  const xml::Document owner = parent.OwnerDocument();
  if (owner.IsNull()) return {};
  return parent.AppendChild(owner.CreateElement(elementName));
}

// Written only when set, and taken away when an element written earlier
// carries it, so a stale "true" cannot outlive the state it described.
void SetDoesNotExistYet(const xml::Node& element, bool doesNotExistYet) {
  if (doesNotExistYet) {
    SetXmlAttribute(element, "DoesNotExistYet", "true");
  } else {
    element.RemoveAttribute("DoesNotExistYet");
  }
}

}  // namespace

CGroupUser::~CGroupUser() = default;

// ---- Reading -------------------------------------------------------------------

bool CGroupUser::GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) {
  if (!InitFeatureFromNode(errorMgr, node, sessionId)) return false;
  for (const xml::Node group : node.SelectNodes("t:group")) groups_.push_back(ReadUserGroup(group));
  for (const xml::Node userNode : node.SelectNodes("t:user")) {
    UserEntry user;
    GetXmlValue(userNode, "@value", &user.name);
    GetXmlValue(userNode, "@domain", &user.domain);
    for (const xml::Node member : userNode.SelectNodes("t:groupmember")) {
      user.memberships.push_back(ReadUserGroup(member));
    }
    users_.push_back(std::move(user));
  }
  return true;
}

// ---- Applying ------------------------------------------------------------------

void CGroupUser::ApplyGroup(CErrorMgr& errorMgr, const CUserGroup& group) {
  if (!group.domain.empty()) {
    errorMgr.AddMessageF(kLevelError, kGroupsLabel,
                         "Adding/Removing Groups in Domains is not supported right now! Group: '%s' Domain: '%s'",
                         group.name.c_str(), group.domain.c_str());
    return;
  }
  plat::IAccounts& accounts = plat::Current().Accounts();
  const std::string name = TranslateAccountName(group.name);
  const char* n = name.c_str();
  if (group.doesNotExistYet) {
    const uint32_t rc = accounts.LocalGroupDelete(name);
    if (rc == kNerrSuccess) {
      errorMgr.AddMessageF(kLevelInfo, kGroupsLabel, "delete '%s' from UserGroups", n);
    } else if (rc == winerr::kAccessDenied) {
      errorMgr.AddMessageF(kLevelError, kGroupsLabel, "The group '%s' could not be deleted: ACCESS DENIED!", n);
    } else if (IsGroupMissing(rc)) {
      errorMgr.AddMessageF(kLevelInfo, kGroupsLabel, "  The local group could not be deleted: '%s' does not exist!", n);
    } else {
      errorMgr.AddMessageF(kLevelError, kGroupsLabel,
                           "NetLocalGroupDel(group='%s') failed with Error=%d. Group is likely not deleted", n, Code(rc));
    }
    return;
  }
  const uint32_t rc = accounts.LocalGroupAdd(name, group.comment);
  if (rc == kNerrSuccess) {
    errorMgr.AddMessageF(kLevelInfo, kGroupsLabel, "  created UserGroup '%s'  with comment '%s'", n,
                         group.comment.c_str());
  } else if (rc == winerr::kAccessDenied) {
    errorMgr.AddMessageF(kLevelError, kGroupsLabel, "UserGroup '%s' could not be added: ACCESS DENIED!", n);
  } else if (rc == kAliasExists || rc == kNerrGroupExists) {
    errorMgr.AddMessageF(kLevelInfo, kGroupsLabel, "  UserGroup '%s' already exists - so it couldn't been created", n);
  } else {
    errorMgr.AddMessageF(kLevelError, kGroupsLabel,
                         "NetLocalGroupAdd(group='%s') failed with Error=%d. Group is likely not added", n, Code(rc));
  }
}

bool CGroupUser::ApplyGroups(CErrorMgr& errorMgr) {
  for (const CUserGroup& group : groups_) ApplyGroup(errorMgr, group);
  return !errorMgr.IsError();
}

void CGroupUser::ApplyMemberships(CErrorMgr& errorMgr, const UserEntry& user) {
  const ResolvedAccount account = ResolveAccount(user.domain, user.name);
  errorMgr.AddMessageF(kLevelDebug, kApplyLabel, "GetSIDFromName   Domain='%s'  UserName='%s'", user.domain.c_str(),
                       account.name.c_str());
  if (!account.found) {
    errorMgr.AddMessageF(kLevelWarning, kApplyLabel,
                         "  User or group '%s\\%s' does not exist (or lack of rights to find out)", user.domain.c_str(),
                         account.name.c_str());
    return;
  }
  for (const CUserGroup& membership : user.memberships) {
    if (!membership.domain.empty()) {
      errorMgr.AddMessageF(kLevelError, kApplyLabel,
                           "Adding/Removing memberships to Domain Groups is not supported right now! Group: '%s' "
                           "Domain: '%s'",
                           membership.name.c_str(), membership.domain.c_str());
      continue;
    }
    const std::string groupName = TranslateAccountName(membership.name);
    if (membership.doesNotExistYet) {
      RemoveMembership(errorMgr, account, groupName);
    } else {
      AddMembership(errorMgr, user, account, groupName);
    }
  }
}

bool CGroupUser::ApplyFeature(CErrorMgr& errorMgr) {
  ApplyGroups(errorMgr);
  for (const UserEntry& user : users_) ApplyMemberships(errorMgr, user);
  return !errorMgr.IsError();
}

// ---- The machine's state ---------------------------------------------------------

std::unique_ptr<CFeature> CGroupUser::GetCurrentFeature(CErrorMgr& errorMgr) {
  errorMgr.AddMessage(kLevelDebug, "", "show user groups and members");
  auto current = std::make_unique<CGroupUser>();
  current->CopyOriginFrom(*this);
  plat::IAccounts& accounts = plat::Current().Accounts();
  for (const CUserGroup& group : groups_) {
    CUserGroup found{group.domain, group.name, "", false};
    const std::string name = TranslateAccountName(group.name);
    plat::LocalGroupInfo info;
    const uint32_t rc = accounts.LocalGroupGetInfo(name, &info);
    if (IsGroupMissing(rc)) {
      found.doesNotExistYet = true;
    } else if (rc != kNerrSuccess) {
      errorMgr.AddMessageF(kLevelError, kCurrentLabel, "Error occured by calling NetLocalGroupGetInfo(UserGroup %s). error = %d",
                           name.c_str(), Code(rc));
    }
    current->groups_.push_back(std::move(found));
  }
  for (const UserEntry& user : users_) {
    const ResolvedAccount account = ResolveAccount(user.domain, user.name);
    UserEntry found{user.domain, user.name, {}};
    for (const CUserGroup& membership : user.memberships) {
      const bool member = IsMember(account, TranslateAccountName(membership.name));
      found.memberships.push_back({membership.domain, membership.name, "", !member});
    }
    current->users_.push_back(std::move(found));
  }
  return current;
}

void CGroupUser::AddLogEntriesFromFeature(CErrorMgr& errorMgr) {
  for (const CUserGroup& group : groups_) {
    std::string line;
    if (group.domain.empty()) {
      line = text::Format("  UserGroup '%s'", group.name.c_str());
    } else {
      errorMgr.AddMessage(kLevelDebug, "", "Domain found");
      line = text::Format("  UserGroup '%s\\%s'", group.domain.c_str(), group.name.c_str());
    }
    line += group.doesNotExistYet ? " does not exist yet" : " exists";
    errorMgr.AddMessage(kLevelInfo, "", line);
  }
  for (const UserEntry& user : users_) {
    errorMgr.AddMessageF(kLevelInfo, "", "  User '%s' is/should be member in following Group(s):", user.name.c_str());
    for (const CUserGroup& membership : user.memberships) {
      errorMgr.AddMessageF(kLevelInfo, "", "%s '%s'",
                           membership.doesNotExistYet ? "    user is NOT a member at group"
                                                      : "    user is a member at group",
                           membership.name.c_str());
    }
  }
}

// ---- Writing -------------------------------------------------------------------

xml::Node CGroupUser::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) {
  if (!HasFeatureRoot(errorMgr, kSetLabel, pRootNode)) return {};
  const auto text = [withMessage](int number) { return ResourceTextIf(withMessage, number); };
  const xml::Node container = GetOrCreateChildElement(pRootNode, "t:groupuser", text(kContainerText));
  if (container.IsNull()) return {};
  for (const CUserGroup& group : groups_) {
    const xml::Node element = GetOrAppendNamedChild(container, "t:group", group.name, group.domain);
    SetXmlAttribute(element, "value", group.name);
    SetXmlAttribute(element, "domain", group.domain);
    SetXmlAttribute(element, "comment", group.comment);
    SetDoesNotExistYet(element, group.doesNotExistYet);
    if (withMessage) {
      SetXmlAttribute(element, "message", text(kGroupText));
      AddRequestingProgram(element, GetProductName());
    }
  }
  for (const UserEntry& user : users_) {
    const xml::Node element = GetOrAppendNamedChild(container, "t:user", user.name, user.domain);
    SetXmlAttribute(element, "value", user.name);
    SetXmlAttribute(element, "domain", user.domain);
    if (withMessage) {
      SetXmlAttribute(element, "message", text(kUserText));
      AddRequestingProgram(element, GetProductName());
    }
    for (const CUserGroup& membership : user.memberships) {
      const xml::Node member = GetOrAppendNamedChild(element, "t:groupmember", membership.name, membership.domain);
      SetXmlAttribute(member, "value", membership.name);
      SetXmlAttribute(member, "domain", membership.domain);
      SetDoesNotExistYet(member, membership.doesNotExistYet);
    }
  }
  return container;
}

std::unique_ptr<CFeature> CGroupUser::GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool /*undo*/) {
  if (errorMgr.IsError()) return nullptr;
  const xml::Node element = SelectFromHistory(errorMgr, "t:groupuser");
  if (element.IsNull()) {
    errorMgr.AddMessage(kLevelError, kHistoryLabel,
                        "There is no feature for path 't:groupuser' in the history file, so it's impossible to get "
                        "original value for this features");
    return nullptr;
  }
  auto original = std::make_unique<CGroupUser>();
  original->GetFeatureFromXml(errorMgr, element, GetSessionId());
  return original;
}
