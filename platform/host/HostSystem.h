// The system service of the simulated host: the profile's version record,
// bitness and folders, and a clock that is either the real one or a virtual
// one kept in host.db (Sleep then advances it at once, so waits and times
// are instant and repeatable in tests).
#pragma once

#include "platform/System.h"
#include "platform/host/HostDb.h"
#include "platform/host/PathMap.h"
#include "platform/host/Profiles.h"

namespace host {

struct MachineIdentity {
  std::string computerName;
  std::string userName;
  bool userIsAdmin = true;
  std::string language;
};

class HostSystem : public plat::ISystem {
 public:
  HostSystem(HostDb& db, const Profile& profile, MachineIdentity identity, const PathMap& paths,
             bool process32Bit);

  bool GetVersionInfo(plat::OsVersionInfoEx* info) override;
  bool IsWow64Process() override;
  uint32_t GetFolderPath(int csidl, std::string* path) override;
  std::string TempPath() override;
  std::string ModuleFileName() override;
  std::string ComputerName() override;
  bool IsUserAnAdmin() override;
  unsigned AnsiCodePage() override;
  plat::SystemTime LocalTime() override;
  uint32_t TickCount() override;
  void Sleep(uint32_t milliseconds) override;
  uint32_t CurrentProcessId() override;
  uint32_t LastError() override { return lastError_; }
  void SetLastError(uint32_t code) override { lastError_ = code; }

  // The host clock in milliseconds since 1970: the virtual time, or the
  // real time (UTC), which every process of the host reads alike.
  int64_t NowMs();
  bool VirtualClock() const { return virtualClock_; }
  const KnownFolders& Folders() const { return folders_; }

 private:
  // The virtual time, read from host.db at most once per kVirtualClockRefreshNs
  // of real time: a run writes its log lines in bursts and every read is a
  // database transaction. This process's own Sleep is seen at once, another
  // process's after at most that interval.
  static constexpr int64_t kVirtualClockRefreshNs = 2'000'000;
  int64_t VirtualNowMs();
  int64_t StoredVirtualMs();
  void RememberVirtualMs(int64_t virtualMs);
  HostDb& db_;
  const Profile& profile_;
  MachineIdentity identity_;
  KnownFolders folders_;
  const PathMap& paths_;
  bool process32Bit_;
  bool virtualClock_;
  bool virtualKnown_ = false;
  int64_t virtualMs_ = 0;
  int64_t virtualReadAtNs_ = 0;  // real monotonic time of the last read
  uint32_t lastError_ = 0;
};

// Milliseconds since 1970 of a date and time, and back (no time zone: the
// host's local time is the clock's time).
plat::SystemTime SystemTimeOf(int64_t msSinceEpoch);

}  // namespace host
