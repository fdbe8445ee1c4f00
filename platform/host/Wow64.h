// Registry redirection of the 32-bit view on 64-bit Windows: which logical
// key a 32-bit view reaches physically (HKLM\SOFTWARE -> Wow6432Node, the
// shared keys that are not redirected, the redirected parts of Classes).
// This is the one place that decides redirection.
#pragma once

#include <string>
#include <vector>

#include "platform/host/Profiles.h"

namespace host {

// `logical` starts with the physical root ("HKLM" or "HKU"). Returns the
// physical path the 32-bit view reaches; the path itself when the profile is
// 32-bit, the key is shared, or the path already names a Wow6432Node.
std::vector<std::string> RedirectTo32BitView(const std::vector<std::string>& logical, const Profile& profile);

}  // namespace host
