// tarvo-host dcom: the machine-wide DCOM descriptors under
// HKLM\SOFTWARE\Microsoft\Ole and the DCOM applications under HKCR\AppID,
// each descriptor as SDDL and one line per ACE with the COM rights named.
// The values are read and written through the Registry service, so what is
// shown is what the program itself would see.
#include <array>
#include <optional>
#include <ostream>

#include "platform/WinError.h"
#include "platform/host/HostSnapshot.h"
#include "platform/text/Text.h"
#include "platform/winsec/Sddl.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {
namespace {

constexpr const char* kOleKey = "SOFTWARE\\Microsoft\\Ole";
constexpr const char* kAppIdKey = "AppID";
constexpr std::array<const char*, 4> kMachineValues = {"DefaultLaunchPermission", "DefaultAccessPermission",
                                                       "MachineLaunchRestriction", "MachineAccessRestriction"};
constexpr std::array<const char*, 2> kAppIdDescriptors = {"LaunchPermission", "AccessPermission"};

// A descriptor value as stored: absent, not a descriptor, or one.
struct DescriptorValue {
  std::string name;
  bool present = false;
  std::string problem;  // why a present value is no valid descriptor
  winsec::SecurityDescriptor sd;
};

bool IsLaunchValue(std::string_view name) { return name.find("Launch") != std::string_view::npos; }

// "LocalLaunch, LocalActivation": the COM rights of a mask; execute is named
// only when it stands alone, and bits COM does not use show as hex.
std::string ComRightsText(uint32_t mask, bool launch) {
  struct Bit {
    uint32_t bit;
    const char* name;
  };
  static constexpr Bit kLaunch[] = {{0x2, "LocalLaunch"}, {0x4, "RemoteLaunch"}, {0x8, "LocalActivation"},
                                    {0x10, "RemoteActivation"}};
  static constexpr Bit kAccess[] = {{0x2, "LocalAccess"}, {0x4, "RemoteAccess"}};
  std::string out;
  uint32_t rest = mask & ~0x1u;
  for (const Bit& bit : launch ? std::span<const Bit>(kLaunch) : std::span<const Bit>(kAccess)) {
    if ((mask & bit.bit) == 0) continue;
    out += (out.empty() ? "" : ", ") + std::string(bit.name);
    rest &= ~bit.bit;
  }
  if (rest != 0) out += (out.empty() ? "" : ", ") + text::Format("0x%x", rest);
  if (out.empty()) out = (mask & 0x1) ? "Execute" : "(none)";
  return out;
}

std::string AccountText(plat::ISecurity& security, const winsec::Sid& sid) {
  plat::AccountName account;
  if (security.LookupAccountSid("", sid, &account) != winerr::kSuccess) return sid.ToString();
  return account.domain.empty() ? account.name : account.domain + "\\" + account.name;
}

const char* AceTypeName(uint8_t type) {
  switch (type) {
    case winsec::kAccessAllowedAceType: return "allow";
    case winsec::kAccessDeniedAceType: return "deny";
    default: return "other";
  }
}

winsec::SddlDomains DomainsOf(host::Host& h) {
  winsec::SddlDomains domains;
  winsec::Sid machine;
  if (winsec::Sid::FromString(h.DomainSid(), &machine) == winerr::kSuccess) domains.machine = machine;
  return domains;
}

DescriptorValue ReadDescriptor(plat::IRegistry& registry, plat::HKey key, const std::string& name) {
  DescriptorValue result;
  result.name = name;
  plat::RegValue value;
  if (key == plat::kNullKey || registry.QueryValue(key, name, &value) != winerr::kSuccess) return result;
  result.present = true;
  if (value.type != plat::kRegBinary) {
    result.problem = "not REG_BINARY: " + host::RegistryValueText(value.type, value.data);
  } else if (winsec::SecurityDescriptor::FromSelfRelative(winsec::AsBytes(value.data), &result.sd) != 0) {
    result.problem = text::Format("not a valid self-relative security descriptor (%zu bytes)", value.data.size());
  }
  return result;
}

std::string SddlOf(host::Host& h, const winsec::SecurityDescriptor& sd) {
  std::string sddl;
  if (winsec::SecurityDescriptorToSddl(sd, winsec::kAllSddlSecurityInformation, &sddl, DomainsOf(h)) != 0) {
    return "(cannot be written as SDDL)";
  }
  return sddl;
}

void WriteDescriptorText(CommandContext& c, host::Host& h, const DescriptorValue& value, const char* absentText,
                         const std::string& indent = "") {
  std::ostream& out = *c.out;
  out << indent << value.name << "\n";
  if (!value.present) {
    out << indent << "  " << absentText << "\n";
    return;
  }
  if (!value.problem.empty()) {
    out << indent << "  INVALID: " << value.problem << "\n";
    return;
  }
  out << indent << "  SDDL: " << SddlOf(h, value.sd) << "\n";
  if (value.sd.HasNullDacl()) out << indent << "  NULL DACL (everyone has every right)\n";
  if (!value.sd.DaclPresent()) out << indent << "  no DACL\n";
  if (const winsec::Acl* dacl = value.sd.Dacl()) {
    for (const winsec::Ace& ace : dacl->Aces()) {
      if (!ace.IsAccessAce()) {
        out << indent << text::Format("  other  (ACE type %u)\n", ace.type);
        continue;
      }
      out << indent << text::Format("  %-5s  %s  %s\n", AceTypeName(ace.type), AccountText(h.Security(), ace.sid).c_str(),
                          ComRightsText(ace.mask, IsLaunchValue(value.name)).c_str());
    }
  }
}

void WriteDescriptorJson(JsonWriter& j, host::Host& h, const DescriptorValue& value) {
  j.BeginObject().Field("name", value.name).Field("set", value.present);
  if (value.present) j.Field("valid", value.problem.empty());
  if (!value.problem.empty()) j.Field("problem", value.problem);
  if (value.present && value.problem.empty()) {
    j.Field("sddl", SddlOf(h, value.sd)).Field("nullDacl", value.sd.HasNullDacl()).Key("dacl").BeginArray();
    if (const winsec::Acl* dacl = value.sd.Dacl()) {
      for (const winsec::Ace& ace : dacl->Aces()) {
        j.BeginObject().Field("type", AceTypeName(ace.type));
        if (ace.IsAccessAce()) {
          j.Field("sid", ace.sid.ToString())
              .Field("account", AccountText(h.Security(), ace.sid))
              .Field("mask", static_cast<int64_t>(ace.mask))
              .Field("rights", ComRightsText(ace.mask, IsLaunchValue(value.name)));
        }
        j.EndObject();
      }
    }
    j.EndArray();
  }
  j.EndObject();
}

// ---- Machine-wide values ---------------------------------------------------------

const char* MachineValueName(std::string_view given) {
  for (const char* name : kMachineValues) {
    if (text::EqualsNoCase(given, name)) return name;
  }
  return nullptr;
}

std::string MachineValueList() {
  std::string names;
  for (const char* name : kMachineValues) names += (names.empty() ? "" : ", ") + std::string(name);
  return names;
}

int ShowMachineValues(CommandContext& c, host::Host& h) {
  plat::IRegistry& registry = h.Registry();
  plat::HKey key = plat::kNullKey;
  if (registry.OpenKey(plat::kHkeyLocalMachine, kOleKey, plat::kKeyRead, &key) != winerr::kSuccess) key = plat::kNullKey;
  std::vector<DescriptorValue> values;
  for (const char* name : kMachineValues) values.push_back(ReadDescriptor(registry, key, name));
  if (key != plat::kNullKey) registry.CloseKey(key);
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Key("values").BeginArray();
    for (const DescriptorValue& value : values) WriteDescriptorJson(j, h, value);
    j.EndArray().EndObject();
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  for (const DescriptorValue& value : values) WriteDescriptorText(c, h, value, "(not set: system default)");
  return kExitOk;
}

int ChangeMachineValue(CommandContext& c, host::Host& h, const std::vector<std::string>& args) {
  const bool set = args[0] == "set";
  if (args.size() != (set ? 3u : 2u)) {
    return c.Fail(set ? "dcom set: NAME and SDDL are needed" : "dcom delete: NAME is needed");
  }
  const char* name = MachineValueName(args[1]);
  if (name == nullptr) return c.Fail("dcom: '" + args[1] + "' is none of " + MachineValueList());
  plat::IRegistry& registry = h.Registry();
  plat::HKey key = plat::kNullKey;
  bool created = false;
  if (const uint32_t rc = registry.CreateKey(plat::kHkeyLocalMachine, kOleKey, plat::kKeyAllAccess, &key, &created)) {
    return c.Fail(text::Format("dcom: HKLM\\%s cannot be opened (error %u)", kOleKey, rc));
  }
  uint32_t rc = winerr::kSuccess;
  if (set) {
    winsec::SecurityDescriptor sd;
    winsec::Bytes bytes;
    rc = winsec::SecurityDescriptorFromSddl(args[2], &sd, DomainsOf(h));
    if (rc != winerr::kSuccess || sd.ToSelfRelative(&bytes) != winerr::kSuccess) {
      registry.CloseKey(key);
      return c.Fail(text::Format("dcom set: not a valid SDDL descriptor (error %u): ", rc) + args[2]);
    }
    rc = registry.SetValue(key, name, plat::kRegBinary, winsec::ToByteString(bytes));
  } else {
    rc = registry.DeleteValue(key, name);
  }
  registry.CloseKey(key);
  if (rc == winerr::kFileNotFound) return c.Fail(std::string("dcom delete: ") + name + " is not set");
  if (rc != winerr::kSuccess) return c.Fail(text::Format("dcom: %s cannot be changed (error %u)", name, rc));
  *c.out << (set ? "Set " : "Deleted ") << name << "\n";
  return kExitOk;
}

// ---- Applications ------------------------------------------------------------------

struct AppIdValues {
  std::string id;
  std::vector<std::pair<std::string, std::string>> values;  // name, text (descriptors aside)
  std::vector<DescriptorValue> descriptors;
};

bool IsDescriptorValue(std::string_view name) {
  for (const char* descriptor : kAppIdDescriptors) {
    if (text::EqualsNoCase(name, descriptor)) return true;
  }
  return false;
}

std::optional<AppIdValues> ReadAppId(plat::IRegistry& registry, const std::string& id) {
  plat::HKey key = plat::kNullKey;
  if (registry.OpenKey(plat::kHkeyClassesRoot, std::string(kAppIdKey) + "\\" + id, plat::kKeyRead, &key) != 0) {
    return std::nullopt;
  }
  AppIdValues app;
  app.id = id;
  std::string name;
  plat::RegValue value;
  for (uint32_t index = 0; registry.EnumValue(key, index, &name, &value) == winerr::kSuccess; ++index) {
    if (IsDescriptorValue(name)) continue;
    app.values.emplace_back(name.empty() ? "(Default)" : name, host::RegistryValueText(value.type, value.data));
  }
  for (const char* descriptor : kAppIdDescriptors) app.descriptors.push_back(ReadDescriptor(registry, key, descriptor));
  registry.CloseKey(key);
  return app;
}

int ShowAppIds(CommandContext& c, host::Host& h, const std::vector<std::string>& args) {
  if (args.size() > 2) return c.Fail("dcom appid: unexpected argument '" + args[2] + "'");
  plat::IRegistry& registry = h.Registry();
  std::vector<std::string> ids;
  if (args.size() == 2) {
    ids.push_back(args[1]);
  } else {
    plat::HKey key = plat::kNullKey;
    if (registry.OpenKey(plat::kHkeyClassesRoot, kAppIdKey, plat::kKeyRead, &key) == winerr::kSuccess) {
      std::string name;
      for (uint32_t index = 0; registry.EnumKey(key, index, &name) == winerr::kSuccess; ++index) ids.push_back(name);
      registry.CloseKey(key);
    }
  }
  std::vector<AppIdValues> apps;
  for (const std::string& id : ids) {
    std::optional<AppIdValues> app = ReadAppId(registry, id);
    if (!app) return c.Fail("dcom appid: there is no AppID " + id);
    apps.push_back(std::move(*app));
  }
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Key("appids").BeginArray();
    for (const AppIdValues& app : apps) {
      j.BeginObject().Field("id", app.id).Key("values").BeginObject();
      for (const auto& [name, value] : app.values) j.Field(name, value);
      j.EndObject().Key("descriptors").BeginArray();
      for (const DescriptorValue& descriptor : app.descriptors) WriteDescriptorJson(j, h, descriptor);
      j.EndArray().EndObject();
    }
    j.EndArray().EndObject();
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  if (apps.empty()) *c.out << "No AppIDs.\n";
  for (const AppIdValues& app : apps) {
    *c.out << "AppID " << app.id << "\n";
    for (const auto& [name, value] : app.values) *c.out << "  " << name << " = " << value << "\n";
    for (const DescriptorValue& descriptor : app.descriptors) {
      WriteDescriptorText(c, h, descriptor, "(not set: the machine-wide default applies)", "  ");
    }
  }
  return kExitOk;
}

}  // namespace

int RunDcomCommand(CommandContext& c) {
  const std::vector<std::string>& args = c.args;
  const std::string action = args.empty() ? "" : args[0];
  if (!action.empty() && action != "set" && action != "delete" && action != "appid") {
    return c.Fail("dcom: unknown action '" + action + "' (use dcom, dcom set, dcom delete or dcom appid)");
  }
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  if (action.empty()) return ShowMachineValues(c, *h);
  if (action == "appid") return ShowAppIds(c, *h, args);
  return ChangeMachineValue(c, *h, args);
}

}  // namespace hosttool
