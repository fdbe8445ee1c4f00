#include "platform/winsec/SecurityDescriptor.h"

#include "platform/WinError.h"

namespace winsec {
namespace {

constexpr uint16_t kStructuralBits = kSeDaclPresent | kSeSaclPresent | kSeSelfRelative;

// Header field offsets of the self-relative form.
constexpr size_t kControlOffset = 2;
constexpr size_t kOwnerOffsetField = 4;
constexpr size_t kGroupOffsetField = 8;
constexpr size_t kSaclOffsetField = 12;
constexpr size_t kDaclOffsetField = 16;

// An offset of a part: 0 (none) or inside the buffer after the header.
bool IsPartOffset(ByteView bytes, uint32_t offset) {
  return offset >= kSelfRelativeHeaderSize && offset < bytes.size();
}

uint32_t ReadSidPart(ByteView bytes, uint32_t offset, std::optional<Sid>* sid) {
  sid->reset();
  if (offset == 0) return winerr::kSuccess;
  Sid value;
  if (!IsPartOffset(bytes, offset) || Sid::Parse(bytes.subspan(offset), &value) != winerr::kSuccess) {
    return winerr::kInvalidSecurityDescr;
  }
  *sid = value;
  return winerr::kSuccess;
}

// A SID buffer of the absolute form: empty for none.
uint32_t ReadSidBuffer(ByteView bytes, std::optional<Sid>* sid) {
  sid->reset();
  if (bytes.empty()) return winerr::kSuccess;
  Sid value;
  if (Sid::Parse(bytes, &value) != winerr::kSuccess) return winerr::kInvalidSecurityDescr;
  *sid = value;
  return winerr::kSuccess;
}

// Appends a part and stores its offset in the header field.
void AppendSid(const std::optional<Sid>& sid, size_t field, Bytes* out) {
  if (!sid) return;
  bytes::WriteU32(out, field, static_cast<uint32_t>(out->size()));
  sid->AppendTo(out);
}

uint32_t AppendAcl(const Acl* acl, size_t field, Bytes* out) {
  if (!acl) return winerr::kSuccess;
  bytes::WriteU32(out, field, static_cast<uint32_t>(out->size()));
  return acl->AppendTo(out);
}

Bytes SidBuffer(const std::optional<Sid>& sid) { return sid ? sid->ToBytes() : Bytes{}; }

uint32_t AclBuffer(const Acl* acl, Bytes* out) {
  out->clear();
  return acl ? acl->ToBytes(out) : winerr::kSuccess;
}

}  // namespace

uint32_t SecurityDescriptor::ReadAclPart(ByteView bytes, bool present, uint32_t offset, AclPart* part) {
  *part = {};
  if (!present) return winerr::kSuccess;
  part->present = true;
  if (offset == 0) return winerr::kSuccess;  // NULL ACL
  Acl acl;
  if (!IsPartOffset(bytes, offset) || Acl::Parse(bytes.subspan(offset), &acl) != winerr::kSuccess) {
    return winerr::kInvalidSecurityDescr;
  }
  part->acl = std::move(acl);
  return winerr::kSuccess;
}

uint32_t SecurityDescriptor::ReadAclBuffer(const Bytes& buffer, bool present, AclPart* part) {
  *part = {};
  if (!present) return winerr::kSuccess;
  part->present = true;
  if (buffer.empty()) return winerr::kSuccess;  // NULL ACL
  Acl acl;
  if (Acl::Parse(buffer, &acl) != winerr::kSuccess) return winerr::kInvalidSecurityDescr;
  part->acl = std::move(acl);
  return winerr::kSuccess;
}

uint32_t SecurityDescriptor::FromSelfRelative(ByteView bytes, SecurityDescriptor* out) {
  if (bytes.size() < kSelfRelativeHeaderSize || bytes[0] != kSecurityDescriptorRevision) {
    return winerr::kInvalidSecurityDescr;
  }
  uint16_t control = bytes::ReadU16(bytes, kControlOffset);
  if (!(control & kSeSelfRelative)) return winerr::kInvalidSecurityDescr;

  SecurityDescriptor sd;
  sd.control_ = control & ~kStructuralBits;
  uint32_t rc = ReadSidPart(bytes, bytes::ReadU32(bytes, kOwnerOffsetField), &sd.owner_);
  if (rc == winerr::kSuccess) rc = ReadSidPart(bytes, bytes::ReadU32(bytes, kGroupOffsetField), &sd.group_);
  if (rc == winerr::kSuccess) {
    rc = ReadAclPart(bytes, control & kSeSaclPresent, bytes::ReadU32(bytes, kSaclOffsetField), &sd.sacl_);
  }
  if (rc == winerr::kSuccess) {
    rc = ReadAclPart(bytes, control & kSeDaclPresent, bytes::ReadU32(bytes, kDaclOffsetField), &sd.dacl_);
  }
  if (rc != winerr::kSuccess) return rc;
  *out = std::move(sd);
  return winerr::kSuccess;
}

uint32_t SecurityDescriptor::ToSelfRelative(Bytes* out) const {
  Bytes sd(kSelfRelativeHeaderSize, 0);
  sd[0] = kSecurityDescriptorRevision;
  bytes::WriteU16(&sd, kControlOffset, static_cast<uint16_t>(Control() | kSeSelfRelative));
  // The one place that fixes the order of the parts (see the header).
  AppendSid(owner_, kOwnerOffsetField, &sd);
  AppendSid(group_, kGroupOffsetField, &sd);
  if (uint32_t rc = AppendAcl(Sacl(), kSaclOffsetField, &sd); rc != winerr::kSuccess) return rc;
  if (uint32_t rc = AppendAcl(Dacl(), kDaclOffsetField, &sd); rc != winerr::kSuccess) return rc;
  *out = std::move(sd);
  return winerr::kSuccess;
}

uint32_t SecurityDescriptor::FromAbsolute(const AbsoluteSecurityDescriptor& absolute,
                                          SecurityDescriptor* out) {
  if (absolute.revision != kSecurityDescriptorRevision || (absolute.control & kSeSelfRelative)) {
    return winerr::kInvalidSecurityDescr;
  }
  SecurityDescriptor sd;
  sd.control_ = absolute.control & ~kStructuralBits;
  uint32_t rc = ReadSidBuffer(absolute.owner, &sd.owner_);
  if (rc == winerr::kSuccess) rc = ReadSidBuffer(absolute.group, &sd.group_);
  if (rc == winerr::kSuccess) rc = ReadAclBuffer(absolute.sacl, absolute.control & kSeSaclPresent, &sd.sacl_);
  if (rc == winerr::kSuccess) rc = ReadAclBuffer(absolute.dacl, absolute.control & kSeDaclPresent, &sd.dacl_);
  if (rc != winerr::kSuccess) return rc;
  *out = std::move(sd);
  return winerr::kSuccess;
}

uint32_t SecurityDescriptor::ToAbsolute(AbsoluteSecurityDescriptor* out) const {
  AbsoluteSecurityDescriptor absolute;
  absolute.control = Control();
  absolute.owner = SidBuffer(owner_);
  absolute.group = SidBuffer(group_);
  if (uint32_t rc = AclBuffer(Sacl(), &absolute.sacl); rc != winerr::kSuccess) return rc;
  if (uint32_t rc = AclBuffer(Dacl(), &absolute.dacl); rc != winerr::kSuccess) return rc;
  *out = std::move(absolute);
  return winerr::kSuccess;
}

uint16_t SecurityDescriptor::Control() const {
  uint16_t control = control_;
  if (dacl_.present) control |= kSeDaclPresent;
  if (sacl_.present) control |= kSeSaclPresent;
  return control;
}

void SecurityDescriptor::SetControlBits(uint16_t mask, uint16_t bits) {
  mask &= ~kStructuralBits;
  control_ = static_cast<uint16_t>((control_ & ~mask) | (bits & mask));
}

uint32_t SecurityDescriptor::ChangeControl(uint16_t mask, uint16_t bits) {
  if (mask & ~kSeChangeableControlBits) return winerr::kInvalidParameter;
  SetControlBits(mask, bits);
  return winerr::kSuccess;
}

uint32_t SelfRelativeToAbsolute(ByteView selfRelative, AbsoluteSecurityDescriptor* out) {
  SecurityDescriptor sd;
  if (uint32_t rc = SecurityDescriptor::FromSelfRelative(selfRelative, &sd); rc != winerr::kSuccess) {
    return rc;
  }
  return sd.ToAbsolute(out);
}

uint32_t AbsoluteToSelfRelative(const AbsoluteSecurityDescriptor& absolute, Bytes* out) {
  SecurityDescriptor sd;
  if (uint32_t rc = SecurityDescriptor::FromAbsolute(absolute, &sd); rc != winerr::kSuccess) return rc;
  return sd.ToSelfRelative(out);
}

}  // namespace winsec
