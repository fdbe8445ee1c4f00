#include "securityfiles/RepositoryLock.h"

#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "securityfiles/RepositoryMgr.h"

namespace {
constexpr const char* kLabel = "CRepositoryLock::CRepositoryLock";
}

CRepositoryLock::CRepositoryLock(CErrorMgr& errorMgr) {
  ProcessState& state = CurrentProcessState();
  if (state.repositoryLockDepth > 0) {
    ++state.repositoryLockDepth;
    held_ = true;
    return;
  }
  const std::string folder = CRepositoryMgr::ReturnRepositoryDir(errorMgr, true);
  if (folder.empty()) return;  // reported there
  const std::string path = CStdTool::CombinePath(folder, kRepositoryLockFileName);
  plat::IFiles& files = plat::Current().Files();
  uint32_t rc = files.LockExclusive(path, 0, &state.repositoryLock);
  if (rc == winerr::kLockViolation) {
    const uint32_t start = plat::Current().System().TickCount();
    errorMgr.AddMessage(kLevelInfo, kLabel, "The repository is in use by another run; waiting for it");
    rc = files.LockExclusive(path, kRepositoryLockWaitMs, &state.repositoryLock);
    if (rc == winerr::kSuccess) {
      errorMgr.AddMessageF(kLevelInfo, kLabel, "Waited %u ms for the repository",
                           plat::Current().System().TickCount() - start);
    }
  }
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelCritical, kLabel,
                         "The repository could not be locked (%s). Error=%u; nothing is stored in it",
                         path.c_str(), rc);
    return;
  }
  state.repositoryLockDepth = 1;
  held_ = true;
}

CRepositoryLock::~CRepositoryLock() {
  if (!held_) return;
  ProcessState& state = CurrentProcessState();
  if (--state.repositoryLockDepth == 0) state.repositoryLock.reset();
}
