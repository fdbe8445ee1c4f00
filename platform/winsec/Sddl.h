// SDDL, the text form of security descriptors, in both directions, with the
// output rules of ConvertSecurityDescriptorToStringSecurityDescriptor: parts
// in the order O G D S, ACL flags P AR AI, ACE flags OI CI NP IO ID SA FA,
// rights as one composite alias, else one-bit names, else "0x%x", and SIDs
// as two-letter aliases where one exists. This is how descriptors are shown
// to people and written into XML.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/winsec/Ace.h"
#include "platform/winsec/SecurityDescriptor.h"
#include "platform/winsec/Sid.h"

namespace winsec {

// SECURITY_INFORMATION bits choosing the parts to write.
constexpr uint32_t kOwnerSecurityInformation = 0x1;
constexpr uint32_t kGroupSecurityInformation = 0x2;
constexpr uint32_t kDaclSecurityInformation = 0x4;
constexpr uint32_t kSaclSecurityInformation = 0x8;
constexpr uint32_t kAllSddlSecurityInformation = 0xF;

// The domains some aliases are relative to. Without the machine's account
// domain "LA" and "LG" are neither read nor written; without a joined domain
// the same holds for DA DU DG DC DD CA SA EA PA RS RO.
struct SddlDomains {
  std::optional<Sid> machine;  // LA = RID 500, LG = RID 501
  std::optional<Sid> joined;   // DA = 512, DU = 513 ...
};

// Reads a descriptor (ConvertStringSecurityDescriptorToSecurityDescriptor).
// Parts may come in any order, each at most once; "D:" alone is an empty
// DACL, "D:NO_ACCESS_CONTROL" a NULL one. Errors: ERROR_INVALID_PARAMETER for
// an unknown part, flag, ACE type, right or a misplaced GUID;
// ERROR_INVALID_SID for a SID that is neither an alias nor "S-1-...";
// ERROR_INVALID_ACL for a malformed ACE (parentheses, field count) or an ACL
// beyond 65535 bytes; ERROR_NOT_SUPPORTED for callback, resource-attribute
// and scoped-policy ACEs.
uint32_t SecurityDescriptorFromSddl(std::string_view sddl, SecurityDescriptor* out,
                                    const SddlDomains& domains = {});
// Writes the parts chosen by `securityInformation` that the descriptor has;
// nothing chosen or present gives "". ERROR_NOT_SUPPORTED for an ACE that
// SDDL here cannot express (see above, or an ACE flag without a token);
// ERROR_INVALID_ACL for an object or label ACE whose body is malformed.
uint32_t SecurityDescriptorToSddl(const SecurityDescriptor& sd, uint32_t securityInformation,
                                  std::string* out, const SddlDomains& domains = {});

// One ACE "(type;flags;rights;object_guid;inherit_object_guid;sid)".
uint32_t AceFromSddl(std::string_view text, Ace* out, const SddlDomains& domains = {});
uint32_t AceToSddl(const Ace& ace, std::string* out, const SddlDomains& domains = {});

// A SID as an alias (input case-insensitive) or "S-1-..." text.
uint32_t SidFromSddl(std::string_view text, Sid* out, const SddlDomains& domains = {});
std::string SidToSddl(const Sid& sid, const SddlDomains& domains = {});

// Rights: letter pairs, "0x" hex or decimal; "" is 0. Unknown pairs are
// ERROR_INVALID_PARAMETER.
uint32_t RightsFromSddl(std::string_view text, uint32_t* mask);
std::string RightsToSddl(uint32_t mask);

}  // namespace winsec
