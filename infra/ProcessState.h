// Values that live for the whole process and are shared by several parts of
// the program: the running Windows version (read once), whether the security
// file loaded last names a client XML, and the name of the firewall snapshot
// of the run, the repository lock while held, the repository and history
// documents as the run saved them last. Kept in one place, with a reset for
// tests.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "infra/KeptDocument.h"
#include "platform/Files.h"
#include "platform/System.h"

struct ProcessState {
  // The extended version record of the running Windows, read on first use;
  // a read that failed is tried again on the next use.
  bool versionRecordRead = false;
  plat::OsVersionInfoEx versionRecord;
  // Set after each security file that passed its checks: the file names a client XML.
  bool clientXml = false;
  // The snapshot folder name of the run ("" until one is made).
  std::string snapshotName;
  // The repository lock of the run and how many holders share it.
  int repositoryLockDepth = 0;
  std::unique_ptr<plat::IFileLock> repositoryLock;
  // The repository file as this run saved it last and, while that is kept,
  // per base name of the stored copies the number the search for a free
  // name goes on from (the names before it were taken when it was set).
  CKeptDocument repository;
  std::map<std::string, int> nextCopyNumber;
  // The history file as this run saved it last.
  CKeptDocument history;
};

ProcessState& CurrentProcessState();
// The version record (empty while it cannot be read).
const plat::OsVersionInfoEx& ProcessVersionRecord();
void ResetProcessState();
