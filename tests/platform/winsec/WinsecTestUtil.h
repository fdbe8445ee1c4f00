// Helpers shared by the winsec tests: hex byte strings and SDDL shortcuts,
// so that expected layouts can be written the way they are documented.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/WinError.h"
#include "platform/winsec/Acl.h"
#include "platform/winsec/Bytes.h"
#include "platform/winsec/Sddl.h"
#include "platform/winsec/SecurityDescriptor.h"
#include "platform/winsec/Sid.h"

namespace winsec::testing {

// "01 02 0a" -> {1, 2, 10}; blanks are ignored.
inline Bytes Hex(std::string_view text) {
  Bytes out;
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

inline std::string ToHex(ByteView bytes) {
  std::string out;
  char buffer[4];
  for (uint8_t b : bytes) {
    std::snprintf(buffer, sizeof buffer, out.empty() ? "%02X" : " %02X", b);
    out += buffer;
  }
  return out;
}

inline Sid SidOf(std::string_view text) {
  Sid sid;
  EXPECT_EQ(Sid::FromString(text, &sid), winerr::kSuccess) << text;
  return sid;
}

inline SecurityDescriptor SdOf(std::string_view sddl, const SddlDomains& domains = {}) {
  SecurityDescriptor sd;
  EXPECT_EQ(SecurityDescriptorFromSddl(sddl, &sd, domains), winerr::kSuccess) << sddl;
  return sd;
}

inline std::string SddlOf(const SecurityDescriptor& sd, const SddlDomains& domains = {}) {
  std::string text;
  EXPECT_EQ(SecurityDescriptorToSddl(sd, kAllSddlSecurityInformation, &text, domains), winerr::kSuccess);
  return text;
}

// The DACL of "D:..." text, and the ACE list of an ACL as "(..)(..)" text.
inline Acl DaclOf(std::string_view sddl) {
  SecurityDescriptor sd = SdOf(sddl);
  return sd.Dacl() ? *sd.Dacl() : Acl();
}

inline std::string AcesOf(const Acl& acl) {
  std::string out;
  for (const Ace& ace : acl.Aces()) {
    std::string text;
    EXPECT_EQ(AceToSddl(ace, &text), winerr::kSuccess);
    out += text;
  }
  return out;
}

inline Bytes SelfRelative(const SecurityDescriptor& sd) {
  Bytes bytes;
  EXPECT_EQ(sd.ToSelfRelative(&bytes), winerr::kSuccess);
  return bytes;
}

}  // namespace winsec::testing
