// The process token of the simulated host for an administrator and for a
// standard user: its user and group SIDs, and its privileges with
// LookupPrivilegeValue / AdjustTokenPrivileges semantics.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/Security.h"
#include "platform/WinError.h"
#include "platform/host/Host.h"
#include "support/TestHost.h"

namespace {

using winsec::Sid;

// A host whose user is (or is not) an administrator, installed as the platform.
class UserHost {
 public:
  explicit UserHost(bool admin, std::string_view profile = "win7-sp1-x64")
      : folder_(MakeTempFolder("tarvo-token")) {
    host::CreateOptions create;
    create.profile = std::string(profile);
    create.clock = "virtual";
    create.userName = "tester";
    create.userIsAdmin = admin;
    std::string error;
    host_ = host::Host::Create(folder_, create, false, host::OpenOptions{false}, &error);
    if (!host_) ADD_FAILURE() << error;
  }
  ~UserHost() {
    host_.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  host::Host& Host() { return *host_; }
  plat::ISecurity& Security() { return host_->Security(); }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  std::unique_ptr<host::Host> host_;
};

bool Has(const std::vector<Sid>& sids, const Sid& sid) { return std::find(sids.begin(), sids.end(), sid) != sids.end(); }

uint64_t Luid(plat::ISecurity& security, std::string_view name) {
  uint64_t luid = 0;
  EXPECT_EQ(security.LookupPrivilegeValue(name, &luid), winerr::kSuccess) << name;
  return luid;
}

TEST(SecurityTokenTest, AnAdministratorsTokenHoldsTheLogonGroupsAndItsLocalGroups) {
  UserHost h(true);
  Sid user;
  ASSERT_EQ(h.Security().GetTokenUser(&user), winerr::kSuccess);
  EXPECT_EQ(user.ToString(), h.Host().UserSid());
  std::vector<Sid> groups;
  ASSERT_EQ(h.Security().GetTokenGroups(&groups), winerr::kSuccess);
  for (const Sid& sid : {Sid::Everyone(), Sid::BuiltinUsers(), Sid::BuiltinAdministrators(), Sid::Interactive(),
                         Sid::AuthenticatedUsers()}) {
    EXPECT_TRUE(Has(groups, sid)) << sid.ToString();
  }
  EXPECT_FALSE(Has(groups, Sid::BuiltinGuests()));
  EXPECT_FALSE(Has(groups, user)) << "the user is not one of its groups";
}

TEST(SecurityTokenTest, AStandardUsersTokenHasNoAdministratorsGroup) {
  UserHost h(false);
  std::vector<Sid> groups;
  ASSERT_EQ(h.Security().GetTokenGroups(&groups), winerr::kSuccess);
  EXPECT_TRUE(Has(groups, Sid::BuiltinUsers()));
  EXPECT_TRUE(Has(groups, Sid::Everyone()));
  EXPECT_FALSE(Has(groups, Sid::BuiltinAdministrators()));
}

TEST(SecurityTokenTest, NewMembershipsReachTheTokenOfTheNextProcessOnly) {
  UserHost h(true);
  plat::IAccounts& accounts = h.Host().Accounts();
  std::vector<Sid> before;
  ASSERT_EQ(h.Security().GetTokenGroups(&before), winerr::kSuccess);
  ASSERT_EQ(accounts.LocalGroupAdd("Operators", ""), winerr::kSuccess);
  ASSERT_EQ(accounts.LocalGroupAddMembersByName("Operators", {"tester"}), winerr::kSuccess);
  // Through a global group the user belongs to ("None").
  ASSERT_EQ(accounts.LocalGroupAdd("Viewers", ""), winerr::kSuccess);
  ASSERT_EQ(accounts.LocalGroupAddMembersByName("Viewers", {"None"}), winerr::kSuccess);
  Sid operators, viewers;
  h.Security().LookupAccountName("", "Operators", &operators, nullptr, nullptr);
  h.Security().LookupAccountName("", "Viewers", &viewers, nullptr, nullptr);

  std::vector<Sid> same;
  ASSERT_EQ(h.Security().GetTokenGroups(&same), winerr::kSuccess);
  EXPECT_EQ(same, before);

  std::string error;
  auto next = host::Host::Open(h.Folder(), host::OpenOptions{false}, &error);
  ASSERT_TRUE(next) << error;
  std::vector<Sid> after;
  ASSERT_EQ(next->Security().GetTokenGroups(&after), winerr::kSuccess);
  EXPECT_TRUE(Has(after, operators));
  EXPECT_TRUE(Has(after, viewers));
}

TEST(SecurityTokenTest, PrivilegeNamesMapToTheirLuids) {
  UserHost h(true);
  EXPECT_EQ(Luid(h.Security(), plat::kSeTakeOwnershipPrivilege), 9u);
  EXPECT_EQ(Luid(h.Security(), "sebackupprivilege"), 17u);
  uint64_t luid = 0;
  EXPECT_EQ(h.Security().LookupPrivilegeValue("SeNoSuchPrivilege", &luid), winerr::kNoSuchPrivilege);
}

TEST(SecurityTokenTest, AnAdministratorEnablesAndDisablesTakeOwnership) {
  UserHost h(true);
  const uint64_t takeOwnership = Luid(h.Security(), plat::kSeTakeOwnershipPrivilege);
  EXPECT_FALSE(h.Security().IsPrivilegeEnabled(takeOwnership));
  EXPECT_EQ(h.Security().AdjustTokenPrivilege(takeOwnership, plat::kSePrivilegeEnabled), winerr::kSuccess);
  EXPECT_TRUE(h.Security().IsPrivilegeEnabled(takeOwnership));
  EXPECT_EQ(h.Security().AdjustTokenPrivilege(takeOwnership, 0), winerr::kSuccess);
  EXPECT_FALSE(h.Security().IsPrivilegeEnabled(takeOwnership));
  // SeChangeNotifyPrivilege is enabled in every token from the start.
  EXPECT_TRUE(h.Security().IsPrivilegeEnabled(Luid(h.Security(), "SeChangeNotifyPrivilege")));
}

TEST(SecurityTokenTest, AStandardUserGetsNotAllAssignedForAdministratorPrivileges) {
  UserHost h(false);
  const uint64_t takeOwnership = Luid(h.Security(), plat::kSeTakeOwnershipPrivilege);
  EXPECT_EQ(h.Security().AdjustTokenPrivilege(takeOwnership, plat::kSePrivilegeEnabled), winerr::kNotAllAssigned);
  EXPECT_FALSE(h.Security().IsPrivilegeEnabled(takeOwnership));
  EXPECT_EQ(h.Security().AdjustTokenPrivilege(takeOwnership, 0), winerr::kNotAllAssigned);
  // What a standard user does hold can be switched.
  const uint64_t shutdown = Luid(h.Security(), "SeShutdownPrivilege");
  EXPECT_EQ(h.Security().AdjustTokenPrivilege(shutdown, plat::kSePrivilegeEnabled), winerr::kSuccess);
}

TEST(SecurityTokenTest, PrivilegeStateLivesInTheProcessOnly) {
  UserHost h(true);
  const uint64_t takeOwnership = Luid(h.Security(), plat::kSeTakeOwnershipPrivilege);
  ASSERT_EQ(h.Security().AdjustTokenPrivilege(takeOwnership, plat::kSePrivilegeEnabled), winerr::kSuccess);
  std::string error;
  auto other = host::Host::Open(h.Folder(), host::OpenOptions{false}, &error);
  ASSERT_TRUE(other) << error;
  EXPECT_FALSE(other->Security().IsPrivilegeEnabled(takeOwnership));
  EXPECT_TRUE(h.Security().IsPrivilegeEnabled(takeOwnership));
}

TEST(SecurityTokenTest, ARemovedPrivilegeCannotBeEnabledAgain) {
  UserHost h(true);
  const uint64_t debug = Luid(h.Security(), "SeDebugPrivilege");
  ASSERT_EQ(h.Security().AdjustTokenPrivilege(debug, plat::kSePrivilegeRemoved), winerr::kSuccess);
  EXPECT_EQ(h.Security().AdjustTokenPrivilege(debug, plat::kSePrivilegeEnabled), winerr::kNotAllAssigned);
}

}  // namespace
