// Security identifiers (SIDs) as Windows stores and prints them: the binary
// layout (revision 1, a 48-bit identifier authority, up to 15
// sub-authorities) and the "S-1-..." text form. Well-known SIDs and the
// relative identifiers (RIDs) of the built-in accounts and aliases live here
// too, so every module names them the same way.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "platform/winsec/Bytes.h"

namespace winsec {

constexpr uint8_t kSidRevision = 1;
constexpr uint8_t kSidMaxSubAuthorities = 15;
constexpr size_t kSidHeaderSize = 8;
constexpr size_t kSidMaxLength = kSidHeaderSize + 4 * kSidMaxSubAuthorities;
constexpr uint64_t kSidMaxAuthority = (uint64_t{1} << 48) - 1;

// Identifier authorities.
constexpr uint64_t kNullSidAuthority = 0;
constexpr uint64_t kWorldSidAuthority = 1;
constexpr uint64_t kLocalSidAuthority = 2;
constexpr uint64_t kCreatorSidAuthority = 3;
constexpr uint64_t kNtAuthority = 5;
constexpr uint64_t kAppPackageAuthority = 15;
constexpr uint64_t kMandatoryLabelAuthority = 16;

// First sub-authority of the NT authority's domains.
constexpr uint32_t kNtNonUniqueRid = 21;   // S-1-5-21-x-y-z: machine and domain accounts
constexpr uint32_t kBuiltinDomainRid = 32;  // S-1-5-32: the BUILTIN domain

// RIDs inside an account domain (S-1-5-21-x-y-z-RID).
constexpr uint32_t kRidAdministrator = 500;
constexpr uint32_t kRidGuest = 501;
constexpr uint32_t kRidEnterpriseReadOnlyDcs = 498;
constexpr uint32_t kRidDomainAdmins = 512;
constexpr uint32_t kRidDomainUsers = 513;
constexpr uint32_t kRidDomainGuests = 514;
constexpr uint32_t kRidDomainComputers = 515;
constexpr uint32_t kRidDomainControllers = 516;
constexpr uint32_t kRidCertAdmins = 517;
constexpr uint32_t kRidSchemaAdmins = 518;
constexpr uint32_t kRidEnterpriseAdmins = 519;
constexpr uint32_t kRidPolicyAdmins = 520;
constexpr uint32_t kRidRasServers = 553;

// Aliases of the BUILTIN domain (S-1-5-32-RID).
constexpr uint32_t kAliasRidAdmins = 544;
constexpr uint32_t kAliasRidUsers = 545;
constexpr uint32_t kAliasRidGuests = 546;
constexpr uint32_t kAliasRidPowerUsers = 547;
constexpr uint32_t kAliasRidAccountOps = 548;
constexpr uint32_t kAliasRidSystemOps = 549;
constexpr uint32_t kAliasRidPrintOps = 550;
constexpr uint32_t kAliasRidBackupOps = 551;
constexpr uint32_t kAliasRidReplicator = 552;
constexpr uint32_t kAliasRidPreW2kCompatibleAccess = 554;
constexpr uint32_t kAliasRidRemoteDesktopUsers = 555;
constexpr uint32_t kAliasRidNetworkConfigurationOps = 556;
constexpr uint32_t kAliasRidMonitoringUsers = 558;  // Performance Monitor Users
constexpr uint32_t kAliasRidLoggingUsers = 559;     // Performance Log Users
constexpr uint32_t kAliasRidDcomUsers = 562;        // Distributed COM Users
constexpr uint32_t kAliasRidIUsers = 568;
constexpr uint32_t kAliasRidCryptoOperators = 569;
constexpr uint32_t kAliasRidEventLogReaders = 573;
constexpr uint32_t kAliasRidCertSvcDcomAccess = 574;
constexpr uint32_t kAliasRidRdsRemoteAccessServers = 575;
constexpr uint32_t kAliasRidRdsEndpointServers = 576;
constexpr uint32_t kAliasRidRdsManagementServers = 577;
constexpr uint32_t kAliasRidHyperVAdmins = 578;
constexpr uint32_t kAliasRidAccessControlAssistanceOps = 579;
constexpr uint32_t kAliasRidRemoteManagementUsers = 580;

// RIDs of the mandatory-label authority (integrity levels).
constexpr uint32_t kMandatoryLowRid = 0x1000;
constexpr uint32_t kMandatoryMediumRid = 0x2000;
constexpr uint32_t kMandatoryMediumPlusRid = 0x2100;
constexpr uint32_t kMandatoryHighRid = 0x3000;
constexpr uint32_t kMandatorySystemRid = 0x4000;

// A SID value. A default-constructed Sid is S-1-0 (null authority, no
// sub-authority); every other Sid comes from a factory below, so a Sid never
// holds more than 15 sub-authorities or an authority wider than 48 bits.
class Sid {
 public:
  Sid() = default;

  // A SID from its parts; ERROR_INVALID_SID for more than 15 sub-authorities
  // or an authority of 2^48 or more.
  static uint32_t Make(uint64_t authority, std::span<const uint32_t> subAuthorities, Sid* out);
  // Reads a binary SID from the start of `bytes` (which may hold more after
  // it). ERROR_INVALID_SID when the buffer is shorter than the header or than
  // 8 + 4n, the revision is not 1 or the count exceeds 15. `length` (if
  // given) receives the bytes the SID occupies.
  static uint32_t Parse(ByteView bytes, Sid* out, size_t* length = nullptr);
  // Reads "S-1-<authority>-<sub>..." (ConvertStringSidToSid): case-insensitive,
  // each number decimal or "0x" hex. At least one and at most 15
  // sub-authorities; anything else is ERROR_INVALID_SID.
  static uint32_t FromString(std::string_view text, Sid* out);
  // The SID of account `rid` in `domain` (domain + one sub-authority);
  // ERROR_INVALID_SID when the domain already has 15 sub-authorities.
  static uint32_t WithRid(const Sid& domain, uint32_t rid, Sid* out);

  uint64_t IdentifierAuthority() const { return authority_; }
  uint8_t SubAuthorityCount() const { return count_; }
  std::span<const uint32_t> SubAuthorities() const { return {subs_.data(), count_}; }
  // Length of the binary form: 8 + 4 * sub-authority count.
  size_t Length() const { return kSidHeaderSize + 4 * size_t{count_}; }

  Bytes ToBytes() const;
  void AppendTo(Bytes* out) const;
  // "S-1-5-32-544"; the authority in decimal below 2^32, else "0x" and 12
  // upper-case hex digits.
  std::string ToString() const;

  // Same authority and `prefix`'s sub-authorities lead this SID's.
  bool StartsWith(const Sid& prefix) const;
  // This SID is `domain` plus exactly one RID.
  bool IsInDomain(const Sid& domain) const;
  // The SID without its last sub-authority, and that last sub-authority;
  // ERROR_INVALID_SID for a SID without sub-authorities.
  uint32_t DomainOf(Sid* domain) const;
  uint32_t Rid(uint32_t* rid) const;

  size_t Hash() const;
  friend bool operator==(const Sid& a, const Sid& b);
  // Orders by authority, then by the sub-authorities lexicographically.
  friend std::strong_ordering operator<=>(const Sid& a, const Sid& b);

  // Well-known SIDs.
  static Sid Null() { return Sid(kNullSidAuthority, {0}); }                   // S-1-0-0
  static Sid Everyone() { return Sid(kWorldSidAuthority, {0}); }              // S-1-1-0
  static Sid Local() { return Sid(kLocalSidAuthority, {0}); }                 // S-1-2-0
  static Sid CreatorOwner() { return Sid(kCreatorSidAuthority, {0}); }        // S-1-3-0
  static Sid CreatorGroup() { return Sid(kCreatorSidAuthority, {1}); }        // S-1-3-1
  static Sid CreatorOwnerServer() { return Sid(kCreatorSidAuthority, {2}); }  // S-1-3-2
  static Sid CreatorGroupServer() { return Sid(kCreatorSidAuthority, {3}); }  // S-1-3-3
  static Sid OwnerRights() { return Sid(kCreatorSidAuthority, {4}); }         // S-1-3-4
  // NT AUTHORITY\<rid>: S-1-5-rid.
  static Sid Nt(uint32_t rid) { return Sid(kNtAuthority, {rid}); }
  static Sid Network() { return Nt(2); }
  static Sid Batch() { return Nt(3); }
  static Sid Interactive() { return Nt(4); }
  static Sid Service() { return Nt(6); }
  static Sid Anonymous() { return Nt(7); }
  static Sid Proxy() { return Nt(8); }
  static Sid EnterpriseDomainControllers() { return Nt(9); }
  static Sid PrincipalSelf() { return Nt(10); }
  static Sid AuthenticatedUsers() { return Nt(11); }
  static Sid RestrictedCode() { return Nt(12); }
  static Sid TerminalServerUsers() { return Nt(13); }
  static Sid LocalSystem() { return Nt(18); }
  static Sid LocalService() { return Nt(19); }
  static Sid NetworkService() { return Nt(20); }
  static Sid WriteRestrictedCode() { return Nt(33); }
  // BUILTIN: S-1-5-32, and its aliases S-1-5-32-rid.
  static Sid BuiltinDomain() { return Sid(kNtAuthority, {kBuiltinDomainRid}); }
  static Sid Builtin(uint32_t aliasRid) { return Sid(kNtAuthority, {kBuiltinDomainRid, aliasRid}); }
  static Sid BuiltinAdministrators() { return Builtin(kAliasRidAdmins); }
  static Sid BuiltinUsers() { return Builtin(kAliasRidUsers); }
  static Sid BuiltinGuests() { return Builtin(kAliasRidGuests); }
  static Sid PowerUsers() { return Builtin(kAliasRidPowerUsers); }
  static Sid PerformanceMonitorUsers() { return Builtin(kAliasRidMonitoringUsers); }
  static Sid PerformanceLogUsers() { return Builtin(kAliasRidLoggingUsers); }
  static Sid DistributedComUsers() { return Builtin(kAliasRidDcomUsers); }
  static Sid IisUsers() { return Builtin(kAliasRidIUsers); }
  // APPLICATION PACKAGE AUTHORITY\ALL APPLICATION PACKAGES: S-1-15-2-1.
  static Sid AllApplicationPackages() { return Sid(kAppPackageAuthority, {2, 1}); }
  // Mandatory Label\<level>: S-1-16-rid.
  static Sid MandatoryLabel(uint32_t rid) { return Sid(kMandatoryLabelAuthority, {rid}); }

 private:
  // For the fixed values above only: at most two sub-authorities.
  Sid(uint64_t authority, std::initializer_list<uint32_t> subAuthorities);

  uint64_t authority_ = 0;
  uint8_t count_ = 0;
  std::array<uint32_t, kSidMaxSubAuthorities> subs_{};  // unused entries stay 0
};

}  // namespace winsec

template <>
struct std::hash<winsec::Sid> {
  size_t operator()(const winsec::Sid& sid) const noexcept { return sid.Hash(); }
};
