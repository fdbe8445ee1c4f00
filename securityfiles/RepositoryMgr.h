// The repository of applied security files: a folder below the Windows
// folder (Security\Kelmar) holding TarvoRepository.xml, the stored copies of
// the security files, the history file and the repository log.
#pragma once

#include <string>

class CErrorMgr;

class CRepositoryMgr {
 public:
  // The repository folder; with `create`, made (one level) when missing.
  // "" after a failed creation, with a critical entry.
  static std::string ReturnRepositoryDir(CErrorMgr& errorMgr, bool create);
};
