#include "tools/tarvo-host/HostCommands.h"

#include <iostream>
#include <optional>

#include "platform/host/AccountDirectory.h"
#include "platform/text/Text.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {

// Commands of AccountCommands.cpp and AclCommands.cpp.
int RunAccountsCommand(CommandContext& context);
int RunGroupsCommand(CommandContext& context);
int RunAclCommand(CommandContext& context);
// Command of SignCommand.cpp.
int RunSignCommand(CommandContext& context);
// Commands of WuaCommands.cpp and SnapshotCommands.cpp.
int RunWuaCommand(CommandContext& context);
int RunSnapshotCommand(CommandContext& context);
int RunDiffCommand(CommandContext& context);
// Command of LocalGroupCommand.cpp.
int RunLocalGroupCommand(CommandContext& context);
// Command of DcomCommands.cpp.
int RunDcomCommand(CommandContext& context);
// Command of ServiceCommands.cpp.
int RunServicesCommand(CommandContext& context);
// Command of FirewallCommands.cpp.
int RunFirewallCommand(CommandContext& context);

namespace {

int RunInit(CommandContext& c);
int RunShow(CommandContext& c);
int RunHelp(CommandContext& c);

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"init",
       "init [--profile NAME] [--lang en-US|de-DE] [--clock real|virtual] [--user NAME] [--not-admin] [--force]\n"
       "  (--user: the name of the host's user; without it the Linux user's name;\n"
       "   --not-admin: the user is no administrator)",
       RunInit},
      {"show", "show                      profile summary of the host", RunShow},
      {"reg",
       "reg query|add|delete KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s] [/f] [/reg:32|/reg:64]\n"
       "  reg export KEY FILE [/reg:32]   reg import FILE [/reg:32]\n"
       "  (never prompts: /f to delete or overwrite a value, /y to overwrite FILE; delete /va: all values)",
       RunRegCommand},
      {"accounts", "accounts                  users, groups and local groups with SIDs and members", RunAccountsCommand},
      {"groups", "groups                    local groups with descriptions and members", RunGroupsCommand},
      {"localgroup",
       "localgroup [NAME]         local group names, or one group with its comment and members\n"
       "  localgroup NAME /add [/comment:TEXT]   localgroup NAME /delete   (create or delete a group)\n"
       "  localgroup NAME ACCOUNT... /add|/delete   (members; ACCOUNT: name, DOMAIN\\name or a SID)",
       RunLocalGroupCommand},
      {"acl",
       "acl PATH | acl --reg KEY [/reg:32|/reg:64]   owner, flags and DACL (PATH: Windows path, or POSIX = Z:)\n"
       "  acl set PATH SDDL   acl --reg set KEY SDDL [/reg:32]   (a DACL with P is set protected)",
       RunAclCommand},
      {"dcom",
       "dcom                      the machine-wide DCOM descriptors (HKLM\\SOFTWARE\\Microsoft\\Ole) as SDDL and COM rights\n"
       "  dcom set NAME SDDL   dcom delete NAME   dcom appid [ID]   (the DCOM applications under HKCR\\AppID)",
       RunDcomCommand},
      {"sign", "sign [--verify] FILE       write or check the checksum of a security file (Windows or POSIX path)",
       RunSignCommand},
      {"wua",
       "wua                       automatic updates: state, time of the last change, update agent\n"
       "  wua pause|resume   wua set-mode present|absent|failing",
       RunWuaCommand},
      {"services",
       "services [NAME]           services: state, start type, check point, wait hint (one in detail)\n"
       "  services set NAME [--start auto|manual|disabled] [--state running|stopped|paused]\n"
       "                    [--behaviour normal|stuck-start|fail-start|stuck-stop]",
       RunServicesCommand},
      {"firewall",
       "firewall                  the firewall's rules (before Windows 6.0: inbound echo, applications, ports, services)\n"
       "  firewall enable|disable|delete NAME   (every rule of that name)\n"
       "  firewall set profile-failures N|always   (get_CurrentProfile fails the next N times; 0: never)",
       RunFirewallCommand},
      {"snapshot",
       "snapshot save NAME | snapshot list | snapshot delete NAME   keep the host's state under a name",
       RunSnapshotCommand},
      {"diff", "diff NAME [NAME2]         what changed since snapshot NAME (or from NAME to NAME2)", RunDiffCommand},
      {"help", "help                      this text", RunHelp},
  };
  return commands;
}

std::string Usage() {
  std::string text =
      "usage: tarvo-host [--json] COMMAND [ARGS]\n"
      "The host folder is $TARVO_HOST, else ${XDG_DATA_HOME:-$HOME/.local/share}/tarvo/host.\n"
      "Commands:\n";
  for (const Command& c : Commands()) text += std::string("  ") + c.synopsis + "\n";
  return text;
}

int RunHelp(CommandContext& c) {
  *c.out << Usage();
  return kExitOk;
}

// Takes `option` and the value after it out of the arguments; `value`
// stays unset when the option is not there.
bool TakeOption(std::vector<std::string>& args, std::string_view option, std::optional<std::string>* value,
                std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != option) continue;
    if (i + 1 >= args.size()) {
      *error = std::string(option) + " needs a value";
      return false;
    }
    *value = args[i + 1];
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    return true;
  }
  return true;
}

// As above, for an option with a default: `value` keeps it when the option is not there.
bool TakeOption(std::vector<std::string>& args, std::string_view option, std::string* value, std::string* error) {
  std::optional<std::string> given;
  if (!TakeOption(args, option, &given, error)) return false;
  if (given) *value = std::move(*given);
  return true;
}

bool TakeFlag(std::vector<std::string>& args, std::string_view flag) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == flag) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

std::string ProfileList() {
  std::string names;
  for (const host::Profile& p : host::AllProfiles()) names += (names.empty() ? "" : ", ") + p.name;
  return names;
}

size_t CharacterCount(std::string_view utf8) {
  size_t count = 0;
  for (size_t pos = 0; pos < utf8.size(); ++count) text::NextCodePoint(utf8, pos);
  return count;
}

// Whether `name` is one of the names a new host gives its own accounts or
// well-known SIDs; a user of that name would make lookups by name ambiguous.
bool IsTakenAccountName(std::string_view name, const host::Profile& profile, host::AccountLanguage language) {
  const std::string folded = host::FoldAccountName(name);
  auto same = [&](const char* english, const char* german) {
    return host::FoldAccountName(host::InLanguage(language, english, german)) == folded;
  };
  for (const host::WellKnownAccount& a : host::WellKnownAccounts()) {
    if (host::AvailableOn(a.since, profile) && same(a.english, a.german)) return true;
  }
  for (const host::BuiltinAliasDef& a : host::BuiltinAliases()) {
    if (host::AvailableOn(a.since, profile) && same(a.english, a.german)) return true;
  }
  for (const host::BuiltinDomainAccountDef& a : host::BuiltinDomainAccounts()) {
    if (same(a.english, a.german)) return true;
  }
  return false;
}

// Why `name` cannot be the host user's name, or "" when it can. Windows
// refuses these names, and the host would quietly change some of them, so a
// script asking for a name gets exactly that name or an error.
std::string UserNameProblem(std::string_view name, const host::Profile& profile, std::string_view language) {
  constexpr size_t kMaxUserName = 20;  // characters on Windows; the host keeps as many bytes
  constexpr std::string_view kForbidden = "\"/\\[]:|<>+=;?*,@";
  const std::string quoted = "'" + std::string(name) + "'";
  if (name.empty()) return "the user name is empty";
  if (CharacterCount(name) > kMaxUserName) return quoted + " is longer than the 20 characters of a user name";
  if (name.size() > kMaxUserName) {
    return quoted + " is longer than the 20 bytes of UTF-8 the host keeps of a user name";
  }
  bool onlyDotsAndSpaces = true;
  for (unsigned char ch : name) {
    if (ch < 32 || kForbidden.find(static_cast<char>(ch)) != std::string_view::npos) {
      return quoted + " holds a character a user name may not hold (control characters and " +
             std::string(kForbidden) + ")";
    }
    if (ch != '.' && ch != ' ') onlyDotsAndSpaces = false;
  }
  if (onlyDotsAndSpaces) return quoted + " holds only dots and spaces";
  if (IsTakenAccountName(name, profile, host::AccountLanguageOf(language))) {
    return quoted + " is the name of a built-in account or group of the host";
  }
  return "";
}

int RunInit(CommandContext& c) {
  host::CreateOptions create;
  std::optional<std::string> user;
  std::string error;
  if (!TakeOption(c.args, "--profile", &create.profile, &error) ||
      !TakeOption(c.args, "--lang", &create.language, &error) ||
      !TakeOption(c.args, "--clock", &create.clock, &error) || !TakeOption(c.args, "--user", &user, &error)) {
    return c.Fail(error);
  }
  const bool force = TakeFlag(c.args, "--force");
  create.userIsAdmin = !TakeFlag(c.args, "--not-admin");
  if (!c.args.empty()) return c.Fail("init: unexpected argument '" + c.args[0] + "'");
  const host::Profile* profile = host::FindProfile(create.profile);
  if (!profile) return c.Fail("unknown profile '" + create.profile + "' (known: " + ProfileList() + ")");
  if (user) {
    if (std::string problem = UserNameProblem(*user, *profile, create.language); !problem.empty()) {
      return c.Fail("init: --user: " + problem);
    }
    create.userName = *user;
  }
  auto made = host::Host::Create(c.hostFolder, create, force, host::OpenOptions{false}, &error);
  if (!made) return c.Fail(error);
  *c.out << "Created host " << made->Folder() << " (" << create.profile << ", " << create.language << ", user "
         << made->Identity().userName << ")\n";
  return kExitOk;
}

std::string TimeText(const plat::SystemTime& t) {
  return text::Format("%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

int RunShow(CommandContext& c) {
  if (!c.args.empty()) return c.Fail("show: unexpected argument '" + c.args[0] + "'");
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  const host::Profile& p = h->ProfileDef();
  const host::MachineIdentity& id = h->Identity();
  const host::KnownFolders& f = h->SystemImpl().Folders();
  const std::string version = text::Format("%u.%u.%u", p.major, p.minor, p.build);
  const std::string clock = h->SystemImpl().VirtualClock() ? "virtual" : "real";
  const std::string now = TimeText(h->System().LocalTime());
  if (c.json) {
    JsonWriter j;
    j.BeginObject()
        .Field("host", h->Folder())
        .Field("profile", p.name)
        .Field("product", p.productName)
        .Field("version", version)
        .Field("servicePack", p.csdVersion)
        .Field("bits", static_cast<int64_t>(p.is64Bit ? 64 : 32))
        .Field("server", p.productType != plat::kVerNtWorkstation)
        .Field("language", id.language)
        .Field("computerName", id.computerName)
        .Field("user", id.userName)
        .Field("userSid", h->UserSid())
        .Field("administrator", id.userIsAdmin)
        .Field("domainSid", h->DomainSid())
        .Field("clock", clock)
        .Field("localTime", now)
        .Key("folders")
        .BeginObject()
        .Field("windows", f.windows)
        .Field("programFiles", f.programFiles)
        .Field("programFilesX86", f.programFilesX86)
        .Field("commonAppData", f.commonAppData)
        .Field("temp", f.temp + "\\")
        .EndObject()
        .EndObject();
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  *c.out << "Host:          " << h->Folder() << "\n"
         << "Profile:       " << p.name << " - " << p.productName << ", " << version
         << (p.csdVersion.empty() ? "" : " " + p.csdVersion) << ", " << (p.is64Bit ? "64-bit" : "32-bit")
         << (p.productType == plat::kVerNtWorkstation ? " workstation" : " server") << "\n"
         << "Language:      " << id.language << " (" << host::LanguageId(id.language) << ")\n"
         << "Computer:      " << id.computerName << "\n"
         << "User:          " << id.userName << (id.userIsAdmin ? " (administrator)" : " (standard user)") << "  "
         << h->UserSid() << "\n"
         << "Domain SID:    " << h->DomainSid() << "\n"
         << "Clock:         " << clock << ", now " << now << "\n"
         << "Windows:       " << f.windows << "\n"
         << "Program Files: " << f.programFiles << (p.is64Bit ? "  and  " + f.programFilesX86 : "") << "\n"
         << "ProgramData:   " << f.commonAppData << "\n"
         << "Temp:          " << f.temp << "\\\n"
         << "Drive C:       " << h->Folder() << "/drive_c\n";
  return kExitOk;
}

}  // namespace

host::Host* CommandContext::OpenHost() {
  if (host_) return host_.get();
  std::string error;
  host_ = host::Host::Open(hostFolder, host::OpenOptions{false}, &error);
  if (!host_) {
    Fail("cannot open the host: " + error, kExitNoHost);
    return nullptr;
  }
  plat::Install(host_.get());
  return host_.get();
}

void CommandContext::Note(const std::string& message) { *err << "tarvo-host: " << message << "\n"; }

int CommandContext::Fail(const std::string& message, int code) {
  Note(message);
  return code;
}

int RunHostTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandContext context;
  context.out = &out;
  context.err = &err;
  context.hostFolder = host::Host::DefaultFolder();
  std::vector<std::string> rest;
  for (const std::string& a : args) {
    if (a == "--json") {
      context.json = true;
    } else {
      rest.push_back(a);
    }
  }
  if (rest.empty()) {
    err << Usage();
    return kExitBadCall;
  }
  const std::string name = rest[0];
  context.args.assign(rest.begin() + 1, rest.end());
  for (const Command& command : Commands()) {
    if (name == command.name) {
      const int code = command.run(context);
      plat::Install(nullptr);
      return code;
    }
  }
  err << "tarvo-host: unknown command '" << name << "'\n" << Usage();
  return kExitBadCall;
}

}  // namespace hosttool
