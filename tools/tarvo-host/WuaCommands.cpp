// tarvo-host wua: the automatic-updates state of a host (paused or resumed,
// the time of the last change, the update agent's mode), pausing and resuming
// it through the AutomaticUpdates service as the program itself does, and
// switching the agent between present, absent and failing to try error paths.
#include <ostream>

#include "platform/text/Text.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {
namespace {

const char* ModeMeaning(const std::string& mode) {
  if (mode == host::kWuaAbsent) return "absent: instantiation fails with REGDB_E_CLASSNOTREG";
  if (mode == host::kWuaFailing) return "failing: pause and resume fail with WU_E_NO_SERVICE";
  return "present";
}

int ShowState(CommandContext& c, host::HostAutomaticUpdates& updates) {
  const host::AutomaticUpdatesState state = updates.State();
  const char* word = state.paused ? "paused" : "resumed";
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Field("state", word).Field("changed", state.changed).Field("mode", state.mode).EndObject();
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  *c.out << "Automatic updates: " << word << "\n"
         << "Last change:       " << (state.changed.empty() ? "never" : state.changed) << "\n"
         << "Update agent:      " << ModeMeaning(state.mode) << "\n";
  return kExitOk;
}

// Creates the instance, then pauses or resumes, as a caller on Windows does.
int Apply(CommandContext& c, host::HostAutomaticUpdates& updates, bool pause) {
  const char* verb = pause ? "pause" : "resume";
  if (uint32_t rc = updates.CreateInstance()) {
    return c.Fail(text::Format("wua %s: the update agent cannot be instantiated (HRESULT 0x%08X)", verb, rc));
  }
  if (uint32_t rc = pause ? updates.Pause() : updates.Resume()) {
    return c.Fail(text::Format("wua %s: the update agent refused (HRESULT 0x%08X)", verb, rc));
  }
  return ShowState(c, updates);
}

int SetMode(CommandContext& c, host::HostAutomaticUpdates& updates, const std::string& mode) {
  if (!updates.SetMode(mode)) {
    return c.Fail("wua set-mode: unknown mode '" + mode + "' (use present, absent or failing)");
  }
  return ShowState(c, updates);
}

int RunWua(CommandContext& c) {
  const std::vector<std::string>& args = c.args;
  const std::string action = args.empty() ? "" : args[0];
  const size_t expected = action == "set-mode" ? 2 : action.empty() ? 0 : 1;
  if (action != "" && action != "pause" && action != "resume" && action != "set-mode") {
    return c.Fail("wua: unknown action '" + action + "' (use pause, resume or set-mode)");
  }
  if (args.size() != expected) {
    return c.Fail(action == "set-mode" ? "wua set-mode: one mode is needed (present, absent or failing)"
                                       : "wua: unexpected argument '" + args.back() + "'");
  }
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  try {
    host::HostAutomaticUpdates& updates = h->AutomaticUpdates();
    if (action == "set-mode") return SetMode(c, updates, args[1]);
    if (action.empty()) return ShowState(c, updates);
    return Apply(c, updates, action == "pause");
  } catch (const host::DbError& e) {
    return c.Fail("wua: the host database failed: " + e.message);
  }
}

}  // namespace

int RunWuaCommand(CommandContext& context) { return RunWua(context); }

}  // namespace hosttool
