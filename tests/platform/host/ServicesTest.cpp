// The Services service against the simulated host: each profile's services
// as a fresh installation has them, the configuration kept in the registry,
// start and stop through the pending states on the virtual clock with each
// behaviour, the Win32 codes of refused calls, the rights a user who is no
// administrator lacks, and service changes in the host diff.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/host/HostSnapshot.h"
#include "support/TestHost.h"

namespace {

using namespace plat;

IServices& Services() { return Current().Services(); }
void Sleep(uint32_t ms) { Current().System().Sleep(ms); }

// A service opened with all access on a manager opened with all access.
class Opened {
 public:
  explicit Opened(std::string_view name) {
    EXPECT_EQ(Services().OpenManager(kScManagerAllAccess, &manager_), 0u);
    EXPECT_EQ(Services().OpenServiceHandle(manager_, name, kServiceAllAccess, &service_), 0u);
  }
  ~Opened() {
    Services().Close(service_);
    Services().Close(manager_);
  }
  ScHandle operator*() const { return service_; }
  ScHandle Manager() const { return manager_; }

 private:
  ScHandle manager_ = kNullScHandle;
  ScHandle service_ = kNullScHandle;
};

// "state/checkpoint/waithint[/exit code]" of a status (the exit code when
// there is one), or of a failed query's code.
std::string StatusText(ScHandle service) {
  ServiceStatusProcess status;
  if (uint32_t rc = Services().QueryStatusProcess(service, &status)) return "error " + std::to_string(rc);
  const std::string exitCode = status.win32ExitCode ? "/" + std::to_string(status.win32ExitCode) : "";
  return std::to_string(status.currentState) + "/" + std::to_string(status.checkPoint) + "/" +
         std::to_string(status.waitHint) + exitCode;
}

uint32_t RegistryStart(std::string_view service) {
  HKey key = kNullKey;
  EXPECT_EQ(Current().Registry().OpenKey(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\" + std::string(service),
                                         kKeyRead, &key),
            0u);
  RegValue value;
  EXPECT_EQ(Current().Registry().QueryValue(key, "Start", &value), 0u);
  Current().Registry().CloseKey(key);
  return RegDwordValue(value.data);
}

TEST(ServicesTest, EachProfileHasItsFirewallAndUpdateServices) {
  struct Case {
    const char* profile;
    const char* expected;  // name start-type state, one line each
  };
  const Case cases[] = {
      {"winxp-sp3-x86", "SharedAccess auto running\nwuauserv auto running\n"},
      {"win2003-sp2-x64", "SharedAccess manual stopped\nwuauserv auto running\n"},
      {"vista-sp2-x86", "MpsSvc auto running\nSharedAccess disabled stopped\nwuauserv auto running\n"},
      {"win7-sp1-x64", "MpsSvc auto running\nSharedAccess disabled stopped\nwuauserv auto running\n"},
      {"win81-x64", "MpsSvc auto running\nSharedAccess manual stopped\nwuauserv manual stopped\n"},
  };
  for (const Case& c : cases) {
    TestHost h(c.profile);
    std::string listed;
    for (const host::ServiceRecord& s : h.Host().Services().List()) {
      listed += s.name + " " + host::StartTypeName(s.config.startType) + " " +
                host::ServiceStateName(s.status.currentState) + "\n";
      EXPECT_EQ(RegistryStart(s.name), s.config.startType) << c.profile << " " << s.name;
    }
    EXPECT_EQ(listed, c.expected) << c.profile;
  }
}

TEST(ServicesTest, TheConfigurationIsWhatTheRegistryHolds) {
  TestHost h;
  Opened mps("mpssvc");  // names are found without regard to case
  ServiceConfig config;
  ASSERT_EQ(Services().QueryConfig(*mps, &config), 0u);
  EXPECT_EQ(config.serviceType, kServiceWin32ShareProcess);
  EXPECT_EQ(config.startType, kServiceAutoStart);
  EXPECT_EQ(config.errorControl, kServiceErrorNormal);
  EXPECT_EQ(config.displayName, "Windows Firewall");
  EXPECT_EQ(config.binaryPathName, "%SystemRoot%\\system32\\svchost.exe -k LocalServiceNoNetwork");
  EXPECT_EQ(config.serviceStartName, "NT Authority\\LocalService");
  EXPECT_EQ(config.dependencies, std::string("mpsdrv\0bfe\0", 11));

  // Only the start type changes; type and error control may stay as they are.
  ASSERT_EQ(Services().ChangeConfig(*mps, kServiceNoChange, kServiceDisabled, kServiceNoChange), 0u);
  EXPECT_EQ(RegistryStart("MpsSvc"), kServiceDisabled);
  ServiceConfig changed;
  ASSERT_EQ(Services().QueryConfig(*mps, &changed), 0u);
  EXPECT_EQ(changed.startType, kServiceDisabled);
  changed.startType = config.startType;
  EXPECT_EQ(changed.serviceType, config.serviceType);
  EXPECT_EQ(changed.displayName, config.displayName);
  EXPECT_EQ(changed.binaryPathName, config.binaryPathName);

  // Boot and system start are for drivers; unknown values are refused.
  EXPECT_EQ(Services().ChangeConfig(*mps, kServiceNoChange, kServiceSystemStart, kServiceNoChange), 87u);
  EXPECT_EQ(Services().ChangeConfig(*mps, kServiceNoChange, 5, kServiceNoChange), 87u);
  EXPECT_EQ(Services().ChangeConfig(*mps, 0x40, kServiceNoChange, kServiceNoChange), 87u);
  EXPECT_EQ(Services().ChangeConfig(*mps, kServiceNoChange, kServiceNoChange, 4), 87u);
  EXPECT_EQ(RegistryStart("MpsSvc"), kServiceDisabled);
}

// The states a caller sees while a service starts and stops, on the virtual
// clock: "state/checkpoint/waithint" at each moment.
TEST(ServicesTest, StartAndStopPassThroughThePendingStatesPerBehaviour) {
  struct Case {
    const char* behaviour;
    const char* start;  // at 0, 600, 1200, 1600, 30000 ms after the start
    const char* stop;   // the same after the stop of a running service
  };
  const Case cases[] = {
      {"normal", "2/0/2000 2/1/2000 2/2/2000 4/0/0 4/0/0", "3/0/2000 3/1/2000 3/2/2000 1/0/0 1/0/0"},
      {"stuck-start", "2/0/2000 2/0/2000 2/0/2000 2/0/2000 2/0/2000", "3/0/2000 3/1/2000 3/2/2000 1/0/0 1/0/0"},
      {"fail-start", "2/0/2000 2/1/2000 1/0/0/1067 1/0/0/1067 1/0/0/1067", "3/0/2000 3/1/2000 3/2/2000 1/0/0 1/0/0"},
      {"stuck-stop", "2/0/2000 2/1/2000 2/2/2000 4/0/0 4/0/0", "3/0/2000 3/0/2000 3/0/2000 3/0/2000 3/0/2000"},
  };
  auto timeline = [](ScHandle service) {
    std::string seen;
    int64_t at = 0;
    for (int64_t moment : {0, 600, 1200, 1600, 30000}) {
      Sleep(static_cast<uint32_t>(moment - at));
      at = moment;
      seen += (seen.empty() ? "" : " ") + StatusText(service);
    }
    return seen;
  };
  for (const Case& c : cases) {
    TestHost h;
    host::HostServices& scm = h.Host().Services();
    ASSERT_EQ(scm.SetState("SharedAccess", kServiceStopped), 0u);
    ASSERT_EQ(scm.SetStartType("SharedAccess", kServiceDemandStart), 0u);
    ASSERT_EQ(scm.SetBehaviour("SharedAccess", c.behaviour), 0u);
    Opened service("SharedAccess");
    ASSERT_EQ(Services().Start(*service), 0u) << c.behaviour;
    EXPECT_EQ(timeline(*service), c.start) << c.behaviour;

    ASSERT_EQ(scm.SetState("SharedAccess", kServiceRunning), 0u);
    ServiceStatusProcess answered;
    ASSERT_EQ(Services().Control(*service, kServiceControlStop, &answered), 0u) << c.behaviour;
    EXPECT_EQ(answered.currentState, kServiceStopPending);
    EXPECT_EQ(timeline(*service), c.stop) << c.behaviour;
  }
}

TEST(ServicesTest, RefusedCallsAnswerTheWin32Codes) {
  TestHost h;
  host::HostServices& scm = h.Host().Services();
  Opened mps("MpsSvc");
  ServiceStatusProcess status;
  ScHandle none = kNullScHandle;
  EXPECT_EQ(Services().OpenServiceHandle(mps.Manager(), "NoSuchService", kServiceAllAccess, &none), 1060u);
  EXPECT_EQ(Services().OpenServiceHandle(*mps, "MpsSvc", kServiceAllAccess, &none), 6u);  // not a manager
  EXPECT_EQ(Services().QueryStatusProcess(mps.Manager(), &status), 6u);  // not a service
  EXPECT_EQ(Services().Start(*mps), 1056u);                               // running
  EXPECT_EQ(Services().Control(*mps, 0, &status), 87u);
  EXPECT_EQ(Services().Control(*mps, 200, &status), 1052u);  // no user-defined controls
  EXPECT_EQ(Services().Control(*mps, kServiceControlContinue, &status), 0u);  // running already: no change
  EXPECT_EQ(status.currentState, kServiceRunning);

  ASSERT_EQ(scm.SetState("MpsSvc", kServiceStopped), 0u);
  status = {};
  EXPECT_EQ(Services().Control(*mps, kServiceControlStop, &status), 1062u);
  EXPECT_EQ(status.currentState, kServiceStopped);  // filled on 1062 too
  ASSERT_EQ(scm.SetStartType("MpsSvc", kServiceDisabled), 0u);
  EXPECT_EQ(Services().Start(*mps), 1058u);
  ASSERT_EQ(scm.SetStartType("MpsSvc", kServiceDemandStart), 0u);
  ASSERT_EQ(Services().Start(*mps), 0u);
  EXPECT_EQ(Services().Start(*mps), 1056u);  // start pending counts as running
  EXPECT_EQ(Services().Control(*mps, kServiceControlStop, &status), 1061u);
  EXPECT_EQ(status.currentState, kServiceStartPending);

  EXPECT_EQ(Services().Close(*mps), 0u);
  EXPECT_EQ(Services().Close(*mps), 6u);
  EXPECT_EQ(Services().QueryStatusProcess(*mps, &status), 6u);
}

TEST(ServicesTest, AUserWhoIsNoAdministratorMayOnlyRead) {
  TestHost h{TestHost::StandardUser{}};
  ScHandle manager = kNullScHandle, service = kNullScHandle;
  EXPECT_EQ(Services().OpenManager(kScManagerAllAccess, &manager), 5u);
  EXPECT_EQ(manager, kNullScHandle);
  ASSERT_EQ(Services().OpenManager(kScManagerConnect, &manager), 0u);
  EXPECT_EQ(Services().OpenServiceHandle(manager, "MpsSvc", kServiceAllAccess, &service), 5u);
  EXPECT_EQ(Services().OpenServiceHandle(manager, "MpsSvc", kServiceStart, &service), 5u);
  ASSERT_EQ(Services().OpenServiceHandle(manager, "MpsSvc", kServiceQueryStatus | kServiceQueryConfig, &service), 0u);
  ServiceStatusProcess status;
  EXPECT_EQ(Services().QueryStatusProcess(service, &status), 0u);
  EXPECT_EQ(Services().Control(service, kServiceControlStop, &status), 5u);
  EXPECT_EQ(Services().ChangeConfig(service, kServiceNoChange, kServiceDisabled, kServiceNoChange), 5u);
  EXPECT_EQ(h.Host().Services().Find("MpsSvc")->status.currentState, kServiceRunning);
}

TEST(ServicesTest, TheStateLastsBeyondTheProcessAndShowsInTheDiff) {
  TestHost h;
  ASSERT_EQ(host::SaveSnapshot(h.Host(), "before"), host::SnapshotResult::kOk);
  {
    Opened mps("MpsSvc");
    ServiceStatusProcess status;
    ASSERT_EQ(Services().Control(*mps, kServiceControlStop, &status), 0u);
    ASSERT_EQ(Services().ChangeConfig(*mps, kServiceNoChange, kServiceDisabled, kServiceNoChange), 0u);
  }
  ASSERT_EQ(h.Host().Services().SetBehaviour("wuauserv", "stuck-stop"), 0u);
  Sleep(1500);

  std::string error;
  auto reopened = host::Host::Open(h.Folder(), host::OpenOptions{}, &error);
  ASSERT_TRUE(reopened) << error;
  std::vector<host::StateRow> before;
  ASSERT_EQ(host::LoadSnapshot(*reopened, "before", &before), host::SnapshotResult::kOk);
  std::string lines;
  for (const host::StateChange& change : host::DiffState(before, host::CollectState(*reopened))) {
    lines += host::ChangeLine(change) + "\n";
  }
  EXPECT_EQ(lines,
            "~ reg  HKLM\\SYSTEM\\CurrentControlSet\\Services\\MpsSvc  Start: REG_DWORD 2 -> 4\n"
            "~ service  MpsSvc  running -> stopped\n"
            "~ service  wuauserv  running -> running, behaviour stuck-stop\n");
}

}  // namespace
