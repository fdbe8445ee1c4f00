// Control of the firewall service on hosts: the log of checking, starting
// and stopping a service in each state and behaviour, the waits on the
// virtual clock, the disabled start type restored on every way out, and
// the failures of single service calls. Every test also checks that the
// service handles are all closed again.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "firewall/FirewallService.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "platform/Forwarding.h"
#include "support/TestHost.h"

namespace {

using namespace plat;

// Counts calls and the handles open, forwarding everything to the host.
class CountingServices : public ForwardingServices {
 public:
  using ForwardingServices::ForwardingServices;
  uint32_t OpenManager(uint32_t desiredAccess, ScHandle* manager) override {
    return Counted(ForwardingServices::OpenManager(desiredAccess, manager));
  }
  uint32_t OpenServiceHandle(ScHandle manager, std::string_view name, uint32_t access, ScHandle* service) override {
    return Counted(ForwardingServices::OpenServiceHandle(manager, name, access, service));
  }
  uint32_t QueryStatusProcess(ScHandle service, ServiceStatusProcess* status) override {
    ++calls;
    ++queries;
    return ForwardingServices::QueryStatusProcess(service, status);
  }
  uint32_t Close(ScHandle handle) override {
    ++calls;
    const uint32_t rc = ForwardingServices::Close(handle);
    if (rc == 0) --open;
    return rc;
  }

  int calls = 0;
  int queries = 0;
  int open = 0;

 private:
  uint32_t Counted(uint32_t rc) {
    ++calls;
    if (rc == 0) ++open;
    return rc;
  }
};

class FirewallServiceTest : public ::testing::Test {
 protected:
  explicit FirewallServiceTest(std::string_view profile = "win7-sp1-x64") : host_(profile) {
    ResetProcessState();
    Use(std::make_unique<CountingServices>(host_.Host().Services()));
  }
  ~FirewallServiceTest() override {
    EXPECT_EQ(services_->open, 0) << "service handles left open";
    ResetProcessState();
  }

  // Replaces the service calls the functions see (a test overrides one).
  void Use(std::unique_ptr<CountingServices> services) {
    services_ = std::move(services);
    installed_.reset();
    platform_ = std::make_unique<ForwardingPlatform>(host_.Platform());
    platform_->SetServices(services_.get());
    installed_ = std::make_unique<ScopedPlatform>(*platform_);
  }
  // The service's start type and state, its behaviour, before a test runs.
  void Prepare(uint32_t startType, uint32_t state, std::string_view behaviour = "normal") {
    host::HostServices& scm = host_.Host().Services();
    ASSERT_EQ(scm.SetStartType("MpsSvc", startType), 0u);
    ASSERT_EQ(scm.SetState("MpsSvc", state), 0u);
    ASSERT_EQ(scm.SetBehaviour("MpsSvc", behaviour), 0u);
  }
  uint32_t StartType() { return host_.Host().Services().Find("MpsSvc")->config.startType; }
  uint32_t State() { return host_.Host().Services().Find("MpsSvc")->status.currentState; }
  uint32_t Now() { return Current().System().TickCount(); }

  // "level|label|text" of every entry since the last call.
  std::string Log() {
    std::string lines;
    const auto& entries = errorMgr_.Entries();
    for (; logged_ < entries.size(); ++logged_) {
      const CErrorObject& e = *entries[logged_];
      lines += std::to_string(e.level) + "|" + e.function + "|" + e.message + "\n";
    }
    return lines;
  }

  TestHost host_;
  CErrorMgr errorMgr_;
  std::unique_ptr<CountingServices> services_;
  std::unique_ptr<ForwardingPlatform> platform_;
  std::unique_ptr<ScopedPlatform> installed_;
  size_t logged_ = 0;
};

TEST_F(FirewallServiceTest, AStoppedManualServiceIsStartedAndStoppedAndStaysManual) {
  Prepare(kServiceDemandStart, kServiceStopped);
  uint32_t state = 99;
  uint32_t began = Now();
  ASSERT_TRUE(CheckFirewallService(errorMgr_, "MpsSvc", &state));
  EXPECT_EQ(state, kServiceStopped);
  EXPECT_EQ(Now() - began, 1000u);  // a stopped service costs one wait
  EXPECT_EQ(Log(),
            "2| CheckFirewallService|  FirewallService not running (MpsSvc).\n"
            "1| CheckFirewallService|    Current State: 1\n");

  uint32_t startType = 0;
  began = Now();
  ASSERT_TRUE(StartFirewallService(errorMgr_, "MpsSvc", &startType));
  EXPECT_EQ(startType, kServiceDemandStart);
  EXPECT_EQ(Now() - began, 2400u);  // 200 + 200, then two waits of 1000
  EXPECT_EQ(Log(),
            "1| StartFirewallService|    Service Startup Type: 3 = Manual\n"
            "1| StartFirewallService|    Service start pending...\n"
            "2| StartFirewallService|    current state of the service: 2 = The service is starting\n"
            "1| StartFirewallService|    The service is making progress\n"
            "2| StartFirewallService|  FirewallService successful started  (MpsSvc).\n");
  EXPECT_EQ(State(), kServiceRunning);

  began = Now();
  ASSERT_TRUE(StopFirewallService(errorMgr_, "MpsSvc", startType));
  EXPECT_EQ(Now() - began, 2200u);
  EXPECT_EQ(Log(),
            "1| StopFirewallService|    Service stop pending...\n"
            "2| StopFirewallService|  FirewallService successful stopped  (MpsSvc).\n");
  EXPECT_EQ(State(), kServiceStopped);
  EXPECT_EQ(StartType(), kServiceDemandStart);
  EXPECT_FALSE(errorMgr_.IsError());
}

TEST_F(FirewallServiceTest, ADisabledServiceIsEnabledForTheTimeBeing) {
  Prepare(kServiceDisabled, kServiceStopped);
  uint32_t startType = 0;
  ASSERT_TRUE(StartFirewallService(errorMgr_, "MpsSvc", &startType));
  EXPECT_EQ(startType, kServiceDisabled);
  EXPECT_EQ(StartType(), kServiceAutoStart);
  const std::string started = Log();
  EXPECT_EQ(started.substr(0, started.find('\n')), "1| StartFirewallService|    Service Startup Type: 4 = Disabled");

  ASSERT_TRUE(StopFirewallService(errorMgr_, "MpsSvc", startType));
  EXPECT_EQ(Log(),
            "1| StopFirewallService|    Service stop pending...\n"
            "1| StopFirewallService|    Service Startup Type: 2 = Automatic\n"
            "1| StopFirewallService|    Set Startup Type: Disabled\n"
            "2| StopFirewallService|  FirewallService successful stopped  (MpsSvc).\n");
  EXPECT_EQ(StartType(), kServiceDisabled);
  EXPECT_EQ(State(), kServiceStopped);
}

TEST_F(FirewallServiceTest, AStartWithoutProgressEndsAfterTheWaitHint) {
  Prepare(kServiceDemandStart, kServiceStopped, "stuck-start");
  uint32_t startType = 0;
  const uint32_t began = Now();
  EXPECT_FALSE(StartFirewallService(errorMgr_, "MpsSvc", &startType));
  EXPECT_EQ(Now() - began, 3400u);  // three waits of 1000: the third passes the wait hint of 2000
  EXPECT_EQ(Log(),
            "1| StartFirewallService|    Service Startup Type: 3 = Manual\n"
            "1| StartFirewallService|    Service start pending...\n"
            "2| StartFirewallService|    current state of the service: 2 = The service is starting\n"
            "1| StartFirewallService|    No progress made within the wait hint\n"
            "5| StartFirewallService|FirewallService not started  (MpsSvc).\n"
            "1| StartFirewallService|    Current State: 2\n"
            "1| StartFirewallService|    Exit Code: 0\n"
            "1| StartFirewallService|    Service Specific Exit Code: 0\n"
            "1| StartFirewallService|    Check Point: 0\n"
            "1| StartFirewallService|    Wait Hint: 2000\n");
  EXPECT_TRUE(errorMgr_.IsError());
}

TEST_F(FirewallServiceTest, AStopWithoutEndIsAnErrorAfterSixWaitHints) {
  Prepare(kServiceAutoStart, kServiceRunning, "stuck-stop");
  const uint32_t began = Now();
  EXPECT_FALSE(StopFirewallService(errorMgr_, "MpsSvc", kServiceAutoStart));
  EXPECT_EQ(Now() - began, 13200u);  // 100 + 100, then 13 waits: 13000 passes 6 x 2000
  EXPECT_EQ(Log(),
            "1| StopFirewallService|    Service stop pending...\n"
            "5| StopFirewallService|FirewallService not stopped  (MpsSvc).\n"
            "1| StopFirewallService|    Current State: 3\n"
            "1| StopFirewallService|    Exit Code: 0\n"
            "1| StopFirewallService|    Service Specific Exit Code: 0\n"
            "1| StopFirewallService|    Check Point: 0\n"
            "1| StopFirewallService|    Wait Hint: 2000\n");
}

TEST_F(FirewallServiceTest, APausedServiceIsNotRunningAfterOneMoreWait) {
  Prepare(kServiceAutoStart, kServicePaused);
  uint32_t state = 0;
  const uint32_t began = Now();
  ASSERT_TRUE(CheckFirewallService(errorMgr_, "MpsSvc", &state));
  EXPECT_EQ(state, kServicePaused);
  EXPECT_EQ(Now() - began, 1000u);
  EXPECT_EQ(services_->queries, 2);
  EXPECT_EQ(Log(),
            "2| CheckFirewallService|  FirewallService not running (MpsSvc).\n"
            "1| CheckFirewallService|    Current State: 7\n");
}

class FirewallServiceVistaTest : public FirewallServiceTest {
 protected:
  FirewallServiceVistaTest() : FirewallServiceTest("vista-sp2-x86") {}
};

TEST_F(FirewallServiceVistaTest, Windows60AnswersRunningWithoutAskingTheManager) {
  ASSERT_EQ(host_.Host().Services().SetState("MpsSvc", kServiceStopped), 0u);
  uint32_t state = 0;
  ASSERT_TRUE(CheckFirewallService(errorMgr_, "MpsSvc", &state));
  EXPECT_EQ(state, kServiceRunning);
  EXPECT_EQ(services_->calls, 0);
  EXPECT_EQ(Log(), "");
}

// Each wait is a tenth of the wait hint within 1 s and 10 s; a start gives
// up once one wait hint (a stop six) passed without progress.
TEST_F(FirewallServiceTest, TheWaitsFollowTheWaitHint) {
  struct WaitHint : CountingServices {
    using CountingServices::CountingServices;
    uint32_t QueryStatusProcess(ScHandle service, ServiceStatusProcess* status) override {
      const uint32_t rc = CountingServices::QueryStatusProcess(service, status);
      status->waitHint = waitHint;
      return rc;
    }
    uint32_t waitHint = 0;
  };
  struct Case {
    bool stop;
    uint32_t waitHint;
    int waits;
    uint32_t elapsed;
  };
  const Case cases[] = {
      {false, 0, 1, 400 + 1000},         {false, 2000, 3, 400 + 3000},
      {false, 25000, 11, 400 + 27500},   {false, 300000, 31, 400 + 310000},
      {true, 0, 1, 200 + 1000},          {true, 2000, 13, 200 + 13000},
      {true, 300000, 181, 200 + 1810000},
  };
  for (const Case& c : cases) {
    Prepare(kServiceDemandStart, c.stop ? kServiceRunning : kServiceStopped, c.stop ? "stuck-stop" : "stuck-start");
    auto services = std::make_unique<WaitHint>(host_.Host().Services());
    services->waitHint = c.waitHint;
    WaitHint& counted = *services;
    Use(std::move(services));
    const uint32_t began = Now();
    uint32_t startType = 0;
    EXPECT_FALSE(c.stop ? StopFirewallService(errorMgr_, "MpsSvc", kServiceDemandStart)
                        : StartFirewallService(errorMgr_, "MpsSvc", &startType));
    EXPECT_EQ(Now() - began, c.elapsed) << c.waitHint << (c.stop ? " stop" : " start");
    EXPECT_EQ(counted.queries, 1 + c.waits) << c.waitHint << (c.stop ? " stop" : " start");
    EXPECT_EQ(counted.open, 0);
  }
}

// Tick counts wrap after 49.7 days; the time waited is still the difference.
TEST_F(FirewallServiceTest, TheWaitSurvivesTheTickCountWrapping) {
  Prepare(kServiceDemandStart, kServiceStopped, "stuck-start");
  const int64_t wrapAhead = (int64_t{338} << 32) - 1500;  // the tick count wraps during the waits
  host_.Host().Db().SetMeta("virtual_time_ms", std::to_string(wrapAhead));
  Current().System().Sleep(0);
  uint32_t startType = 0;
  EXPECT_FALSE(StartFirewallService(errorMgr_, "MpsSvc", &startType));
  EXPECT_EQ(services_->queries, 4);
}

// A disabled service that was enabled to be started is disabled again
// whenever the start or the stop goes wrong after the switch.
TEST_F(FirewallServiceTest, TheDisabledStartTypeIsRestoredOnEveryWayOut) {
  struct FailingStart : CountingServices {
    using CountingServices::CountingServices;
    uint32_t Start(ScHandle) override { return 1053; }  // ERROR_SERVICE_REQUEST_TIMEOUT
  };
  struct FailingStop : CountingServices {
    using CountingServices::CountingServices;
    uint32_t Control(ScHandle, uint32_t, ServiceStatusProcess*) override { return 5; }
  };
  struct FailingQuery : CountingServices {
    using CountingServices::CountingServices;
    uint32_t QueryStatusProcess(ScHandle, ServiceStatusProcess*) override { return 6; }
  };
  IServices& scm = host_.Host().Services();
  struct Case {
    const char* behaviour;
    std::unique_ptr<CountingServices> services;
    bool stop;
    const char* failure;
  };
  Case cases[] = {
      {"fail-start", std::make_unique<CountingServices>(scm), false, "|FirewallService not started  (MpsSvc).\n"},
      {"stuck-start", std::make_unique<CountingServices>(scm), false, "|FirewallService not started  (MpsSvc).\n"},
      {"normal", std::make_unique<FailingStart>(scm), false, "|StartService() failed: 0x0000041d\n"},
      {"normal", std::make_unique<FailingQuery>(scm), false, "|QueryServiceStatusEx() failed: 0x00000006\n"},
      {"normal", std::make_unique<FailingStop>(scm), true, "|ControlService() failed: 0x00000005\n"},
      {"normal", std::make_unique<FailingQuery>(scm), true, "|QueryServiceStatusEx() failed: 0x00000006\n"},
  };
  for (Case& c : cases) {
    Prepare(c.stop ? kServiceAutoStart : kServiceDisabled, c.stop ? kServiceRunning : kServiceStopped, c.behaviour);
    Log();
    Use(std::move(c.services));
    uint32_t startType = 0;
    EXPECT_FALSE(c.stop ? StopFirewallService(errorMgr_, "MpsSvc", kServiceDisabled)
                        : StartFirewallService(errorMgr_, "MpsSvc", &startType));
    const std::string log = Log();
    const std::string after = log.substr(log.find(c.failure) + 1);
    EXPECT_NE(log.find(c.failure), std::string::npos) << c.failure << "\n" << log;
    EXPECT_NE(after.find("|    Service Startup Type: 2 = Automatic\n"), std::string::npos) << c.failure << "\n" << log;
    EXPECT_NE(after.find("|    Set Startup Type: Disabled\n"), std::string::npos) << c.failure << "\n" << log;
    EXPECT_EQ(StartType(), kServiceDisabled) << c.failure;
    EXPECT_EQ(services_->open, 0) << c.failure;
  }
}

TEST_F(FirewallServiceTest, AnUnknownServiceIsAnErrorWithItsCode) {
  uint32_t state = 7;
  EXPECT_FALSE(CheckFirewallService(errorMgr_, "NoFirewall", &state));
  EXPECT_EQ(state, 0u);
  EXPECT_EQ(Log(), "5| CheckFirewallService|OpenService() failed: 0x00000424\n");
}

TEST(FirewallServiceUserTest, AUserWhoIsNoAdministratorCannotOpenTheManager) {
  TestHost h{TestHost::StandardUser{}};
  ResetProcessState();
  CErrorMgr errorMgr;
  uint32_t startType = 0;
  EXPECT_FALSE(StartFirewallService(errorMgr, "MpsSvc", &startType));
  ASSERT_EQ(errorMgr.Entries().size(), 1u);
  EXPECT_EQ(errorMgr.Entries()[0]->message, "OpenSCManager() failed: 0x00000005");
  ResetProcessState();
}

}  // namespace
