// What a new host holds from the start in matters of security: the built-in
// accounts and groups of its Windows version with their localized names and
// descriptions, the user's memberships, and the descriptors Windows setup
// puts on the drive root, the Windows folder and the registry hives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/winsec/Sid.h"

namespace host {

class Host;

// Users Administrator (500), Guest (501) and the host's user (1000), the
// global group None (513) holding them, and the BUILTIN aliases with their
// first members: the user in Users (and in Administrators when it is one),
// Administrator in Administrators, Guest in Guests, INTERACTIVE and
// Authenticated Users in Users.
void SeedAccounts(Host& host);
// The default descriptors of C:\, the Windows folder, HKLM, HKLM\SOFTWARE,
// HKU and the user's hive; and an owner for every other folder, file and
// key that setup made (what the host's user makes later is owned as its
// token says). Runs last, after everything else is seeded.
void SeedSecurity(Host& host);

// Who owns what setup made: the user its own profile folder and hive,
// TrustedInstaller (6.x) or Administrators the Windows folder's tree, and
// Administrators everything else.
winsec::Sid SetupOwnerOfFile(Host& host, std::string_view windowsPath);
winsec::Sid SetupOwnerOfKey(Host& host, const std::vector<std::string>& physicalPath);

}  // namespace host
