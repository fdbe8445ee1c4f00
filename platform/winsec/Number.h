// Numbers in the text forms of security data (SID components, SDDL rights):
// decimal digits, or "0x" followed by hex digits; no sign, no blanks.
#pragma once

#include <cstdint>
#include <string_view>

namespace winsec {

// The value of a hex digit (either case), or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the whole of `text` as one number no larger than `max`.
inline bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t result = 0;
  for (char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
    if (result > (max - static_cast<uint64_t>(digit)) / base) return false;
    result = result * base + static_cast<uint64_t>(digit);
  }
  *value = result;
  return true;
}

}  // namespace winsec
