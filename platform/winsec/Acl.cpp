#include "platform/winsec/Acl.h"

#include <algorithm>

#include "platform/WinError.h"

namespace winsec {
namespace {

// Decodes one ACE whose AceSize has already been checked against the ACL.
uint32_t DecodeAce(ByteView aceBytes, Ace* out) {
  Ace ace;
  ace.type = aceBytes[0];
  ace.flags = aceBytes[1];
  if (!ace.IsAccessAce()) {
    ace.body.assign(aceBytes.begin() + kAceHeaderSize, aceBytes.end());
    *out = std::move(ace);
    return winerr::kSuccess;
  }
  if (aceBytes.size() < kAceHeaderSize + 4) return winerr::kInvalidAcl;
  ace.mask = bytes::ReadU32(aceBytes, kAceHeaderSize);
  if (Sid::Parse(aceBytes.subspan(kAceHeaderSize + 4), &ace.sid) != winerr::kSuccess) {
    return winerr::kInvalidAcl;
  }
  *out = std::move(ace);
  return winerr::kSuccess;
}

uint32_t AppendAce(const Ace& ace, Bytes* out) {
  size_t size = ace.Size();
  if (size > kMaxAceSize) return winerr::kInvalidAcl;
  out->push_back(ace.type);
  out->push_back(ace.flags);
  bytes::AppendU16(out, static_cast<uint16_t>(size));
  if (ace.IsAccessAce()) {
    bytes::AppendU32(out, ace.mask);
    ace.sid.AppendTo(out);
  } else {
    out->insert(out->end(), ace.body.begin(), ace.body.end());
    out->resize(out->size() + (size - kAceHeaderSize - ace.body.size()), 0);
  }
  return winerr::kSuccess;
}

}  // namespace

uint32_t Acl::Parse(ByteView bytes, Acl* out) {
  if (bytes.size() < kAclHeaderSize) return winerr::kInvalidAcl;
  uint8_t revision = bytes[0];
  size_t aclSize = bytes::ReadU16(bytes, 2);
  size_t aceCount = bytes::ReadU16(bytes, 4);
  if (revision < kAclRevision || revision > kAclRevisionDs || aclSize < kAclHeaderSize ||
      aclSize > bytes.size()) {
    return winerr::kInvalidAcl;
  }
  ByteView acl = bytes.first(aclSize);
  Acl result;
  result.revision_ = revision;
  result.reservedSize_ = aclSize;
  size_t offset = kAclHeaderSize;
  for (size_t i = 0; i < aceCount; ++i) {
    if (!bytes::Fits(acl, offset, kAceHeaderSize)) return winerr::kInvalidAcl;
    size_t aceSize = bytes::ReadU16(acl, offset + 2);
    if (aceSize < kAceHeaderSize || aceSize % 4 != 0 || !bytes::Fits(acl, offset, aceSize)) {
      return winerr::kInvalidAcl;
    }
    Ace ace;
    if (uint32_t rc = DecodeAce(acl.subspan(offset, aceSize), &ace); rc != winerr::kSuccess) return rc;
    result.aces_.push_back(std::move(ace));
    offset += aceSize;
  }
  *out = std::move(result);
  return winerr::kSuccess;
}

uint32_t Acl::ToBytes(Bytes* out) const {
  out->clear();
  return AppendTo(out);
}

uint32_t Acl::AppendTo(Bytes* out) const {
  size_t aclSize = AclSize();
  if (aclSize > kMaxAclSize || aces_.size() > 0xFFFF) return winerr::kInvalidAcl;
  Bytes acl;
  acl.reserve(aclSize);
  acl.push_back(Revision());
  acl.push_back(0);
  bytes::AppendU16(&acl, static_cast<uint16_t>(aclSize));
  bytes::AppendU16(&acl, static_cast<uint16_t>(aces_.size()));
  bytes::AppendU16(&acl, 0);
  for (const Ace& ace : aces_) {
    if (uint32_t rc = AppendAce(ace, &acl); rc != winerr::kSuccess) return rc;
  }
  acl.resize(aclSize, 0);
  out->insert(out->end(), acl.begin(), acl.end());
  return winerr::kSuccess;
}

uint8_t Acl::Revision() const {
  bool hasObjectAce = std::any_of(aces_.begin(), aces_.end(),
                                  [](const Ace& ace) { return IsObjectAceType(ace.type); });
  return hasObjectAce ? std::max(revision_, kAclRevisionDs) : revision_;
}

uint32_t Acl::SetRevision(uint8_t revision) {
  if (revision < kAclRevision || revision > kAclRevisionDs) return winerr::kInvalidParameter;
  revision_ = revision;
  return winerr::kSuccess;
}

size_t Acl::BytesInUse() const {
  size_t size = kAclHeaderSize;
  for (const Ace& ace : aces_) size += ace.Size();
  return size;
}

size_t Acl::AclSize() const { return std::max(BytesInUse(), reservedSize_); }

uint32_t Acl::SetAclSize(size_t size) {
  if (size < kAclHeaderSize) return winerr::kInsufficientBuffer;
  if (size > kMaxAclSize) return winerr::kInvalidParameter;
  reservedSize_ = size;
  return winerr::kSuccess;
}

bool operator==(const Acl& a, const Acl& b) {
  return a.Revision() == b.Revision() && a.AclSize() == b.AclSize() && a.aces_ == b.aces_;
}

}  // namespace winsec
