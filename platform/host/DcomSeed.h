// The machine-wide DCOM security values a fresh Windows installation has
// under HKLM\SOFTWARE\Microsoft\Ole, by Windows version.
#pragma once

#include "platform/host/HostRegistry.h"
#include "platform/host/Profiles.h"

namespace host {

// Writes the profile's descriptors as REG_BINARY self-relative values.
void SeedDcomSecurity(HostRegistry& registry, const Profile& profile);

}  // namespace host
