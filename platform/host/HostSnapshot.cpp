#include "platform/host/HostSnapshot.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "platform/Registry.h"
#include "platform/host/AccountDirectory.h"
#include "platform/host/FileSecurity.h"
#include "platform/host/Host.h"
#include "platform/host/KeySecurity.h"
#include "platform/text/Text.h"
#include "platform/winsec/Sddl.h"

namespace host {
namespace {

// ---- Registry values as text -----------------------------------------------

std::string TypeName(uint32_t type) {
  switch (type) {
    case plat::kRegNone: return "REG_NONE";
    case plat::kRegSz: return "REG_SZ";
    case plat::kRegExpandSz: return "REG_EXPAND_SZ";
    case plat::kRegBinary: return "REG_BINARY";
    case plat::kRegDword: return "REG_DWORD";
    case plat::kRegDwordBigEndian: return "REG_DWORD_BIG_ENDIAN";
    case plat::kRegLink: return "REG_LINK";
    case plat::kRegMultiSz: return "REG_MULTI_SZ";
    case 8: return "REG_RESOURCE_LIST";
    case 9: return "REG_FULL_RESOURCE_DESCRIPTOR";
    case 10: return "REG_RESOURCE_REQUIREMENTS_LIST";
    case plat::kRegQword: return "REG_QWORD";
    default: return text::Format("REG_TYPE_0x%x", type);
  }
}

std::string HexBytes(std::string_view data) {
  if (data.empty()) return "(empty)";
  std::string out;
  for (unsigned char c : data) out += text::Format(out.empty() ? "%02x" : " %02x", c);
  return out;
}

// The strings of UTF-16LE data holding `count` NUL-terminated strings, or
// none when the bytes are not exactly that (odd length, missing NUL, a lone
// surrogate, or control characters that would break the line).
std::optional<std::vector<std::string>> Utf16Strings(std::string_view data) {
  if (data.size() % 2 != 0) return std::nullopt;
  const std::u16string units = text::Utf16LeBytesToUtf16(data);
  std::vector<std::string> strings;
  size_t start = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    if (units[i] != u'\0') continue;
    strings.push_back(text::Utf16ToUtf8(std::u16string_view(units).substr(start, i - start)));
    start = i + 1;
  }
  if (start != units.size()) return std::nullopt;  // no terminating NUL
  for (const std::string& s : strings) {
    for (unsigned char c : s) {
      if (c < 0x20 || c == 0x7f) return std::nullopt;
    }
  }
  // Only data that re-encodes to itself reads as strings (no lone surrogates).
  std::u16string again;
  for (const std::string& s : strings) again += text::Utf8ToUtf16(s) + u'\0';
  if (text::Utf16ToUtf16LeBytes(again) != data) return std::nullopt;
  return strings;
}

std::string StringText(std::string_view data) {
  const auto strings = Utf16Strings(data);
  if (!strings || strings->size() != 1) return "hex: " + HexBytes(data);
  return "\"" + strings->front() + "\"";
}

// "a" "b"; a string holding a quote would read like two, so such lists show
// as bytes.
std::string MultiStringText(std::string_view data) {
  auto strings = Utf16Strings(data);
  if (!strings || strings->empty() || !strings->back().empty()) return "hex: " + HexBytes(data);
  strings->pop_back();  // the empty string that ends the list
  if (strings->empty()) return "(empty)";
  std::string out;
  for (const std::string& s : *strings) {
    if (s.empty() || s.find('"') != std::string::npos) return "hex: " + HexBytes(data);
    out += (out.empty() ? "\"" : " \"") + s + "\"";
  }
  return out;
}

std::string NumberText(std::string_view data, size_t width, bool bigEndian) {
  if (data.size() != width) return "hex: " + HexBytes(data);
  uint64_t n = 0;
  for (size_t i = 0; i < width; ++i) {
    const auto byte = static_cast<unsigned char>(data[bigEndian ? i : width - 1 - i]);
    n = (n << 8) | byte;
  }
  return std::to_string(n);
}

// ---- Rows of the registry --------------------------------------------------

// Every key's full physical path ("HKLM\SOFTWARE\Wow6432Node\X") by id.
std::map<int64_t, std::string> KeyPaths(HostDb& db) {
  std::map<int64_t, std::pair<int64_t, std::string>> keys;
  Statement st(db, "SELECT id, parent, name FROM reg_key");
  while (st.Step()) keys[st.Int(0)] = {st.Int(1), st.Text(2)};
  std::map<int64_t, std::string> paths;
  for (const auto& [id, key] : keys) {
    // Walk up to the root; the depth bound guards against a damaged table.
    std::vector<const std::string*> names;
    for (int64_t at = id; at != 0 && names.size() <= keys.size();) {
      const auto it = keys.find(at);
      if (it == keys.end()) break;
      names.push_back(&it->second.second);
      at = it->second.first;
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += (path.empty() ? "" : "\\") + **it;
    paths[id] = path;
  }
  return paths;
}

void CollectRegistry(Host& host, std::vector<StateRow>* rows) {
  const std::map<int64_t, std::string> paths = KeyPaths(host.Db());
  for (const auto& [id, path] : paths) rows->push_back({"key", path, "", ""});
  Statement st(host.Db(), "SELECT key, name, type, data FROM reg_value");
  while (st.Step()) {
    const auto key = paths.find(st.Int(0));
    if (key == paths.end()) continue;  // a value of no key is not visible
    rows->push_back({"reg", key->second, st.Text(1),
                     RegistryValueText(static_cast<uint32_t>(st.Int(2)), st.Blob(3))});
  }
}

// Whether a value of the key holds a DCOM security descriptor: the
// machine-wide ones under Ole and an application's under AppID.
bool IsDcomDescriptorKey(std::string_view path) {
  const std::string key = text::AsciiLower(path);
  return key.ends_with("\\microsoft\\ole") || key.find("\\classes\\appid\\") != std::string::npos;
}

// "REG_BINARY 01 00 04 80 ..." of a valid descriptor as "REG_BINARY O:BAG:BAD:(...)";
// any other text as it is.
std::string DescriptorValueText(const std::string& value) {
  constexpr std::string_view kPrefix = "REG_BINARY ";
  if (!value.starts_with(kPrefix)) return value;
  winsec::Bytes bytes;
  for (size_t at = kPrefix.size(); at < value.size(); at += 3) {
    const auto nibble = [](char c) { return c >= 'a' ? c - 'a' + 10 : c - '0'; };
    if (at + 1 >= value.size() || !std::isxdigit(static_cast<unsigned char>(value[at])) ||
        !std::isxdigit(static_cast<unsigned char>(value[at + 1]))) {
      return value;  // "(empty)"
    }
    bytes.push_back(static_cast<uint8_t>(nibble(value[at]) * 16 + nibble(value[at + 1])));
  }
  winsec::SecurityDescriptor sd;
  std::string sddl;
  if (winsec::SecurityDescriptor::FromSelfRelative(bytes, &sd) != 0 ||
      winsec::SecurityDescriptorToSddl(sd, winsec::kAllSddlSecurityInformation, &sddl) != 0) {
    return value;
  }
  return std::string(kPrefix) + sddl;
}

// The default value is "(Default)" as the registry editor names it; a
// change of data keeps its type once, before the arrow. DCOM descriptors
// read as SDDL.
void DescribeRegistry(StateChange* change) {
  if (change->kind != "reg") return;
  if (change->name.empty()) change->name = "(Default)";
  if (IsDcomDescriptorKey(change->path)) {
    if (change->before) change->before = DescriptorValueText(*change->before);
    if (change->after) change->after = DescriptorValueText(*change->after);
  }
  if (!change->before || !change->after) return;
  const std::string type = change->before->substr(0, change->before->find(' ') + 1);
  if (!type.empty() && type.back() == ' ' && change->after->starts_with(type)) {
    change->after = change->after->substr(type.size());
  }
}

// ---- Rows of security descriptors -----------------------------------------

std::string DescriptorText(const winsec::SecurityDescriptor& sd, const winsec::SddlDomains& domains) {
  std::string sddl;
  if (winsec::SecurityDescriptorToSddl(sd, winsec::kAllSddlSecurityInformation, &sddl, domains) == 0) return sddl;
  // SDDL cannot express every ACE; the bytes still tell descriptors apart.
  winsec::Bytes bytes;
  sd.ToSelfRelative(&bytes);
  return "hex: " + HexBytes(winsec::ToByteString(bytes));
}

// The descriptors objects store themselves: what is computed from the
// objects above is no fact of its own, so a changed folder is one row, not
// one per file below it.
void CollectSecurity(Host& host, std::vector<StateRow>* rows) {
  winsec::SddlDomains domains;
  winsec::Sid machine;
  if (winsec::Sid::FromString(host.DomainSid(), &machine) == 0) domains.machine = machine;

  KeySecurityStore keys(host.Db(), host.ProfileDef());
  const std::map<int64_t, std::string> paths = KeyPaths(host.Db());
  for (const auto& [id, path] : paths) {
    if (const auto sd = keys.Stored(id)) rows->push_back({"acl", path, "", DescriptorText(*sd, domains)});
  }

  // A row whose file was deleted, or deleted and made anew, no longer
  // applies: Locate reads it back only for the entry it was stored for.
  FileSecurityStore files(host.Db(), host.Paths(), host.ProfileDef(), host.FileCache());
  std::vector<std::string> filePaths;
  Statement st(host.Db(), "SELECT path FROM file_sd");
  while (st.Step()) filePaths.push_back(st.Text(0));
  for (const std::string& path : filePaths) {
    FileObject object;
    if (files.Locate(path, &object) != 0 || object.chain.empty() || !object.chain.back().stored) continue;
    rows->push_back({"acl", object.windowsPath, "", DescriptorText(*object.chain.back().stored, domains)});
  }
}

// The parts "O:..", "G:..", "D:..", "S:.." of SDDL text; none for text that
// is not SDDL. Only a part letter stands before a ':' outside parentheses.
std::vector<std::string> SddlParts(std::string_view sddl) {
  std::vector<size_t> starts;
  int depth = 0;
  for (size_t i = 0; i < sddl.size(); ++i) {
    if (sddl[i] == '(') ++depth;
    if (sddl[i] == ')') --depth;
    if (sddl[i] == ':' && depth == 0 && i > 0) starts.push_back(i - 1);
  }
  if (starts.empty() || starts.front() != 0) return {};
  std::vector<std::string> parts;
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : sddl.size();
    parts.emplace_back(sddl.substr(starts[i], end - starts[i]));
  }
  return parts;
}

// Shows only the parts that changed: a new DACL under the same owner reads
// "D:.. -> D:..".
void DescribeSecurity(StateChange* change) {
  if (!change->before || !change->after) return;
  const std::vector<std::string> before = SddlParts(*change->before);
  const std::vector<std::string> after = SddlParts(*change->after);
  auto join = [](const std::vector<std::string>& parts, const std::vector<std::string>& other) {
    std::string out;
    for (const std::string& p : parts) {
      if (std::find(other.begin(), other.end(), p) == other.end()) out += p;
    }
    return out;
  };
  const std::string shortBefore = join(before, after);
  const std::string shortAfter = join(after, before);
  if (shortBefore.empty() || shortAfter.empty()) return;  // a part came or went: show it all
  change->before = shortBefore;
  change->after = shortAfter;
}

// ---- Rows of accounts ------------------------------------------------------

std::string AccountValue(const Account& account) {
  return account.sid.ToString() + (account.comment.empty() ? "" : "  \"" + account.comment + "\"");
}

void CollectAccounts(Host& host, std::vector<StateRow>* rows) {
  AccountDirectory accounts = AccountDirectory::Of(host);
  for (const Account& user : accounts.Stored(AccountKind::kUser)) {
    rows->push_back({"user", user.QualifiedName(), "", AccountValue(user)});
  }
  // Local groups go by their bare name, as NetLocalGroupEnum lists them.
  struct GroupKind {
    AccountKind kind;
    const char* rowKind;
    bool qualified;
  };
  for (const GroupKind g : {GroupKind{AccountKind::kGroup, "global-group", true},
                            GroupKind{AccountKind::kAlias, "group", false}}) {
    for (const Account& group : accounts.Stored(g.kind)) {
      const std::string path = g.qualified ? group.QualifiedName() : group.name;
      rows->push_back({g.rowKind, path, "", AccountValue(group)});
      for (const winsec::Sid& sid : accounts.MembersOf(group.sid)) {
        const std::optional<Account> member = accounts.FindBySid(sid);
        rows->push_back({g.rowKind, path, "member " + (member ? member->QualifiedName() : sid.ToString()), ""});
      }
    }
  }
}

// ---- Rows of automatic updates ---------------------------------------------

void CollectAutomaticUpdates(Host& host, std::vector<StateRow>* rows) {
  const AutomaticUpdatesState state = host.AutomaticUpdates().State();
  const std::string changed = state.changed.empty() ? "" : " (" + state.changed + ")";
  rows->push_back({"wua", "", "", (state.paused ? "paused" : "resumed") + changed});
}

// "resumed -> paused (time)": the time that matters is the new one.
void DescribeAutomaticUpdates(StateChange* change) {
  if (!change->before || !change->after) return;
  const std::string before = change->before->substr(0, change->before->find(' '));
  if (before != change->after->substr(0, change->after->find(' '))) change->before = before;
}

// ---- Rows of services ---------------------------------------------------------

// "running", "stopped, exit code 1067", "start pending, behaviour stuck-start":
// the start type is a registry value and shows among those.
void CollectServices(Host& host, std::vector<StateRow>* rows) {
  for (const ServiceRecord& service : host.Services().List()) {
    std::string value = ServiceStateName(service.status.currentState);
    if (service.status.win32ExitCode != 0) value += ", exit code " + std::to_string(service.status.win32ExitCode);
    if (service.behaviour != kBehaviourNormal) value += ", behaviour " + service.behaviour;
    rows->push_back({"service", service.name, "", value});
  }
}

// ---- Rows of the files on drive C -------------------------------------------

constexpr std::string_view kDriveRoot = "C:\\";

// FNV-1a over 64 bits: no security purpose, it only has to tell a changed
// content of the same size from the old one.
class ContentHash {
 public:
  void Add(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) hash_ = (hash_ ^ static_cast<unsigned char>(data[i])) * 0x100000001b3ull;
  }
  std::string Hex() const { return text::Format("%016llx", static_cast<unsigned long long>(hash_)); }

 private:
  uint64_t hash_ = 0xcbf29ce484222325ull;
};

// "12 bytes, hash 0123456789abcdef"; a file that cannot be read still shows
// its size.
std::string FileValue(const std::filesystem::path& file, uint64_t size) {
  std::string value = text::Format("%llu %s, ", static_cast<unsigned long long>(size), size == 1 ? "byte" : "bytes");
  std::ifstream in(file, std::ios::binary);
  ContentHash hash;
  std::vector<char> buffer(64 * 1024);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    hash.Add(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  return value + (in.eof() && !in.bad() ? "hash " + hash.Hex() : std::string("unreadable"));
}

// Every folder and regular file below `folder` (a Linux path standing for
// the Windows folder `windowsPath`). Symbolic links are not followed; a
// folder that cannot be listed shows without its content.
void CollectFolder(const std::filesystem::path& folder, const std::string& windowsPath,
                   std::vector<StateRow>* rows) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = windowsPath + (windowsPath.ends_with('\\') ? "" : "\\") + it->path().filename().string();
    const fs::file_status status = it->symlink_status(ec);
    if (ec) continue;
    if (fs::is_directory(status)) {
      rows->push_back({"folder", path, "", ""});
      CollectFolder(it->path(), path, rows);
    } else if (fs::is_regular_file(status)) {
      const uintmax_t size = it->file_size(ec);
      if (!ec) rows->push_back({"file", path, "", FileValue(it->path(), size)});
    }
  }
}

// The drive's root is always a row, so a snapshot without it is one stored
// before files were recorded.
void CollectFiles(Host& host, std::vector<StateRow>* rows) {
  rows->push_back({"folder", std::string(kDriveRoot), "", ""});
  CollectFolder(host.Folder() + "/drive_c", std::string(kDriveRoot), rows);
}

// A file added, removed or grown shows its size; the hash only tells apart
// two contents of the same size.
void DescribeFiles(StateChange* change) {
  if (change->kind != "file") return;
  auto sizeOf = [](const std::string& value) { return value.substr(0, value.find(',')); };
  if (change->before && change->after && sizeOf(*change->before) == sizeOf(*change->after)) return;
  if (change->before) change->before = sizeOf(*change->before);
  if (change->after) change->after = sizeOf(*change->after);
}

bool IsFileRow(const StateRow& row) { return row.kind == "file" || row.kind == "folder"; }

// ---- Order -----------------------------------------------------------------

// Paths compare without regard to ASCII case, and "\" before every other
// character, so a key's subkeys follow it directly.
std::string PathOrder(std::string_view path) {
  std::string key = text::AsciiLower(path);
  std::replace(key.begin(), key.end(), '\\', '\x01');
  return key;
}

struct Ordered {
  std::string pathOrder;
  StateRow row;
};

auto OrderKey(const Ordered& o) { return std::tie(o.row.kind, o.pathOrder, o.row.path, o.row.name); }

std::vector<Ordered> Sorted(std::vector<StateRow> rows) {
  std::vector<Ordered> sorted;
  sorted.reserve(rows.size());
  for (StateRow& row : rows) {
    std::string order = PathOrder(row.path);
    sorted.push_back({std::move(order), std::move(row)});
  }
  std::sort(sorted.begin(), sorted.end(), [](const Ordered& a, const Ordered& b) { return OrderKey(a) < OrderKey(b); });
  return sorted;
}

StateChange ChangeOf(ChangeOp op, const StateRow& row) {
  StateChange change{op, row.kind, row.path, row.name, std::nullopt, std::nullopt};
  (op == ChangeOp::kAdded ? change.after : change.before) = row.value;
  return change;
}

const StateSection* SectionOfKind(std::string_view kind) {
  for (const StateSection& section : StateSections()) {
    if (std::find(section.kinds.begin(), section.kinds.end(), kind) != section.kinds.end()) return &section;
  }
  return nullptr;
}

// ---- Snapshot storage ------------------------------------------------------

bool SnapshotExists(HostDb& db, std::string_view name) {
  Statement st(db, "SELECT 1 FROM snapshot WHERE name=?");
  st.Bind(1, name);
  return st.Step();
}

void StoreRows(HostDb& db, std::string_view name, const std::vector<StateRow>& rows) {
  Statement st(db, "INSERT INTO snapshot_row(snapshot, kind, path, name, value) VALUES(?, ?, ?, ?, ?)");
  for (const StateRow& row : rows) {
    st.Bind(1, name).Bind(2, row.kind).Bind(3, row.path).Bind(4, row.name).Bind(5, row.value).Run();
    st.Reset();
  }
}

}  // namespace

std::string RegistryValueText(uint32_t type, std::string_view data) {
  const std::string name = TypeName(type);
  switch (type) {
    case plat::kRegSz:
    case plat::kRegExpandSz: return name + " " + StringText(data);
    case plat::kRegMultiSz: return name + " " + MultiStringText(data);
    case plat::kRegDword: return name + " " + NumberText(data, 4, false);
    case plat::kRegDwordBigEndian: return name + " " + NumberText(data, 4, true);
    case plat::kRegQword: return name + " " + NumberText(data, 8, false);
    default: return name + " " + HexBytes(data);
  }
}

const std::vector<StateSection>& StateSections() {
  static const std::vector<StateSection> sections = {
      {"registry", {"key", "reg"}, CollectRegistry, DescribeRegistry},
      {"security", {"acl"}, CollectSecurity, DescribeSecurity},
      {"accounts", {"user", "global-group", "group"}, CollectAccounts, nullptr},
      {"automatic updates", {"wua"}, CollectAutomaticUpdates, DescribeAutomaticUpdates},
      {"services", {"service"}, CollectServices, nullptr},
      {"files", {"file", "folder"}, CollectFiles, DescribeFiles},
  };
  return sections;
}

std::vector<StateRow> CollectState(Host& host) {
  // One transaction, so that another process's change lands wholly before
  // or wholly after what is read.
  Transaction tx(host.Db());
  std::vector<StateRow> rows;
  for (const StateSection& section : StateSections()) section.collect(host, &rows);
  tx.Commit();
  return rows;
}

bool HoldsFiles(const std::vector<StateRow>& rows) {
  return std::any_of(rows.begin(), rows.end(),
                     [](const StateRow& row) { return row.kind == "folder" && row.path == kDriveRoot; });
}

void DropFileRows(std::vector<StateRow>* rows) { std::erase_if(*rows, IsFileRow); }

std::vector<StateChange> DiffState(std::vector<StateRow> before, std::vector<StateRow> after) {
  const std::vector<Ordered> a = Sorted(std::move(before));
  const std::vector<Ordered> b = Sorted(std::move(after));
  std::vector<StateChange> changes;
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    if (j == b.size() || (i < a.size() && OrderKey(a[i]) < OrderKey(b[j]))) {
      changes.push_back(ChangeOf(ChangeOp::kRemoved, a[i++].row));
    } else if (i == a.size() || OrderKey(b[j]) < OrderKey(a[i])) {
      changes.push_back(ChangeOf(ChangeOp::kAdded, b[j++].row));
    } else {
      if (a[i].row.value != b[j].row.value) {
        const StateRow& row = b[j].row;
        changes.push_back({ChangeOp::kChanged, row.kind, row.path, row.name, a[i].row.value, row.value});
      }
      ++i;
      ++j;
    }
  }
  return changes;
}

std::string_view ChangeSymbol(ChangeOp op) {
  switch (op) {
    case ChangeOp::kAdded: return "+";
    case ChangeOp::kRemoved: return "-";
    case ChangeOp::kChanged: return "~";
  }
  return "~";
}

std::string_view ChangeOpName(ChangeOp op) {
  switch (op) {
    case ChangeOp::kAdded: return "added";
    case ChangeOp::kRemoved: return "removed";
    case ChangeOp::kChanged: return "changed";
  }
  return "changed";
}

std::string ChangeLine(const StateChange& change) {
  StateChange shown = change;
  if (const StateSection* section = SectionOfKind(change.kind); section && section->describe) {
    section->describe(&shown);
  }
  std::string line = std::string(ChangeSymbol(shown.op)) + " " + shown.kind;
  if (!shown.path.empty()) line += "  " + shown.path;
  if (shown.op == ChangeOp::kChanged) {
    return line + "  " + (shown.name.empty() ? "" : shown.name + ": ") + shown.before.value_or("") + " -> " +
           shown.after.value_or("");
  }
  const std::string value = shown.op == ChangeOp::kAdded ? shown.after.value_or("") : shown.before.value_or("");
  if (!shown.name.empty()) return line + "  " + shown.name + (value.empty() ? "" : " = " + value);
  return value.empty() ? line : line + "  " + value;
}

bool IsValidSnapshotName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == '-' || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

SnapshotResult SaveSnapshot(Host& host, std::string_view name) {
  if (!IsValidSnapshotName(name)) return SnapshotResult::kBadName;
  HostDb& db = host.Db();
  // One write transaction: the state read is the state stored, and two
  // processes saving one name cannot both succeed.
  Transaction tx(db);
  SnapshotResult result = SnapshotResult::kExists;
  if (!SnapshotExists(db, name)) {
    const std::vector<StateRow> rows = CollectState(host);
    Statement st(db, "INSERT INTO snapshot(name, taken) VALUES(?, ?)");
    st.Bind(1, name).Bind(2, HostTimeText(host.System().LocalTime())).Run();
    StoreRows(db, name, rows);
    result = SnapshotResult::kOk;
  }
  tx.Commit();
  return result;
}

SnapshotResult DeleteSnapshot(Host& host, std::string_view name) {
  HostDb& db = host.Db();
  Transaction tx(db);
  Statement rows(db, "DELETE FROM snapshot_row WHERE snapshot=?");
  rows.Bind(1, name).Run();
  Statement snapshot(db, "DELETE FROM snapshot WHERE name=?");
  snapshot.Bind(1, name).Run();
  const bool deleted = db.Changes() > 0;
  tx.Commit();
  return deleted ? SnapshotResult::kOk : SnapshotResult::kNotFound;
}

SnapshotResult LoadSnapshot(Host& host, std::string_view name, std::vector<StateRow>* rows) {
  HostDb& db = host.Db();
  rows->clear();
  if (!SnapshotExists(db, name)) return SnapshotResult::kNotFound;
  Statement st(db, "SELECT kind, path, name, value FROM snapshot_row WHERE snapshot=?");
  st.Bind(1, name);
  while (st.Step()) rows->push_back({st.Text(0), st.Text(1), st.Text(2), st.Text(3)});
  return SnapshotResult::kOk;
}

std::vector<SnapshotInfo> ListSnapshots(Host& host) {
  Statement st(host.Db(),
               "SELECT s.name, s.taken, (SELECT count(*) FROM snapshot_row r WHERE r.snapshot=s.name) "
               "FROM snapshot s ORDER BY s.name");
  std::vector<SnapshotInfo> list;
  while (st.Step()) list.push_back({st.Text(0), st.Text(1), st.Int(2)});
  return list;
}

}  // namespace host
