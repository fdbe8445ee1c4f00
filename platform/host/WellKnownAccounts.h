// The names a Windows installation gives to its well-known SIDs, built-in
// aliases and built-in accounts, in English and German, with the Windows
// version each one first appeared in. SIDs never change between languages;
// only these names do, and this file is the one place that holds them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/Security.h"
#include "platform/host/Profiles.h"

namespace host {

enum class AccountLanguage { kEnglish, kGerman };
AccountLanguage AccountLanguageOf(std::string_view language);

// A Windows version as major * 100 + minor (601 = Windows 7); 0 = every version.
constexpr uint16_t kAllVersions = 0;
constexpr uint16_t kNt52 = 502;
constexpr uint16_t kNt60 = 600;
constexpr uint16_t kNt61 = 601;
constexpr uint16_t kNt62 = 602;
uint16_t VersionOf(const Profile& profile);
inline bool AvailableOn(uint16_t since, const Profile& profile) { return VersionOf(profile) >= since; }

// The authorities well-known accounts are named under ("NT AUTHORITY\SYSTEM").
enum class WellKnownDomain {
  kNone,  // "Everyone", "CREATOR OWNER": no domain part
  kNtAuthority,
  kBuiltin,
  kNtService,
  kAppPackageAuthority,
  kMandatoryLabel,
};
std::string DomainDisplayName(WellKnownDomain domain, AccountLanguage language);

// A well-known SID that is not kept in the account database.
struct WellKnownAccount {
  const char* sid;
  WellKnownDomain domain;
  const char* english;
  const char* german;
  plat::SidNameUse use;
  uint16_t since;
};
std::span<const WellKnownAccount> WellKnownAccounts();

// NT SERVICE\TrustedInstaller, the owner of the system folders on 6.x.
constexpr const char* kTrustedInstallerSid = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// A built-in alias (S-1-5-32-rid) with the description Windows gives it.
struct BuiltinAliasDef {
  uint32_t rid;
  const char* english;
  const char* german;
  const char* commentEnglish;
  const char* commentGerman;
  uint16_t since;
};
std::span<const BuiltinAliasDef> BuiltinAliases();

// The built-in accounts of the machine's account domain (RIDs 500, 501, 513).
struct BuiltinDomainAccountDef {
  uint32_t rid;
  plat::SidNameUse use;  // kUser or kGroup (a global group)
  const char* english;
  const char* german;
  const char* commentEnglish;
  const char* commentGerman;
};
std::span<const BuiltinDomainAccountDef> BuiltinDomainAccounts();

inline const char* InLanguage(AccountLanguage language, const char* english, const char* german) {
  return language == AccountLanguage::kGerman ? german : english;
}

}  // namespace host
