#include "platform/host/HostSystem.h"

#include <time.h>
#include <unistd.h>

#include <climits>
#include <exception>
#include <string>

#include "platform/WinError.h"

namespace host {

plat::SystemTime SystemTimeOf(int64_t ms) {
  const time_t seconds = static_cast<time_t>(ms / 1000);
  struct tm t;
  gmtime_r(&seconds, &t);
  plat::SystemTime st;
  st.year = static_cast<uint16_t>(t.tm_year + 1900);
  st.month = static_cast<uint16_t>(t.tm_mon + 1);
  st.dayOfWeek = static_cast<uint16_t>(t.tm_wday);
  st.day = static_cast<uint16_t>(t.tm_mday);
  st.hour = static_cast<uint16_t>(t.tm_hour);
  st.minute = static_cast<uint16_t>(t.tm_min);
  st.second = static_cast<uint16_t>(t.tm_sec);
  st.milliseconds = static_cast<uint16_t>(ms % 1000);
  return st;
}

HostSystem::HostSystem(HostDb& db, const Profile& profile, MachineIdentity identity, const PathMap& paths,
                       bool process32Bit)
    : db_(db),
      profile_(profile),
      identity_(std::move(identity)),
      folders_(FoldersOf(profile, identity_.language, identity_.userName)),
      paths_(paths),
      process32Bit_(process32Bit),
      virtualClock_(db.Meta("clock") == "virtual") {}

bool HostSystem::GetVersionInfo(plat::OsVersionInfoEx* info) {
  const bool extended = info->osVersionInfoSize == plat::OsVersionInfoEx::kSize;
  if (!extended && info->osVersionInfoSize != plat::OsVersionInfoEx::kBasicSize) {
    lastError_ = winerr::kInsufficientBuffer;
    return false;
  }
  info->majorVersion = profile_.major;
  info->minorVersion = profile_.minor;
  info->buildNumber = profile_.build;
  info->platformId = plat::kVerPlatformWin32Nt;
  info->csdVersion = profile_.csdVersion;
  if (!extended) return true;
  info->servicePackMajor = profile_.servicePackMajor;
  info->servicePackMinor = 0;
  info->suiteMask = 0x100;  // VER_SUITE_SINGLEUSERTS
  info->productType = profile_.productType;
  return true;
}

bool HostSystem::IsWow64Process() { return profile_.is64Bit && process32Bit_; }

uint32_t HostSystem::GetFolderPath(int csidl, std::string* path) {
  // A 32-bit process on 64-bit Windows is told the (x86) program folders.
  const bool wow = IsWow64Process();
  switch (csidl) {
    case plat::csidl::kWindows: *path = folders_.windows; break;
    case plat::csidl::kSystem: *path = folders_.system; break;
    case plat::csidl::kSystemX86: *path = folders_.systemX86; break;
    case plat::csidl::kProgramFiles: *path = wow ? folders_.programFilesX86 : folders_.programFiles; break;
    case plat::csidl::kProgramFilesX86: *path = folders_.programFilesX86; break;
    case plat::csidl::kProgramFilesCommon: *path = wow ? folders_.commonFilesX86 : folders_.commonFiles; break;
    case plat::csidl::kProgramFilesCommonX86: *path = folders_.commonFilesX86; break;
    case plat::csidl::kCommonAppData: *path = folders_.commonAppData; break;
    case plat::csidl::kCommonDocuments: *path = folders_.commonDocuments; break;
    default: return plat::kEInvalidArg;
  }
  return plat::kSOk;
}

std::string HostSystem::TempPath() { return folders_.temp + "\\"; }

std::string HostSystem::ModuleFileName() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return paths_.WindowsPathOf(std::string(buffer, static_cast<size_t>(n)));
}

std::string HostSystem::ComputerName() { return identity_.computerName; }
bool HostSystem::IsUserAnAdmin() { return identity_.userIsAdmin; }
unsigned HostSystem::AnsiCodePage() { return 1252; }

namespace {

int64_t MonotonicNs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

int64_t HostSystem::StoredVirtualMs() { return std::stoll(db_.Meta("virtual_time_ms", "0")); }

void HostSystem::RememberVirtualMs(int64_t virtualMs) {
  virtualMs_ = virtualMs;
  virtualReadAtNs_ = MonotonicNs();
  virtualKnown_ = true;
}

int64_t HostSystem::VirtualNowMs() {
  if (virtualKnown_ && MonotonicNs() - virtualReadAtNs_ < kVirtualClockRefreshNs) return virtualMs_;
  try {
    RememberVirtualMs(StoredVirtualMs());
    return virtualMs_;
  } catch (...) {
    return 0;
  }
}

plat::SystemTime HostSystem::LocalTime() {
  if (virtualClock_) return SystemTimeOf(VirtualNowMs());
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  const int64_t localMs = (static_cast<int64_t>(now.tv_sec) + local.tm_gmtoff) * 1000 + now.tv_nsec / 1000000;
  return SystemTimeOf(localMs);
}

int64_t HostSystem::NowMs() {
  if (virtualClock_) return VirtualNowMs();
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

uint32_t HostSystem::CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t HostSystem::TickCount() {
  if (virtualClock_) return static_cast<uint32_t>(VirtualNowMs());
  return static_cast<uint32_t>(MonotonicNs() / 1'000'000);
}

void HostSystem::Sleep(uint32_t milliseconds) {
  if (!virtualClock_) {
    struct timespec span = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&span, &span) != 0) {
    }
    return;
  }
  try {
    // Read inside the transaction: another process may have advanced it.
    Transaction tx(db_);
    const int64_t advanced = StoredVirtualMs() + milliseconds;
    db_.SetMeta("virtual_time_ms", std::to_string(advanced));
    tx.Commit();
    RememberVirtualMs(advanced);
  } catch (const DbError&) {
    // The clock simply does not advance when the database is unusable
  } catch (const std::exception&) {
    // or holds no number.
  }
}

}  // namespace host
