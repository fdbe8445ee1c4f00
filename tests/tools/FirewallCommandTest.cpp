// End-to-end tests of "tarvo-host firewall": a rule added through the rules
// family shows in the listing, in "reg query" of its key and in a .reg
// export; rules switched and deleted by name; the legacy state of a host
// before Windows 6.0; the failure knob of the current profile.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

class FirewallCommandTest : public ::testing::Test {
 protected:
  FirewallCommandTest() : folder_(MakeTempFolder("tarvo-firewall-cmd")) {}
  ~FirewallCommandTest() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(BinaryPath("tarvo-host"), args, {{"TARVO_HOST", folder_}, {"USER", "tester"}});
  }
  void Init(const std::string& profile) {
    const ProgramResult init = Run({"init", "--clock", "virtual", "--profile", profile});
    ASSERT_EQ(init.exitCode, 0) << init.err;
  }
  // Runs `change` against the host through the seam, as the program would.
  template <typename Change>
  void ThroughTheSeam(Change change) {
    std::string error;
    std::unique_ptr<host::Host> h = host::Host::Open(folder_, {}, &error);
    ASSERT_TRUE(h) << error;
    plat::ScopedPlatform installed(*h);
    change(h->Firewall());
  }

  std::string folder_;
};

TEST_F(FirewallCommandTest, ARuleAddedThroughTheRulesFamilyShowsEverywhere) {
  Init("win7-sp1-x64");
  ThroughTheSeam([](plat::IFirewall& firewall) {
    std::shared_ptr<plat::IFwRule> rule;
    ASSERT_EQ(firewall.CreateRule(&rule), winerr::kSOk);
    rule->PutName("Tarvo Web");
    rule->PutProtocol(plat::kFwIpProtocolTcp);
    rule->PutLocalPorts("8080");
    rule->PutRemoteAddresses("LocalSubnet");
    rule->PutEnabled(true);
    std::shared_ptr<plat::IFwPolicy2> policy;
    std::shared_ptr<plat::IFwRules> rules;
    ASSERT_EQ(firewall.CreatePolicy2(&policy), winerr::kSOk);
    ASSERT_EQ(policy->GetRules(&rules), winerr::kSOk);
    ASSERT_EQ(rules->Add(rule), winerr::kSOk);
  });
  const std::string ruleText =
      "v2.10|Action=Allow|Active=TRUE|Dir=In|Name=Tarvo Web|Protocol=6|LPort=8080|RA4=LocalSubnet|RA6=LocalSubnet|";
  const std::string id = "{7A5E0000-0000-4000-8000-8829DFA2AC2D}";

  const ProgramResult list = Run({"firewall"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(list.out.find("Rule Name:                            Tarvo Web\n"
                          "----------------------------------------------------------------------\n"
                          "Enabled:                              Yes\n"
                          "Direction:                            In\n"
                          "Profiles:                             Domain,Private,Public\n"
                          "Grouping:                             \n"
                          "LocalIP:                              Any\n"
                          "RemoteIP:                             LocalSubnet\n"
                          "Protocol:                             TCP\n"
                          "LocalPort:                            8080\n"
                          "RemotePort:                           Any\n"
                          "Action:                               Allow\n"),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("\n32 rules\n"), std::string::npos);
  EXPECT_EQ(list.out.find(id), std::string::npos);
  const ProgramResult json = Run({"--json", "firewall"});
  EXPECT_NE(json.out.find("{\"id\":\"" + id + "\",\"name\":\"Tarvo Web\""), std::string::npos);

  const std::string key = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules";
  const ProgramResult query = Run({"reg", "query", key, "/v", id});
  ASSERT_EQ(query.exitCode, 0) << query.err;
  EXPECT_NE(query.out.find("    " + id + "    REG_SZ    " + ruleText + "\n"), std::string::npos) << query.out;
  const std::string exported = folder_ + "/rules.reg";
  ASSERT_EQ(Run({"reg", "export", key, exported}).exitCode, 0);
  std::ifstream in(exported, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string exportText = text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(bytes.str().substr(2)));
  EXPECT_NE(exportText.find("\"" + id + "\"=\"" + ruleText + "\""), std::string::npos);

  // Switching and deleting by name, from the tool.
  ASSERT_EQ(Run({"firewall", "disable", "Tarvo Web"}).exitCode, 0);
  EXPECT_NE(Run({"reg", "query", key, "/v", id}).out.find("Active=FALSE"), std::string::npos);
  ASSERT_EQ(Run({"firewall", "delete", "tarvo web"}).exitCode, 0);
  EXPECT_EQ(Run({"firewall", "delete", "Tarvo Web"}).err, "tarvo-host: firewall delete: no rule named 'Tarvo Web'\n");
  EXPECT_NE(Run({"firewall"}).out.find("\n31 rules\n"), std::string::npos);
}

TEST_F(FirewallCommandTest, BeforeSixTheLegacyStateAndTheProfileKnob) {
  Init("winxp-sp3-x86");
  ASSERT_EQ(Run({"firewall", "set", "profile-failures", "1"}).exitCode, 0);
  EXPECT_EQ(Run({"firewall", "set", "profile-failures", "-2"}).exitCode, 1);
  ThroughTheSeam([](plat::IFirewall& firewall) {
    std::shared_ptr<plat::IFwMgr> manager;
    std::shared_ptr<plat::IFwPolicy> policy;
    std::shared_ptr<plat::IFwProfile> profile;
    ASSERT_EQ(firewall.CreateManager(&manager), winerr::kSOk);
    ASSERT_EQ(manager->GetLocalPolicy(&policy), winerr::kSOk);
    EXPECT_EQ(policy->GetCurrentProfile(&profile), winerr::kEFail);
    ASSERT_EQ(policy->GetCurrentProfile(&profile), winerr::kSOk);
    std::shared_ptr<plat::IFwOpenPorts> ports;
    std::shared_ptr<plat::IFwOpenPort> port;
    ASSERT_EQ(profile->GetGloballyOpenPorts(&ports), winerr::kSOk);
    ASSERT_EQ(firewall.CreateOpenPort(&port), winerr::kSOk);
    port->PutName("Historian");
    port->PutPort(5450);
    port->PutRemoteAddresses("10.1.0.0/16");
    ASSERT_EQ(ports->Add(port), winerr::kSOk);
  });
  const ProgramResult list = Run({"firewall"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out,
            "Inbound echo request: Disabled\n"
            "LIST         STATE     SCOPE                    NAME                           KEY\n"
            "port         Enabled   10.1.0.0/16              Historian                      5450:TCP\n");
}

}  // namespace
