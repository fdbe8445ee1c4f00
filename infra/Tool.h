// Stateless queries on the running system and path operations: where the
// executable lies, whether Windows is 64-bit, who the user is, registry root
// names, and how paths are combined and made unique. CTool holds the queries
// that ask the platform about accounts and the registry, CStdTool the rest.
#pragma once

#include <string>
#include <string_view>

#include "platform/Registry.h"
#include "platform/winsec/Sid.h"

class CErrorMgr;

class CTool {
 public:
  // Copy of the process user's SID; 0 or a system error code (recorded as an error entry).
  static int GetCurrentUserSID(CErrorMgr& errorMgr, winsec::Sid* sid, bool* found = nullptr);
  // SID of an account name (LookupAccountNameW on the local machine); 0 or a
  // system error code. `domain` receives the referenced domain.
  static int GetSidFromAccountName(std::string* domain, std::string_view accountName, winsec::Sid* sid);
  // Whether the user belongs to the local group, directly or through other groups.
  static bool IsUserInLocalGroup(std::string_view userName, std::string_view groupName);
  // Root key of an exact, case-sensitive root name ("HKEY_LOCAL_MACHINE" ...); kNullKey otherwise.
  static plat::HKey GetRootKeyFromName(std::string_view rootName);
  // "HKEY_CLASSES_ROOT" or "HKEY_LOCAL_MACHINE"; "" for any other root.
  static std::string GetRootKeyName(plat::HKey root);
  // False only when the key is missing (a key that refuses write access exists).
  static bool RegistryKeyExists(std::string_view rootName, std::string_view subKey, bool view32);
  // The value's text up to its first NUL; "" when it cannot be read.
  static std::string GetRegistryString(plat::HKey key, std::string_view valueName);
};

class CStdTool {
 public:
  // Folder of the running executable, with its trailing backslash.
  static std::string GetExePath();
  static bool Is64BitWindows();
  // Platform call: whether the process has administrator rights (log header only).
  static bool IsUserAnAdmin();
  static std::string CombinePath(std::string_view directory, std::string_view name, bool keepUnc = true);
  // Drive and folder of a path with trailing backslash; "" when it cannot be split.
  static std::string GetDirectoryOfPath(std::string_view path);
  // Whether a file-system search for the path finds an entry (wildcards match).
  static bool FileExists(std::string_view path);
  // Every pair of backslashes becomes one (two passes); a leading pair stays.
  static std::string CollapseBackslashes(std::string_view path);
  // A name "base.ext", or "base_N.ext" with the first N = 0, 1, ... that does not exist in the folder.
  static std::string GetUniqueFileName(std::string_view directory, std::string_view baseName,
                                       std::string_view extension);
};
