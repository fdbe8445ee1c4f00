#include "platform/host/DcomSeed.h"

#include <array>
#include <string>

#include "platform/winsec/Sddl.h"

namespace host {
namespace {

struct DcomValue {
  const char* name;
  uint32_t major, minor;  // the first Windows version with this descriptor
  const char* sddl;
};

// The values as captured on installed machines. Where the notes leave a
// detail unconfirmed, the choice made here is this table's:
// - ACE order follows the captured strings;
// - Windows 5.x restrictions name Administrators, Everyone and ANONYMOUS
//   LOGON only (5.1 has no Distributed COM Users group);
// - Windows 5.x carries the same DefaultLaunchPermission as 6.x;
// - DefaultAccessPermission is absent on every version (the documented "no
//   entries by default": the system default is in force).
// For one value the last row whose version the profile reaches wins, so
// the rows of a value go from older to newer versions.
constexpr std::array<DcomValue, 7> kDcomValues = {{
    {"MachineLaunchRestriction", 5, 1, "O:BAG:BAD:(A;;CCDCLCSWRP;;;BA)(A;;CCDCSW;;;WD)"},
    {"MachineLaunchRestriction", 6, 0,
     "O:BAG:BAD:(A;;CCDCLCSWRP;;;BA)(A;;CCDCSW;;;WD)(A;;CCDCLCSWRP;;;S-1-5-32-562)(A;;CCDCLCSWRP;;;LU)"},
    {"MachineLaunchRestriction", 6, 2,
     "O:BAG:BAD:(A;;CCDCLCSWRP;;;BA)(A;;CCDCSW;;;WD)(A;;CCDCLCSWRP;;;S-1-5-32-562)(A;;CCDCLCSWRP;;;LU)"
     "(A;;CCDCSW;;;AC)(A;;CCDCSW;;;S-1-15-3-1024-2405443489-874036122-4286035555-1823921565-1746547431-"
     "2453885448-3625952902-991631256)"},
    {"MachineAccessRestriction", 5, 1, "O:BAG:BAD:(A;;CCDCLC;;;WD)(A;;CCDC;;;AN)"},
    {"MachineAccessRestriction", 6, 0,
     "O:BAG:BAD:(A;;CCDCLC;;;WD)(A;;CCDC;;;AN)(A;;CCDCLC;;;S-1-5-32-562)(A;;CCDCLC;;;LU)"},
    {"MachineAccessRestriction", 6, 2,
     "O:BAG:BAD:(A;;CCDCLC;;;WD)(A;;CCDC;;;AN)(A;;CCDCLC;;;S-1-5-32-562)(A;;CCDCLC;;;LU)(A;;CCDC;;;AC)"
     "(A;;CCDC;;;S-1-15-3-1024-2405443489-874036122-4286035555-1823921565-1746547431-2453885448-3625952902-"
     "991631256)"},
    {"DefaultLaunchPermission", 5, 1, "O:BAG:BAD:(A;;CCDCLCSWRP;;;SY)(A;;CCDCLCSWRP;;;BA)(A;;CCDCLCSWRP;;;IU)"},
}};

bool Reaches(const Profile& profile, const DcomValue& row) {
  return profile.major > row.major || (profile.major == row.major && profile.minor >= row.minor);
}

}  // namespace

void SeedDcomSecurity(HostRegistry& registry, const Profile& profile) {
  registry.EnsurePhysicalKey({"HKLM", "SOFTWARE", "Microsoft", "Ole"});
  plat::HKey key = plat::kNullKey;
  if (registry.OpenKey(plat::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Ole",
                       plat::kKeyAllAccess | plat::kKeyWow64_64Key, &key) != 0) {
    return;
  }
  for (const DcomValue& row : kDcomValues) {
    if (!Reaches(profile, row)) continue;
    winsec::SecurityDescriptor sd;
    winsec::Bytes bytes;
    if (winsec::SecurityDescriptorFromSddl(row.sddl, &sd) != 0 || sd.ToSelfRelative(&bytes) != 0) continue;
    registry.SetValue(key, row.name, plat::kRegBinary, winsec::ToByteString(bytes));
  }
  registry.CloseKey(key);
}

}  // namespace host
