#include "access/WellKnownAccounts.h"

#include <array>
#include <span>

#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace {

// How a row's SID is built: from a fixed authority and one sub-authority,
// below BUILTIN (S-1-5-32-x), or below the machine's account domain.
enum class SidBuilder { kWorld, kLocal, kCreator, kNt, kBuiltin, kAccountDomain };

struct WellKnownRow {
  const char* englishName;
  SidBuilder builder;
  uint32_t parameter;
};

constexpr std::array<WellKnownRow, 23> kWellKnownAccountTable = {{
    {"Administrator", SidBuilder::kAccountDomain, winsec::kRidAdministrator},
    {"Guest", SidBuilder::kAccountDomain, winsec::kRidGuest},
    {"Administrators", SidBuilder::kBuiltin, winsec::kAliasRidAdmins},
    {"Users", SidBuilder::kBuiltin, winsec::kAliasRidUsers},
    {"Guests", SidBuilder::kBuiltin, winsec::kAliasRidGuests},
    {"Power Users", SidBuilder::kBuiltin, winsec::kAliasRidPowerUsers},
    {"Everyone", SidBuilder::kWorld, 0},
    {"LOCAL", SidBuilder::kLocal, 0},
    {"CREATOR OWNER", SidBuilder::kCreator, 0},
    {"CREATOR GROUP", SidBuilder::kCreator, 1},
    {"CREATOR OWNER SERVER", SidBuilder::kCreator, 2},
    {"CREATOR GROUP SERVER", SidBuilder::kCreator, 3},
    {"NETWORK", SidBuilder::kNt, 2},
    {"BATCH", SidBuilder::kNt, 3},
    {"INTERACTIVE", SidBuilder::kNt, 4},
    {"SERVICE", SidBuilder::kNt, 6},
    {"ANONYMOUS LOGON", SidBuilder::kNt, 7},
    {"PROXY", SidBuilder::kNt, 8},
    {"SELF", SidBuilder::kNt, 10},
    {"AUTHENTICATED USER", SidBuilder::kNt, 11},  // singular, as security files write it
    {"SYSTEM", SidBuilder::kNt, 18},
    {"LOCAL SERVICE", SidBuilder::kNt, 19},
    {"NETWORK SERVICE", SidBuilder::kNt, 20},
}};

// The buffers the lookup is given: 257 characters for the name (of a
// zeroed 260), 16 for the referenced domain.
constexpr size_t kNameBufferChars = 257;
constexpr size_t kDomainBufferChars = 16;

uint32_t AuthoritySid(uint64_t authority, std::span<const uint32_t> subAuthorities, winsec::Sid* sid) {
  return winsec::Sid::Make(authority, subAuthorities, sid);
}

// The row's SID and the English domain a security file names it with.
bool BuildSid(const WellKnownRow& row, winsec::Sid* sid, std::string* englishDomain) {
  const uint32_t one[] = {row.parameter};
  switch (row.builder) {
    case SidBuilder::kWorld:
      return AuthoritySid(winsec::kWorldSidAuthority, one, sid) == winerr::kSuccess;
    case SidBuilder::kLocal:
      return AuthoritySid(winsec::kLocalSidAuthority, one, sid) == winerr::kSuccess;
    case SidBuilder::kCreator:
      return AuthoritySid(winsec::kCreatorSidAuthority, one, sid) == winerr::kSuccess;
    case SidBuilder::kNt:
      *englishDomain = "NT AUTHORITY";
      return AuthoritySid(winsec::kNtAuthority, one, sid) == winerr::kSuccess;
    case SidBuilder::kBuiltin: {
      *englishDomain = "BUILTIN";
      const uint32_t builtin[] = {winsec::kBuiltinDomainRid, row.parameter};
      return AuthoritySid(winsec::kNtAuthority, builtin, sid) == winerr::kSuccess;
    }
    case SidBuilder::kAccountDomain: {
      winsec::Sid domainSid;
      if (plat::Current().Accounts().UserModalsGetDomain(englishDomain, &domainSid) != winerr::kSuccess) {
        return false;
      }
      return winsec::Sid::WithRid(domainSid, row.parameter, sid) == winerr::kSuccess;
    }
  }
  return false;
}

const WellKnownRow* FindRow(std::string_view englishName) {
  for (const WellKnownRow& row : kWellKnownAccountTable) {
    if (englishName == row.englishName) return &row;
  }
  return nullptr;
}

}  // namespace

bool FitsLookupBuffer(std::string_view text, size_t bufferChars) {
  return text::Utf8ToUtf16(text).size() < bufferChars;
}

bool WellKnownAccount::IsDomainOf(std::string_view domain) const {
  const std::string wanted = text::AsciiLower(domain);
  return wanted.empty() || wanted == text::AsciiLower(englishDomain) || wanted == text::AsciiLower(localDomain);
}

std::optional<WellKnownAccount> FindWellKnownAccount(std::string_view englishName) {
  const WellKnownRow* row = FindRow(englishName);
  if (row == nullptr) return std::nullopt;
  WellKnownAccount account;
  if (!BuildSid(*row, &account.sid, &account.englishDomain)) return std::nullopt;
  plat::AccountName found;
  if (plat::Current().Security().LookupAccountSid("", account.sid, &found) != winerr::kSuccess) {
    return std::nullopt;
  }
  if (!FitsLookupBuffer(found.name, kNameBufferChars) || !FitsLookupBuffer(found.domain, kDomainBufferChars)) {
    return std::nullopt;
  }
  account.localName = found.name;
  account.localDomain = found.domain;
  return account;
}

std::string TranslateAccountName(std::string_view name) {
  const std::optional<WellKnownAccount> account = FindWellKnownAccount(name);
  return account ? account->localName : std::string(name);
}

ResolvedAccount ResolveAccount(std::string_view domain, std::string_view name) {
  ResolvedAccount account;
  const std::optional<WellKnownAccount> wellKnown = FindWellKnownAccount(name);
  account.name = wellKnown ? wellKnown->localName : std::string(name);
  if (wellKnown && wellKnown->IsDomainOf(domain)) {
    account.sid = wellKnown->sid;
    account.found = true;
    return account;
  }
  account.bySid = domain.empty();
  const std::string lookup = domain.empty() ? account.name : std::string(domain) + "\\" + account.name;
  std::string referencedDomain;
  account.found = CTool::GetSidFromAccountName(&referencedDomain, lookup, &account.sid) == 0;
  return account;
}
