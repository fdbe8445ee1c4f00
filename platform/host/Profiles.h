// The machines the simulated host can pretend to be. A profile fixes the
// Windows version, bitness and product type; a language fixes the localized
// folder and account names. Everything a host derives from its profile is
// computed here, in one place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct Profile {
  std::string name;
  uint32_t major = 0, minor = 0, build = 0;
  uint16_t servicePackMajor = 0;
  std::string csdVersion;
  uint8_t productType = 1;  // VER_NT_WORKSTATION / VER_NT_SERVER
  bool is64Bit = false;
  std::string productName;
};

constexpr std::string_view kDefaultProfile = "win7-sp1-x64";
constexpr std::string_view kDefaultLanguage = "en-US";

const std::vector<Profile>& AllProfiles();
const Profile* FindProfile(std::string_view name);
bool IsKnownLanguage(std::string_view language);
uint32_t LanguageId(std::string_view language);  // LCID: 1033, 1031

// The standard folders of a machine, as Windows paths without trailing backslash.
struct KnownFolders {
  std::string windows, system, systemX86;
  std::string programFiles, programFilesX86, commonFiles, commonFilesX86;
  std::string commonAppData, commonDocuments;
  std::string usersRoot, userProfile, temp;
};
KnownFolders FoldersOf(const Profile& profile, std::string_view language, std::string_view user);

// A service as a fresh installation has it: its configuration (kept in
// HKLM\SYSTEM\CurrentControlSet\Services\<name>) and whether it runs.
struct ServiceDef {
  std::string name;
  std::string displayName;
  uint32_t type = 0;
  uint32_t startType = 0;
  bool running = false;
  std::string imagePath;
  std::string objectName;
  std::vector<std::string> dependencies;
};
// The firewall service of the profile's Windows version and the update
// service, with the start types and states of a fresh installation.
std::vector<ServiceDef> ServicesOf(const Profile& profile);

}  // namespace host
