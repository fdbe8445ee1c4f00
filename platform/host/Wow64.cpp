#include "platform/host/Wow64.h"

#include "platform/text/Text.h"

namespace host {
namespace {

constexpr const char* kWowNode = "Wow6432Node";

// Keys below HKLM\SOFTWARE that both views share on Windows 7 and later.
const std::vector<std::vector<std::string>>& SharedSoftwareKeys() {
  static const std::vector<std::vector<std::string>> keys = {
      {"Classes"},
      {"Clients"},
      {"Microsoft", "COM3"},
      {"Microsoft", "EventSystem"},
      {"Microsoft", "Ole"},
      {"Microsoft", "Rpc"},
      {"Microsoft", "Cryptography", "Calais", "Current"},
      {"Microsoft", "Cryptography", "Calais", "Readers"},
      {"Microsoft", "Cryptography", "Services"},
      {"Microsoft", "CTF", "SystemShared"},
      {"Microsoft", "CTF", "TIP"},
      {"Microsoft", "DFS"},
      {"Microsoft", "Driver Signing"},
      {"Microsoft", "EnterpriseCertificates"},
      {"Microsoft", "MSMQ"},
      {"Microsoft", "Non-Driver Signing"},
      {"Microsoft", "Notepad", "DefaultFonts"},
      {"Microsoft", "RAS"},
      {"Microsoft", "Shared Tools", "MSInfo"},
      {"Microsoft", "SystemCertificates"},
      {"Microsoft", "TermServLicensing"},
      {"Microsoft", "TransactionServer"},
      {"Microsoft", "Windows", "CurrentVersion", "App Paths"},
      {"Microsoft", "Windows", "CurrentVersion", "Control Panel", "Cursors", "Schemes"},
      {"Microsoft", "Windows", "CurrentVersion", "Explorer", "AutoplayHandlers"},
      {"Microsoft", "Windows", "CurrentVersion", "Explorer", "DriveIcons"},
      {"Microsoft", "Windows", "CurrentVersion", "Explorer", "KindMap"},
      {"Microsoft", "Windows", "CurrentVersion", "Group Policy"},
      {"Microsoft", "Windows", "CurrentVersion", "Policies"},
      {"Microsoft", "Windows", "CurrentVersion", "PreviewHandlers"},
      {"Microsoft", "Windows", "CurrentVersion", "Setup"},
      {"Microsoft", "Windows", "CurrentVersion", "Telephony", "Locations"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Console"},
      {"Microsoft", "Windows NT", "CurrentVersion", "FontDpi"},
      {"Microsoft", "Windows NT", "CurrentVersion", "FontLink"},
      {"Microsoft", "Windows NT", "CurrentVersion", "FontMapper"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Fonts"},
      {"Microsoft", "Windows NT", "CurrentVersion", "FontSubstitutes"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Gre_Initialize"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Image File Execution Options"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Language Pack"},
      {"Microsoft", "Windows NT", "CurrentVersion", "NetworkCards"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Perflib"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Ports"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Print"},
      {"Microsoft", "Windows NT", "CurrentVersion", "ProfileList"},
      {"Microsoft", "Windows NT", "CurrentVersion", "Time Zones"},
      {"Policies"},
      {"RegisteredApplications"},
  };
  return keys;
}

// Sub keys of a Classes key that keep separate 32-bit copies.
bool IsRedirectedClassesKey(const std::string& name) {
  for (const char* k : {"CLSID", "Interface", "DirectShow", "Media Type", "MediaFoundation"}) {
    if (text::EqualsNoCase(name, k)) return true;
  }
  return false;
}

bool StartsWith(const std::vector<std::string>& path, size_t offset, const std::vector<std::string>& prefix) {
  if (path.size() - offset < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (!text::EqualsNoCase(path[offset + i], prefix[i])) return false;
  }
  return true;
}

bool ContainsWowNode(const std::vector<std::string>& path) {
  for (const std::string& c : path) {
    if (text::EqualsNoCase(c, kWowNode)) return true;
  }
  return false;
}

// Inserts Wow6432Node after the first `keep` components.
std::vector<std::string> InsertWowNode(const std::vector<std::string>& path, size_t keep) {
  std::vector<std::string> out(path.begin(), path.begin() + static_cast<long>(keep));
  out.push_back(kWowNode);
  out.insert(out.end(), path.begin() + static_cast<long>(keep), path.end());
  return out;
}

// Classes below `classesAt` (the index of the "Classes" component).
std::vector<std::string> RedirectClasses(const std::vector<std::string>& path, size_t classesAt) {
  if (path.size() > classesAt + 1 && IsRedirectedClassesKey(path[classesAt + 1])) {
    return InsertWowNode(path, classesAt + 1);
  }
  return path;
}

}  // namespace

std::vector<std::string> RedirectTo32BitView(const std::vector<std::string>& logical, const Profile& profile) {
  if (!profile.is64Bit || logical.empty() || ContainsWowNode(logical)) return logical;
  // Windows 7 removed reflection and shares Classes and the keys listed
  // above; earlier 64-bit versions redirect all of HKLM\SOFTWARE except the
  // redirected-and-reflected Classes parts, which are modelled as on 7.
  const bool sharesKeys = profile.major > 6 || (profile.major == 6 && profile.minor >= 1);
  if (text::EqualsNoCase(logical[0], "HKLM")) {
    if (logical.size() < 2 || !text::EqualsNoCase(logical[1], "SOFTWARE")) return logical;
    if (logical.size() >= 3 && text::EqualsNoCase(logical[2], "Classes")) return RedirectClasses(logical, 2);
    if (sharesKeys) {
      for (const auto& shared : SharedSoftwareKeys()) {
        if (StartsWith(logical, 2, shared)) return logical;
      }
    }
    return InsertWowNode(logical, 2);
  }
  // HKU\<sid>\Software\Classes: only the listed class keys are redirected.
  if (text::EqualsNoCase(logical[0], "HKU") && logical.size() >= 4 && text::EqualsNoCase(logical[2], "Software") &&
      text::EqualsNoCase(logical[3], "Classes")) {
    return RedirectClasses(logical, 3);
  }
  return logical;
}

}  // namespace host
