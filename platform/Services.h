// The Services service: the service control manager of the local machine,
// shaped after the Win32 calls it stands for (open the manager and a
// service, query the process status and the configuration, change the start
// type, start, send a control, close). Every call answers a Win32 code: 5
// access denied, 6 invalid handle, 87 bad parameter, 1052 control not
// accepted, 1056 already running, 1058 disabled, 1060 no such service, 1061
// control not possible in this state, 1062 not active.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// An SC_HANDLE: a manager or a service opened on it.
using ScHandle = uint64_t;
constexpr ScHandle kNullScHandle = 0;

// Access rights of the manager.
constexpr uint32_t kScManagerConnect = 0x0001;
constexpr uint32_t kScManagerCreateService = 0x0002;
constexpr uint32_t kScManagerEnumerateService = 0x0004;
constexpr uint32_t kScManagerLock = 0x0008;
constexpr uint32_t kScManagerQueryLockStatus = 0x0010;
constexpr uint32_t kScManagerModifyBootConfig = 0x0020;
constexpr uint32_t kScManagerAllAccess = 0xF003F;

// Access rights of a service.
constexpr uint32_t kServiceQueryConfig = 0x0001;
constexpr uint32_t kServiceChangeConfig = 0x0002;
constexpr uint32_t kServiceQueryStatus = 0x0004;
constexpr uint32_t kServiceEnumerateDependents = 0x0008;
constexpr uint32_t kServiceStart = 0x0010;
constexpr uint32_t kServiceStop = 0x0020;
constexpr uint32_t kServicePauseContinue = 0x0040;
constexpr uint32_t kServiceInterrogate = 0x0080;
constexpr uint32_t kServiceUserDefinedControl = 0x0100;
constexpr uint32_t kServiceAllAccess = 0xF01FF;

// Current states.
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServiceContinuePending = 5;
constexpr uint32_t kServicePausePending = 6;
constexpr uint32_t kServicePaused = 7;

// Service types.
constexpr uint32_t kServiceKernelDriver = 0x01;
constexpr uint32_t kServiceFileSystemDriver = 0x02;
constexpr uint32_t kServiceWin32OwnProcess = 0x10;
constexpr uint32_t kServiceWin32ShareProcess = 0x20;
constexpr uint32_t kServiceInteractiveProcess = 0x100;

// Start types.
constexpr uint32_t kServiceBootStart = 0;
constexpr uint32_t kServiceSystemStart = 1;
constexpr uint32_t kServiceAutoStart = 2;
constexpr uint32_t kServiceDemandStart = 3;
constexpr uint32_t kServiceDisabled = 4;

// Error control.
constexpr uint32_t kServiceErrorIgnore = 0;
constexpr uint32_t kServiceErrorNormal = 1;
constexpr uint32_t kServiceErrorSevere = 2;
constexpr uint32_t kServiceErrorCritical = 3;

// SERVICE_NO_CHANGE: a configuration field left as it is.
constexpr uint32_t kServiceNoChange = 0xFFFFFFFF;

// Controls, and the flags of the controls a service accepts.
constexpr uint32_t kServiceControlStop = 1;
constexpr uint32_t kServiceControlPause = 2;
constexpr uint32_t kServiceControlContinue = 3;
constexpr uint32_t kServiceControlInterrogate = 4;
constexpr uint32_t kServiceAcceptStop = 0x1;
constexpr uint32_t kServiceAcceptPauseContinue = 0x2;

// SERVICE_STATUS_PROCESS (QueryServiceStatusEx, SC_STATUS_PROCESS_INFO);
// ControlService fills the first seven fields (SERVICE_STATUS).
struct ServiceStatusProcess {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
  uint32_t processId = 0;
  uint32_t serviceFlags = 0;
};

// QUERY_SERVICE_CONFIG. `dependencies` lists names, each ended by '\0'.
struct ServiceConfig {
  uint32_t serviceType = 0;
  uint32_t startType = 0;
  uint32_t errorControl = 0;
  std::string binaryPathName;
  std::string loadOrderGroup;
  uint32_t tagId = 0;
  std::string dependencies;
  std::string serviceStartName;
  std::string displayName;
};

class IServices {
 public:
  virtual ~IServices() = default;

  // OpenSCManagerW of the local machine's active database.
  virtual uint32_t OpenManager(uint32_t desiredAccess, ScHandle* manager) = 0;
  // OpenServiceW: 1060 for an unknown name (compared without regard to case).
  virtual uint32_t OpenServiceHandle(ScHandle manager, std::string_view serviceName, uint32_t desiredAccess,
                                     ScHandle* service) = 0;
  // QueryServiceStatusEx with SC_STATUS_PROCESS_INFO.
  virtual uint32_t QueryStatusProcess(ScHandle service, ServiceStatusProcess* status) = 0;
  // QueryServiceConfigW.
  virtual uint32_t QueryConfig(ScHandle service, ServiceConfig* config) = 0;
  // ChangeServiceConfigW with these three fields (each may be
  // kServiceNoChange) and every other argument null: nothing else changes.
  virtual uint32_t ChangeConfig(ScHandle service, uint32_t serviceType, uint32_t startType,
                                uint32_t errorControl) = 0;
  // StartServiceW without arguments: the service is start pending when it returns.
  virtual uint32_t Start(ScHandle service) = 0;
  // ControlService; `status` is filled when the answer is 0, 1052, 1061 or 1062.
  virtual uint32_t Control(ScHandle service, uint32_t control, ServiceStatusProcess* status) = 0;
  // CloseServiceHandle, of a manager or a service.
  virtual uint32_t Close(ScHandle handle) = 0;
};

}  // namespace plat
