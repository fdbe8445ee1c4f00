// tarvo-host services: the host's services with their configuration and
// running state as the service control manager reports them, and setting a
// service's start type, state and behaviour to prepare a host for a run or
// a test (as the machine's owner would, whoever the host's user is).
#include <ostream>

#include "platform/text/Text.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {
namespace {

std::string TypeName(uint32_t type) {
  const uint32_t base = type & ~plat::kServiceInteractiveProcess;
  std::string name = base == plat::kServiceWin32OwnProcess     ? "own process"
                     : base == plat::kServiceWin32ShareProcess ? "share process"
                     : base == plat::kServiceKernelDriver      ? "kernel driver"
                     : base == plat::kServiceFileSystemDriver  ? "file system driver"
                                                               : text::Format("0x%x", type);
  return (type & plat::kServiceInteractiveProcess) ? name + ", interactive" : name;
}

void WriteJson(JsonWriter& j, const host::ServiceRecord& s) {
  j.BeginObject()
      .Field("name", s.name)
      .Field("displayName", s.config.displayName)
      .Field("type", static_cast<int64_t>(s.config.serviceType))
      .Field("startType", host::StartTypeName(s.config.startType))
      .Field("state", host::ServiceStateName(s.status.currentState))
      .Field("checkPoint", static_cast<int64_t>(s.status.checkPoint))
      .Field("waitHint", static_cast<int64_t>(s.status.waitHint))
      .Field("exitCode", static_cast<int64_t>(s.status.win32ExitCode))
      .Field("processId", static_cast<int64_t>(s.status.processId))
      .Field("behaviour", s.behaviour)
      .EndObject();
}

void ShowList(CommandContext& c, const std::vector<host::ServiceRecord>& services) {
  if (c.json) {
    JsonWriter j;
    j.BeginArray();
    for (const host::ServiceRecord& s : services) WriteJson(j, s);
    j.EndArray();
    *c.out << j.Text() << "\n";
    return;
  }
  *c.out << text::Format("%-14s %-14s %-9s %-14s %5s %9s  %s\n", "NAME", "STATE", "START", "TYPE", "CHECK",
                         "WAIT HINT", "DISPLAY NAME");
  for (const host::ServiceRecord& s : services) {
    *c.out << text::Format("%-14s %-14s %-9s %-14s %5u %9u  %s\n", s.name.c_str(),
                           host::ServiceStateName(s.status.currentState).c_str(),
                           host::StartTypeName(s.config.startType).c_str(), TypeName(s.config.serviceType).c_str(),
                           s.status.checkPoint, s.status.waitHint, s.config.displayName.c_str());
  }
}

void ShowOne(CommandContext& c, const host::ServiceRecord& s) {
  if (c.json) {
    JsonWriter j;
    WriteJson(j, s);
    *c.out << j.Text() << "\n";
    return;
  }
  std::string dependencies;
  for (const std::string& name : text::SplitNonEmpty(s.config.dependencies, std::string_view("\0", 1))) {
    dependencies += (dependencies.empty() ? "" : ", ") + name;
  }
  *c.out << "Name:          " << s.name << "\n"
         << "Display name:  " << s.config.displayName << "\n"
         << "Type:          " << TypeName(s.config.serviceType) << "\n"
         << "Start type:    " << host::StartTypeName(s.config.startType) << "\n"
         << "State:         " << host::ServiceStateName(s.status.currentState) << "\n"
         << "Check point:   " << s.status.checkPoint << "\n"
         << "Wait hint:     " << s.status.waitHint << "\n"
         << "Exit code:     " << s.status.win32ExitCode << "\n"
         << "Process id:    " << s.status.processId << "\n"
         << "Behaviour:     " << s.behaviour << "\n"
         << "Image path:    " << s.config.binaryPathName << "\n"
         << "Account:       " << s.config.serviceStartName << "\n"
         << "Depends on:    " << dependencies << "\n"
         << "Registry:      HKLM\\" << host::ServiceKeyPath(s.name) << "\n";
}

// What "services set" is asked to change; empty fields stay as they are.
struct Settings {
  std::string start, state, behaviour;
};

bool ParseSettings(CommandContext& c, Settings* settings) {
  for (size_t i = 2; i < c.args.size(); i += 2) {
    const std::string& option = c.args[i];
    std::string* field = option == "--start"       ? &settings->start
                         : option == "--state"     ? &settings->state
                         : option == "--behaviour" ? &settings->behaviour
                                                   : nullptr;
    if (!field) {
      c.Fail("services set: unexpected argument '" + option + "'");
      return false;
    }
    if (i + 1 >= c.args.size()) {
      c.Fail("services set: " + option + " needs a value");
      return false;
    }
    *field = c.args[i + 1];
  }
  if (settings->start.empty() && settings->state.empty() && settings->behaviour.empty()) {
    c.Fail("services set: nothing to set (use --start, --state or --behaviour)");
    return false;
  }
  return true;
}

// The number of a start type or state name; 0 for an unknown name.
uint32_t StartTypeOf(const std::string& name) {
  if (name == "auto") return plat::kServiceAutoStart;
  if (name == "manual") return plat::kServiceDemandStart;
  if (name == "disabled") return plat::kServiceDisabled;
  return 0;
}

uint32_t StateOf(const std::string& name) {
  if (name == "running") return plat::kServiceRunning;
  if (name == "stopped") return plat::kServiceStopped;
  if (name == "paused") return plat::kServicePaused;
  return 0;
}

int RunSet(CommandContext& c, host::HostServices& services) {
  Settings settings;
  if (!ParseSettings(c, &settings)) return kExitBadCall;
  const std::string& name = c.args[1];
  const uint32_t startType = StartTypeOf(settings.start);
  const uint32_t state = StateOf(settings.state);
  if (!settings.start.empty() && startType == 0) {
    return c.Fail("services set: unknown start type '" + settings.start + "' (use auto, manual or disabled)");
  }
  if (!settings.state.empty() && state == 0) {
    return c.Fail("services set: unknown state '" + settings.state + "' (use running, stopped or paused)");
  }
  if (!settings.behaviour.empty() && !host::IsServiceBehaviour(settings.behaviour)) {
    return c.Fail("services set: unknown behaviour '" + settings.behaviour +
                  "' (use normal, stuck-start, fail-start or stuck-stop)");
  }
  if (!services.Find(name)) return c.Fail("services set: no service '" + name + "'");
  if (startType) services.SetStartType(name, startType);
  if (state) services.SetState(name, state);
  if (!settings.behaviour.empty()) services.SetBehaviour(name, settings.behaviour);
  ShowOne(c, *services.Find(name));
  return kExitOk;
}

int RunServices(CommandContext& c) {
  const bool set = !c.args.empty() && c.args[0] == "set";
  if (set && c.args.size() < 2) return c.Fail("services set: a service name is needed");
  if (!set && c.args.size() > 1) return c.Fail("services: unexpected argument '" + c.args[1] + "'");
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  try {
    host::HostServices& services = h->Services();
    if (set) return RunSet(c, services);
    if (c.args.empty()) {
      ShowList(c, services.List());
      return kExitOk;
    }
    const std::optional<host::ServiceRecord> service = services.Find(c.args[0]);
    if (!service) return c.Fail("services: no service '" + c.args[0] + "'");
    ShowOne(c, *service);
    return kExitOk;
  } catch (const host::DbError& e) {
    return c.Fail("services: the host database failed: " + e.message);
  }
}

}  // namespace

int RunServicesCommand(CommandContext& context) { return RunServices(context); }

}  // namespace hosttool
