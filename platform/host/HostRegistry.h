// The registry service of the simulated host. Keys and values live in
// host.db (table reg_key: one row per physical key; reg_value: one row per
// value, raw bytes and type number). The predefined roots are views on two
// physical trees, HKLM and HKU; the 32-bit view is redirected by Wow64.h.
#pragma once

#include <functional>
#include <map>

#include "platform/Registry.h"
#include "platform/host/HostDb.h"
#include "platform/host/Profiles.h"

namespace host {

class HostRegistry : public plat::IRegistry {
 public:
  // `userSid`: the running user, whose hive HKEY_CURRENT_USER is.
  HostRegistry(HostDb& db, const Profile& profile, std::string userSid, bool process32Bit);

  uint32_t OpenKey(plat::HKey parent, std::string_view subKey, uint32_t sam, plat::HKey* result) override;
  uint32_t CreateKey(plat::HKey parent, std::string_view subKey, uint32_t sam, plat::HKey* result,
                     bool* created) override;
  uint32_t CloseKey(plat::HKey key) override;
  uint32_t QueryValue(plat::HKey key, std::string_view name, plat::RegValue* value, uint32_t* requiredSize,
                      uint32_t bufferSize) override;
  uint32_t SetValue(plat::HKey key, std::string_view name, uint32_t type, std::string_view data) override;
  uint32_t DeleteValue(plat::HKey key, std::string_view name) override;
  uint32_t EnumKey(plat::HKey key, uint32_t index, std::string* name) override;
  uint32_t EnumValue(plat::HKey key, uint32_t index, std::string* name, plat::RegValue* value) override;
  uint32_t QueryInfoKey(plat::HKey key, plat::RegKeyInfo* info) override;
  uint32_t DeleteKey(plat::HKey parent, std::string_view subKey, uint32_t sam) override;
  uint32_t DeleteTree(plat::HKey parent, std::string_view subKey, uint32_t sam) override;
  uint32_t FlushKey(plat::HKey key) override;
  uint32_t GetKeySecurity(plat::HKey key, uint32_t securityInformation, std::string* descriptor) override;
  uint32_t SetKeySecurity(plat::HKey key, uint32_t securityInformation, std::string_view descriptor) override;

  // The access check on opening a key; the security layer installs it.
  // Returns 0 or a Win32 code (5 when the key's descriptor refuses `access`).
  using AccessCheck = std::function<uint32_t(int64_t keyId, uint32_t access)>;
  void SetAccessCheck(AccessCheck check) { accessCheck_ = std::move(check); }

  // Physical keys by path ("HKLM", "SOFTWARE", ...), for seeding and tools.
  int64_t EnsurePhysicalKey(const std::vector<std::string>& path);
  int64_t FindPhysicalKey(const std::vector<std::string>& path);
  // The physical path of an open key, e.g. {"HKLM","SOFTWARE","Wow6432Node","X"}.
  std::vector<std::string> PhysicalPathOf(int64_t keyId);
  int64_t KeyIdOf(plat::HKey key);

  static void CreateRoots(HostDb& db);

 private:
  struct OpenKeyState {
    int64_t keyId = 0;
    std::vector<std::string> logical;  // root first: HKLM or HKU
    bool view32 = false;
    bool predefined = false;  // a root handle: every right is checked against the key itself
    uint32_t granted = 0;     // the rights the handle was opened with
  };
  // 0 when the handle holds `rights`, else 5 (ERROR_ACCESS_DENIED) as Windows answers.
  uint32_t Require(const OpenKeyState& state, uint32_t rights);
  // The rights an open with `sam` grants on the key, or the code refusing them.
  uint32_t Grant(int64_t keyId, uint32_t sam, uint32_t* granted);
  uint32_t StateOf(plat::HKey key, OpenKeyState* state);
  uint32_t Locate(plat::HKey parent, std::string_view subKey, uint32_t sam, OpenKeyState* state,
                  std::vector<std::string>* physical);
  plat::HKey NewHandle(const OpenKeyState& state);
  int64_t ChildOf(int64_t parentId, const std::string& name);
  bool HasSubKeys(int64_t keyId);
  void DeleteSubtree(int64_t keyId, bool deleteSelf);

  HostDb& db_;
  const Profile& profile_;
  std::string userSid_;
  bool process32Bit_;
  AccessCheck accessCheck_;
  std::map<plat::HKey, OpenKeyState> handles_;
  plat::HKey nextHandle_ = 0x1000;
};

// Splits "A\B\C" into its components (empty ones dropped).
std::vector<std::string> SplitKeyPath(std::string_view path);

}  // namespace host
