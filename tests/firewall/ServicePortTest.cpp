// Firewall applications and ports on both firewall families, against a
// simulated host: what an entry leaves in the firewall and in the log when it
// is new, replaces an exception (keeping the addresses it allowed), is
// removed, or meets a refusing firewall; a missing executable; a second run
// of the same entry; writing entries into a document.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "features/FeatureFixture.h"
#include "firewall/Port.h"
#include "firewall/Service.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "platform/Forwarding.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;
using feature_test::SecurityFile;

constexpr const char* kViewer = "C:\\Plant\\viewer.exe";
constexpr const char* kProduct = "Plant Viewer";

template <typename Entry>
std::unique_ptr<Entry> Read(const std::string& element) {
  const xml::Document file = SecurityFile(element);
  auto entry = std::make_unique<Entry>();
  entry->Read(FirstNode(file, "/t:vscSetup/t:host/t:body/*"));
  entry->SetGrouping(kProduct);
  return entry;
}

// The entries of level 1 and above, "level message" per line.
std::string Log(const CErrorMgr& errorMgr) {
  std::string lines;
  for (const auto& e : errorMgr.Entries()) {
    if (e->level >= kLevelDetail) lines += std::to_string(e->level) + " " + e->message + "\n";
  }
  return lines;
}

std::shared_ptr<plat::IFwPolicy2> Policy() {
  std::shared_ptr<plat::IFwPolicy2> policy;
  EXPECT_EQ(plat::Current().Firewall().CreatePolicy2(&policy), winerr::kSOk);
  return policy;
}

std::shared_ptr<plat::IFwRules> Rules() {
  std::shared_ptr<plat::IFwRules> rules;
  Policy()->GetRules(&rules);
  return rules;
}

// The rules of `name`: "app|ports|protocol|remote addresses|profiles|enabled|group" per line.
std::string RulesNamed(const std::string& name) {
  std::vector<std::shared_ptr<plat::IFwRule>> all;
  Rules()->Enumerate(&all);
  std::string listed;
  for (const auto& rule : all) {
    std::string ruleName, app, ports, addresses, group;
    int32_t protocol = 0, profiles = 0;
    bool enabled = false;
    rule->GetName(&ruleName);
    if (ruleName != name) continue;
    rule->GetApplicationName(&app);
    rule->GetLocalPorts(&ports);
    rule->GetProtocol(&protocol);
    rule->GetRemoteAddresses(&addresses);
    rule->GetProfiles(&profiles);
    rule->GetEnabled(&enabled);
    rule->GetGrouping(&group);
    listed += app + "|" + ports + "|" + std::to_string(protocol) + "|" + addresses + "|" + std::to_string(profiles) +
              "|" + (enabled ? "on" : "off") + "|" + group + "\n";
  }
  return listed;
}

void AddRule(const std::string& name, const std::string& remoteAddresses) {
  std::shared_ptr<plat::IFwRule> rule;
  ASSERT_EQ(plat::Current().Firewall().CreateRule(&rule), winerr::kSOk);
  rule->PutName(name);
  rule->PutApplicationName(kViewer);
  rule->PutRemoteAddresses(remoteAddresses);
  ASSERT_EQ(Rules()->Add(rule), winerr::kSOk);
}

std::shared_ptr<plat::IFwProfile> LegacyProfile() {
  std::shared_ptr<plat::IFwMgr> manager;
  std::shared_ptr<plat::IFwPolicy> policy;
  std::shared_ptr<plat::IFwProfile> profile;
  EXPECT_EQ(plat::Current().Firewall().CreateManager(&manager), winerr::kSOk);
  manager->GetLocalPolicy(&policy);
  policy->GetCurrentProfile(&profile);
  return profile;
}

std::shared_ptr<plat::IFwAuthorizedApplications> LegacyApplications() {
  std::shared_ptr<plat::IFwAuthorizedApplications> applications;
  LegacyProfile()->GetAuthorizedApplications(&applications);
  return applications;
}

std::shared_ptr<plat::IFwOpenPorts> LegacyPorts() {
  std::shared_ptr<plat::IFwOpenPorts> ports;
  LegacyProfile()->GetGloballyOpenPorts(&ports);
  return ports;
}

// The legacy exception of the viewer: "name|enabled|remote addresses", or "none".
std::string LegacyViewer() {
  std::shared_ptr<plat::IFwAuthorizedApplication> application;
  if (LegacyApplications()->Item(kViewer, &application) != winerr::kSOk) return "none";
  std::string name, addresses;
  bool enabled = false;
  application->GetName(&name);
  application->GetEnabled(&enabled);
  application->GetRemoteAddresses(&addresses);
  return name + "|" + (enabled ? "on" : "off") + "|" + addresses;
}

// A rules collection whose removals the firewall refuses, or (with
// `pretend`) report success without removing anything.
class RefusingRules : public plat::IFwRules {
 public:
  RefusingRules(std::shared_ptr<plat::IFwRules> base, bool pretend) : base_(std::move(base)), pretend_(pretend) {}
  uint32_t Count(int32_t* count) override { return base_->Count(count); }
  uint32_t Enumerate(std::vector<std::shared_ptr<plat::IFwRule>>* rules) override { return base_->Enumerate(rules); }
  uint32_t Item(std::string_view name, std::shared_ptr<plat::IFwRule>* rule) override {
    return base_->Item(name, rule);
  }
  uint32_t Add(const std::shared_ptr<plat::IFwRule>& rule) override { return base_->Add(rule); }
  uint32_t Remove(std::string_view) override { return pretend_ ? winerr::kSOk : winerr::kEAccessDenied; }

 private:
  std::shared_ptr<plat::IFwRules> base_;
  bool pretend_;
};

class ServicePortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    host_.WriteHostFile(kViewer, "MZ");
  }
  void TearDown() override { ResetProcessState(); }

  bool Apply2(CService& entry) { return entry.ApplyService2(errorMgr_, Policy().get(), Rules().get()); }

  TestHost host_;
  CErrorMgr errorMgr_;
};

TEST_F(ServicePortTest, ApplicationRulesReplaceTheirNamesakesAndKeepTheAddressesTheyAllowed) {
  struct Case {
    const char* before;  // remote addresses of existing rules "Viewer", ";" between rules
    const char* entry;
    const char* log;
    const char* rules;
  };
  const Case cases[] = {
      {"", "enable='yes' firewallProfile='private'><t:scopeCustom value='192.168.1.0/24'/>",
       "1     Name: Viewer\n1     put_RemoteAddresses:  192.168.1.0/24\n2   => Service is set and enabled:  "
       "C:\\Plant\\viewer.exe\n",
       "C:\\Plant\\viewer.exe||256|192.168.1.0/24|2|on|Plant Viewer\n"},
      {"10.0.0.1", "><t:scopeCustom value='192.168.1.0/24'/>",
       "1     Name: Viewer\n1     put_RemoteAddresses:  192.168.1.0/24,10.0.0.1\n"
       "2   => Service is set once again and enabled:  C:\\Plant\\viewer.exe\n",
       "C:\\Plant\\viewer.exe||256|192.168.1.0/24,10.0.0.1|2147483647|on|Plant Viewer\n"},
      {"10.0.0.1", "><t:scopeSubnet/>",
       "1     Name: Viewer\n2   => Service is set once again and enabled:  C:\\Plant\\viewer.exe\n",
       "C:\\Plant\\viewer.exe||256|LocalSubnet,10.0.0.1|2147483647|on|Plant Viewer\n"},
      {"*", "><t:scopeCustom value='192.168.1.0/24'/>",
       "1     Name: Viewer\n2   => Service is set once again and enabled:  C:\\Plant\\viewer.exe\n",
       "C:\\Plant\\viewer.exe||256|*|2147483647|on|Plant Viewer\n"},
      {"10.0.0.1;10.0.0.2", "enable='nomatter' firewallProfile='domain'><t:scopeAny/>",
       "1     Name: Viewer\n2   => Service is set once again but disabled:  C:\\Plant\\viewer.exe\n",
       "C:\\Plant\\viewer.exe||256|*|1|off|Plant Viewer\n"},
      // Not a profile the firewall knows: refused, and the rule there stays.
      {"10.0.0.1", "firewallProfile='Public'><t:scopeAny/>",
       "1     Name: Viewer\n5 put_Profiles failed: 0x80070057  Viewer\n",
       "C:\\Plant\\viewer.exe||256|10.0.0.1|2147483647|off|\n"},
      {"10.0.0.1;10.0.0.2", "exists='false'><t:scopeAny/>", "", ""},
  };
  for (const Case& c : cases) {
    TestHost host;
    host.WriteHostFile(kViewer, "MZ");
    CErrorMgr errorMgr;
    for (const std::string& addresses : text::SplitNonEmpty(c.before, ";")) AddRule("Viewer", addresses);
    // Doubled backslashes between the folders are read as single ones.
    Read<CService>(std::string("<t:service name='Viewer' exepath='C:\\\\Plant\\\\viewer.exe' ") + c.entry +
                   "</t:service>")
        ->ApplyService2(errorMgr, Policy().get(), Rules().get());
    EXPECT_EQ(Log(errorMgr), c.log) << c.entry;
    EXPECT_EQ(RulesNamed("Viewer"), c.rules) << c.entry;
  }
}

TEST_F(ServicePortTest, ASecondRunLeavesTheSameRules) {
  AddRule("Viewer", "10.0.0.1");
  auto entry = Read<CService>("<t:service name='Viewer' exepath='C:\\Plant\\viewer.exe'><t:scopeSubnet/></t:service>");
  ASSERT_TRUE(Apply2(*entry));
  const std::string first = RulesNamed("Viewer");
  ASSERT_TRUE(Apply2(*entry));
  EXPECT_EQ(RulesNamed("Viewer"), first);
  EXPECT_EQ(first, "C:\\Plant\\viewer.exe||256|LocalSubnet,10.0.0.1|2147483647|on|Plant Viewer\n");
}

TEST_F(ServicePortTest, ARefusedRemovalEndsWithAnErrorAndLeavesTheRule) {
  AddRule("Viewer", "10.0.0.1");
  for (bool pretend : {false, true}) {
    CErrorMgr errorMgr;
    RefusingRules rules(Rules(), pretend);
    for (const char* exists : {"true", "false"}) {
      auto entry = Read<CService>(std::string("<t:service name='Viewer' exepath='C:\\Plant\\viewer.exe' exists='") +
                                  exists + "'><t:scopeAny/></t:service>");
      EXPECT_FALSE(entry->ApplyService2(errorMgr, Policy().get(), &rules));
    }
    const char* code = pretend ? "0x80004005" : "0x80070005";
    EXPECT_EQ(Log(errorMgr),
              text::Format("1     Name: Viewer\n5 While re-setting the application %s to the firewall an "
                           "error occured. Error: %s. No trying only to change settings instead of "
                           "removing and re-setting it.\n5 While removing the application %s from the "
                           "firewall an error occured. Error: %s\n",
                           kViewer, code, kViewer, code));
    EXPECT_EQ(RulesNamed("Viewer"), "C:\\Plant\\viewer.exe||256|10.0.0.1|2147483647|off|\n");
  }
}

// A firewall that cannot make new objects.
class NoNewObjects : public plat::ForwardingFirewall {
 public:
  using ForwardingFirewall::ForwardingFirewall;
  uint32_t CreateRule(std::shared_ptr<plat::IFwRule>*) override { return winerr::kEFail; }
  uint32_t CreateAuthorizedApplication(std::shared_ptr<plat::IFwAuthorizedApplication>*) override {
    return winerr::kEFail;
  }
};

TEST_F(ServicePortTest, AFailedCreationIsAnErrorAndNoSuccess) {
  AddRule("Viewer", "10.0.0.1");
  plat::ForwardingPlatform platform(host_.Platform());
  NoNewObjects firewall(host_.Platform().Firewall());
  platform.SetFirewall(&firewall);
  plat::ScopedPlatform installed(platform);
  auto entry = Read<CService>("<t:service name='Viewer' exepath='C:\\Plant\\viewer.exe'><t:scopeAny/></t:service>");
  EXPECT_FALSE(Apply2(*entry));
  EXPECT_EQ(Log(errorMgr_), "1     Name: Viewer\n5 CoCreateInstance failed: 0x80004005\n");
  EXPECT_EQ(RulesNamed("Viewer"), "C:\\Plant\\viewer.exe||256|10.0.0.1|2147483647|off|\n");
}

TEST_F(ServicePortTest, AMissingExecutableIsAnErrorUnlessTheToolsOwnInterfaceCalled) {
  auto entry = Read<CService>("<t:service name='Gone' exepath='C:\\Plant\\gone.exe'><t:scopeAny/></t:service>");
  const char* missing =
      " Application not found at: C:\\Plant\\gone.exe\n2     no firewall settings were made for: Gone\n";
  EXPECT_FALSE(Apply2(*entry));
  EXPECT_EQ(Log(errorMgr_), std::string("5    ") + missing);
  CErrorMgr asGui;
  host_.WriteHostFile("C:\\Windows\\Security\\Kelmar\\TarvoTool_X86.ini", "[GENERAL]\r\nSessionID=88  Tarvo GUI\r\n");
  EXPECT_TRUE(entry->ApplyService2(asGui, Policy().get(), Rules().get()));
  EXPECT_EQ(Log(asGui), std::string("4    ") + missing);
  EXPECT_EQ(RulesNamed("Gone"), "");
  // A network path keeps the two backslashes it starts with.
  EXPECT_EQ(Read<CService>("<t:service exepath='\\\\\\\\server\\share\\\\x.exe'/>")->ExePath(),
            "\\\\server\\share\\x.exe");
}

TEST(ServicePortLegacyTest, LegacyApplicationsAreAlwaysEnabledAndKeepTheirAddresses) {
  struct Case {
    const char* before;  // remote addresses of an existing exception, "" for none
    const char* entry;
    const char* after;
  };
  const Case cases[] = {
      {"", "enable='nomatter'><t:scopeCustom value='192.168.1.0/24'/>", "Viewer|on|192.168.1.0/24"},
      {"10.0.0.1", "><t:scopeSubnet/>", "Viewer|on|LocalSubnet,10.0.0.1"},
      {"*", "><t:scopeCustom value='192.168.1.0/24'/>", "Viewer|on|*"},
      {"", "><t:scopeSubnet/>", "Viewer|on|LocalSubnet"},
      {"10.0.0.1", "exists='false'><t:scopeAny/>", "none"},
  };
  for (const Case& c : cases) {
    TestHost host("winxp-sp3-x86");
    host.WriteHostFile(kViewer, "MZ");
    if (*c.before) {
      std::shared_ptr<plat::IFwAuthorizedApplication> old;
      plat::Current().Firewall().CreateAuthorizedApplication(&old);
      old->PutName("Old");
      old->PutProcessImageFileName(kViewer);
      old->PutRemoteAddresses(c.before);
      ASSERT_EQ(LegacyApplications()->Add(old), winerr::kSOk);
    }
    CErrorMgr errorMgr;
    auto entry = Read<CService>(std::string("<t:service name='Viewer' exepath='C:\\Plant\\viewer.exe' ") + c.entry +
                                "</t:service>");
    for (int run = 0; run < 2; ++run) {
      EXPECT_TRUE(entry->ApplyService(errorMgr, LegacyProfile().get(), LegacyApplications().get())) << Log(errorMgr);
      EXPECT_EQ(LegacyViewer(), c.after) << c.entry << " run " << run;
    }
    const auto current = entry->GetCurrentService(errorMgr, LegacyProfile().get());
    EXPECT_EQ(current->Exists(), *c.after == 'n' ? 0 : 1) << c.entry;
  }
}

TEST(ServicePortLegacyTest, LegacyPortsOpenTheLeadingNumberAndRefuseOneBeyondAnyPort) {
  TestHost host("winxp-sp3-x86");
  struct Case {
    const char* entry;
    const char* log;
  };
  const Case cases[] = {
      {"name='Web' value='8080-8090' tcp='true' udp='true'><t:scopeSubnet/>", "2   => Port is set:  8080-8090  Web\n"},
      {"name='Web' value='8080' tcp='true'><t:scopeSubnet/>", "2   => Port is set:  8080  Web\n"},
      {"name='Big' value='4294975376' tcp='true'><t:scopeAny/>", "5 put_Port() failed: 0x80070057\n"},
      {"name='Web' value='8080' udp='true' exists='false'><t:scopeAny/>",
       "4   The port 8080 UDP couldn't be removed from firewall, because the port was not found in firewall\n"},
  };
  for (const Case& c : cases) {
    CErrorMgr errorMgr;
    Read<CPort>(std::string("<t:port ") + c.entry + "</t:port>")->ApplyPort(errorMgr, LegacyPorts().get());
    EXPECT_EQ(Log(errorMgr), c.log) << c.entry;
  }
  int32_t count = 0;
  LegacyPorts()->Count(&count);
  EXPECT_EQ(count, 1);  // 8080 TCP
}

TEST_F(ServicePortTest, PortRulesTakeTcpFirstAndTheValueAsTheirPorts) {
  const char* entries[] = {
      "<t:port name='Web' value='8080-8090' tcp='true' udp='true' firewallProfile='public'><t:scopeSubnet/></t:port>",
      "<t:port name='Web' value='8080-8090' tcp='true' enable='no'><t:scopeCustom value='10.0.0.1'/></t:port>",
      "<t:port name='Gone' value='99' udp='true' exists='false'/>",
  };
  for (const char* element : entries) Read<CPort>(element)->ApplyPort2(errorMgr_, Rules().get());
  EXPECT_EQ(Log(errorMgr_),
            "2     before execution: Port '8080-8090' is not set\n2   => Port is set and enabled:  8080-8090  Web\n"
            "2     before execution: Port '8080-8090' is enable\n2   => Port is set but disabled:  8080-8090  Web\n");
  EXPECT_EQ(RulesNamed("Web"), "|8080-8090|6|10.0.0.1,LocalSubnet|2147483647|off|Plant Viewer\n");

  CErrorMgr refused;
  RefusingRules rules(Rules(), false);
  auto close = Read<CPort>("<t:port name='Web' value='8080-8090' tcp='true' exists='false'/>");
  EXPECT_FALSE(close->ApplyPort2(refused, &rules));
  EXPECT_EQ(Log(refused), "5 While removing the port  8080-8090 TCP an error occured. Error: 0x80070005\n");
  CErrorMgr removed;
  EXPECT_TRUE(close->ApplyPort2(removed, Rules().get()));
  EXPECT_EQ(Log(removed), "2   => Port is removed:  Web\n");
  EXPECT_EQ(RulesNamed("Web"), "");
}

TEST_F(ServicePortTest, EntriesAreWrittenOnceUnderTheirNameWhateverItHolds) {
  xml::Document document = SecurityFile("<t:network><t:lan/></t:network>");
  const xml::Node lan = FirstNode(document, "//t:lan");
  auto service = Read<CService>(
      "<t:service name=\"O'Neil &quot;GUI&quot;\" exepath='C:\\Plant\\viewer.exe' "
      "exists='true' enable='no'><t:scopeCustom value='10.0.0.1'/></t:service>");
  auto port =
      Read<CPort>("<t:port name=\"It's\" value='80' tcp='true' udp='false' exists='false'><t:scopeAny/></t:port>");
  for (int run = 0; run < 2; ++run) {
    service->SetFeatureToXml(errorMgr_, lan, kProduct, false);
    port->SetFeatureToXml(errorMgr_, lan, kProduct, false);
  }
  EXPECT_EQ(lan.Xml(),
            "<t:lan><t:service name=\"O'Neil &quot;GUI&quot;\" exepath=\"C:\\Plant\\viewer.exe\" enable=\"no\" "
            "firewallProfile=\"all\" exists=\"true\"><t:scopeCustom value=\"10.0.0.1\"/></t:service>"
            "<t:port udp=\"false\" tcp=\"true\" name=\"It's\" value=\"80\" exists=\"false\" enable=\"yes\" "
            "firewallProfile=\"all\"><t:scopeAny/></t:port></t:lan>");
  EXPECT_FALSE(errorMgr_.IsError());
}

}  // namespace
