#include "securityfiles/RepositoryMgr.h"

#include "infra/ErrorMgr.h"
#include "infra/Tool.h"
#include "platform/Platform.h"

std::string CRepositoryMgr::ReturnRepositoryDir(CErrorMgr& errorMgr, bool create) {
  std::string windows;
  plat::Current().System().GetFolderPath(plat::csidl::kWindows, &windows);
  const std::string folder = CStdTool::CombinePath(CStdTool::CombinePath(windows, "Security"), "Kelmar");
  if (create && !plat::IsDirectory(plat::Current().Files(), folder) &&
      plat::Current().Files().MakeDirectory(folder) != 0) {
    errorMgr.AddMessageF(kLevelCritical, "CRepositoryMgr::ReturnRepositoryDir",
                         "Error trying to create the repository folder '%s'", folder.c_str());
    return "";
  }
  return folder;
}
