// Checksums of security files and repository documents.
#include <cstdint>

#include "platform/text/Text.h"
#include "securityfiles/RepositoryMgr.h"

namespace {

constexpr size_t kChecksumLength = 32;

std::string PadChecksum(std::string value) {
  if (value.size() < kChecksumLength) value.append(kChecksumLength - value.size(), '0');
  return value;
}

}  // namespace

std::string CRepositoryMgr::HashText(std::u16string_view text) {
  if (text.empty()) return PadChecksum("-1");
  uint32_t h = 0;
  // The last unit is not part of the sum.
  for (size_t i = 0; i + 1 < text.size(); ++i) h = ((h << 8) | (h >> 24)) + text[i];
  return PadChecksum(std::to_string(static_cast<int32_t>(h)));
}

std::string CRepositoryMgr::HashTextUtf8(std::string_view utf8) { return HashText(text::Utf8ToUtf16(utf8)); }
