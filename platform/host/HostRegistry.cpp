#include "platform/host/HostRegistry.h"

#include "platform/Security.h"
#include "platform/WinError.h"
#include "platform/host/KeySecurity.h"
#include "platform/host/Wow64.h"
#include "platform/text/Text.h"

namespace host {
namespace {

constexpr int64_t kHklmId = 1;
constexpr int64_t kHkuId = 2;

// What RegCreateKeyEx answers for a key deeper than plat::kMaxKeyDepth. The
// limit is documented, the code is not: ERROR_INVALID_PARAMETER is the choice
// of this host, made here only.
constexpr uint32_t kKeyTooDeep = winerr::kInvalidParameter;

// A physical path starts with its root (HKLM or HKU); the levels below it
// count, Wow6432Node included, as it is a key of its own.
bool IsTooDeep(const std::vector<std::string>& physical) { return physical.size() > plat::kMaxKeyDepth + 1; }

int64_t RootIdOf(const std::string& root) { return text::EqualsNoCase(root, "HKU") ? kHkuId : kHklmId; }

// The rights a key handle can hold, and the generic rights mapped onto them.
constexpr uint32_t kAllKeyRights = plat::kKeyAllAccess;
constexpr uint32_t kGenericRead = 0x80000000, kGenericWrite = 0x40000000, kGenericExecute = 0x20000000,
                   kGenericAll = 0x10000000;

uint32_t MapKeyRights(uint32_t sam) {
  uint32_t rights = sam & ~(plat::kKeyWow64Res | plat::kMaximumAllowed | kGenericRead | kGenericWrite |
                            kGenericExecute | kGenericAll);
  if (sam & (kGenericRead | kGenericExecute)) rights |= plat::kKeyRead;
  if (sam & kGenericWrite) rights |= plat::kKeyWrite;
  if (sam & kGenericAll) rights |= plat::kKeyAllAccess;
  return rights;
}

}  // namespace

std::vector<std::string> SplitKeyPath(std::string_view path) { return text::SplitNonEmpty(path, "\\"); }

HostRegistry::HostRegistry(HostDb& db, const Profile& profile, std::string userSid, bool process32Bit)
    : db_(db), profile_(profile), userSid_(std::move(userSid)), process32Bit_(process32Bit) {}

void HostRegistry::CreateRoots(HostDb& db) {
  Statement st(db, "INSERT OR IGNORE INTO reg_key(id, parent, name, fold) VALUES(?, 0, ?, ?)");
  st.Bind(1, kHklmId).Bind(2, "HKLM").Bind(3, "hklm").Run();
  st.Reset();
  st.Bind(1, kHkuId).Bind(2, "HKU").Bind(3, "hku").Run();
}

int64_t HostRegistry::ChildOf(int64_t parentId, const std::string& name) {
  Statement st(db_, "SELECT id FROM reg_key WHERE parent=? AND fold=?");
  st.Bind(1, parentId).Bind(2, text::AsciiLower(name));
  return st.Step() ? st.Int(0) : 0;
}

int64_t HostRegistry::FindPhysicalKey(const std::vector<std::string>& path) {
  if (path.empty()) return 0;
  int64_t id = RootIdOf(path[0]);
  for (size_t i = 1; i < path.size() && id; ++i) id = ChildOf(id, path[i]);
  return id;
}

int64_t HostRegistry::EnsurePhysicalKey(const std::vector<std::string>& path) {
  if (path.empty()) return 0;
  int64_t id = RootIdOf(path[0]);
  for (size_t i = 1; i < path.size(); ++i) {
    int64_t child = ChildOf(id, path[i]);
    if (!child) {
      Statement st(db_, "INSERT INTO reg_key(parent, name, fold) VALUES(?, ?, ?)");
      st.Bind(1, id).Bind(2, path[i]).Bind(3, text::AsciiLower(path[i])).Run();
      child = db_.LastInsertId();
    }
    id = child;
  }
  return id;
}

std::vector<std::string> HostRegistry::PhysicalPathOf(int64_t keyId) {
  std::vector<std::string> reversed;
  while (keyId) {
    Statement st(db_, "SELECT parent, name FROM reg_key WHERE id=?");
    st.Bind(1, keyId);
    if (!st.Step()) return {};
    reversed.push_back(st.Text(1));
    keyId = st.Int(0);
  }
  return {reversed.rbegin(), reversed.rend()};
}

int64_t HostRegistry::KeyIdOf(plat::HKey key) {
  OpenKeyState state;
  return StateOf(key, &state) == winerr::kSuccess ? state.keyId : 0;
}

uint32_t HostRegistry::StateOf(plat::HKey key, OpenKeyState* state) {
  std::vector<std::string> logical;
  switch (key) {
    case plat::kHkeyLocalMachine: logical = {"HKLM"}; break;
    case plat::kHkeyUsers: logical = {"HKU"}; break;
    case plat::kHkeyCurrentUser: logical = {"HKU", userSid_}; break;
    case plat::kHkeyClassesRoot: logical = {"HKLM", "SOFTWARE", "Classes"}; break;
    case plat::kHkeyCurrentConfig:
      logical = {"HKLM", "SYSTEM", "CurrentControlSet", "Hardware Profiles", "Current"};
      break;
    default: {
      auto it = handles_.find(key);
      if (it == handles_.end()) return winerr::kInvalidHandle;
      Statement st(db_, "SELECT 1 FROM reg_key WHERE id=?");
      st.Bind(1, it->second.keyId);
      if (!st.Step()) return winerr::kKeyDeleted;
      *state = it->second;
      return winerr::kSuccess;
    }
  }
  state->logical = logical;
  state->predefined = true;
  state->view32 = process32Bit_;
  const auto physical = state->view32 ? RedirectTo32BitView(logical, profile_) : logical;
  state->keyId = FindPhysicalKey(physical);
  if (!state->keyId) state->keyId = EnsurePhysicalKey(physical);  // predefined roots always exist
  return winerr::kSuccess;
}

uint32_t HostRegistry::Locate(plat::HKey parent, std::string_view subKey, uint32_t sam, OpenKeyState* state,
                              std::vector<std::string>* physical) {
  if ((sam & plat::kKeyWow64Res) == plat::kKeyWow64Res) return winerr::kInvalidParameter;
  OpenKeyState base;
  if (uint32_t rc = StateOf(parent, &base)) return rc;
  state->logical = base.logical;
  for (std::string& part : SplitKeyPath(subKey)) state->logical.push_back(std::move(part));
  if (sam & plat::kKeyWow64_32Key) {
    state->view32 = true;
  } else if (sam & plat::kKeyWow64_64Key) {
    state->view32 = false;
  } else {
    state->view32 = base.view32;
  }
  *physical = state->view32 ? RedirectTo32BitView(state->logical, profile_) : state->logical;
  return winerr::kSuccess;
}

uint32_t HostRegistry::Require(const OpenKeyState& state, uint32_t rights) {
  if (state.predefined) return accessCheck_ ? accessCheck_(state.keyId, rights) : winerr::kSuccess;
  return (state.granted & rights) == rights ? winerr::kSuccess : winerr::kAccessDenied;
}

uint32_t HostRegistry::Grant(int64_t keyId, uint32_t sam, uint32_t* granted) {
  const uint32_t wanted = MapKeyRights(sam);
  if (!accessCheck_) {
    *granted = (sam & plat::kMaximumAllowed) ? kAllKeyRights : wanted;
    return winerr::kSuccess;
  }
  if (uint32_t rc = accessCheck_(keyId, wanted)) return rc;
  *granted = wanted;
  if (sam & plat::kMaximumAllowed) {
    // Every right the key's descriptor allows, one by one.
    for (uint32_t bit = 1; bit != 0 && bit <= kAllKeyRights; bit <<= 1) {
      if ((kAllKeyRights & bit) && accessCheck_(keyId, bit) == winerr::kSuccess) *granted |= bit;
    }
  }
  return winerr::kSuccess;
}

plat::HKey HostRegistry::NewHandle(const OpenKeyState& state) {
  const plat::HKey handle = nextHandle_++;
  handles_[handle] = state;
  return handle;
}

uint32_t HostRegistry::OpenKey(plat::HKey parent, std::string_view subKey, uint32_t sam, plat::HKey* result) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    std::vector<std::string> physical;
    if (uint32_t rc = Locate(parent, subKey, sam, &state, &physical)) return rc;
    state.keyId = FindPhysicalKey(physical);
    if (!state.keyId) return winerr::kFileNotFound;
    if (uint32_t rc = Grant(state.keyId, sam, &state.granted)) return rc;
    *result = NewHandle(state);
    return winerr::kSuccess;
  });
}

uint32_t HostRegistry::CreateKey(plat::HKey parent, std::string_view subKey, uint32_t sam, plat::HKey* result,
                                 bool* created) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    std::vector<std::string> physical;
    if (uint32_t rc = Locate(parent, subKey, sam, &state, &physical)) return rc;
    state.keyId = FindPhysicalKey(physical);
    const bool isNew = state.keyId == 0;
    if (isNew && IsTooDeep(physical)) return kKeyTooDeep;
    if (isNew) {
      // A new key needs the right to create sub keys on the parent handle.
      OpenKeyState parentState;
      if (uint32_t rc = StateOf(parent, &parentState)) return rc;
      if (uint32_t rc = Require(parentState, plat::kKeyCreateSubKey)) return rc;
      Transaction tx(db_);
      state.keyId = EnsurePhysicalKey(physical);
      tx.Commit();
    }
    if (uint32_t rc = Grant(state.keyId, sam, &state.granted)) return rc;
    if (created) *created = isNew;
    *result = NewHandle(state);
    return winerr::kSuccess;
  });
}

uint32_t HostRegistry::CloseKey(plat::HKey key) {
  if (plat::IsPredefinedKey(key)) return winerr::kSuccess;
  return handles_.erase(key) ? winerr::kSuccess : winerr::kInvalidHandle;
}

uint32_t HostRegistry::QueryValue(plat::HKey key, std::string_view name, plat::RegValue* value,
                                  uint32_t* requiredSize, uint32_t bufferSize) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    if (uint32_t rc = StateOf(key, &state)) return rc;
    if (uint32_t rc = Require(state, plat::kKeyQueryValue)) return rc;
    Statement st(db_, "SELECT type, data FROM reg_value WHERE key=? AND fold=?");
    st.Bind(1, state.keyId).Bind(2, text::AsciiLower(name));
    if (!st.Step()) return winerr::kFileNotFound;
    value->type = static_cast<uint32_t>(st.Int(0));
    std::string data = st.Blob(1);
    if (requiredSize) *requiredSize = static_cast<uint32_t>(data.size());
    if (data.size() > bufferSize) {
      value->data.clear();
      return winerr::kMoreData;
    }
    value->data = std::move(data);
    return winerr::kSuccess;
  });
}

uint32_t HostRegistry::SetValue(plat::HKey key, std::string_view name, uint32_t type, std::string_view data) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    if (uint32_t rc = StateOf(key, &state)) return rc;
    if (uint32_t rc = Require(state, plat::kKeySetValue)) return rc;
    Statement st(db_,
                 "INSERT INTO reg_value(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?) "
                 "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    st.Bind(1, state.keyId).Bind(2, name).Bind(3, text::AsciiLower(name)).Bind(4, type).BindBlob(5, data).Run();
    return winerr::kSuccess;
  });
}

uint32_t HostRegistry::DeleteValue(plat::HKey key, std::string_view name) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    if (uint32_t rc = StateOf(key, &state)) return rc;
    if (uint32_t rc = Require(state, plat::kKeySetValue)) return rc;
    Statement st(db_, "DELETE FROM reg_value WHERE key=? AND fold=?");
    st.Bind(1, state.keyId).Bind(2, text::AsciiLower(name)).Run();
    return db_.Changes() ? winerr::kSuccess : winerr::kFileNotFound;
  });
}

uint32_t HostRegistry::EnumKey(plat::HKey key, uint32_t index, std::string* name) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    if (uint32_t rc = StateOf(key, &state)) return rc;
    if (uint32_t rc = Require(state, plat::kKeyEnumerateSubKeys)) return rc;
    Statement st(db_, "SELECT name FROM reg_key WHERE parent=? ORDER BY fold LIMIT 1 OFFSET ?");
    st.Bind(1, state.keyId).Bind(2, index);
    if (!st.Step()) return winerr::kNoMoreItems;
    *name = st.Text(0);
    return winerr::kSuccess;
  });
}

uint32_t HostRegistry::EnumValue(plat::HKey key, uint32_t index, std::string* name, plat::RegValue* value) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    if (uint32_t rc = StateOf(key, &state)) return rc;
    if (uint32_t rc = Require(state, plat::kKeyQueryValue)) return rc;
    Statement st(db_, "SELECT name, type, data FROM reg_value WHERE key=? ORDER BY id LIMIT 1 OFFSET ?");
    st.Bind(1, state.keyId).Bind(2, index);
    if (!st.Step()) return winerr::kNoMoreItems;
    *name = st.Text(0);
    if (value) {
      value->type = static_cast<uint32_t>(st.Int(1));
      value->data = st.Blob(2);
    }
    return winerr::kSuccess;
  });
}

uint32_t HostRegistry::QueryInfoKey(plat::HKey key, plat::RegKeyInfo* info) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    if (uint32_t rc = StateOf(key, &state)) return rc;
    if (uint32_t rc = Require(state, plat::kKeyQueryValue)) return rc;
    Statement keys(db_, "SELECT COUNT(*) FROM reg_key WHERE parent=?");
    keys.Bind(1, state.keyId).Step();
    Statement values(db_, "SELECT COUNT(*) FROM reg_value WHERE key=?");
    values.Bind(1, state.keyId).Step();
    info->subKeys = static_cast<uint32_t>(keys.Int(0));
    info->values = static_cast<uint32_t>(values.Int(0));
    return winerr::kSuccess;
  });
}

bool HostRegistry::HasSubKeys(int64_t keyId) {
  Statement st(db_, "SELECT 1 FROM reg_key WHERE parent=? LIMIT 1");
  st.Bind(1, keyId);
  return st.Step();
}

void HostRegistry::DeleteSubtree(int64_t keyId, bool deleteSelf) {
  std::vector<int64_t> children;
  {
    Statement st(db_, "SELECT id FROM reg_key WHERE parent=?");
    st.Bind(1, keyId);
    while (st.Step()) children.push_back(st.Int(0));
  }
  for (int64_t child : children) DeleteSubtree(child, true);
  Statement values(db_, "DELETE FROM reg_value WHERE key=?");
  values.Bind(1, keyId).Run();
  if (deleteSelf) {
    Statement key(db_, "DELETE FROM reg_key WHERE id=?");
    key.Bind(1, keyId).Run();
  }
}

uint32_t HostRegistry::DeleteKey(plat::HKey parent, std::string_view subKey, uint32_t sam) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    std::vector<std::string> physical;
    if (uint32_t rc = Locate(parent, subKey, sam, &state, &physical)) return rc;
    if (physical.size() <= 1) return winerr::kAccessDenied;  // a hive root
    const int64_t id = FindPhysicalKey(physical);
    if (!id) return winerr::kFileNotFound;
    if (accessCheck_) {
      if (uint32_t rc = accessCheck_(id, plat::kRegDelete)) return rc;
    }
    if (HasSubKeys(id)) return winerr::kAccessDenied;
    Transaction tx(db_);
    DeleteSubtree(id, true);
    tx.Commit();
    return winerr::kSuccess;
  });
}

uint32_t HostRegistry::DeleteTree(plat::HKey parent, std::string_view subKey, uint32_t sam) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    std::vector<std::string> physical;
    if (uint32_t rc = Locate(parent, subKey, sam, &state, &physical)) return rc;
    const int64_t id = FindPhysicalKey(physical);
    if (!id) return winerr::kFileNotFound;
    // RegDeleteTree with no sub key empties the key but keeps it; hive roots stay too.
    const bool deleteSelf = !SplitKeyPath(subKey).empty() && physical.size() > 1;
    Transaction tx(db_);
    DeleteSubtree(id, deleteSelf);
    tx.Commit();
    return winerr::kSuccess;
  });
}

uint32_t HostRegistry::FlushKey(plat::HKey key) {
  OpenKeyState state;
  return StateOf(key, &state);  // every change is already committed
}

// Key security follows KeySecurity.h: what a key reads back is computed
// from the keys above it, and the security-information bits choose the
// parts read or written.
uint32_t HostRegistry::GetKeySecurity(plat::HKey key, uint32_t securityInformation, std::string* descriptor) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    if (uint32_t rc = StateOf(key, &state)) return rc;
    if (uint32_t rc = Require(state, plat::kReadControl)) return rc;
    return KeySecurityStore(db_, profile_).Read(state.keyId, securityInformation, descriptor);
  });
}

uint32_t HostRegistry::SetKeySecurity(plat::HKey key, uint32_t securityInformation, std::string_view descriptor) {
  return Guarded([&]() -> uint32_t {
    OpenKeyState state;
    if (uint32_t rc = StateOf(key, &state)) return rc;
    const uint32_t needed = ((securityInformation & plat::kDaclSecurityInformation) ? plat::kWriteDac : 0) |
                            ((securityInformation & 0x3) ? plat::kWriteOwner : 0);
    if (uint32_t rc = Require(state, needed)) return rc;
    return KeySecurityStore(db_, profile_).WriteLiteral(state.keyId, securityInformation, descriptor);
  });
}

}  // namespace host
