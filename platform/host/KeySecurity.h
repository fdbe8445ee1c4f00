// The security descriptors of registry keys on the simulated host: the
// optional self-relative descriptor in column sd of reg_key, and what a key
// reads back, computed from the keys above it by the rules of
// ObjectSecurity.h (every key is a container). The hive roots HKLM and HKU
// start from the defaults of DefaultSecurity.h when they store nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/HostDb.h"
#include "platform/host/ObjectSecurity.h"
#include "platform/host/Profiles.h"
#include "platform/winsec/SecurityDescriptor.h"

namespace host {

class KeySecurityStore {
 public:
  KeySecurityStore(HostDb& db, const Profile& profile) : db_(db), profile_(profile) {}

  // The chain from the hive root down to the key, and the root's id; empty
  // when the key is gone.
  std::vector<SecurityLevel> Chain(int64_t keyId, int64_t* rootId = nullptr);
  // What the key reads back; false when the key is gone.
  bool Effective(int64_t keyId, winsec::SecurityDescriptor* sd);
  std::optional<winsec::SecurityDescriptor> Stored(int64_t keyId);
  // ERROR_INVALID_ACL when the descriptor cannot be written.
  uint32_t Store(int64_t keyId, const winsec::SecurityDescriptor& sd);

  // RegGetKeySecurity: the named parts of what the key reads back,
  // self-relative.
  uint32_t Read(int64_t keyId, uint32_t securityInformation, std::string* descriptor);
  // RegSetKeySecurity: the named parts of `descriptor` as given
  // (ERROR_INVALID_SECURITY_DESCR when it does not parse).
  uint32_t WriteLiteral(int64_t keyId, uint32_t securityInformation, std::string_view descriptor);

 private:
  winsec::SecurityDescriptor RootDefault(int64_t rootId);

  HostDb& db_;
  const Profile& profile_;
};

}  // namespace host
