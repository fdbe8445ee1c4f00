// Access control lists in the binary layout Windows uses (an 8-byte header,
// then the ACEs back to back). An Acl is a value: read it from bytes, edit its
// ACE list, write it back. It remembers the AclSize it was read or sized with,
// so free space at its end survives a round trip as it does on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/winsec/Ace.h"
#include "platform/winsec/Bytes.h"

namespace winsec {

constexpr uint8_t kAclRevision = 2;
constexpr uint8_t kAclRevision3 = 3;
constexpr uint8_t kAclRevisionDs = 4;
constexpr size_t kAclHeaderSize = 8;
constexpr size_t kMaxAclSize = 0xFFFF;

class Acl {
 public:
  Acl() = default;
  explicit Acl(std::vector<Ace> aces) : aces_(std::move(aces)) {}

  // Reads an ACL from the start of `bytes`. ERROR_INVALID_ACL when the header
  // does not fit, the revision is not 2..4, AclSize is below 8 or beyond the
  // buffer, or an ACE (AceCount of them) is shorter than its header, has an
  // AceSize that is not a multiple of 4, runs past AclSize, or (for the basic
  // types) holds no valid SID. Bytes after the last ACE up to AclSize are
  // free space; padding inside a basic ACE after its SID is dropped.
  static uint32_t Parse(ByteView bytes, Acl* out);
  // Writes the ACL: AclSize is the larger of the bytes in use and the size
  // set with SetAclSize or read by Parse, free space zero-filled.
  // ERROR_INVALID_ACL when an ACE or the ACL exceeds 65535 bytes.
  uint32_t ToBytes(Bytes* out) const;
  uint32_t AppendTo(Bytes* out) const;

  // The revision written: the one set or read (2 by default), raised to 4
  // when the ACL holds object ACEs.
  uint8_t Revision() const;
  // InitializeAcl's rule: 2, 3 and 4 are accepted, anything else is
  // ERROR_INVALID_PARAMETER.
  uint32_t SetRevision(uint8_t revision);

  // Header plus every ACE.
  size_t BytesInUse() const;
  // The AclSize field that ToBytes writes, and what of it is unused.
  size_t AclSize() const;
  size_t BytesFree() const { return AclSize() - BytesInUse(); }
  // Reserves room as InitializeAcl(nAclLength) does: below 8 is
  // ERROR_INSUFFICIENT_BUFFER, above 65535 ERROR_INVALID_PARAMETER.
  uint32_t SetAclSize(size_t size);

  const std::vector<Ace>& Aces() const { return aces_; }
  std::vector<Ace>& Aces() { return aces_; }
  size_t AceCount() const { return aces_.size(); }
  bool Empty() const { return aces_.empty(); }
  void Append(Ace ace) { aces_.push_back(std::move(ace)); }

  // Same revision, AclSize and ACEs in the same order.
  friend bool operator==(const Acl& a, const Acl& b);

 private:
  uint8_t revision_ = kAclRevision;
  size_t reservedSize_ = 0;  // AclSize read or set; 0 = just the bytes in use
  std::vector<Ace> aces_;
};

}  // namespace winsec
