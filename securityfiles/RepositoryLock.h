// One run at a time changes the repository folder: every load, change and
// save of the repository files and the history happens under this lock,
// so runs on one machine at the same time lose none of each other's
// entries. The lock is a file in the repository folder, held with the
// platform's exclusive file lock; a run that dies releases it.
#pragma once

#include <cstdint>

class CErrorMgr;

// How long a run waits for another run's load-change-save before it gives up.
inline constexpr uint32_t kRepositoryLockWaitMs = 60'000;
inline constexpr const char* kRepositoryLockFileName = "Tarvo.lock";

class CRepositoryLock {
 public:
  // Takes the lock, waiting at most kRepositoryLockWaitMs; a wait is noted
  // in the log, a lock not had is a critical entry. Nested locks of one run
  // share the outermost one.
  explicit CRepositoryLock(CErrorMgr& errorMgr);
  ~CRepositoryLock();
  CRepositoryLock(const CRepositoryLock&) = delete;
  CRepositoryLock& operator=(const CRepositoryLock&) = delete;

  // False when the lock could not be had: the caller must not save.
  bool IsHeld() const { return held_; }

 private:
  bool held_ = false;
};
