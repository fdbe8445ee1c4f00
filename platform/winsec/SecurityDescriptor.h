// Security descriptors: owner, primary group, SACL and DACL with the control
// bits, in the two forms Windows uses. The self-relative form is one buffer
// with offsets (what a REG_BINARY DCOM value or a stored file descriptor
// holds); the absolute form keeps each part in a buffer of its own. The
// SecurityDescriptor class is the parsed model both convert to and from.
//
// Self-relative layout written here: the 20-byte header, then owner SID,
// group SID, SACL and DACL, each present part directly after the previous
// one, as MakeSelfRelativeSD places them. Readers never rely on that order:
// they follow the offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/winsec/Acl.h"
#include "platform/winsec/Bytes.h"
#include "platform/winsec/Sid.h"

namespace winsec {

constexpr uint8_t kSecurityDescriptorRevision = 1;
constexpr size_t kSelfRelativeHeaderSize = 20;

// Control bits.
constexpr uint16_t kSeOwnerDefaulted = 0x0001;
constexpr uint16_t kSeGroupDefaulted = 0x0002;
constexpr uint16_t kSeDaclPresent = 0x0004;
constexpr uint16_t kSeDaclDefaulted = 0x0008;
constexpr uint16_t kSeSaclPresent = 0x0010;
constexpr uint16_t kSeSaclDefaulted = 0x0020;
constexpr uint16_t kSeDaclUntrusted = 0x0040;
constexpr uint16_t kSeServerSecurity = 0x0080;
constexpr uint16_t kSeDaclAutoInheritReq = 0x0100;
constexpr uint16_t kSeSaclAutoInheritReq = 0x0200;
constexpr uint16_t kSeDaclAutoInherited = 0x0400;
constexpr uint16_t kSeSaclAutoInherited = 0x0800;
constexpr uint16_t kSeDaclProtected = 0x1000;
constexpr uint16_t kSeSaclProtected = 0x2000;
constexpr uint16_t kSeRmControlValid = 0x4000;
constexpr uint16_t kSeSelfRelative = 0x8000;

// The bits SetSecurityDescriptorControl may change.
constexpr uint16_t kSeChangeableControlBits =
    kSeDaclAutoInheritReq | kSeSaclAutoInheritReq | kSeDaclAutoInherited | kSeSaclAutoInherited |
    kSeDaclProtected | kSeSaclProtected | kSeDaclUntrusted | kSeServerSecurity;

// Size of the absolute header (SECURITY_DESCRIPTOR): revision, Sbz1 and
// control, then four pointers aligned to their size: 20 bytes with 4-byte
// pointers, 40 with 8-byte pointers.
constexpr size_t AbsoluteHeaderSize(size_t pointerBytes) {
  size_t fixed = 4;
  if (pointerBytes == 0) return fixed;
  size_t aligned = (fixed + pointerBytes - 1) / pointerBytes * pointerBytes;
  return aligned + 4 * pointerBytes;
}

// The absolute form: the header fields and each part in its own buffer, as
// MakeAbsoluteSD hands them out. An empty owner or group buffer means none;
// an empty ACL buffer with its PRESENT bit set in `control` means a NULL ACL.
struct AbsoluteSecurityDescriptor {
  uint8_t revision = kSecurityDescriptorRevision;
  uint16_t control = 0;  // never carries SE_SELF_RELATIVE
  Bytes owner;
  Bytes group;
  Bytes sacl;
  Bytes dacl;

  friend bool operator==(const AbsoluteSecurityDescriptor&, const AbsoluteSecurityDescriptor&) = default;
};

class SecurityDescriptor {
 public:
  // Reads a self-relative descriptor. ERROR_INVALID_SECURITY_DESCR when the
  // buffer is shorter than the header, the revision is not 1, SE_SELF_RELATIVE
  // is missing, an offset points into the header or past the buffer, or a
  // part there is not a valid SID or ACL within the buffer. An ACL whose
  // PRESENT bit is clear is ignored, whatever its offset.
  static uint32_t FromSelfRelative(ByteView bytes, SecurityDescriptor* out);
  // ERROR_INVALID_ACL when an ACL cannot be written (over 65535 bytes).
  uint32_t ToSelfRelative(Bytes* out) const;

  // Conversions with the absolute form; reading it applies the same checks
  // to each part as FromSelfRelative.
  static uint32_t FromAbsolute(const AbsoluteSecurityDescriptor& absolute, SecurityDescriptor* out);
  uint32_t ToAbsolute(AbsoluteSecurityDescriptor* out) const;

  // The control bits: those set, plus SE_DACL_PRESENT / SE_SACL_PRESENT as
  // the parts are; never SE_SELF_RELATIVE (that belongs to a form).
  uint16_t Control() const;
  // Sets the bits of `mask` to those of `bits`; the PRESENT and SELF_RELATIVE
  // bits follow the parts and are left alone.
  void SetControlBits(uint16_t mask, uint16_t bits);
  // SetSecurityDescriptorControl: only kSeChangeableControlBits may be named
  // in `mask`; any other bit is ERROR_INVALID_PARAMETER and nothing changes.
  uint32_t ChangeControl(uint16_t mask, uint16_t bits);

  const std::optional<Sid>& Owner() const { return owner_; }
  const std::optional<Sid>& Group() const { return group_; }
  void SetOwner(std::optional<Sid> owner) { owner_ = std::move(owner); }
  void SetGroup(std::optional<Sid> group) { group_ = std::move(group); }

  // DACL: absent (no PRESENT bit), NULL (present without an ACL: everyone
  // has full access) or an ACL (which may be empty: nobody has access).
  bool DaclPresent() const { return dacl_.present; }
  bool HasNullDacl() const { return dacl_.present && !dacl_.acl; }
  // The ACL, or nullptr when the DACL is absent or NULL.
  const Acl* Dacl() const { return dacl_.acl ? &*dacl_.acl : nullptr; }
  Acl* MutableDacl() { return dacl_.acl ? &*dacl_.acl : nullptr; }
  void SetDacl(Acl acl) { dacl_ = {true, std::move(acl)}; }
  void SetNullDacl() { dacl_ = {true, std::nullopt}; }
  void RemoveDacl() { dacl_ = {}; }

  // SACL, with the same three states.
  bool SaclPresent() const { return sacl_.present; }
  bool HasNullSacl() const { return sacl_.present && !sacl_.acl; }
  const Acl* Sacl() const { return sacl_.acl ? &*sacl_.acl : nullptr; }
  Acl* MutableSacl() { return sacl_.acl ? &*sacl_.acl : nullptr; }
  void SetSacl(Acl acl) { sacl_ = {true, std::move(acl)}; }
  void SetNullSacl() { sacl_ = {true, std::nullopt}; }
  void RemoveSacl() { sacl_ = {}; }

  friend bool operator==(const SecurityDescriptor&, const SecurityDescriptor&) = default;

 private:
  struct AclPart {
    bool present = false;
    std::optional<Acl> acl;
    friend bool operator==(const AclPart&, const AclPart&) = default;
  };

  // An ACL at `offset` of a self-relative buffer, or in a buffer of its own.
  static uint32_t ReadAclPart(ByteView bytes, bool present, uint32_t offset, AclPart* part);
  static uint32_t ReadAclBuffer(const Bytes& buffer, bool present, AclPart* part);

  uint16_t control_ = 0;  // without the PRESENT and SELF_RELATIVE bits
  std::optional<Sid> owner_;
  std::optional<Sid> group_;
  AclPart sacl_;
  AclPart dacl_;
};

// The Windows pair MakeAbsoluteSD / MakeSelfRelativeSD on buffers.
uint32_t SelfRelativeToAbsolute(ByteView selfRelative, AbsoluteSecurityDescriptor* out);
uint32_t AbsoluteToSelfRelative(const AbsoluteSecurityDescriptor& absolute, Bytes* out);

}  // namespace winsec
