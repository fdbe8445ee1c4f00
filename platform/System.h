// The System service: what the program asks of the machine itself (version,
// bitness, known folders, clock, identity of the computer and the process).
// Shaped after the Win32 calls it stands for; results use their codes.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// OSVERSIONINFOEXW as GetVersionExW fills it.
struct OsVersionInfoEx {
  static constexpr uint32_t kSize = 284;       // sizeof(OSVERSIONINFOEXW)
  static constexpr uint32_t kBasicSize = 276;  // sizeof(OSVERSIONINFOW): no service-pack numbers
  uint32_t osVersionInfoSize = kSize;
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  uint32_t platformId = 0;
  std::string csdVersion;  // service-pack text, e.g. "Service Pack 1"
  uint16_t servicePackMajor = 0;
  uint16_t servicePackMinor = 0;
  uint16_t suiteMask = 0;
  uint8_t productType = 0;
};

constexpr uint32_t kVerPlatformWin32Nt = 2;
constexpr uint8_t kVerNtWorkstation = 1;
constexpr uint8_t kVerNtDomainController = 2;
constexpr uint8_t kVerNtServer = 3;

// SYSTEMTIME.
struct SystemTime {
  uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// CSIDL values understood by GetFolderPath.
namespace csidl {
constexpr int kCommonAppData = 0x0023;
constexpr int kWindows = 0x0024;
constexpr int kSystem = 0x0025;
constexpr int kProgramFiles = 0x0026;
constexpr int kSystemX86 = 0x0029;
constexpr int kProgramFilesX86 = 0x002a;
constexpr int kProgramFilesCommon = 0x002b;
constexpr int kProgramFilesCommonX86 = 0x002c;
constexpr int kCommonDocuments = 0x002e;
}  // namespace csidl

constexpr uint32_t kSOk = 0;
constexpr uint32_t kEInvalidArg = 0x80070057;

class ISystem {
 public:
  virtual ~ISystem() = default;

  // GetVersionExW: fails (false, last error 122) unless osVersionInfoSize is
  // 284 (extended record) or 276 (basic record, without the fields after csdVersion).
  virtual bool GetVersionInfo(OsVersionInfoEx* info) = 0;
  // IsWow64Process for the current process: a 32-bit process on 64-bit Windows.
  virtual bool IsWow64Process() = 0;
  // SHGetFolderPathW: S_OK and the path without trailing backslash, or E_INVALIDARG.
  virtual uint32_t GetFolderPath(int csidl, std::string* path) = 0;
  // GetTempPathW: the user's temporary folder with a trailing backslash.
  virtual std::string TempPath() = 0;
  // GetModuleFileNameW of the executable: a full Windows path.
  virtual std::string ModuleFileName() = 0;
  virtual std::string ComputerName() = 0;
  virtual bool IsUserAnAdmin() = 0;
  // The ANSI code page of the system (1252 on the western profiles).
  virtual unsigned AnsiCodePage() = 0;
  virtual SystemTime LocalTime() = 0;
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
  // GetCurrentProcessId.
  virtual uint32_t CurrentProcessId() = 0;
  virtual uint32_t LastError() = 0;
  virtual void SetLastError(uint32_t code) = 0;
};

}  // namespace plat
