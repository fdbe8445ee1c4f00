// The security descriptors a fresh Windows installation gives its drive
// root, its Windows folder and its registry hives, per Windows generation,
// written as SDDL in one table; and the owner, group and DACL that objects
// made later by the host's user get. Seeding stores the former; the access
// checks and inheritance of a host start from them.
#pragma once

#include <string>

#include "platform/host/HostDb.h"
#include "platform/host/ObjectSecurity.h"
#include "platform/host/Profiles.h"
#include "platform/winsec/SecurityDescriptor.h"
#include "platform/winsec/Sid.h"

namespace host {

enum class DefaultObject {
  kDriveRoot,        // C:\ (and every other drive's root)
  kWindowsFolder,    // C:\Windows
  kMachineHive,      // HKEY_LOCAL_MACHINE
  kMachineSoftware,  // HKEY_LOCAL_MACHINE\SOFTWARE
  kUsersHive,        // HKEY_USERS
  kUserHive,         // HKEY_USERS\<the user's SID>
};

// The descriptor of `object` on a new installation of `profile`; `user` is
// the SID the user's hive belongs to.
winsec::SecurityDescriptor DefaultSecurityOf(DefaultObject object, const Profile& profile, const winsec::Sid& user,
                                             const winsec::Sid& domain);
// The SDDL behind it (for tests and tools).
std::string DefaultSddlOf(DefaultObject object, const Profile& profile);

// Who makes the objects of a host that store no owner: its user, whose
// elevated token makes the Administrators group the owner when the user is
// an administrator, with the account domain's "None" group as primary group.
CreatorDefaults CreatorDefaultsOf(HostDb& db);

}  // namespace host
