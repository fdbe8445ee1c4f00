#include "infra/Tool.h"

#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace {

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

}  // namespace

int CTool::GetCurrentUserSID(CErrorMgr& errorMgr, winsec::Sid* sid, bool* found) {
  if (found) *found = false;
  const uint32_t rc = plat::Current().Security().GetTokenUser(sid);
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, "CTool::GetCurrentUserSID()", "GetTokenInformation() failed. Error=%d",
                         static_cast<int>(rc));
    return static_cast<int>(rc);
  }
  if (found) *found = true;
  return 0;
}

int CTool::GetSidFromAccountName(std::string* domain, std::string_view accountName, winsec::Sid* sid) {
  plat::SidNameUse use;
  std::string referenced;
  const uint32_t rc = plat::Current().Security().LookupAccountName("", accountName, sid, &referenced, &use);
  if (rc != winerr::kSuccess) {
    *sid = winsec::Sid();
    return static_cast<int>(rc);
  }
  if (domain) *domain = referenced;
  return 0;
}

bool CTool::IsUserInLocalGroup(std::string_view userName, std::string_view groupName) {
  std::vector<std::string> groups;
  if (plat::Current().Accounts().UserGetLocalGroups(userName, true, &groups) != 0) return false;
  const std::string wanted = text::AsciiLower(groupName);
  for (const std::string& group : groups) {
    if (text::AsciiLower(group) == wanted) return true;
  }
  return false;
}

plat::HKey CTool::GetRootKeyFromName(std::string_view rootName) {
  if (rootName == "HKEY_CLASSES_ROOT") return plat::kHkeyClassesRoot;
  if (rootName == "HKEY_CURRENT_CONFIG") return plat::kHkeyCurrentConfig;
  if (rootName == "HKEY_CURRENT_USER") return plat::kHkeyCurrentUser;
  if (rootName == "HKEY_LOCAL_MACHINE") return plat::kHkeyLocalMachine;
  if (rootName == "HKEY_USERS") return plat::kHkeyUsers;
  return plat::kNullKey;
}

std::string CTool::GetRootKeyName(plat::HKey root) {
  if (root == plat::kHkeyClassesRoot) return "HKEY_CLASSES_ROOT";
  if (root == plat::kHkeyLocalMachine) return "HKEY_LOCAL_MACHINE";
  return "";
}

bool CTool::RegistryKeyExists(std::string_view rootName, std::string_view subKey, bool view32) {
  plat::IRegistry& registry = plat::Current().Registry();
  const uint32_t sam = plat::kKeySetValue | plat::kKeyCreateSubKey | (view32 ? plat::kKeyWow64_32Key : 0);
  plat::HKey key = plat::kNullKey;
  const uint32_t rc = registry.OpenKey(GetRootKeyFromName(rootName), subKey, sam, &key);
  if (rc == winerr::kSuccess) registry.CloseKey(key);
  return rc != winerr::kFileNotFound;
}

std::string CTool::GetRegistryString(plat::HKey key, std::string_view valueName) {
  plat::RegValue value;
  if (plat::Current().Registry().QueryValue(key, valueName, &value) != winerr::kSuccess) return "";
  return plat::RegSzText(value.data);
}

std::string CStdTool::GetExePath() {
  std::string path = plat::Current().System().ModuleFileName();
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(0, slash + 1);
}

bool CStdTool::Is64BitWindows() {
  if (kBuildIs64Bit) return true;  // a 64-bit program runs on 64-bit Windows only
  return plat::Current().System().IsWow64Process();
}

bool CStdTool::IsUserAnAdmin() { return plat::Current().System().IsUserAnAdmin(); }

std::string CStdTool::CombinePath(std::string_view directory, std::string_view name, bool keepUnc) {
  std::string result;
  if (!directory.empty() && directory[0] == '\\') result = "*";  // marks the leading backslash
  size_t start = 0;
  while (start < directory.size() && directory[start] == '\\') ++start;
  result += std::string(directory.substr(start)) + "\\" + std::string(name);
  result = ReplaceAll(std::move(result), "\\\\", "\\");
  if (keepUnc) result = ReplaceAll(std::move(result), "*", "\\\\");
  return result;
}

std::string CStdTool::GetDirectoryOfPath(std::string_view path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string_view::npos) {
    return path.size() >= 2 && path[1] == ':' ? std::string(path.substr(0, 2)) : std::string();
  }
  return std::string(path.substr(0, slash + 1));
}

bool CStdTool::FileExists(std::string_view path) {
  std::vector<plat::FileEntry> found;
  return plat::Current().Files().Find(path, &found) == winerr::kSuccess;
}

std::string CStdTool::CollapseBackslashes(std::string_view path) {
  const bool unc = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
  std::string result(path);
  for (int pass = 0; pass < 2; ++pass) result = ReplaceAll(std::move(result), "\\\\", "\\");
  return unc ? "\\" + result : result;
}

std::string CStdTool::GetUniqueFileName(std::string_view directory, std::string_view baseName,
                                        std::string_view extension) {
  while (!extension.empty() && extension[0] == '.') extension.remove_prefix(1);
  const std::string base(baseName);
  const std::string ext(extension);
  std::string candidate = base + "." + ext;
  for (int n = 0; FileExists(CombinePath(directory, candidate)); ++n) {
    candidate = base + "_" + std::to_string(n) + "." + ext;
  }
  return candidate;
}
