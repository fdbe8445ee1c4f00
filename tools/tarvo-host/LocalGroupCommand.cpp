// tarvo-host localgroup: lists, shows, creates and deletes the local groups
// of a host and changes their members, with the arguments of Windows'
// "net localgroup". Every change is one call of the host's accounts service,
// so it is one transaction and shows in "groups" and "diff" like any other.
#include <optional>
#include <ostream>

#include "platform/WinError.h"
#include "platform/host/AccountDirectory.h"
#include "platform/host/HostAccounts.h"
#include "platform/text/Text.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {
namespace {

constexpr const char* kCompleted = "The command completed successfully.\n";

// A call once its arguments are read: the group and the accounts in the
// order given, and the options.
struct LocalGroupRequest {
  std::vector<std::string> names;
  bool add = false;
  bool remove = false;
  std::optional<std::string> comment;
};

// Options start with "/" and ignore case, as net's do; what follows the
// colon of /comment: is kept as written. Returns what is wrong, or "".
std::string ReadRequest(const std::vector<std::string>& args, LocalGroupRequest* request) {
  constexpr std::string_view kCommentOption = "/comment:";
  for (const std::string& arg : args) {
    if (arg.empty()) return "a group or account name is empty";
    if (arg[0] != '/') {
      request->names.push_back(arg);
      continue;
    }
    const std::string option = text::AsciiLower(arg);
    if (option == "/add") {
      request->add = true;
    } else if (option == "/delete" || option == "/del") {
      request->remove = true;
    } else if (option.starts_with(kCommentOption)) {
      request->comment = arg.substr(kCommentOption.size());
    } else if (option == "/comment") {
      return "/comment needs its text: /comment:TEXT";
    } else {
      return "unknown option '" + arg + "'";
    }
  }
  const bool accounts = request->names.size() > 1;
  if (request->add && request->remove) return "/add and /delete cannot go together";
  if (request->names.empty() && (request->add || request->remove || request->comment)) {
    return "the group name is missing";
  }
  if (request->comment && (!request->add || accounts)) return "/comment goes only with creating a group (NAME /add)";
  if (accounts && !request->add && !request->remove) return "/add or /delete is missing after the accounts";
  return "";
}

// A failed call in words with its code; `account` is the member a member
// change failed for.
std::string Failure(uint32_t rc, std::string_view group, std::string_view account = {}) {
  const std::string g = "'" + std::string(group) + "'";
  const std::string a = "'" + std::string(account) + "'";
  std::string what;
  switch (rc) {
    case winerr::kNerrGroupNotFound:
    case winerr::kNoSuchAlias: what = "the group " + g + " does not exist"; break;
    case winerr::kAliasExists: what = "the group " + g + " already exists"; break;
    case winerr::kNerrGroupExists: what = "a global group named " + g + " already exists"; break;
    case winerr::kNerrUserExists: what = "a user named " + g + " already exists"; break;
    case winerr::kSpecialAccount: what = g + " is a built-in group and cannot be deleted"; break;
    case winerr::kMemberInAlias: what = a + " is already a member of " + g; break;
    case winerr::kMemberNotInAlias: what = a + " is not a member of " + g; break;
    case winerr::kNoSuchMember:
    case winerr::kNoneMapped: what = "there is no account " + a; break;
    case winerr::kInvalidMember: what = a + " cannot be a member of a local group"; break;
    case winerr::kAccessDenied: what = "access denied"; break;
    case winerr::kCantWrite: what = "the host's database cannot be written"; break;
    default: what = "the host refused the call"; break;
  }
  return "localgroup: " + what + " (" + std::to_string(rc) + ")";
}

void WriteGroupJson(JsonWriter& j, const host::Account& group, const std::vector<plat::LocalGroupMember>* members) {
  j.BeginObject()
      .Field("name", group.name)
      .Field("domain", group.domain)
      .Field("sid", group.sid.ToString())
      .Field("comment", group.comment);
  if (members) {
    j.Key("members").BeginArray();
    for (const plat::LocalGroupMember& m : *members) {
      j.BeginObject()
          .Field("sid", m.sid.ToString())
          .Field("name", m.domainAndName)
          .Field("use", SidUseName(m.use))
          .EndObject();
    }
    j.EndArray();
  }
  j.EndObject();
}

int ListGroups(CommandContext& c, host::Host& h) {
  const std::vector<host::Account> groups = host::AccountDirectory::Of(h).Stored(host::AccountKind::kAlias);
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Key("groups").BeginArray();
    for (const host::Account& group : groups) WriteGroupJson(j, group, nullptr);
    j.EndArray().EndObject();
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  for (const host::Account& group : groups) *c.out << group.name << "\n";
  return kExitOk;
}

int ShowGroup(CommandContext& c, host::Host& h, const std::string& name) {
  plat::LocalGroupInfo info;
  std::vector<plat::LocalGroupMember> members;
  uint32_t rc = h.Accounts().LocalGroupGetInfo(name, &info);
  if (rc == winerr::kSuccess) rc = h.Accounts().LocalGroupGetMembers(name, &members);
  const std::optional<host::Account> group = host::AccountDirectory::Of(h).FindStored(name, host::AccountKind::kAlias);
  if (rc == winerr::kSuccess && !group) rc = host::kLocalGroupNotFound;
  if (rc != winerr::kSuccess) return c.Fail(Failure(rc, name));
  if (c.json) {
    JsonWriter j;
    WriteGroupJson(j, *group, &members);
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  *c.out << "Group name     " << group->name << "\n"
         << "Comment        " << group->comment << "\n"
         << "SID            " << group->sid.ToString() << "\n\n"
         << "Members\n\n"
         << std::string(79, '-') << "\n";
  for (const plat::LocalGroupMember& m : members) *c.out << m.domainAndName << "\n";
  return kExitOk;
}

int CreateGroup(CommandContext& c, host::Host& h, const std::string& name, const std::string& comment) {
  const uint32_t rc = h.Accounts().LocalGroupAdd(name, comment);
  if (rc == winerr::kInvalidParameter) {
    const std::string what = host::CheckLocalGroupName(name) != winerr::kSuccess
                                 ? "'" + name + "' is not a valid group name"
                                 : "the comment is longer than 256 characters";
    return c.Fail("localgroup: " + what + " (87)");
  }
  if (rc != winerr::kSuccess) return c.Fail(Failure(rc, name));
  *c.out << kCompleted;
  return kExitOk;
}

int DeleteGroup(CommandContext& c, host::Host& h, const std::string& name) {
  if (uint32_t rc = h.Accounts().LocalGroupDelete(name)) return c.Fail(Failure(rc, name));
  *c.out << kCompleted;
  return kExitOk;
}

// An account given as a SID is changed by SID, so that what is left of a
// deleted account (shown as its SID) can be removed.
uint32_t ChangeMember(plat::IAccounts& service, const std::string& group, const std::string& account, bool add) {
  winsec::Sid sid;
  if (winsec::Sid::FromString(account, &sid) == winerr::kSuccess) {
    return add ? service.LocalGroupAddMembers(group, {sid}) : service.LocalGroupDelMembers(group, {sid});
  }
  return add ? service.LocalGroupAddMembersByName(group, {account})
             : service.LocalGroupDelMembersByName(group, {account});
}

// One call per account: an account that cannot be added or removed is
// reported and the others are still done.
int ChangeMembers(CommandContext& c, host::Host& h, const std::string& name, const std::vector<std::string>& accounts,
                  bool add) {
  plat::LocalGroupInfo group;
  if (uint32_t rc = h.Accounts().LocalGroupGetInfo(name, &group)) return c.Fail(Failure(rc, name));
  size_t failed = 0;
  for (const std::string& account : accounts) {
    const uint32_t rc = ChangeMember(h.Accounts(), group.name, account, add);
    if (rc == winerr::kSuccess) continue;
    c.Note(Failure(rc, group.name, account));
    ++failed;
    // These fail every account alike: one message is enough.
    if (rc == winerr::kAccessDenied || rc == winerr::kCantWrite) return kExitBadCall;
  }
  if (failed == 0) {
    *c.out << kCompleted;
    return kExitOk;
  }
  if (failed < accounts.size()) {
    c.Note("localgroup: " + std::to_string(accounts.size() - failed) + " of " + std::to_string(accounts.size()) +
           " accounts " + (add ? "added" : "removed"));
  }
  return kExitBadCall;
}

}  // namespace

int RunLocalGroupCommand(CommandContext& c) {
  LocalGroupRequest request;
  if (std::string problem = ReadRequest(c.args, &request); !problem.empty()) return c.Fail("localgroup: " + problem);
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  if (request.names.empty()) return ListGroups(c, *h);
  const std::string& group = request.names[0];
  const std::vector<std::string> accounts(request.names.begin() + 1, request.names.end());
  if (!accounts.empty()) return ChangeMembers(c, *h, group, accounts, request.add);
  if (request.add) return CreateGroup(c, *h, group, request.comment.value_or(""));
  if (request.remove) return DeleteGroup(c, *h, group);
  return ShowGroup(c, *h, group);
}

}  // namespace hosttool
