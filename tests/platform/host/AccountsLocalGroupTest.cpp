// Local groups of the simulated host through the NetAPI-shaped Accounts
// service: the built-in groups of a fresh host, creating and deleting
// groups, adding and removing members with all-or-nothing semantics, a
// user's (indirect) local groups and the codes Windows answers with.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Accounts.h"
#include "platform/WinError.h"
#include "platform/host/HostAccounts.h"
#include "support/TestHost.h"

namespace {

using winsec::Sid;

class AccountsLocalGroupTest : public ::testing::Test {
 protected:
  explicit AccountsLocalGroupTest(std::string_view language = "en-US", std::string_view profile = "win7-sp1-x64")
      : host_(profile, language) {}

  plat::IAccounts& accounts() { return host_.Platform().Accounts(); }
  Sid SidOf(std::string_view name) {
    Sid sid;
    EXPECT_EQ(host_.Platform().Security().LookupAccountName("", name, &sid, nullptr, nullptr), 0u) << name;
    return sid;
  }
  std::vector<std::string> MemberNames(std::string_view group) {
    std::vector<plat::LocalGroupMember> members;
    EXPECT_EQ(accounts().LocalGroupGetMembers(group, &members), 0u) << group;
    std::vector<std::string> names;
    for (const auto& m : members) names.push_back(m.domainAndName);
    return names;
  }
  std::vector<std::string> GroupsOf(std::string_view user, bool indirect) {
    std::vector<std::string> groups;
    EXPECT_EQ(accounts().UserGetLocalGroups(user, indirect, &groups), 0u) << user;
    return groups;
  }
  std::string Computer() { return host_.Host().Identity().computerName; }

  TestHost host_;
};

class AccountsLocalGroupGermanTest : public AccountsLocalGroupTest {
 protected:
  AccountsLocalGroupGermanTest() : AccountsLocalGroupTest("de-DE") {}
};

TEST_F(AccountsLocalGroupTest, AFreshHostHasTheBuiltinGroupsWithTheirMembers) {
  std::vector<plat::LocalGroupInfo> groups;
  ASSERT_EQ(accounts().LocalGroupEnum(&groups), 0u);
  ASSERT_GE(groups.size(), 10u);
  EXPECT_EQ(groups[0].name, "Administrators");
  EXPECT_EQ(groups[0].comment, "Administrators have complete and unrestricted access to the computer/domain");
  EXPECT_EQ(groups[1].name, "Users");
  EXPECT_EQ(MemberNames("Administrators"),
            (std::vector<std::string>{Computer() + "\\Administrator", Computer() + "\\tester"}));
  EXPECT_EQ(MemberNames("users"), (std::vector<std::string>{Computer() + "\\tester", "NT AUTHORITY\\INTERACTIVE",
                                                             "NT AUTHORITY\\Authenticated Users"}));
  EXPECT_EQ(MemberNames("Guests"), (std::vector<std::string>{Computer() + "\\Guest"}));
  plat::LocalGroupInfo info;
  EXPECT_EQ(accounts().LocalGroupGetInfo("Distributed COM Users", &info), 0u);
}

TEST_F(AccountsLocalGroupGermanTest, GermanGroupsCarryGermanNamesAndDescriptions) {
  plat::LocalGroupInfo info;
  ASSERT_EQ(accounts().LocalGroupGetInfo("Administratoren", &info), 0u);
  EXPECT_EQ(info.name, "Administratoren");
  EXPECT_EQ(info.comment, "Administratoren haben uneingeschränkten Vollzugriff auf den Computer bzw. die Domäne.");
  EXPECT_EQ(accounts().LocalGroupGetInfo("Administrators", &info), host::kLocalGroupNotFound);
  EXPECT_EQ(accounts().LocalGroupAdd("Administratoren", ""), winerr::kAliasExists);
  // The English name is free on a German host: it makes a new group.
  EXPECT_EQ(accounts().LocalGroupAdd("Administrators", ""), 0u);
  EXPECT_EQ(MemberNames("Benutzer").back(), "NT-AUTORITÄT\\Authentifizierte Benutzer");
}

TEST_F(AccountsLocalGroupTest, CreatingGroups) {
  ASSERT_EQ(accounts().LocalGroupAdd("Operators", "Run the plant"), 0u);
  plat::LocalGroupInfo info;
  ASSERT_EQ(accounts().LocalGroupGetInfo("OPERATORS", &info), 0u);
  EXPECT_EQ(info.name, "Operators");
  EXPECT_EQ(info.comment, "Run the plant");
  // New groups get the next RIDs of the account domain, from 1001 on, never reused.
  EXPECT_EQ(SidOf("Operators").ToString(), host_.Host().DomainSid() + "-1001");
  ASSERT_EQ(accounts().LocalGroupDelete("Operators"), 0u);
  ASSERT_EQ(accounts().LocalGroupAdd("Engineers", ""), 0u);
  EXPECT_EQ(SidOf("Engineers").ToString(), host_.Host().DomainSid() + "-1002");

  EXPECT_EQ(accounts().LocalGroupAdd("engineers", ""), winerr::kAliasExists);
  EXPECT_EQ(accounts().LocalGroupAdd("Users", ""), winerr::kAliasExists);
  EXPECT_EQ(accounts().LocalGroupAdd("None", ""), winerr::kNerrGroupExists) << "a global group";
  EXPECT_EQ(accounts().LocalGroupAdd("tester", ""), winerr::kNerrUserExists);
}

TEST_F(AccountsLocalGroupTest, GroupNamesFollowTheNameRules) {
  for (const std::string& bad : {std::string(), std::string("a/b"), std::string("a\\b"), std::string("a*"),
                                std::string("x:y"), std::string("trailing."), std::string(". ."),
                                std::string("tab\there"), std::string(257, 'g')}) {
    EXPECT_EQ(accounts().LocalGroupAdd(bad, ""), winerr::kInvalidParameter) << bad;
  }
  EXPECT_EQ(accounts().LocalGroupAdd(std::string(256, 'g'), ""), 0u);
  EXPECT_EQ(accounts().LocalGroupAdd("Plant Operators (Line 2)", ""), 0u);
  EXPECT_EQ(accounts().LocalGroupAdd("Comment", std::string(257, 'c')), winerr::kInvalidParameter);
}

TEST_F(AccountsLocalGroupTest, DeletingGroups) {
  ASSERT_EQ(accounts().LocalGroupAdd("Operators", ""), 0u);
  ASSERT_EQ(accounts().LocalGroupAddMembersByName("Operators", {"tester"}), 0u);
  EXPECT_EQ(accounts().LocalGroupDelete("Operators"), 0u);
  EXPECT_EQ(accounts().LocalGroupDelete("Operators"), host::kLocalGroupNotFound);
  EXPECT_EQ(GroupsOf("tester", false), (std::vector<std::string>{"Administrators", "Users"}));
  EXPECT_EQ(accounts().LocalGroupDelete("Administrators"), host::kBuiltinGroupNotDeletable);
  EXPECT_EQ(accounts().LocalGroupDelete("tester"), host::kLocalGroupNotFound) << "a user is no local group";
  plat::LocalGroupInfo info;
  EXPECT_EQ(accounts().LocalGroupGetInfo("Operators", &info), host::kLocalGroupNotFound);
}

TEST_F(AccountsLocalGroupTest, AddingMembersIsAllOrNothing) {
  ASSERT_EQ(accounts().LocalGroupAdd("Operators", ""), 0u);
  ASSERT_EQ(accounts().LocalGroupAddMembersByName("Operators", {"tester"}), 0u);
  // One member already in the group: the other is not added either.
  EXPECT_EQ(accounts().LocalGroupAddMembersByName("Operators", {"Guest", "tester"}), winerr::kMemberInAlias);
  EXPECT_EQ(MemberNames("Operators"), (std::vector<std::string>{Computer() + "\\tester"}));
  // One unknown member: nothing added.
  EXPECT_EQ(accounts().LocalGroupAddMembersByName("Operators", {"Guest", "nobody"}), winerr::kNoSuchMember);
  Sid unknown;
  Sid::FromString(host_.Host().DomainSid() + "-4242", &unknown);
  EXPECT_EQ(accounts().LocalGroupAddMembers("Operators", {SidOf("Guest"), unknown}), winerr::kNoSuchMember);
  // The same member twice in one call.
  EXPECT_EQ(accounts().LocalGroupAddMembers("Operators", {SidOf("Guest"), SidOf("Guest")}), winerr::kMemberInAlias);
  EXPECT_EQ(MemberNames("Operators").size(), 1u);

  EXPECT_EQ(accounts().LocalGroupAddMembers("Operators", {SidOf("Guest"), Sid::Everyone()}), 0u);
  EXPECT_EQ(MemberNames("Operators"),
            (std::vector<std::string>{Computer() + "\\tester", Computer() + "\\Guest", "Everyone"}));
}

TEST_F(AccountsLocalGroupTest, WhatCannotBeAMemberAndWhereThereIsNoGroup) {
  EXPECT_EQ(accounts().LocalGroupAddMembersByName("NoSuchGroup", {"tester"}), host::kLocalGroupNotFound);
  EXPECT_EQ(accounts().LocalGroupAddMembersByName("NoSuchGroup", {"nobody"}), host::kLocalGroupNotFound);
  EXPECT_EQ(accounts().LocalGroupAddMembers("tester", {SidOf("Guest")}), host::kLocalGroupNotFound);
  // Local groups do not nest; domains are no members.
  EXPECT_EQ(accounts().LocalGroupAddMembers("Users", {Sid::BuiltinAdministrators()}), winerr::kInvalidMember);
  EXPECT_EQ(accounts().LocalGroupAddMembersByName("Users", {"BUILTIN"}), winerr::kInvalidMember);
}

TEST_F(AccountsLocalGroupTest, RemovingMembers) {
  ASSERT_EQ(accounts().LocalGroupAdd("Operators", ""), 0u);
  ASSERT_EQ(accounts().LocalGroupAddMembersByName("Operators", {"tester", "Guest"}), 0u);
  // One member that is not in the group: nothing removed.
  EXPECT_EQ(accounts().LocalGroupDelMembersByName("Operators", {"tester", "Administrator"}),
            winerr::kMemberNotInAlias);
  EXPECT_EQ(MemberNames("Operators").size(), 2u);
  EXPECT_EQ(accounts().LocalGroupDelMembersByName("Operators", {"tester", "nobody"}), winerr::kNoSuchMember);
  Sid unknown;
  Sid::FromString("S-1-5-21-1-2-3-4", &unknown);
  EXPECT_EQ(accounts().LocalGroupDelMembers("Operators", {unknown}), winerr::kNoSuchMember);
  EXPECT_EQ(accounts().LocalGroupDelMembers("NoSuchGroup", {SidOf("tester")}), host::kLocalGroupNotFound);
  EXPECT_EQ(accounts().LocalGroupDelMembers("Operators", {SidOf("tester"), SidOf("Guest")}), 0u);
  EXPECT_TRUE(MemberNames("Operators").empty());
}

TEST_F(AccountsLocalGroupTest, MembersWithoutAccountShowTheirSid) {
  ASSERT_EQ(accounts().LocalGroupAdd("Operators", ""), 0u);
  ASSERT_EQ(accounts().LocalGroupAdd("Temp", ""), 0u);
  // A group's SID left in another group's list, as after deleting an account.
  host::AccountDirectory directory = host::AccountDirectory::Of(host_.Host());
  const Sid temp = SidOf("Temp");
  ASSERT_EQ(accounts().LocalGroupDelete("Temp"), 0u);
  directory.AddMember(SidOf("Operators"), temp);
  std::vector<plat::LocalGroupMember> members;
  ASSERT_EQ(accounts().LocalGroupGetMembers("Operators", &members), 0u);
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].domainAndName, temp.ToString());
  EXPECT_EQ(members[0].use, plat::SidNameUse::kDeletedAccount);
  // Such a SID can still be removed.
  EXPECT_EQ(accounts().LocalGroupDelMembers("Operators", {temp}), 0u);
}

TEST_F(AccountsLocalGroupTest, IndirectMembershipGoesThroughGlobalGroups) {
  ASSERT_EQ(accounts().LocalGroupAdd("Viewers", ""), 0u);
  ASSERT_EQ(accounts().LocalGroupAddMembersByName("Viewers", {"None"}), 0u);
  EXPECT_EQ(GroupsOf("tester", false), (std::vector<std::string>{"Administrators", "Users"}));
  EXPECT_EQ(GroupsOf("tester", true), (std::vector<std::string>{"Administrators", "Users", "Viewers"}));
  EXPECT_EQ(GroupsOf(Computer() + "\\Guest", true), (std::vector<std::string>{"Guests", "Viewers"}));
  std::vector<std::string> groups;
  EXPECT_EQ(accounts().UserGetLocalGroups("nobody", true, &groups), winerr::kNerrUserNotFound);
  EXPECT_EQ(accounts().UserGetLocalGroups("Users", true, &groups), winerr::kNerrUserNotFound);
}

TEST_F(AccountsLocalGroupTest, TheAccountDomain) {
  std::string name;
  Sid sid;
  ASSERT_EQ(accounts().UserModalsGetDomain(&name, &sid), 0u);
  EXPECT_EQ(name, Computer());
  EXPECT_EQ(sid.ToString(), host_.Host().DomainSid());
  EXPECT_EQ(SidOf("Administrator").ToString(), host_.Host().DomainSid() + "-500");
}

TEST(AccountsStandardUserTest, OnlyAdministratorsAndPowerUsersChangeGroups) {
  const std::string folder = MakeTempFolder("tarvo-accounts");
  {
    host::CreateOptions create;
    create.clock = "virtual";
    create.userName = "tester";
    create.userIsAdmin = false;
    std::string error;
    auto h = host::Host::Create(folder, create, false, host::OpenOptions{false}, &error);
    ASSERT_TRUE(h) << error;
    plat::IAccounts& accounts = h->Accounts();
    EXPECT_EQ(accounts.LocalGroupAdd("Operators", ""), winerr::kAccessDenied);
    EXPECT_EQ(accounts.LocalGroupDelete("Guests"), winerr::kAccessDenied);
    EXPECT_EQ(accounts.LocalGroupAddMembersByName("Users", {"Guest"}), winerr::kAccessDenied);
    EXPECT_EQ(accounts.LocalGroupDelMembersByName("Users", {"tester"}), winerr::kAccessDenied);
    // Reading is open to every user.
    plat::LocalGroupInfo info;
    EXPECT_EQ(accounts.LocalGroupGetInfo("Users", &info), 0u);
    std::vector<std::string> groups;
    ASSERT_EQ(accounts.UserGetLocalGroups("tester", true, &groups), 0u);
    EXPECT_EQ(groups, std::vector<std::string>{"Users"});
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

}  // namespace
