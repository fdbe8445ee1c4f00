// tarvo-host snapshot and diff: saving the observable state of a host under
// a name, listing and deleting saved states, and showing what changed
// between a saved state and the current one, or between two saved states,
// one line per change (or a JSON array for scripts).
#include <ostream>

#include "platform/host/HostSnapshot.h"
#include "platform/text/Text.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {
namespace {

using host::SnapshotResult;

int Save(CommandContext& c, host::Host& h, const std::string& name) {
  switch (host::SaveSnapshot(h, name)) {
    case SnapshotResult::kBadName:
      return c.Fail("snapshot save: '" + name + "' is no snapshot name (1 to 64 of A-Z a-z 0-9 . _ -)");
    case SnapshotResult::kExists:
      return c.Fail("snapshot save: a snapshot named '" + name + "' exists; delete it first");
    default: break;
  }
  for (const host::SnapshotInfo& info : host::ListSnapshots(h)) {
    if (info.name != name) continue;
    if (c.json) {
      JsonWriter j;
      j.BeginObject().Field("name", info.name).Field("taken", info.taken).Field("rows", info.rows).EndObject();
      *c.out << j.Text() << "\n";
    } else {
      *c.out << text::Format("Saved snapshot %s (%lld rows, %s)\n", info.name.c_str(),
                             static_cast<long long>(info.rows), info.taken.c_str());
    }
  }
  return kExitOk;
}

int List(CommandContext& c, host::Host& h) {
  const std::vector<host::SnapshotInfo> list = host::ListSnapshots(h);
  if (c.json) {
    JsonWriter j;
    j.BeginArray();
    for (const host::SnapshotInfo& info : list) {
      j.BeginObject().Field("name", info.name).Field("taken", info.taken).Field("rows", info.rows).EndObject();
    }
    j.EndArray();
    *c.out << j.Text() << "\n";
    return kExitOk;
  }
  if (list.empty()) *c.out << "No snapshots.\n";
  for (const host::SnapshotInfo& info : list) {
    *c.out << text::Format("%-20s  %s  %lld rows\n", info.name.c_str(), info.taken.c_str(),
                           static_cast<long long>(info.rows));
  }
  return kExitOk;
}

int Delete(CommandContext& c, host::Host& h, const std::string& name) {
  if (host::DeleteSnapshot(h, name) == SnapshotResult::kNotFound) {
    return c.Fail("snapshot delete: no snapshot named '" + name + "'");
  }
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Field("deleted", name).EndObject();
    *c.out << j.Text() << "\n";
  } else {
    *c.out << "Deleted snapshot " << name << "\n";
  }
  return kExitOk;
}

int RunSnapshot(CommandContext& c) {
  const std::vector<std::string>& args = c.args;
  const std::string action = args.empty() ? "" : args[0];
  const size_t expected = action == "list" ? 1 : 2;
  if (action != "save" && action != "list" && action != "delete") {
    return c.Fail("snapshot: use snapshot save NAME, snapshot list or snapshot delete NAME");
  }
  if (args.size() != expected) {
    return c.Fail(args.size() < expected ? "snapshot " + action + ": a snapshot name is needed"
                                         : "snapshot " + action + ": unexpected argument '" + args.back() + "'");
  }
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  try {
    if (action == "save") return Save(c, *h, args[1]);
    if (action == "delete") return Delete(c, *h, args[1]);
    return List(c, *h);
  } catch (const host::DbError& e) {
    return c.Fail("snapshot " + action + ": the host database failed: " + e.message);
  }
}

void WriteChangesJson(CommandContext& c, const std::vector<host::StateChange>& changes) {
  JsonWriter j;
  j.BeginArray();
  for (const host::StateChange& change : changes) {
    j.BeginObject()
        .Field("kind", change.kind)
        .Field("op", host::ChangeOpName(change.op))
        .Field("path", change.path)
        .Field("name", change.name);
    j.Key("before");
    change.before ? j.String(*change.before) : j.Null();
    j.Key("after");
    change.after ? j.String(*change.after) : j.Null();
    j.EndObject();
  }
  j.EndArray();
  *c.out << j.Text() << "\n";
}

bool Load(CommandContext& c, host::Host& h, const std::string& name, std::vector<host::StateRow>* rows) {
  if (host::LoadSnapshot(h, name, rows) == SnapshotResult::kOk) return true;
  c.Fail("diff: no snapshot named '" + name + "'");
  return false;
}

// Snapshots stored before files were recorded hold none; the file rows of
// both sides are then left out, and the output says so once: a line before
// the changes, or for JSON a note on the error stream.
void LeaveOutUnrecordedFiles(CommandContext& c, std::vector<host::StateRow>* before,
                             std::vector<host::StateRow>* after) {
  const bool beforeHas = host::HoldsFiles(*before);
  const bool afterHas = c.args.size() == 1 || host::HoldsFiles(*after);
  if (beforeHas && afterHas) return;
  host::DropFileRows(before);
  host::DropFileRows(after);
  const std::string names = !beforeHas && !afterHas ? "snapshots '" + c.args[0] + "' and '" + c.args[1] + "' were"
                            : "snapshot '" + c.args[beforeHas ? 1 : 0] + "' was";
  const std::string note = "Files not compared: " + names + " stored before snapshots recorded files.";
  if (c.json) {
    c.Note("diff: " + note);
  } else {
    *c.out << note << "\n";
  }
}

int RunDiff(CommandContext& c) {
  if (c.args.empty() || c.args.size() > 2) {
    return c.Fail("diff: use diff NAME (against the current state) or diff NAME1 NAME2");
  }
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  try {
    std::vector<host::StateRow> before, after;
    if (!Load(c, *h, c.args[0], &before)) return kExitBadCall;
    if (c.args.size() == 2) {
      if (!Load(c, *h, c.args[1], &after)) return kExitBadCall;
    } else {
      after = host::CollectState(*h);
    }
    LeaveOutUnrecordedFiles(c, &before, &after);
    const std::vector<host::StateChange> changes = host::DiffState(std::move(before), std::move(after));
    if (c.json) {
      WriteChangesJson(c, changes);
      return kExitOk;
    }
    if (changes.empty()) *c.out << "No changes.\n";
    for (const host::StateChange& change : changes) *c.out << host::ChangeLine(change) << "\n";
    return kExitOk;
  } catch (const host::DbError& e) {
    return c.Fail("diff: the host database failed: " + e.message);
  }
}

}  // namespace

int RunSnapshotCommand(CommandContext& context) { return RunSnapshot(context); }
int RunDiffCommand(CommandContext& context) { return RunDiff(context); }

}  // namespace hosttool
