// Snapshots and diffs of a simulated host's observable state, so a person or
// a test sees at a glance what a run changed. The state is a list of
// sections (registry, security descriptors, accounts, automatic updates,
// the folders and files of drive C ...),
// each turning one part of the host into keyed text rows; one generic routine
// diffs two row lists. A later service adds its section to StateSections()
// and needs nothing else. Snapshots are row lists kept in host.db (tables
// snapshot and snapshot_row), each saved in one transaction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class Host;

// One fact of the host. (kind, path, name) identifies it; the value is text
// that differs whenever the fact does, so comparing texts compares facts.
struct StateRow {
  std::string kind;   // "key", "reg", "acl", "user", "group", "wua", "service", "folder", "file" ...
  std::string path;   // the object: "HKLM\SOFTWARE\X", "C:\Data", "Operators"
  std::string name;   // a part of the object (a value name, "member X\y"); may be empty
  std::string value;  // may be empty
};

enum class ChangeOp { kAdded, kRemoved, kChanged };

struct StateChange {
  ChangeOp op = ChangeOp::kChanged;
  std::string kind;
  std::string path;
  std::string name;
  std::optional<std::string> before;  // none when added
  std::optional<std::string> after;   // none when removed
};

// A part of the host's state and how changes of its rows read.
struct StateSection {
  std::string_view name;
  std::vector<std::string_view> kinds;  // the row kinds it produces
  // Appends the section's rows; throws DbError.
  void (*collect)(Host& host, std::vector<StateRow>* rows) = nullptr;
  // Optional: rewrites a change into what its text line shows (leaves out
  // what did not change, names things the way people do). The JSON form
  // always carries the stored values.
  void (*describe)(StateChange* shown) = nullptr;
};

const std::vector<StateSection>& StateSections();

// The current state, every section's rows; throws DbError.
std::vector<StateRow> CollectState(Host& host);

// Whether `rows` hold the folders and files of drive C (a file's value is
// its size and a hash of its content). Snapshots stored before files were
// recorded do not; compared with rows that do, every file would read as
// added or removed, so a diff drops the file rows of both sides first.
bool HoldsFiles(const std::vector<StateRow>& rows);
void DropFileRows(std::vector<StateRow>* rows);

// What changed from `before` to `after`, ordered by kind, then path (a key
// before its subkeys, ASCII case ignored), then name.
std::vector<StateChange> DiffState(std::vector<StateRow> before, std::vector<StateRow> after);

// "+ reg  HKLM\X  Name = REG_SZ "v"", "~ reg  HKLM\X  Count: REG_DWORD 1 -> 2".
std::string ChangeLine(const StateChange& change);
// "+", "-", "~" and "added", "removed", "changed".
std::string_view ChangeSymbol(ChangeOp op);
std::string_view ChangeOpName(ChangeOp op);

// ---- Snapshots -------------------------------------------------------------

enum class SnapshotResult { kOk, kBadName, kExists, kNotFound };

struct SnapshotInfo {
  std::string name;
  std::string taken;  // host clock, "YYYY-MM-DD hh:mm:ss"
  int64_t rows = 0;
};

// 1 to 64 characters of A-Z a-z 0-9 . _ -, not starting with '-' or '.'.
bool IsValidSnapshotName(std::string_view name);

// Stores the current state under `name`; kExists leaves the older snapshot
// as it is. All of these throw DbError when host.db fails.
SnapshotResult SaveSnapshot(Host& host, std::string_view name);
SnapshotResult DeleteSnapshot(Host& host, std::string_view name);
SnapshotResult LoadSnapshot(Host& host, std::string_view name, std::vector<StateRow>* rows);
// By name.
std::vector<SnapshotInfo> ListSnapshots(Host& host);

// The text a registry value shows: its type, then the data as a string,
// number or bytes; data that does not fit its type (a string without its
// NUL, a DWORD of 3 bytes) shows as "hex:" bytes, so distinct data never
// reads the same.
std::string RegistryValueText(uint32_t type, std::string_view data);

}  // namespace host
