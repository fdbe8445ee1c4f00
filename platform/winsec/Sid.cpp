#include "platform/winsec/Sid.h"

#include <algorithm>
#include <cstdio>

#include "platform/WinError.h"
#include "platform/winsec/Number.h"

namespace winsec {
namespace {

// Splits the text after "S-" at every '-', keeping empty pieces so that
// "S-1-5-" or "S-1--5" fail on them. False when there are more pieces than a
// SID can hold.
using SidTextParts = std::array<std::string_view, 2 + kSidMaxSubAuthorities>;

bool SplitComponents(std::string_view text, SidTextParts* parts, size_t* count) {
  *count = 0;
  while (true) {
    if (*count == parts->size()) return false;
    size_t dash = text.find('-');
    (*parts)[(*count)++] = text.substr(0, dash);
    if (dash == std::string_view::npos) return true;
    text.remove_prefix(dash + 1);
  }
}

}  // namespace

Sid::Sid(uint64_t authority, std::initializer_list<uint32_t> subAuthorities)
    : authority_(authority), count_(static_cast<uint8_t>(subAuthorities.size())) {
  std::copy(subAuthorities.begin(), subAuthorities.end(), subs_.begin());
}

uint32_t Sid::Make(uint64_t authority, std::span<const uint32_t> subAuthorities, Sid* out) {
  if (authority > kSidMaxAuthority || subAuthorities.size() > kSidMaxSubAuthorities) {
    return winerr::kInvalidSid;
  }
  Sid sid;
  sid.authority_ = authority;
  sid.count_ = static_cast<uint8_t>(subAuthorities.size());
  std::copy(subAuthorities.begin(), subAuthorities.end(), sid.subs_.begin());
  *out = sid;
  return winerr::kSuccess;
}

uint32_t Sid::Parse(ByteView bytes, Sid* out, size_t* length) {
  if (bytes.size() < kSidHeaderSize || bytes[0] != kSidRevision) return winerr::kInvalidSid;
  uint8_t count = bytes[1];
  if (count > kSidMaxSubAuthorities) return winerr::kInvalidSid;
  size_t total = kSidHeaderSize + 4 * size_t{count};
  if (bytes.size() < total) return winerr::kInvalidSid;

  Sid sid;
  for (size_t i = 2; i < kSidHeaderSize; ++i) sid.authority_ = (sid.authority_ << 8) | bytes[i];
  sid.count_ = count;
  for (size_t i = 0; i < count; ++i) sid.subs_[i] = bytes::ReadU32(bytes, kSidHeaderSize + 4 * i);
  *out = sid;
  if (length) *length = total;
  return winerr::kSuccess;
}

uint32_t Sid::FromString(std::string_view text, Sid* out) {
  if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') {
    return winerr::kInvalidSid;
  }
  SidTextParts parts;
  size_t count = 0;
  uint64_t revision = 0;
  uint64_t authority = 0;
  // Revision, authority and at least one sub-authority: "S-1-5" is refused.
  if (!SplitComponents(text.substr(2), &parts, &count) || count < 3 ||
      !ParseNumber(parts[0], 0xFF, &revision) || revision != kSidRevision ||
      !ParseNumber(parts[1], kSidMaxAuthority, &authority)) {
    return winerr::kInvalidSid;
  }
  std::array<uint32_t, kSidMaxSubAuthorities> subs{};
  for (size_t i = 2; i < count; ++i) {
    uint64_t value = 0;
    if (!ParseNumber(parts[i], UINT32_MAX, &value)) return winerr::kInvalidSid;
    subs[i - 2] = static_cast<uint32_t>(value);
  }
  return Make(authority, std::span<const uint32_t>(subs.data(), count - 2), out);
}

uint32_t Sid::WithRid(const Sid& domain, uint32_t rid, Sid* out) {
  if (domain.count_ == kSidMaxSubAuthorities) return winerr::kInvalidSid;
  Sid sid = domain;
  sid.subs_[sid.count_++] = rid;
  *out = sid;
  return winerr::kSuccess;
}

Bytes Sid::ToBytes() const {
  Bytes out;
  AppendTo(&out);
  return out;
}

void Sid::AppendTo(Bytes* out) const {
  out->push_back(kSidRevision);
  out->push_back(count_);
  for (int shift = 40; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(authority_ >> shift));
  for (uint32_t sub : SubAuthorities()) bytes::AppendU32(out, sub);
}

std::string Sid::ToString() const {
  char buffer[32];
  if (authority_ <= UINT32_MAX) {
    std::snprintf(buffer, sizeof buffer, "S-1-%llu", static_cast<unsigned long long>(authority_));
  } else {
    std::snprintf(buffer, sizeof buffer, "S-1-0x%012llX", static_cast<unsigned long long>(authority_));
  }
  std::string text = buffer;
  for (uint32_t sub : SubAuthorities()) {
    std::snprintf(buffer, sizeof buffer, "-%u", sub);
    text += buffer;
  }
  return text;
}

bool Sid::StartsWith(const Sid& prefix) const {
  return authority_ == prefix.authority_ && count_ >= prefix.count_ &&
         std::equal(prefix.subs_.begin(), prefix.subs_.begin() + prefix.count_, subs_.begin());
}

bool Sid::IsInDomain(const Sid& domain) const {
  return count_ == domain.count_ + 1 && StartsWith(domain);
}

uint32_t Sid::DomainOf(Sid* domain) const {
  if (count_ == 0) return winerr::kInvalidSid;
  Sid result = *this;
  result.subs_[--result.count_] = 0;
  *domain = result;
  return winerr::kSuccess;
}

uint32_t Sid::Rid(uint32_t* rid) const {
  if (count_ == 0) return winerr::kInvalidSid;
  *rid = subs_[count_ - 1];
  return winerr::kSuccess;
}

size_t Sid::Hash() const {
  // FNV-1a over the authority and the sub-authorities in use.
  uint64_t hash = 0xcbf29ce484222325ull;
  auto mix = [&hash](uint64_t value) {
    hash ^= value;
    hash *= 0x100000001b3ull;
  };
  mix(authority_);
  mix(count_);
  for (uint32_t sub : SubAuthorities()) mix(sub);
  return static_cast<size_t>(hash);
}

bool operator==(const Sid& a, const Sid& b) {
  return a.authority_ == b.authority_ && a.count_ == b.count_ &&
         std::equal(a.subs_.begin(), a.subs_.begin() + a.count_, b.subs_.begin());
}

std::strong_ordering operator<=>(const Sid& a, const Sid& b) {
  if (auto order = a.authority_ <=> b.authority_; order != 0) return order;
  auto as = a.SubAuthorities();
  auto bs = b.SubAuthorities();
  return std::lexicographical_compare_three_way(as.begin(), as.end(), bs.begin(), bs.end());
}

}  // namespace winsec
