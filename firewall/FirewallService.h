// Control of the firewall service. The firewall settings can only be changed
// while the firewall service runs: these functions check its state, start
// it (enabling it for the time being when it is disabled) and stop it
// again, waiting on the service control manager as long as the service
// shows progress, and logging every step through the run's error manager.
// Each returns false after recording an error; service handles are closed
// on every way out.
#pragma once

#include <cstdint>
#include <string_view>

class CErrorMgr;

// The current state of the service (1 stopped ... 7 paused) in `state`, 0
// when it could not be read. Windows 6.0 reports running without asking the
// service manager.
bool CheckFirewallService(CErrorMgr& errorMgr, std::string_view serviceName, uint32_t* state);

// Starts the service. `startType` receives the start type found before any
// change (2 automatic, 3 manual, 4 disabled); a disabled service is set to
// automatic to be started, and set back to disabled when the start fails.
bool StartFirewallService(CErrorMgr& errorMgr, std::string_view serviceName, uint32_t* startType);

// Stops the service and, when `startTypeToRestore` is 4 (what
// StartFirewallService handed back for a disabled service), disables it
// again, whether or not the stop succeeded.
bool StopFirewallService(CErrorMgr& errorMgr, std::string_view serviceName, uint32_t startTypeToRestore);
