#include "platform/host/HostSeed.h"

#include <filesystem>

#include "platform/host/DcomSeed.h"
#include "platform/text/Text.h"

namespace host {
namespace {

uint32_t Fnv1a(std::string_view s, uint32_t seed) {
  uint32_t h = 2166136261u ^ seed;
  for (unsigned char c : s) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

class Seeder {
 public:
  Seeder(HostRegistry& registry, const std::vector<std::string>& key) : registry_(registry), key_(key) {
    registry.EnsurePhysicalKey(key);
  }

  Seeder& Sz(std::string_view name, std::string_view value) { return Set(name, plat::kRegSz, plat::MakeRegSz(value)); }
  Seeder& ExpandSz(std::string_view name, std::string_view value) {
    return Set(name, plat::kRegExpandSz, plat::MakeRegSz(value));
  }
  Seeder& Dword(std::string_view name, uint32_t value) {
    return Set(name, plat::kRegDword, plat::MakeRegDword(value));
  }

 private:
  Seeder& Set(std::string_view name, uint32_t type, const std::string& data) {
    plat::HKey key = plat::kNullKey;
    // Seeding writes the physical key: open it through its physical path in the 64-bit view.
    std::vector<std::string> rest(key_.begin() + 1, key_.end());
    std::string sub;
    for (const auto& part : rest) sub += (sub.empty() ? "" : "\\") + part;
    const plat::HKey root = key_[0] == "HKU" ? plat::kHkeyUsers : plat::kHkeyLocalMachine;
    if (registry_.OpenKey(root, sub, plat::kKeyAllAccess | plat::kKeyWow64_64Key, &key) == 0) {
      registry_.SetValue(key, name, type, data);
      registry_.CloseKey(key);
    }
    return *this;
  }

  HostRegistry& registry_;
  std::vector<std::string> key_;
};

std::vector<std::string> Path(std::initializer_list<const char*> parts) { return {parts.begin(), parts.end()}; }

void SeedVersion(HostRegistry& r, const Profile& p, const KnownFolders& f, const MachineIdentity& id) {
  Seeder(r, Path({"HKLM", "SOFTWARE", "Microsoft", "Windows NT", "CurrentVersion"}))
      .Sz("ProductName", p.productName)
      .Sz("CurrentVersion", text::Format("%u.%u", p.major, p.minor))
      .Sz("CurrentBuildNumber", std::to_string(p.build))
      .Sz("CurrentBuild", std::to_string(p.build))
      .Sz("CSDVersion", p.csdVersion)
      .Sz("SystemRoot", f.windows)
      .Sz("RegisteredOwner", id.userName);
  Seeder(r, Path({"HKLM", "SOFTWARE", "Microsoft", "Windows", "CurrentVersion"}))
      .Sz("ProgramFilesDir", f.programFiles)
      .Sz("CommonFilesDir", f.commonFiles);
  if (p.is64Bit) {
    Seeder(r, Path({"HKLM", "SOFTWARE", "Microsoft", "Windows", "CurrentVersion"}))
        .Sz("ProgramFilesDir (x86)", f.programFilesX86)
        .Sz("CommonFilesDir (x86)", f.commonFilesX86)
        .Sz("ProgramW6432Dir", f.programFiles);
    Seeder(r, Path({"HKLM", "SOFTWARE", "Wow6432Node", "Microsoft", "Windows", "CurrentVersion"}))
        .Sz("ProgramFilesDir", f.programFilesX86)
        .Sz("CommonFilesDir", f.commonFilesX86);
    r.EnsurePhysicalKey(Path({"HKLM", "SOFTWARE", "Classes", "Wow6432Node", "CLSID"}));
  }
}

void SeedSystem(HostRegistry& r, const MachineIdentity& id) {
  Seeder(r, Path({"HKLM", "SYSTEM", "CurrentControlSet", "Control", "ComputerName", "ComputerName"}))
      .Sz("ComputerName", id.computerName);
  const std::string lang = id.language == "de-DE" ? "0407" : "0409";
  Seeder(r, Path({"HKLM", "SYSTEM", "CurrentControlSet", "Control", "Nls", "Language"}))
      .Sz("Default", lang)
      .Sz("InstallLanguage", lang);
  r.EnsurePhysicalKey(Path({"HKLM", "SYSTEM", "CurrentControlSet", "Hardware Profiles", "Current"}));
  r.EnsurePhysicalKey(Path({"HKLM", "SYSTEM", "CurrentControlSet", "Services"}));
}

}  // namespace

std::string ComputerNameOf(const Profile& profile) {
  std::string name = text::AsciiUpper(profile.name);
  if (name.size() > 15) name.resize(15);  // NetBIOS names hold 15 characters
  return name;
}

std::string DomainSidOf(const Profile& profile) {
  return text::Format("S-1-5-21-%u-%u-%u", Fnv1a(profile.name, 1) % 4000000000u,
                      Fnv1a(profile.name, 2) % 4000000000u, Fnv1a(profile.name, 3) % 4000000000u);
}

void SeedFolders(const PathMap& paths, const KnownFolders& f) {
  const std::string security = f.windows + "\\security";
  for (const std::string* folder : {&f.windows, &f.system, &f.systemX86, &f.programFiles, &f.programFilesX86,
                                    &f.commonFiles, &f.commonFilesX86, &f.commonAppData, &f.commonDocuments,
                                    &f.userProfile, &f.temp, &security}) {
    WinPath parsed;
    if (paths.Parse(*folder, &parsed) != 0) continue;
    std::error_code ec;
    std::filesystem::create_directories(paths.Map(parsed).hostPath, ec);
  }
}

void SeedRegistry(HostRegistry& r, const Profile& p, const KnownFolders& f, const MachineIdentity& id,
                  const std::string& userSid) {
  SeedVersion(r, p, f, id);
  SeedSystem(r, id);
  Seeder(r, Path({"HKLM", "SOFTWARE", "Microsoft", "Ole"})).Sz("EnableDCOM", "Y");
  SeedDcomSecurity(r, p);
  r.EnsurePhysicalKey(Path({"HKLM", "SOFTWARE", "Classes", "AppID"}));
  r.EnsurePhysicalKey(Path({"HKLM", "SOFTWARE", "Classes", "CLSID"}));
  r.EnsurePhysicalKey({"HKU", ".DEFAULT", "Software"});
  r.EnsurePhysicalKey({"HKU", userSid, "Software", "Classes"});
  Seeder(r, {"HKLM", "SOFTWARE", "Microsoft", "Windows NT", "CurrentVersion", "ProfileList", userSid})
      .ExpandSz("ProfileImagePath", f.userProfile);
}

}  // namespace host
