#include "platform/host/SecuritySeed.h"

#include <filesystem>

#include "platform/host/AccountDirectory.h"
#include "platform/host/DefaultSecurity.h"
#include "platform/host/FileSecurity.h"
#include "platform/host/Host.h"
#include "platform/host/KeySecurity.h"
#include "platform/text/Text.h"

namespace host {
namespace {

winsec::Sid SidOf(const std::string& text) {
  winsec::Sid sid;
  winsec::Sid::FromString(text, &sid);
  return sid;
}

winsec::Sid DomainAccount(const winsec::Sid& domain, uint32_t rid) {
  winsec::Sid sid;
  winsec::Sid::WithRid(domain, rid, &sid);
  return sid;
}

void SeedDomainAccounts(AccountDirectory& accounts, const Host& host) {
  const AccountLanguage language = accounts.Language();
  for (const BuiltinDomainAccountDef& def : BuiltinDomainAccounts()) {
    const AccountKind kind = def.use == plat::SidNameUse::kUser ? AccountKind::kUser : AccountKind::kGroup;
    accounts.Insert(DomainAccount(accounts.DomainSid(), def.rid), kind, InLanguage(language, def.english, def.german),
                    InLanguage(language, def.commentEnglish, def.commentGerman));
  }
  accounts.Insert(SidOf(host.UserSid()), AccountKind::kUser, host.Identity().userName, "");
}

void SeedBuiltinAliases(AccountDirectory& accounts) {
  const AccountLanguage language = accounts.Language();
  for (const BuiltinAliasDef& def : BuiltinAliases()) {
    if (!AvailableOn(def.since, accounts.ProfileDef())) continue;
    accounts.Insert(winsec::Sid::Builtin(def.rid), AccountKind::kAlias, InLanguage(language, def.english, def.german),
                    InLanguage(language, def.commentEnglish, def.commentGerman));
  }
}

void SeedMemberships(AccountDirectory& accounts, const Host& host) {
  const winsec::Sid& domain = accounts.DomainSid();
  const winsec::Sid user = SidOf(host.UserSid());
  const winsec::Sid administrator = DomainAccount(domain, winsec::kRidAdministrator);
  const winsec::Sid guest = DomainAccount(domain, winsec::kRidGuest);
  const winsec::Sid none = DomainAccount(domain, winsec::kRidDomainUsers);
  for (const winsec::Sid& member : {administrator, guest, user}) accounts.AddMember(none, member);
  accounts.AddMember(winsec::Sid::BuiltinAdministrators(), administrator);
  if (host.Identity().userIsAdmin) accounts.AddMember(winsec::Sid::BuiltinAdministrators(), user);
  accounts.AddMember(winsec::Sid::BuiltinUsers(), user);
  accounts.AddMember(winsec::Sid::BuiltinUsers(), winsec::Sid::Interactive());
  accounts.AddMember(winsec::Sid::BuiltinUsers(), winsec::Sid::AuthenticatedUsers());
  accounts.AddMember(winsec::Sid::BuiltinGuests(), guest);
  if (AvailableOn(kNt60, accounts.ProfileDef())) accounts.AddMember(winsec::Sid::IisUsers(), winsec::Sid::Nt(17));
}

void SeedFile(Host& host, FileSecurityStore& files, const std::string& path, DefaultObject object) {
  FileObject located;
  if (files.Locate(path, &located) != 0) return;
  files.Store(located, DefaultSecurityOf(object, host.ProfileDef(), SidOf(host.UserSid()), SidOf(host.DomainSid())));
}

void SeedKey(Host& host, KeySecurityStore& keys, const std::vector<std::string>& path, DefaultObject object) {
  const int64_t id = host.RegistryImpl().EnsurePhysicalKey(path);
  keys.Store(id, DefaultSecurityOf(object, host.ProfileDef(), SidOf(host.UserSid()), SidOf(host.DomainSid())));
}

// A descriptor with an owner and group only: the DACL stays inherited.
winsec::SecurityDescriptor OwnerOnly(const winsec::Sid& owner) {
  winsec::SecurityDescriptor sd;
  sd.SetOwner(owner);
  sd.SetGroup(winsec::Sid::LocalSystem());
  return sd;
}

bool IsBelow(std::string_view path, std::string_view folder) {
  return text::StartsWithNoCase(path, folder) && (path.size() == folder.size() || path[folder.size()] == '\\');
}

void SeedFileOwners(Host& host, FileSecurityStore& files) {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(host.Paths().DriveC(), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const std::string path = host.Paths().WindowsPathOf(it->path().string());
    FileObject located;
    if (files.Locate(path, &located) != 0 || located.chain.back().stored) continue;
    files.Store(located, OwnerOnly(SetupOwnerOfFile(host, path)));
  }
}

void SeedKeyOwners(Host& host, KeySecurityStore& keys) {
  std::vector<int64_t> ids;
  Statement st(host.Db(), "SELECT id FROM reg_key WHERE sd IS NULL");
  while (st.Step()) ids.push_back(st.Int(0));
  for (int64_t id : ids) keys.Store(id, OwnerOnly(SetupOwnerOfKey(host, host.RegistryImpl().PhysicalPathOf(id))));
}

}  // namespace

void SeedAccounts(Host& host) {
  AccountDirectory accounts = AccountDirectory::Of(host);
  SeedDomainAccounts(accounts, host);
  SeedBuiltinAliases(accounts);
  SeedMemberships(accounts, host);
}

winsec::Sid SetupOwnerOfFile(Host& host, std::string_view windowsPath) {
  const KnownFolders& folders = host.SystemImpl().Folders();
  if (IsBelow(windowsPath, folders.userProfile)) return SidOf(host.UserSid());
  if (IsBelow(windowsPath, folders.windows)) {
    const winsec::SecurityDescriptor windows = DefaultSecurityOf(
        DefaultObject::kWindowsFolder, host.ProfileDef(), SidOf(host.UserSid()), SidOf(host.DomainSid()));
    if (windows.Owner()) return *windows.Owner();
  }
  return winsec::Sid::BuiltinAdministrators();
}

winsec::Sid SetupOwnerOfKey(Host& host, const std::vector<std::string>& physicalPath) {
  if (physicalPath.size() >= 2 && physicalPath[0] == "HKU" && text::EqualsNoCase(physicalPath[1], host.UserSid())) {
    return SidOf(host.UserSid());
  }
  return winsec::Sid::BuiltinAdministrators();
}

void SeedSecurity(Host& host) {
  FileSecurityStore files(host.Db(), host.Paths(), host.ProfileDef(), host.FileCache());
  SeedFile(host, files, "C:\\", DefaultObject::kDriveRoot);
  SeedFile(host, files, host.SystemImpl().Folders().windows, DefaultObject::kWindowsFolder);
  KeySecurityStore keys(host.Db(), host.ProfileDef());
  SeedKey(host, keys, {"HKLM"}, DefaultObject::kMachineHive);
  SeedKey(host, keys, {"HKLM", "SOFTWARE"}, DefaultObject::kMachineSoftware);
  SeedKey(host, keys, {"HKU"}, DefaultObject::kUsersHive);
  SeedKey(host, keys, {"HKU", host.UserSid()}, DefaultObject::kUserHive);
  SeedFileOwners(host, files);
  SeedKeyOwners(host, keys);
}

}  // namespace host
