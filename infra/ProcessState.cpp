#include "infra/ProcessState.h"

#include "platform/Platform.h"

namespace {
ProcessState g_state;
}

ProcessState& CurrentProcessState() { return g_state; }
void ResetProcessState() { g_state = ProcessState(); }

const plat::OsVersionInfoEx& ProcessVersionRecord() {
  if (!g_state.versionRecordRead) {
    plat::OsVersionInfoEx info;
    g_state.versionRecordRead = plat::Current().System().GetVersionInfo(&info);
    g_state.versionRecord = g_state.versionRecordRead ? info : plat::OsVersionInfoEx{};
  }
  return g_state.versionRecord;
}
