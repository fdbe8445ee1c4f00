// Byte buffers for the binary security structures. SIDs, ACLs and security
// descriptors travel as plain byte vectors (a REG_BINARY value, a stored
// descriptor); the little-endian readers and writers here are the only place
// that knows how multi-byte fields are laid out, and every reader checks its
// bounds before it touches a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winsec {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Views and copies between byte vectors and the std::string the registry
// service uses for raw value data.
inline ByteView AsBytes(std::string_view data) {
  return {reinterpret_cast<const uint8_t*>(data.data()), data.size()};
}
inline std::string ToByteString(ByteView bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

namespace bytes {

// Readers: the caller guarantees offset + width <= data.size(); they are
// used only after a length check of the whole field.
inline uint16_t ReadU16(ByteView data, size_t offset) {
  return static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
}
inline uint32_t ReadU32(ByteView data, size_t offset) {
  return static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
         (static_cast<uint32_t>(data[offset + 2]) << 16) |
         (static_cast<uint32_t>(data[offset + 3]) << 24);
}
inline bool Fits(ByteView data, size_t offset, size_t width) {
  return offset <= data.size() && width <= data.size() - offset;
}

inline void AppendU16(Bytes* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}
inline void AppendU32(Bytes* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}
inline void WriteU16(Bytes* out, size_t offset, uint16_t value) {
  (*out)[offset] = static_cast<uint8_t>(value);
  (*out)[offset + 1] = static_cast<uint8_t>(value >> 8);
}
inline void WriteU32(Bytes* out, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace bytes
}  // namespace winsec
