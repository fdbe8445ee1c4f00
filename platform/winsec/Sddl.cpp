#include "platform/winsec/Sddl.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "platform/WinError.h"
#include "platform/winsec/Number.h"
#include "platform/winsec/AccessMask.h"

namespace winsec {
namespace {

using winerr::kSuccess;

// ---------------------------------------------------------------------------
// Token tables. Output walks them in the order given here.

struct Token {
  std::string_view text;
  uint32_t value;
};

constexpr Token kAceFlagTokens[] = {
    {"OI", kObjectInheritAce}, {"CI", kContainerInheritAce},     {"NP", kNoPropagateInheritAce},
    {"IO", kInheritOnlyAce},   {"ID", kInheritedAce},            {"SA", kSuccessfulAccessAceFlag},
    {"FA", kFailedAccessAceFlag}};

// A mask equal to one of these is written as its alias. KX (= KR) is only read.
constexpr Token kCompositeRights[] = {
    {"FA", kFileAllAccess}, {"FR", kFileGenericRead}, {"FW", kFileGenericWrite},
    {"FX", kFileGenericExecute}, {"KA", kKeyAllAccess}, {"KR", kKeyRead}, {"KW", kKeyWrite}};

// One-bit names in ascending bit order.
constexpr Token kBitRights[] = {
    {"CC", 0x1},          {"DC", 0x2},          {"LC", 0x4},          {"SW", 0x8},
    {"RP", 0x10},         {"WP", 0x20},         {"DT", 0x40},         {"LO", 0x80},
    {"CR", 0x100},        {"SD", kDelete},      {"RC", kReadControl}, {"WD", kWriteDac},
    {"WO", kWriteOwner},  {"GA", kGenericAll},  {"GX", kGenericExecute}, {"GW", kGenericWrite},
    {"GR", kGenericRead}};

// Rights of a mandatory-label ACE (no write up, no read up, no execute up).
constexpr Token kLabelRights[] = {{"NW", 0x1}, {"NR", 0x2}, {"NX", 0x4}};

constexpr Token kInputOnlyRights[] = {{"KX", kKeyExecute}};

struct AceTypeToken {
  std::string_view text;
  uint8_t type;
  bool supported;  // false: known to SDDL, but not read or written here
};

constexpr AceTypeToken kAceTypes[] = {
    {"A", kAccessAllowedAceType, true},
    {"D", kAccessDeniedAceType, true},
    {"AU", kSystemAuditAceType, true},
    {"AL", kSystemAlarmAceType, true},
    {"OA", kAccessAllowedObjectAceType, true},
    {"OD", kAccessDeniedObjectAceType, true},
    {"OU", kSystemAuditObjectAceType, true},
    {"OL", kSystemAlarmObjectAceType, true},
    {"ML", kSystemMandatoryLabelAceType, true},
    {"XA", kAccessAllowedCallbackAceType, false},
    {"XD", kAccessDeniedCallbackAceType, false},
    {"ZA", kAccessAllowedCallbackObjectAceType, false},
    {"XU", kSystemAuditCallbackAceType, false},
    {"RA", kSystemResourceAttributeAceType, false},
    {"SP", kSystemScopedPolicyIdAceType, false}};

// ACL flags, kept apart from the DACL/SACL control bits they become.
constexpr uint16_t kAclFlagProtected = 0x1;
constexpr uint16_t kAclFlagAutoInheritReq = 0x2;
constexpr uint16_t kAclFlagAutoInherited = 0x4;
constexpr Token kAclFlagTokens[] = {
    {"P", kAclFlagProtected}, {"AR", kAclFlagAutoInheritReq}, {"AI", kAclFlagAutoInherited}};
constexpr std::string_view kNullAclToken = "NO_ACCESS_CONTROL";

struct FixedAlias {
  std::string_view alias;
  uint64_t authority;
  uint8_t count;
  std::array<uint32_t, 2> subs;
};

constexpr FixedAlias kFixedAliases[] = {
    {"WD", kWorldSidAuthority, 1, {0}},
    {"CO", kCreatorSidAuthority, 1, {0}},
    {"CG", kCreatorSidAuthority, 1, {1}},
    {"OW", kCreatorSidAuthority, 1, {4}},
    {"NU", kNtAuthority, 1, {2}},
    {"IU", kNtAuthority, 1, {4}},
    {"SU", kNtAuthority, 1, {6}},
    {"AN", kNtAuthority, 1, {7}},
    {"ED", kNtAuthority, 1, {9}},
    {"PS", kNtAuthority, 1, {10}},
    {"AU", kNtAuthority, 1, {11}},
    {"RC", kNtAuthority, 1, {12}},
    {"SY", kNtAuthority, 1, {18}},
    {"LS", kNtAuthority, 1, {19}},
    {"NS", kNtAuthority, 1, {20}},
    {"WR", kNtAuthority, 1, {33}},
    {"BA", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidAdmins}},
    {"BU", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidUsers}},
    {"BG", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidGuests}},
    {"PU", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidPowerUsers}},
    {"AO", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidAccountOps}},
    {"SO", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidSystemOps}},
    {"PO", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidPrintOps}},
    {"BO", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidBackupOps}},
    {"RE", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidReplicator}},
    {"RU", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidPreW2kCompatibleAccess}},
    {"RD", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidRemoteDesktopUsers}},
    {"NO", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidNetworkConfigurationOps}},
    {"MU", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidMonitoringUsers}},
    {"LU", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidLoggingUsers}},
    {"IS", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidIUsers}},
    {"CY", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidCryptoOperators}},
    {"ER", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidEventLogReaders}},
    {"CD", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidCertSvcDcomAccess}},
    {"RA", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidRdsRemoteAccessServers}},
    {"ES", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidRdsEndpointServers}},
    {"MS", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidRdsManagementServers}},
    {"HA", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidHyperVAdmins}},
    {"AA", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidAccessControlAssistanceOps}},
    {"RM", kNtAuthority, 2, {kBuiltinDomainRid, kAliasRidRemoteManagementUsers}},
    {"AC", kAppPackageAuthority, 2, {2, 1}},
    {"LW", kMandatoryLabelAuthority, 1, {kMandatoryLowRid}},
    {"ME", kMandatoryLabelAuthority, 1, {kMandatoryMediumRid}},
    {"MP", kMandatoryLabelAuthority, 1, {kMandatoryMediumPlusRid}},
    {"HI", kMandatoryLabelAuthority, 1, {kMandatoryHighRid}},
    {"SI", kMandatoryLabelAuthority, 1, {kMandatorySystemRid}}};

struct DomainAlias {
  std::string_view alias;
  bool machine;  // relative to the machine's account domain, else the joined domain
  uint32_t rid;
};

constexpr DomainAlias kDomainAliases[] = {
    {"LA", true, kRidAdministrator},       {"LG", true, kRidGuest},
    {"DA", false, kRidDomainAdmins},       {"DU", false, kRidDomainUsers},
    {"DG", false, kRidDomainGuests},       {"DC", false, kRidDomainComputers},
    {"DD", false, kRidDomainControllers},  {"CA", false, kRidCertAdmins},
    {"SA", false, kRidSchemaAdmins},       {"EA", false, kRidEnterpriseAdmins},
    {"PA", false, kRidPolicyAdmins},       {"RS", false, kRidRasServers},
    {"RO", false, kRidEnterpriseReadOnlyDcs}};

// ---------------------------------------------------------------------------
// Small text helpers.

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// Decimal or "0x" hex digits, nothing else, at most 32 bits.
bool ParseUnsigned32(std::string_view text, uint32_t* value) {
  uint64_t result = 0;
  if (!ParseNumber(text, UINT32_MAX, &result)) return false;
  *value = static_cast<uint32_t>(result);
  return true;
}

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  while (true) {
    size_t semicolon = text.find(';');
    fields.push_back(text.substr(0, semicolon));
    if (semicolon == std::string_view::npos) return fields;
    text.remove_prefix(semicolon + 1);
  }
}

template <size_t N>
const Token* FindToken(const Token (&table)[N], std::string_view text) {
  for (const Token& token : table) {
    if (token.text == text) return &token;
  }
  return nullptr;
}

// Reads a run of two-letter tokens from any of the tables; false on an
// unknown pair or an odd length.
template <typename... Tables>
bool ReadTokenPairs(std::string_view text, uint32_t* value, const Tables&... tables) {
  uint32_t result = 0;
  if (text.size() % 2 != 0) return false;
  for (size_t pos = 0; pos < text.size(); pos += 2) {
    std::string_view pair = text.substr(pos, 2);
    const Token* token = nullptr;
    ((token = token ? token : FindToken(tables, pair)), ...);
    if (!token) return false;
    result |= token->value;
  }
  *value = result;
  return true;
}

// ---------------------------------------------------------------------------
// ACE bodies of the types that are not decoded by Ace: object ACEs (mask,
// object flags, optional GUIDs, SID) and label ACEs (mask, SID).

using Guid = std::array<uint8_t, 16>;
constexpr size_t kGuidTextLength = 36;

// The fields of one ACE as SDDL shows them.
struct AceFields {
  uint32_t mask = 0;
  std::optional<Guid> objectType;
  std::optional<Guid> inheritedObjectType;
  Sid sid;
};

// GUID text "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"; the first three groups
// are stored little-endian, the last eight bytes as written.
bool ParseGuid(std::string_view text, Guid* guid) {
  if (text.size() != kGuidTextLength) return false;
  std::array<uint8_t, 16> inTextOrder{};
  size_t byte = 0;
  for (size_t pos = 0; pos < text.size();) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (text[pos++] != '-') return false;
      continue;
    }
    int high = HexDigitValue(text[pos]);
    int low = HexDigitValue(text[pos + 1]);
    if (high < 0 || low < 0) return false;
    inTextOrder[byte++] = static_cast<uint8_t>(high * 16 + low);
    pos += 2;
  }
  *guid = inTextOrder;
  std::reverse(guid->begin(), guid->begin() + 4);
  std::reverse(guid->begin() + 4, guid->begin() + 6);
  std::reverse(guid->begin() + 6, guid->begin() + 8);
  return true;
}

std::string GuidToText(const Guid& g) {
  char buffer[kGuidTextLength + 1];
  std::snprintf(buffer, sizeof buffer,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  return buffer;
}

Bytes EncodeBody(uint8_t type, const AceFields& fields) {
  Bytes body;
  bytes::AppendU32(&body, fields.mask);
  if (IsObjectAceType(type)) {
    uint32_t present = (fields.objectType ? kAceObjectTypePresent : 0) |
                       (fields.inheritedObjectType ? kAceInheritedObjectTypePresent : 0);
    bytes::AppendU32(&body, present);
    if (fields.objectType) body.insert(body.end(), fields.objectType->begin(), fields.objectType->end());
    if (fields.inheritedObjectType) {
      body.insert(body.end(), fields.inheritedObjectType->begin(), fields.inheritedObjectType->end());
    }
  }
  fields.sid.AppendTo(&body);
  return body;
}

bool ReadGuid(ByteView body, size_t* offset, std::optional<Guid>* guid) {
  if (!bytes::Fits(body, *offset, 16)) return false;
  Guid value;
  std::copy_n(body.begin() + static_cast<std::ptrdiff_t>(*offset), 16, value.begin());
  *guid = value;
  *offset += 16;
  return true;
}

uint32_t DecodeBody(uint8_t type, ByteView body, AceFields* fields) {
  if (body.size() < 4) return winerr::kInvalidAcl;
  fields->mask = bytes::ReadU32(body, 0);
  size_t offset = 4;
  if (IsObjectAceType(type)) {
    if (!bytes::Fits(body, offset, 4)) return winerr::kInvalidAcl;
    uint32_t present = bytes::ReadU32(body, offset);
    offset += 4;
    if ((present & kAceObjectTypePresent) && !ReadGuid(body, &offset, &fields->objectType)) {
      return winerr::kInvalidAcl;
    }
    if ((present & kAceInheritedObjectTypePresent) &&
        !ReadGuid(body, &offset, &fields->inheritedObjectType)) {
      return winerr::kInvalidAcl;
    }
  }
  if (Sid::Parse(body.subspan(offset), &fields->sid) != kSuccess) return winerr::kInvalidAcl;
  return kSuccess;
}

const AceTypeToken* FindAceType(std::string_view text) {
  for (const AceTypeToken& token : kAceTypes) {
    if (token.text == text) return &token;
  }
  return nullptr;
}

const AceTypeToken* FindAceType(uint8_t type) {
  for (const AceTypeToken& token : kAceTypes) {
    if (token.type == type) return &token;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// SIDs.

bool MatchesAlias(const FixedAlias& alias, const Sid& sid) {
  auto subs = sid.SubAuthorities();
  return sid.IdentifierAuthority() == alias.authority && subs.size() == alias.count &&
         std::equal(subs.begin(), subs.end(), alias.subs.begin());
}

const std::optional<Sid>& DomainOfAlias(const DomainAlias& alias, const SddlDomains& domains) {
  return alias.machine ? domains.machine : domains.joined;
}

// ---------------------------------------------------------------------------
// Rights and flags.

std::string HexMask(uint32_t mask) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%x", mask);
  return buffer;
}

// One-bit names in table order when they cover the whole mask.
template <size_t N>
std::optional<std::string> BitNames(uint32_t mask, const Token (&table)[N]) {
  std::string names;
  uint32_t named = 0;
  for (const Token& token : table) {
    if (mask & token.value) {
      names += token.text;
      named |= token.value;
    }
  }
  if (named != mask) return std::nullopt;
  return names;
}

std::string LabelRightsToSddl(uint32_t mask) {
  std::optional<std::string> names = BitNames(mask, kLabelRights);
  return names ? *names : RightsToSddl(mask);
}

uint32_t FlagsToSddl(uint8_t flags, std::string* out) {
  std::optional<std::string> names = BitNames(flags, kAceFlagTokens);
  if (!names) return winerr::kNotSupported;  // e.g. CRITICAL_ACE_FLAG has no token
  *out = *names;
  return kSuccess;
}

uint32_t FlagsFromSddl(std::string_view text, uint8_t* flags) {
  uint32_t value = 0;
  if (!ReadTokenPairs(text, &value, kAceFlagTokens)) return winerr::kInvalidParameter;
  *flags = static_cast<uint8_t>(value);
  return kSuccess;
}

uint32_t GuidFromSddl(std::string_view text, bool allowed, std::optional<Guid>* guid) {
  guid->reset();
  if (text.empty()) return kSuccess;
  Guid value;
  if (!allowed || !ParseGuid(text, &value)) return winerr::kInvalidParameter;
  *guid = value;
  return kSuccess;
}

// ---------------------------------------------------------------------------
// ACEs and ACLs.

Ace BuildAce(uint8_t type, uint8_t flags, const AceFields& fields) {
  if (IsAccessAceType(type)) return Ace::Access(type, fields.mask, fields.sid, flags);
  return Ace::Opaque(type, flags, EncodeBody(type, fields));
}

uint32_t ReadAceFields(const Ace& ace, AceFields* fields) {
  if (!ace.IsAccessAce()) return DecodeBody(ace.type, ace.body, fields);
  fields->mask = ace.mask;
  fields->sid = ace.sid;
  return kSuccess;
}

// Reads the ACE fields after the type: flags, rights, GUIDs and SID.
uint32_t ReadAceText(uint8_t type, const std::vector<std::string_view>& parts, uint8_t* flags,
                     AceFields* fields, const SddlDomains& domains) {
  if (uint32_t rc = FlagsFromSddl(parts[1], flags); rc != kSuccess) return rc;
  if (uint32_t rc = RightsFromSddl(parts[2], &fields->mask); rc != kSuccess) return rc;
  bool objectAce = IsObjectAceType(type);
  if (uint32_t rc = GuidFromSddl(parts[3], objectAce, &fields->objectType); rc != kSuccess) return rc;
  if (uint32_t rc = GuidFromSddl(parts[4], objectAce, &fields->inheritedObjectType); rc != kSuccess) {
    return rc;
  }
  return SidFromSddl(parts[5], &fields->sid, domains);
}

// The ')' closing the '(' at `open`, or npos.
size_t MatchingParen(std::string_view text, size_t open) {
  int depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '(') ++depth;
    if (text[i] == ')' && --depth == 0) return i;
  }
  return std::string_view::npos;
}

struct AclText {
  uint16_t flags = 0;  // kAclFlag*
  bool isNull = false;
  Acl acl;
};

// Reads "P", "AR", "AI" and "NO_ACCESS_CONTROL" up to the first ACE.
uint32_t ReadAclFlags(std::string_view text, size_t* pos, AclText* acl) {
  while (*pos < text.size() && text[*pos] != '(') {
    std::string_view rest = text.substr(*pos);
    if (rest.starts_with(kNullAclToken)) {
      acl->isNull = true;
      *pos += kNullAclToken.size();
      continue;
    }
    const Token* token = FindToken(kAclFlagTokens, rest.substr(0, 2));
    if (!token) token = FindToken(kAclFlagTokens, rest.substr(0, 1));
    if (!token) return winerr::kInvalidParameter;
    acl->flags |= static_cast<uint16_t>(token->value);
    *pos += token->text.size();
  }
  return kSuccess;
}

uint32_t ReadAces(std::string_view text, size_t pos, AclText* acl, const SddlDomains& domains) {
  while (pos < text.size()) {
    size_t close = text[pos] == '(' ? MatchingParen(text, pos) : std::string_view::npos;
    if (close == std::string_view::npos) return winerr::kInvalidAcl;
    Ace ace;
    if (uint32_t rc = AceFromSddl(text.substr(pos, close - pos + 1), &ace, domains); rc != kSuccess) {
      return rc;
    }
    acl->acl.Append(std::move(ace));
    pos = close + 1;
  }
  return kSuccess;
}

uint32_t AclFromSddl(std::string_view text, AclText* acl, const SddlDomains& domains) {
  size_t pos = 0;
  if (uint32_t rc = ReadAclFlags(text, &pos, acl); rc != kSuccess) return rc;
  if (uint32_t rc = ReadAces(text, pos, acl, domains); rc != kSuccess) return rc;
  if (acl->isNull && !acl->acl.Empty()) return winerr::kInvalidAcl;
  if (acl->acl.BytesInUse() > kMaxAclSize) return winerr::kInvalidAcl;
  return kSuccess;
}

uint32_t AclToSddl(uint16_t aclFlags, const Acl* acl, const SddlDomains& domains, std::string* out) {
  for (const Token& token : kAclFlagTokens) {
    if (aclFlags & token.value) *out += token.text;
  }
  if (!acl) {
    *out += kNullAclToken;
    return kSuccess;
  }
  for (const Ace& ace : acl->Aces()) {
    std::string text;
    if (uint32_t rc = AceToSddl(ace, &text, domains); rc != kSuccess) return rc;
    *out += text;
  }
  return kSuccess;
}

// ---------------------------------------------------------------------------
// Descriptor parts.

struct AclControlBits {
  uint16_t isProtected;
  uint16_t autoInheritReq;
  uint16_t autoInherited;
};
constexpr AclControlBits kDaclBits{kSeDaclProtected, kSeDaclAutoInheritReq, kSeDaclAutoInherited};
constexpr AclControlBits kSaclBits{kSeSaclProtected, kSeSaclAutoInheritReq, kSeSaclAutoInherited};

uint16_t ControlFromAclFlags(uint16_t aclFlags, const AclControlBits& bits) {
  uint16_t control = 0;
  if (aclFlags & kAclFlagProtected) control |= bits.isProtected;
  if (aclFlags & kAclFlagAutoInheritReq) control |= bits.autoInheritReq;
  if (aclFlags & kAclFlagAutoInherited) control |= bits.autoInherited;
  return control;
}

uint16_t AclFlagsFromControl(uint16_t control, const AclControlBits& bits) {
  uint16_t flags = 0;
  if (control & bits.isProtected) flags |= kAclFlagProtected;
  if (control & bits.autoInheritReq) flags |= kAclFlagAutoInheritReq;
  if (control & bits.autoInherited) flags |= kAclFlagAutoInherited;
  return flags;
}

struct SddlPart {
  char tag;
  std::string_view value;
};

bool IsTagAt(std::string_view text, size_t pos) {
  return pos + 1 < text.size() && text[pos + 1] == ':' &&
         std::string_view("OGDS").find(text[pos]) != std::string_view::npos;
}

// Cuts the text at every "X:" tag outside parentheses.
uint32_t SplitParts(std::string_view text, std::vector<SddlPart>* parts) {
  if (text.empty()) return kSuccess;
  if (!IsTagAt(text, 0)) return winerr::kInvalidParameter;
  int depth = 0;
  size_t start = 0;
  for (size_t pos = 2; pos <= text.size(); ++pos) {
    if (pos == text.size() || (depth == 0 && IsTagAt(text, pos))) {
      parts->push_back({text[start], text.substr(start + 2, pos - start - 2)});
      start = pos;
      ++pos;  // skip the ':' of the next tag
      continue;
    }
    if (text[pos] == '(') ++depth;
    if (text[pos] == ')' && --depth < 0) return winerr::kInvalidAcl;
  }
  return depth == 0 ? kSuccess : winerr::kInvalidAcl;
}

uint32_t ApplyAclPart(const SddlPart& part, SecurityDescriptor* sd, const SddlDomains& domains) {
  AclText acl;
  if (uint32_t rc = AclFromSddl(part.value, &acl, domains); rc != kSuccess) return rc;
  bool isDacl = part.tag == 'D';
  const AclControlBits& bits = isDacl ? kDaclBits : kSaclBits;
  sd->SetControlBits(bits.isProtected | bits.autoInheritReq | bits.autoInherited,
                     ControlFromAclFlags(acl.flags, bits));
  if (isDacl && acl.isNull) {
    sd->SetNullDacl();
  } else if (isDacl) {
    sd->SetDacl(std::move(acl.acl));
  } else if (acl.isNull) {
    sd->SetNullSacl();
  } else {
    sd->SetSacl(std::move(acl.acl));
  }
  return kSuccess;
}

uint32_t ApplyPart(const SddlPart& part, SecurityDescriptor* sd, const SddlDomains& domains) {
  if (part.tag == 'D' || part.tag == 'S') return ApplyAclPart(part, sd, domains);
  Sid sid;
  if (uint32_t rc = SidFromSddl(part.value, &sid, domains); rc != kSuccess) return rc;
  if (part.tag == 'O') {
    sd->SetOwner(sid);
  } else {
    sd->SetGroup(sid);
  }
  return kSuccess;
}

uint32_t AppendAclPart(const SecurityDescriptor& sd, bool isDacl, const SddlDomains& domains,
                       std::string* out) {
  const AclControlBits& bits = isDacl ? kDaclBits : kSaclBits;
  *out += isDacl ? "D:" : "S:";
  return AclToSddl(AclFlagsFromControl(sd.Control(), bits), isDacl ? sd.Dacl() : sd.Sacl(), domains,
                   out);
}

}  // namespace

// ---------------------------------------------------------------------------

std::string SidToSddl(const Sid& sid, const SddlDomains& domains) {
  for (const FixedAlias& alias : kFixedAliases) {
    if (MatchesAlias(alias, sid)) return std::string(alias.alias);
  }
  for (const DomainAlias& alias : kDomainAliases) {
    const std::optional<Sid>& domain = DomainOfAlias(alias, domains);
    uint32_t rid = 0;
    if (domain && sid.IsInDomain(*domain) && sid.Rid(&rid) == kSuccess && rid == alias.rid) {
      return std::string(alias.alias);
    }
  }
  return sid.ToString();
}

uint32_t SidFromSddl(std::string_view text, Sid* out, const SddlDomains& domains) {
  if (text.size() >= 2 && (text[0] == 'S' || text[0] == 's') && text[1] == '-') {
    return Sid::FromString(text, out);
  }
  for (const FixedAlias& alias : kFixedAliases) {
    if (EqualsNoCase(alias.alias, text)) {
      return Sid::Make(alias.authority, std::span<const uint32_t>(alias.subs.data(), alias.count), out);
    }
  }
  for (const DomainAlias& alias : kDomainAliases) {
    const std::optional<Sid>& domain = DomainOfAlias(alias, domains);
    if (EqualsNoCase(alias.alias, text) && domain) return Sid::WithRid(*domain, alias.rid, out);
  }
  return winerr::kInvalidSid;
}

std::string RightsToSddl(uint32_t mask) {
  for (const Token& composite : kCompositeRights) {
    if (mask == composite.value) return std::string(composite.text);
  }
  std::optional<std::string> names = BitNames(mask, kBitRights);
  return names ? *names : HexMask(mask);
}

uint32_t RightsFromSddl(std::string_view text, uint32_t* mask) {
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
    return ParseUnsigned32(text, mask) ? kSuccess : winerr::kInvalidParameter;
  }
  bool known = ReadTokenPairs(text, mask, kCompositeRights, kBitRights, kLabelRights, kInputOnlyRights);
  return known ? kSuccess : winerr::kInvalidParameter;
}

uint32_t AceFromSddl(std::string_view text, Ace* out, const SddlDomains& domains) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return winerr::kInvalidAcl;
  std::vector<std::string_view> parts = SplitFields(text.substr(1, text.size() - 2));
  const AceTypeToken* type = FindAceType(parts[0]);
  if (!type) return winerr::kInvalidParameter;
  if (!type->supported) return winerr::kNotSupported;
  if (parts.size() != 6) return winerr::kInvalidAcl;
  uint8_t flags = 0;
  AceFields fields;
  if (uint32_t rc = ReadAceText(type->type, parts, &flags, &fields, domains); rc != kSuccess) return rc;
  *out = BuildAce(type->type, flags, fields);
  return kSuccess;
}

uint32_t AceToSddl(const Ace& ace, std::string* out, const SddlDomains& domains) {
  const AceTypeToken* type = FindAceType(ace.type);
  if (!type || !type->supported) return winerr::kNotSupported;
  std::string flags;
  if (uint32_t rc = FlagsToSddl(ace.flags, &flags); rc != kSuccess) return rc;
  AceFields fields;
  if (uint32_t rc = ReadAceFields(ace, &fields); rc != kSuccess) return rc;
  bool label = ace.type == kSystemMandatoryLabelAceType;
  std::string text = "(";
  text += type->text;
  text += ";" + flags + ";";
  text += label ? LabelRightsToSddl(fields.mask) : RightsToSddl(fields.mask);
  text += ";" + (fields.objectType ? GuidToText(*fields.objectType) : std::string());
  text += ";" + (fields.inheritedObjectType ? GuidToText(*fields.inheritedObjectType) : std::string());
  text += ";" + SidToSddl(fields.sid, domains) + ")";
  *out = std::move(text);
  return kSuccess;
}

uint32_t SecurityDescriptorFromSddl(std::string_view sddl, SecurityDescriptor* out,
                                    const SddlDomains& domains) {
  std::vector<SddlPart> parts;
  if (uint32_t rc = SplitParts(sddl, &parts); rc != kSuccess) return rc;
  SecurityDescriptor sd;
  std::string seen;
  for (const SddlPart& part : parts) {
    if (seen.find(part.tag) != std::string::npos) return winerr::kInvalidParameter;
    seen += part.tag;
    if (uint32_t rc = ApplyPart(part, &sd, domains); rc != kSuccess) return rc;
  }
  *out = std::move(sd);
  return kSuccess;
}

uint32_t SecurityDescriptorToSddl(const SecurityDescriptor& sd, uint32_t securityInformation,
                                  std::string* out, const SddlDomains& domains) {
  std::string text;
  if ((securityInformation & kOwnerSecurityInformation) && sd.Owner()) {
    text += "O:" + SidToSddl(*sd.Owner(), domains);
  }
  if ((securityInformation & kGroupSecurityInformation) && sd.Group()) {
    text += "G:" + SidToSddl(*sd.Group(), domains);
  }
  if ((securityInformation & kDaclSecurityInformation) && sd.DaclPresent()) {
    if (uint32_t rc = AppendAclPart(sd, true, domains, &text); rc != kSuccess) return rc;
  }
  if ((securityInformation & kSaclSecurityInformation) && sd.SaclPresent()) {
    if (uint32_t rc = AppendAclPart(sd, false, domains, &text); rc != kSuccess) return rc;
  }
  *out = std::move(text);
  return kSuccess;
}

}  // namespace winsec
