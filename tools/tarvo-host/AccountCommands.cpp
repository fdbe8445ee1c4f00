// tarvo-host accounts and groups: the users, global groups and local groups
// of a host with their SIDs, descriptions and members, in the names of the
// host's language.
#include <ostream>

#include "platform/host/AccountDirectory.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {

const char* SidUseName(plat::SidNameUse use) {
  switch (use) {
    case plat::SidNameUse::kUser: return "user";
    case plat::SidNameUse::kGroup: return "group";
    case plat::SidNameUse::kDomain: return "domain";
    case plat::SidNameUse::kAlias: return "alias";
    case plat::SidNameUse::kWellKnownGroup: return "wellKnownGroup";
    case plat::SidNameUse::kDeletedAccount: return "deletedAccount";
    case plat::SidNameUse::kInvalid: return "invalid";
    case plat::SidNameUse::kUnknown: return "unknown";
    case plat::SidNameUse::kComputer: return "computer";
    case plat::SidNameUse::kLabel: return "label";
  }
  return "unknown";
}

namespace {

// A member as NetLocalGroupGetMembers names it: "DOMAIN\name", or the SID
// of an account that no longer exists.
struct MemberView {
  std::string sid;
  std::string name;
  plat::SidNameUse use;
};

std::vector<MemberView> MembersOf(host::AccountDirectory& accounts, const winsec::Sid& group) {
  std::vector<MemberView> members;
  for (const winsec::Sid& sid : accounts.MembersOf(group)) {
    const std::optional<host::Account> account = accounts.FindBySid(sid);
    members.push_back({sid.ToString(), account ? account->QualifiedName() : sid.ToString(),
                       account ? account->use : plat::SidNameUse::kUnknown});
  }
  return members;
}

void WriteMembersJson(JsonWriter& j, const std::vector<MemberView>& members) {
  j.Key("members").BeginArray();
  for (const MemberView& m : members) {
    j.BeginObject().Field("sid", m.sid).Field("name", m.name).Field("use", SidUseName(m.use)).EndObject();
  }
  j.EndArray();
}

void WriteAccountJson(JsonWriter& j, host::AccountDirectory& accounts, const host::Account& account,
                      bool withMembers) {
  j.BeginObject()
      .Field("name", account.name)
      .Field("domain", account.domain)
      .Field("sid", account.sid.ToString())
      .Field("comment", account.comment);
  if (withMembers) WriteMembersJson(j, MembersOf(accounts, account.sid));
  j.EndObject();
}

void WriteAccountListJson(JsonWriter& j, std::string_view key, host::AccountDirectory& accounts,
                          const std::vector<host::Account>& list, bool withMembers) {
  j.Key(key).BeginArray();
  for (const host::Account& account : list) WriteAccountJson(j, accounts, account, withMembers);
  j.EndArray();
}

void WriteMembersText(std::ostream& out, const std::vector<MemberView>& members) {
  if (members.empty()) out << "    (no members)\n";
  for (const MemberView& m : members) out << "    " << m.name << "  " << m.sid << "\n";
}

void WriteAccountText(std::ostream& out, host::AccountDirectory& accounts, const host::Account& account,
                      bool withMembers) {
  out << "  " << account.QualifiedName() << "  " << account.sid.ToString();
  if (!account.comment.empty()) out << "  " << account.comment;
  out << "\n";
  if (withMembers) WriteMembersText(out, MembersOf(accounts, account.sid));
}

int RunAccounts(CommandContext& c) {
  if (!c.args.empty()) return c.Fail("accounts: unexpected argument '" + c.args[0] + "'");
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  host::AccountDirectory accounts = host::AccountDirectory::Of(*h);
  const auto users = accounts.Stored(host::AccountKind::kUser);
  const auto globals = accounts.Stored(host::AccountKind::kGroup);
  const auto aliases = accounts.Stored(host::AccountKind::kAlias);
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Key("domain").BeginObject().Field("name", accounts.ComputerName());
    j.Field("sid", accounts.DomainSid().ToString()).EndObject();
    WriteAccountListJson(j, "users", accounts, users, false);
    WriteAccountListJson(j, "groups", accounts, globals, true);
    WriteAccountListJson(j, "localGroups", accounts, aliases, true);
    j.EndObject();
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  *c.out << "Account domain: " << accounts.ComputerName() << "  " << accounts.DomainSid().ToString() << "\n";
  *c.out << "Users:\n";
  for (const auto& user : users) WriteAccountText(*c.out, accounts, user, false);
  *c.out << "Global groups:\n";
  for (const auto& group : globals) WriteAccountText(*c.out, accounts, group, true);
  *c.out << "Local groups:\n";
  for (const auto& alias : aliases) WriteAccountText(*c.out, accounts, alias, true);
  return kExitOk;
}

int RunGroups(CommandContext& c) {
  if (!c.args.empty()) return c.Fail("groups: unexpected argument '" + c.args[0] + "'");
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  host::AccountDirectory accounts = host::AccountDirectory::Of(*h);
  const auto aliases = accounts.Stored(host::AccountKind::kAlias);
  if (c.json) {
    JsonWriter j;
    j.BeginObject();
    WriteAccountListJson(j, "groups", accounts, aliases, true);
    j.EndObject();
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  for (const host::Account& alias : aliases) {
    *c.out << alias.name << "  (" << alias.sid.ToString() << ")\n";
    if (!alias.comment.empty()) *c.out << "  " << alias.comment << "\n";
    const std::vector<MemberView> members = MembersOf(accounts, alias.sid);
    std::string names;
    for (const MemberView& m : members) names += (names.empty() ? "" : ", ") + m.name;
    *c.out << "  members: " << (names.empty() ? "(none)" : names) << "\n";
  }
  return kExitOk;
}

}  // namespace

int RunAccountsCommand(CommandContext& context) { return RunAccounts(context); }
int RunGroupsCommand(CommandContext& context) { return RunGroups(context); }

}  // namespace hosttool
