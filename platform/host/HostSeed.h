// What a new host holds from the start: the folder tree of its C: drive and
// the registry keys a fresh Windows installation of the profile has.
#pragma once

#include <string>

#include "platform/host/HostRegistry.h"
#include "platform/host/HostSystem.h"
#include "platform/host/PathMap.h"
#include "platform/host/Profiles.h"

namespace host {

std::string ComputerNameOf(const Profile& profile);
// The machine's account domain SID (S-1-5-21-x-y-z), fixed per profile so
// that hosts made from one profile agree.
std::string DomainSidOf(const Profile& profile);

void SeedFolders(const PathMap& paths, const KnownFolders& folders);
void SeedRegistry(HostRegistry& registry, const Profile& profile, const KnownFolders& folders,
                  const MachineIdentity& identity, const std::string& userSid);

}  // namespace host
