#include "platform/host/Profiles.h"

namespace host {

const std::vector<Profile>& AllProfiles() {
  // Versions as GetVersionExW reports them to this program (it declares
  // itself compatible with Windows 8.1, so 8.1 reports 6.3).
  static const std::vector<Profile> profiles = {
      {"win7-sp1-x64", 6, 1, 7601, 1, "Service Pack 1", 1, true, "Windows 7 Professional"},
      {"winxp-sp3-x86", 5, 1, 2600, 3, "Service Pack 3", 1, false, "Microsoft Windows XP"},
      {"win2003-sp2-x64", 5, 2, 3790, 2, "Service Pack 2", 3, true, "Microsoft Windows Server 2003"},
      {"vista-sp2-x86", 6, 0, 6002, 2, "Service Pack 2", 1, false, "Windows Vista (TM) Business"},
      {"win2008r2-sp1-x64", 6, 1, 7601, 1, "Service Pack 1", 3, true, "Windows Server 2008 R2 Standard"},
      {"win81-x64", 6, 3, 9600, 0, "", 1, true, "Windows 8.1 Pro"},
  };
  return profiles;
}

const Profile* FindProfile(std::string_view name) {
  for (const Profile& p : AllProfiles()) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

bool IsKnownLanguage(std::string_view language) { return language == "en-US" || language == "de-DE"; }

uint32_t LanguageId(std::string_view language) { return language == "de-DE" ? 1031 : 1033; }

KnownFolders FoldersOf(const Profile& profile, std::string_view language, std::string_view user) {
  const bool german = language == "de-DE";
  const bool nt5 = profile.major < 6;
  KnownFolders f;
  f.windows = nt5 ? "C:\\WINDOWS" : "C:\\Windows";
  f.system = f.windows + "\\system32";
  f.systemX86 = profile.is64Bit ? f.windows + "\\SysWOW64" : f.system;
  // Windows 5.x localized the folder names themselves; 6.x only displays them.
  const std::string programFiles = nt5 && german ? "C:\\Programme" : "C:\\Program Files";
  const std::string common = nt5 && german ? "Gemeinsame Dateien" : "Common Files";
  f.programFiles = programFiles;
  f.programFilesX86 = profile.is64Bit ? programFiles + " (x86)" : programFiles;
  f.commonFiles = programFiles + "\\" + common;
  f.commonFilesX86 = f.programFilesX86 + "\\" + common;
  const std::string u(user);
  if (nt5) {
    f.usersRoot = german ? "C:\\Dokumente und Einstellungen" : "C:\\Documents and Settings";
    const std::string allUsers = f.usersRoot + "\\All Users";
    f.commonAppData = allUsers + (german ? "\\Anwendungsdaten" : "\\Application Data");
    f.commonDocuments = allUsers + (german ? "\\Dokumente" : "\\Documents");
    f.userProfile = f.usersRoot + "\\" + u;
    f.temp = f.userProfile + (german ? "\\Lokale Einstellungen\\Temp" : "\\Local Settings\\Temp");
  } else {
    f.usersRoot = "C:\\Users";
    f.commonAppData = "C:\\ProgramData";
    f.commonDocuments = "C:\\Users\\Public\\Documents";
    f.userProfile = "C:\\Users\\" + u;
    f.temp = f.userProfile + "\\AppData\\Local\\Temp";
  }
  return f;
}

std::vector<ServiceDef> ServicesOf(const Profile& profile) {
  constexpr uint32_t kShared = 0x20;  // SERVICE_WIN32_SHARE_PROCESS: all of them run in svchost
  constexpr uint32_t kAuto = 2, kManual = 3, kDisabled = 4;
  const std::string netsvcs = "%SystemRoot%\\system32\\svchost.exe -k netsvcs";
  struct Row {
    uint32_t from, to;  // versions as major * 100 + minor
    ServiceDef def;
  };
  // Where a detail is not known for certain, the value is a plausible
  // choice: the server of the 5.2 family ships its firewall turned off, and
  // the connection-sharing service keeps the name "SharedAccess" from 6.0
  // on, disabled until 6.1 and started on demand after.
  const std::vector<Row> rows = {
      {501, 501, {"SharedAccess", "Windows Firewall/Internet Connection Sharing (ICS)", kShared, kAuto, true, netsvcs,
                  "LocalSystem", {"Netman", "WinMgmt"}}},
      {502, 502, {"SharedAccess", "Windows Firewall/Internet Connection Sharing (ICS)", kShared, kManual, false,
                  netsvcs, "LocalSystem", {"Netman", "WinMgmt"}}},
      {600, 9999, {"MpsSvc", "Windows Firewall", kShared, kAuto, true,
                   "%SystemRoot%\\system32\\svchost.exe -k LocalServiceNoNetwork", "NT Authority\\LocalService",
                   {"mpsdrv", "bfe"}}},
      {600, 601, {"SharedAccess", "Internet Connection Sharing (ICS)", kShared, kDisabled, false, netsvcs,
                  "LocalSystem", {"Netman", "WinMgmt"}}},
      {602, 9999, {"SharedAccess", "Internet Connection Sharing (ICS)", kShared, kManual, false, netsvcs,
                   "LocalSystem", {"Netman", "WinMgmt"}}},
      {501, 502, {"wuauserv", "Automatic Updates", kShared, kAuto, true, netsvcs, "LocalSystem", {}}},
      {600, 601, {"wuauserv", "Windows Update", kShared, kAuto, true, netsvcs, "LocalSystem", {"rpcss"}}},
      {602, 9999, {"wuauserv", "Windows Update", kShared, kManual, false, netsvcs, "LocalSystem", {"rpcss"}}},
  };
  const uint32_t version = profile.major * 100 + profile.minor;
  std::vector<ServiceDef> services;
  for (const Row& row : rows) {
    if (version >= row.from && version <= row.to) services.push_back(row.def);
  }
  return services;
}

}  // namespace host
