// The local group feature against English and German hosts: groups and
// memberships applied, refused and skipped with their log lines, a second
// apply that changes nothing, the state read back and written, and the
// platform's failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "access/GroupUser.h"
#include "features/FeatureFixture.h"
#include "infra/ErrorMgr.h"
#include "platform/Forwarding.h"
#include "platform/Platform.h"
#include "securityfiles/XmlServices.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;
using feature_test::SecurityFile;

constexpr const char* kGroupUserPath = "/t:vscSetup/t:host/t:body/t:groupuser";

// The local groups of the machine, each with its comment and member SIDs.
std::string GroupState() {
  plat::IAccounts& accounts = plat::Current().Accounts();
  std::vector<plat::LocalGroupInfo> groups;
  EXPECT_EQ(accounts.LocalGroupEnum(&groups), 0u);
  std::string state;
  for (const plat::LocalGroupInfo& group : groups) {
    state += group.name + " '" + group.comment + "':";
    std::vector<plat::LocalGroupMember> members;
    EXPECT_EQ(accounts.LocalGroupGetMembers(group.name, &members), 0u);
    for (const plat::LocalGroupMember& member : members) state += " " + member.sid.ToString();
    state += "\n";
  }
  return state;
}

bool IsMember(std::string_view group, const winsec::Sid& sid) {
  std::vector<plat::LocalGroupMember> members;
  if (plat::Current().Accounts().LocalGroupGetMembers(group, &members) != 0) return false;
  for (const plat::LocalGroupMember& member : members) {
    if (member.sid == sid) return true;
  }
  return false;
}

// Every entry as "level|text", in order.
std::vector<std::string> Lines(const CErrorMgr& errorMgr) {
  std::vector<std::string> lines;
  for (const auto& entry : errorMgr.Entries()) lines.push_back(std::to_string(entry->level) + "|" + entry->message);
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t CountContaining(const std::vector<std::string>& lines, std::string_view part) {
  return std::count_if(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

std::unique_ptr<CGroupUser> Read(CErrorMgr& errorMgr, const xml::Node& element) {
  auto feature = std::make_unique<CGroupUser>();
  EXPECT_TRUE(feature->GetFeatureFromXml(errorMgr, element, "S1"));
  return feature;
}

class GroupUserFeature : public ::testing::TestWithParam<const char*> {
 protected:
  GroupUserFeature() : host_("win7-sp1-x64", GetParam()) {}
  bool German() const { return std::string(GetParam()) == "de-DE"; }
  const char* Local(const char* english, const char* german) const { return German() ? german : english; }

  // Reads one feature from a t:groupuser with `children` and applies it.
  std::vector<std::string> Apply(std::string_view children, bool* applied = nullptr) {
    const xml::Document file = SecurityFile("<t:groupuser>" + std::string(children) + "</t:groupuser>");
    CErrorMgr errorMgr;
    const bool ok = Read(errorMgr, FirstNode(file, kGroupUserPath))->ApplyFeature(errorMgr);
    if (applied) *applied = ok;
    return Lines(errorMgr);
  }

  TestHost host_;
};

INSTANTIATE_TEST_SUITE_P(Languages, GroupUserFeature, ::testing::Values("en-US", "de-DE"));

constexpr const char* kPlantFeature =
    "<t:group value='Plant Operators' domain='' comment='Operate the plant'/>"
    "<t:group value='Administrators' domain=''/>"
    "<t:group value='Remote Team' domain='CORP'/>"
    "<t:group value='Old Group' domain='' DoesNotExistYet='TRUE'/>"
    "<t:user value='tester' domain=''>"
    "  <t:groupmember value='Plant Operators' domain=''/>"
    "  <t:groupmember value='Guests' domain='' DoesNotExistYet='true'/>"
    "  <t:groupmember value='Remote Team' domain='CORP'/>"
    "</t:user>"
    "<t:user value='NETWORK SERVICE' domain='NT AUTHORITY'><t:groupmember value='Plant Operators' domain=''/></t:user>"
    "<t:user value='INTERACTIVE' domain=''><t:groupmember value='Users' domain='' DoesNotExistYet='true'/></t:user>"
    "<t:user value='Nobody' domain=''><t:groupmember value='Plant Operators' domain=''/></t:user>"
    "<t:user value='Administrator' domain='OTHERPC'>"
    "  <t:groupmember value='Administrators' domain='' DoesNotExistYet='true'/>"
    "</t:user>";

TEST_P(GroupUserFeature, AppliesGroupsAndMembershipsOnceAndOnlyOnce) {
  ASSERT_EQ(plat::Current().Accounts().LocalGroupAdd("Old Group", ""), 0u);
  bool applied = true;
  const std::vector<std::string> first = Apply(kPlantFeature, &applied);
  EXPECT_FALSE(applied);  // the domain group and the domain membership are errors
  const std::string administrators = Local("Administrators", "Administratoren");
  for (const std::string& line : {
           std::string("2|  created UserGroup 'Plant Operators'  with comment 'Operate the plant'"),
           "2|  UserGroup '" + administrators + "' already exists - so it couldn't been created",
           std::string("5|Adding/Removing Groups in Domains is not supported right now! Group: 'Remote Team' "
                       "Domain: 'CORP'"),
           std::string("2|delete 'Old Group' from UserGroups"),
           std::string("2|  add User 'tester' to UserGroup 'Plant Operators'"),
           std::string("5|Adding/Removing memberships to Domain Groups is not supported right now! Group: "
                       "'Remote Team' Domain: 'CORP'"),
           "2|  add User '" + std::string(Local("NETWORK SERVICE", "NETZWERKDIENST")) + "' to UserGroup 'Plant Operators'",
           std::string("4|  User or group '\\Nobody' does not exist (or lack of rights to find out)"),
           std::string("4|  User or group 'OTHERPC\\Administrator' does not exist (or lack of rights to find out)"),
       }) {
    EXPECT_TRUE(Has(first, line)) << line;
  }
  // tester is no member of Guests: the removal leaves only its own line.
  EXPECT_EQ(CountContaining(first, Local("'Guests'", "'Gäste'")), 1u);
  EXPECT_TRUE(Has(first, std::string("0|remove the membership User='tester' UserGroup='") +
                             Local("Guests", "Gäste") + "'"));

  plat::LocalGroupInfo info;
  ASSERT_EQ(plat::Current().Accounts().LocalGroupGetInfo("Plant Operators", &info), 0u);
  EXPECT_EQ(info.comment, "Operate the plant");
  EXPECT_NE(plat::Current().Accounts().LocalGroupGetInfo("Old Group", &info), 0u);
  EXPECT_TRUE(IsMember("Plant Operators", winsec::Sid::NetworkService()));
  EXPECT_FALSE(IsMember(Local("Users", "Benutzer"), winsec::Sid::Interactive()));
  EXPECT_EQ(CountContaining(first, "NetLocalGroupDelMembers(User='" + std::string(Local("INTERACTIVE", "INTERAKTIV"))),
            1u);

  const std::string state = GroupState();
  const std::vector<std::string> second = Apply(kPlantFeature);
  EXPECT_EQ(GroupState(), state);
  EXPECT_TRUE(Has(second, "2|  User 'tester' were already member of the local group 'Plant Operators'  No new member "
                          "were added"));
  EXPECT_TRUE(Has(second, "2|  UserGroup 'Plant Operators' already exists - so it couldn't been created"));
  EXPECT_TRUE(Has(second, "2|  The local group could not be deleted: 'Old Group' does not exist!"));
  EXPECT_EQ(CountContaining(second, "add User"), 0u);
  EXPECT_EQ(CountContaining(second, "delete 'Old Group'"), 0u);
}

// The state read before a change, written as the history keeps it and read
// back, restores that state when applied.
TEST_P(GroupUserFeature, CurrentStateWrittenAndReadBackRestoresIt) {
  const xml::Document file = SecurityFile(
      "<t:groupuser><t:group value='Plant Operators' domain='' comment='c'/>"
      "<t:user value='tester' domain=''><t:groupmember value='Plant Operators' domain=''/>"
      "<t:groupmember value='Users' domain=''/></t:user></t:groupuser>");
  CErrorMgr errorMgr;
  const std::unique_ptr<CGroupUser> target = Read(errorMgr, FirstNode(file, kGroupUserPath));
  const std::unique_ptr<CFeature> before = target->GetCurrentFeature(errorMgr);
  ASSERT_TRUE(before);

  xml::Document history = xml::Document::Create();
  ASSERT_TRUE(history.LoadXml("<t:Product xmlns:t='urn:history'/>"));
  // A stale flag of an earlier entry is taken away when the group exists.
  const xml::Node stale = before->SetFeatureToXml(errorMgr, history.DocumentElement(), false);
  SetXmlAttribute(stale.SelectSingleNode("t:user/t:groupmember[@value='Users']"), "DoesNotExistYet", "true");
  before->SetFeatureToXml(errorMgr, history.DocumentElement(), false);
  EXPECT_EQ(history.DocumentElement().Xml(),
            "<t:Product xmlns:t=\"urn:history\"><t:groupuser><t:group value=\"Plant Operators\" domain=\"\" "
            "comment=\"\" DoesNotExistYet=\"true\"/><t:user value=\"tester\" domain=\"\"><t:groupmember "
            "value=\"Plant Operators\" domain=\"\" DoesNotExistYet=\"true\"/><t:groupmember value=\"Users\" "
            "domain=\"\"/></t:user></t:groupuser></t:Product>");

  const std::string original = GroupState();
  target->ApplyFeature(errorMgr);
  winsec::Sid tester;
  ASSERT_EQ(winsec::Sid::FromString(host_.Host().UserSid(), &tester), 0u);
  EXPECT_TRUE(IsMember("Plant Operators", tester));
  Read(errorMgr, history.DocumentElement().SelectSingleNode("t:groupuser"))->ApplyFeature(errorMgr);
  EXPECT_EQ(GroupState(), original);
  EXPECT_FALSE(errorMgr.IsError());
}

// An Accounts service whose calls answer with chosen codes.
class RefusingAccounts : public plat::ForwardingAccounts {
 public:
  using ForwardingAccounts::ForwardingAccounts;
  uint32_t add = 0, del = 0, addMembers = 0, delMembers = 0;
  uint32_t LocalGroupAdd(std::string_view, std::string_view) override { return add; }
  uint32_t LocalGroupDelete(std::string_view) override { return del; }
  uint32_t LocalGroupAddMembers(std::string_view, const std::vector<winsec::Sid>&) override { return addMembers; }
  uint32_t LocalGroupDelMembers(std::string_view, const std::vector<winsec::Sid>&) override { return delMembers; }
};

TEST_P(GroupUserFeature, RefusedCallsAreErrors) {
  plat::ForwardingPlatform platform(host_.Platform());
  RefusingAccounts accounts(host_.Platform().Accounts());
  platform.SetAccounts(&accounts);
  plat::ScopedPlatform installed(platform);
  constexpr const char* kFeature =
      "<t:group value='G' domain=''/><t:group value='H' domain='' DoesNotExistYet='true'/>"
      "<t:user value='tester' domain=''><t:groupmember value='G' domain=''/>"
      "<t:groupmember value='H' domain='' DoesNotExistYet='true'/></t:user>";
  struct Case {
    uint32_t add, del, addMembers, delMembers;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {5, 5, 5, 5,
       {"5|UserGroup 'G' could not be added: ACCESS DENIED!", "5|The group 'H' could not be deleted: ACCESS DENIED!",
        "5|The user does not have access to the requested information",
        "5|NetLocalGroupDelMembers(User='tester' UserGroup ='H') returns error: 5"}},
      {2351, 1371, 1388, 0,
       {"5|NetLocalGroupAdd(group='G') failed with Error=2351. Group is likely not added",
        "5|NetLocalGroupDel(group='H') failed with Error=1371. Group is likely not deleted",
        "5|member cannot be added because their account type is invalid. No new member were added",
        "0|  NetLocalGroupDelMembers(User='tester' UserGroup ='H')"}},
      {0, 2220, 1387, 1377,
       {"2|  created UserGroup 'G'  with comment ''", "2|  The local group could not be deleted: 'H' does not exist!",
        "5|specified member do not exist. Therefore, no new member were added"}},
      {2223, 0, 2220, 2220,
       {"2|  UserGroup 'G' already exists - so it couldn't been created", "2|delete 'H' from UserGroups",
        "4|  User group 'G' does not exist, so the user 'tester' couldn't be added as member"}},
      {0, 0, 77, 0, {"5|NetLocalGroupAddMembers(User='tester' UserGroup ='G') returns error: 77"}},
  };
  for (const Case& c : cases) {
    accounts.add = c.add;
    accounts.del = c.del;
    accounts.addMembers = c.addMembers;
    accounts.delMembers = c.delMembers;
    const std::vector<std::string> lines = Apply(kFeature);
    for (const std::string& line : c.expected) EXPECT_TRUE(Has(lines, line)) << line;
    // A refused deletion is not reported as one done.
    if (c.del != 0) {
      EXPECT_EQ(CountContaining(lines, "from UserGroups"), 0u) << c.del;
    }
  }
}

}  // namespace
