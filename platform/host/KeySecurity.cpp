#include "platform/host/KeySecurity.h"

#include <algorithm>

#include "platform/Security.h"
#include "platform/WinError.h"
#include "platform/host/DefaultSecurity.h"

namespace host {
namespace {

// The physical ids of the two hives (HostRegistry::CreateRoots).
constexpr int64_t kUsersHiveId = 2;

std::optional<winsec::SecurityDescriptor> ParseStored(const std::string& bytes) {
  winsec::SecurityDescriptor sd;
  if (winsec::SecurityDescriptor::FromSelfRelative(winsec::AsBytes(bytes), &sd) != winerr::kSuccess) {
    return std::nullopt;
  }
  return sd;
}

}  // namespace

std::vector<SecurityLevel> KeySecurityStore::Chain(int64_t keyId, int64_t* rootId) {
  std::vector<SecurityLevel> chain;
  Statement st(db_, "SELECT parent, sd FROM reg_key WHERE id=?");
  for (int64_t id = keyId; id != 0;) {
    st.Reset();
    st.Bind(1, id);
    if (!st.Step()) return {};
    const int64_t parent = st.Int(0);
    std::optional<winsec::SecurityDescriptor> stored;
    if (!st.IsNull(1)) stored = ParseStored(st.Blob(1));
    chain.push_back({std::move(stored), true});
    if (rootId) *rootId = id;
    id = parent;
  }
  std::reverse(chain.begin(), chain.end());
  return chain;
}

winsec::SecurityDescriptor KeySecurityStore::RootDefault(int64_t rootId) {
  winsec::Sid user, domain;
  winsec::Sid::FromString(db_.Meta("user_sid"), &user);
  winsec::Sid::FromString(db_.Meta("domain_sid"), &domain);
  const DefaultObject object = rootId == kUsersHiveId ? DefaultObject::kUsersHive : DefaultObject::kMachineHive;
  return DefaultSecurityOf(object, profile_, user, domain);
}

bool KeySecurityStore::Effective(int64_t keyId, winsec::SecurityDescriptor* sd) {
  int64_t rootId = 0;
  const std::vector<SecurityLevel> chain = Chain(keyId, &rootId);
  if (chain.empty()) return false;
  SecurityDefaults defaults([&] { return RootDefault(rootId); }, [&] { return CreatorDefaultsOf(db_); });
  *sd = EffectiveSecurity(chain, defaults, winsec::kRegistryGenericMapping);
  return true;
}

std::optional<winsec::SecurityDescriptor> KeySecurityStore::Stored(int64_t keyId) {
  Statement st(db_, "SELECT sd FROM reg_key WHERE id=?");
  st.Bind(1, keyId);
  if (!st.Step() || st.IsNull(0)) return std::nullopt;
  return ParseStored(st.Blob(0));
}

uint32_t KeySecurityStore::Store(int64_t keyId, const winsec::SecurityDescriptor& sd) {
  winsec::Bytes bytes;
  if (uint32_t rc = sd.ToSelfRelative(&bytes)) return rc;
  Statement st(db_, "UPDATE reg_key SET sd=? WHERE id=?");
  st.BindBlob(1, winsec::ToByteString(bytes)).Bind(2, keyId).Run();
  return winerr::kSuccess;
}

uint32_t KeySecurityStore::Read(int64_t keyId, uint32_t securityInformation, std::string* descriptor) {
  winsec::SecurityDescriptor sd;
  if (!Effective(keyId, &sd)) return winerr::kKeyDeleted;
  winsec::Bytes bytes;
  if (uint32_t rc = SelectParts(sd, securityInformation).ToSelfRelative(&bytes)) return rc;
  *descriptor = winsec::ToByteString(bytes);
  return winerr::kSuccess;
}

uint32_t KeySecurityStore::WriteLiteral(int64_t keyId, uint32_t securityInformation, std::string_view descriptor) {
  winsec::SecurityDescriptor given;
  if (winsec::SecurityDescriptor::FromSelfRelative(winsec::AsBytes(descriptor), &given) != winerr::kSuccess) {
    return winerr::kInvalidSecurityDescr;
  }
  if ((securityInformation & plat::kOwnerSecurityInformation) && !given.Owner()) return winerr::kInvalidOwner;
  return Store(keyId, StoreLiteralSecurity(Stored(keyId), given, securityInformation));
}

}  // namespace host
