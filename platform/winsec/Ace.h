// Access control entries (ACEs) as Windows stores them inside an ACL. The four
// basic types (access allowed, access denied, system audit, system alarm:
// header, mask, SID) are decoded into fields; every other type (object,
// callback, label, resource-attribute ACEs ...) is kept as its raw body so it
// survives a read and write unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/winsec/Bytes.h"
#include "platform/winsec/Sid.h"

namespace winsec {

// AceType values.
constexpr uint8_t kAccessAllowedAceType = 0x00;
constexpr uint8_t kAccessDeniedAceType = 0x01;
constexpr uint8_t kSystemAuditAceType = 0x02;
constexpr uint8_t kSystemAlarmAceType = 0x03;
constexpr uint8_t kAccessAllowedCompoundAceType = 0x04;
constexpr uint8_t kAccessAllowedObjectAceType = 0x05;
constexpr uint8_t kAccessDeniedObjectAceType = 0x06;
constexpr uint8_t kSystemAuditObjectAceType = 0x07;
constexpr uint8_t kSystemAlarmObjectAceType = 0x08;
constexpr uint8_t kAccessAllowedCallbackAceType = 0x09;
constexpr uint8_t kAccessDeniedCallbackAceType = 0x0A;
constexpr uint8_t kAccessAllowedCallbackObjectAceType = 0x0B;
constexpr uint8_t kAccessDeniedCallbackObjectAceType = 0x0C;
constexpr uint8_t kSystemAuditCallbackAceType = 0x0D;
constexpr uint8_t kSystemAlarmCallbackAceType = 0x0E;
constexpr uint8_t kSystemAuditCallbackObjectAceType = 0x0F;
constexpr uint8_t kSystemAlarmCallbackObjectAceType = 0x10;
constexpr uint8_t kSystemMandatoryLabelAceType = 0x11;
constexpr uint8_t kSystemResourceAttributeAceType = 0x12;
constexpr uint8_t kSystemScopedPolicyIdAceType = 0x13;

// AceFlags bits.
constexpr uint8_t kObjectInheritAce = 0x01;
constexpr uint8_t kContainerInheritAce = 0x02;
constexpr uint8_t kNoPropagateInheritAce = 0x04;
constexpr uint8_t kInheritOnlyAce = 0x08;
constexpr uint8_t kInheritedAce = 0x10;
constexpr uint8_t kCriticalAceFlag = 0x20;
constexpr uint8_t kSuccessfulAccessAceFlag = 0x40;
constexpr uint8_t kFailedAccessAceFlag = 0x80;
constexpr uint8_t kValidInheritFlags = 0x1F;

// Object ACE body flags (which GUIDs follow the mask).
constexpr uint32_t kAceObjectTypePresent = 0x1;
constexpr uint32_t kAceInheritedObjectTypePresent = 0x2;

constexpr size_t kAceHeaderSize = 4;
constexpr size_t kMaxAceSize = 0xFFFF;

// The types decoded into mask and SID.
constexpr bool IsAccessAceType(uint8_t type) { return type <= kSystemAlarmAceType; }

// Types whose body carries object GUIDs; an ACL holding one needs revision 4.
constexpr bool IsObjectAceType(uint8_t type) {
  return (type >= kAccessAllowedObjectAceType && type <= kSystemAlarmObjectAceType) ||
         type == kAccessAllowedCallbackObjectAceType || type == kAccessDeniedCallbackObjectAceType ||
         type == kSystemAuditCallbackObjectAceType || type == kSystemAlarmCallbackObjectAceType;
}

// Types that deny access (they sort before the allowing ones).
constexpr bool IsDenyAceType(uint8_t type) {
  return type == kAccessDeniedAceType || type == kAccessDeniedObjectAceType ||
         type == kAccessDeniedCallbackAceType || type == kAccessDeniedCallbackObjectAceType;
}

struct Ace {
  uint8_t type = kAccessAllowedAceType;
  uint8_t flags = 0;
  // Access ACE types only (IsAccessAceType).
  uint32_t mask = 0;
  Sid sid;
  // Every other type: the bytes after the 4-byte header, as read. Written
  // back zero-padded to a multiple of four when its length is not one.
  Bytes body;

  static Ace Allowed(uint32_t mask, const Sid& sid, uint8_t flags = 0) {
    return Access(kAccessAllowedAceType, mask, sid, flags);
  }
  static Ace Denied(uint32_t mask, const Sid& sid, uint8_t flags = 0) {
    return Access(kAccessDeniedAceType, mask, sid, flags);
  }
  static Ace Audit(uint32_t mask, const Sid& sid, uint8_t flags) {
    return Access(kSystemAuditAceType, mask, sid, flags);
  }
  static Ace Alarm(uint32_t mask, const Sid& sid, uint8_t flags) {
    return Access(kSystemAlarmAceType, mask, sid, flags);
  }
  static Ace Access(uint8_t type, uint32_t mask, const Sid& sid, uint8_t flags) {
    Ace ace;
    ace.type = type;
    ace.flags = flags;
    ace.mask = mask;
    ace.sid = sid;
    return ace;
  }
  static Ace Opaque(uint8_t type, uint8_t flags, Bytes body) {
    Ace ace;
    ace.type = type;
    ace.flags = flags;
    ace.body = std::move(body);
    return ace;
  }

  bool IsAccessAce() const { return IsAccessAceType(type); }
  bool IsInherited() const { return (flags & kInheritedAce) != 0; }
  bool IsInheritOnly() const { return (flags & kInheritOnlyAce) != 0; }
  // AceSize of the binary form.
  size_t Size() const {
    if (IsAccessAce()) return kAceHeaderSize + 4 + sid.Length();
    return kAceHeaderSize + (body.size() + 3) / 4 * 4;
  }

  friend bool operator==(const Ace& a, const Ace& b) = default;
};

}  // namespace winsec
