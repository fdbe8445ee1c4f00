// The Firewall service against the simulated host, both families: a new
// rule's defaults and the checks on its values, rules kept as rule strings in
// the registry and read back as written, live objects, duplicate names,
// switching a rule group by profile mask, the legacy store before 6.0 and
// its view over the rules after, and the refusals (service stopped, failing
// current profile, user who is no administrator).
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/WinError.h"
#include "platform/host/HostFirewall.h"
#include "support/TestHost.h"

namespace {

using namespace plat;

IFirewall& Firewall() { return Current().Firewall(); }

std::shared_ptr<IFwRules> Rules() {
  std::shared_ptr<IFwPolicy2> policy;
  EXPECT_EQ(Firewall().CreatePolicy2(&policy), winerr::kSOk);
  std::shared_ptr<IFwRules> rules;
  if (policy) {
    EXPECT_EQ(policy->GetRules(&rules), winerr::kSOk);
  }
  return rules;
}

std::shared_ptr<IFwRule> NewRule(std::string_view name) {
  std::shared_ptr<IFwRule> rule;
  EXPECT_EQ(Firewall().CreateRule(&rule), winerr::kSOk);
  EXPECT_EQ(rule->PutName(name), winerr::kSOk);
  return rule;
}

// Every property of a rule on one line.
std::string Describe(IFwRule& rule) {
  std::string name, description, app, service, lports, rports, la, ra, icmp, ifTypes, group;
  int32_t protocol = 0, direction = 0, profiles = 0, action = 0;
  bool enabled = false, edge = false;
  rule.GetName(&name);
  rule.GetDescription(&description);
  rule.GetApplicationName(&app);
  rule.GetServiceName(&service);
  rule.GetProtocol(&protocol);
  rule.GetLocalPorts(&lports);
  rule.GetRemotePorts(&rports);
  rule.GetLocalAddresses(&la);
  rule.GetRemoteAddresses(&ra);
  rule.GetIcmpTypesAndCodes(&icmp);
  rule.GetDirection(&direction);
  rule.GetInterfaceTypes(&ifTypes);
  rule.GetEnabled(&enabled);
  rule.GetGrouping(&group);
  rule.GetProfiles(&profiles);
  rule.GetEdgeTraversal(&edge);
  rule.GetAction(&action);
  char line[512];
  std::snprintf(line, sizeof line, "%s|%s|%s|%s|p%d|%s|%s|%s|%s|%s|d%d|%s|e%d|%s|0x%X|edge%d|a%d", name.c_str(),
                description.c_str(), app.c_str(), service.c_str(), protocol, lports.c_str(), rports.c_str(), la.c_str(),
                ra.c_str(), icmp.c_str(), direction, ifTypes.c_str(), enabled, group.c_str(), profiles, edge, action);
  return line;
}

// The rule strings under the FirewallRules key, "id = text" per line, as
// the registry holds them.
std::string StoredRules(std::string_view onlyPrefix = "{") {
  HKey key = kNullKey;
  if (Current().Registry().OpenKey(kHkeyLocalMachine, host::kFirewallRulesKey, kKeyRead, &key) != 0) return "no key";
  std::string listed, name;
  RegValue value;
  for (uint32_t i = 0; Current().Registry().EnumValue(key, i, &name, &value) == 0; ++i) {
    if (name.starts_with(onlyPrefix)) listed += name + " = " + RegSzText(value.data) + "\n";
  }
  Current().Registry().CloseKey(key);
  return listed;
}

TEST(FirewallTest, ANewRuleHasWindowsDefaultsAndChecksItsValues) {
  TestHost h;
  std::shared_ptr<IFwRule> rule;
  ASSERT_EQ(Firewall().CreateRule(&rule), winerr::kSOk);
  EXPECT_EQ(Describe(*rule), "||||p256|||*|*||d1|All|e0||0x7FFFFFFF|edge0|a1");

  struct Case {
    const char* step;
    std::function<uint32_t(IFwRule&)> call;
    uint32_t expected;
  };
  const Case cases[] = {
      {"ports before protocol", [](IFwRule& r) { return r.PutLocalPorts("80"); }, winerr::kEInvalidArg},
      {"protocol tcp", [](IFwRule& r) { return r.PutProtocol(kFwIpProtocolTcp); }, winerr::kSOk},
      {"port 0", [](IFwRule& r) { return r.PutLocalPorts("0"); }, winerr::kEInvalidArg},
      {"backward range", [](IFwRule& r) { return r.PutLocalPorts("90-80"); }, winerr::kEInvalidArg},
      {"star among ports", [](IFwRule& r) { return r.PutLocalPorts("*,80"); }, winerr::kEInvalidArg},
      {"port list", [](IFwRule& r) { return r.PutLocalPorts("80, 8000-8010,RPC"); }, winerr::kSOk},
      {"icmp on tcp", [](IFwRule& r) { return r.PutIcmpTypesAndCodes("8:*"); }, winerr::kEInvalidArg},
      {"icmp protocol while ports", [](IFwRule& r) { return r.PutProtocol(kFwIpProtocolIcmp4); }, winerr::kEInvalidArg},
      {"bad address", [](IFwRule& r) { return r.PutRemoteAddresses("10.1.2"); }, winerr::kEInvalidArg},
      {"star among addresses", [](IFwRule& r) { return r.PutRemoteAddresses("*,10.0.0.1"); }, winerr::kEInvalidArg},
      {"prefix too long", [](IFwRule& r) { return r.PutRemoteAddresses("10.0.0.0/33"); }, winerr::kEInvalidArg},
      {"addresses",
       [](IFwRule& r) { return r.PutRemoteAddresses("LocalSubnet,10.0.0.0/255.255.255.0,fe80::1,10.0.0.1-10.0.0.9"); },
       winerr::kSOk},
      {"profile 0", [](IFwRule& r) { return r.PutProfiles(0); }, winerr::kEInvalidArg},
      {"profile 8", [](IFwRule& r) { return r.PutProfiles(8); }, winerr::kEInvalidArg},
      {"profiles", [](IFwRule& r) { return r.PutProfiles(kFwProfile2Domain | kFwProfile2Public); }, winerr::kSOk},
      {"name all", [](IFwRule& r) { return r.PutName("All"); }, winerr::kEInvalidArg},
      {"name with bar", [](IFwRule& r) { return r.PutName("a|b"); }, winerr::kEInvalidArg},
      {"name", [](IFwRule& r) { return r.PutName("Web"); }, winerr::kSOk},
      {"direction 3", [](IFwRule& r) { return r.PutDirection(3); }, winerr::kEInvalidArg},
      {"action 2", [](IFwRule& r) { return r.PutAction(2); }, winerr::kEInvalidArg},
      {"interface type", [](IFwRule& r) { return r.PutInterfaceTypes("Lan,Cable"); }, winerr::kEInvalidArg},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call(*rule), c.expected) << c.step;
  EXPECT_EQ(Describe(*rule),
            "Web||||p6|80,8000-8010,RPC|*|*|LocalSubnet,10.0.0.0/255.255.255.0,10.0.0.1-10.0.0.9,fe80::1||d1|All|e0||"
            "0x5|edge0|a1");

  std::shared_ptr<IFwRule> ping = NewRule("Ping");
  EXPECT_EQ(ping->PutProtocol(kFwIpProtocolIcmp4), winerr::kSOk);
  EXPECT_EQ(ping->PutIcmpTypesAndCodes("8:*,0:300"), winerr::kEInvalidArg);
  EXPECT_EQ(ping->PutIcmpTypesAndCodes("8:*,0:0"), winerr::kSOk);
  EXPECT_EQ(ping->PutLocalPorts("80"), winerr::kEInvalidArg);
  EXPECT_EQ(Describe(*ping), "Ping||||p1|||*|*|8:*,0:0|d1|All|e0||0x7FFFFFFF|edge0|a1");
}

TEST(FirewallTest, RulesAreKeptAsRuleStringsAndReadBackAsWritten) {
  TestHost h;
  std::shared_ptr<IFwRule> rule = NewRule("Tarvo Web");
  ASSERT_EQ(rule->PutDescription("Web server"), winerr::kSOk);
  ASSERT_EQ(rule->PutApplicationName("C:\\Web\\web.exe"), winerr::kSOk);
  ASSERT_EQ(rule->PutProtocol(kFwIpProtocolTcp), winerr::kSOk);
  ASSERT_EQ(rule->PutLocalPorts("80,443"), winerr::kSOk);
  ASSERT_EQ(rule->PutRemoteAddresses("localsubnet,192.168.1.7"), winerr::kSOk);
  ASSERT_EQ(rule->PutGrouping("Tarvo Group"), winerr::kSOk);
  ASSERT_EQ(rule->PutProfiles(kFwProfile2Private), winerr::kSOk);
  ASSERT_EQ(rule->PutEnabled(true), winerr::kSOk);
  const std::string described = Describe(*rule);
  ASSERT_EQ(Rules()->Add(rule), winerr::kSOk);

  EXPECT_EQ(StoredRules(),
            "{7A5E0000-0000-4000-8000-8829DFA2AC2D} = v2.10|Action=Allow|Active=TRUE|Dir=In|Name=Tarvo Web|"
            "Desc=Web server|App=C:\\Web\\web.exe|Protocol=6|LPort=80|LPort=443|RA4=LocalSubnet|RA4=192.168.1.7|"
            "RA6=LocalSubnet|EmbedCtxt=Tarvo Group|Profile=Private|\n");
  std::shared_ptr<IFwRule> item;
  ASSERT_EQ(Rules()->Item("tarvo web", &item), winerr::kSOk);
  EXPECT_EQ(Describe(*item), described);

  // A field this program does not know survives a change through the
  // objects, and a protocol that is no number reads as any.
  HKey key = kNullKey;
  ASSERT_EQ(Current().Registry().OpenKey(kHkeyLocalMachine, host::kFirewallRulesKey, kKeyAllAccess, &key), 0u);
  ASSERT_EQ(Current().Registry().SetValue(key, "{custom}", kRegSz,
                                          MakeRegSz("v2.10|Action=Block|Active=FALSE|Dir=Out|Future=1|Protocol=x|Name=Custom|")),
            0u);
  Current().Registry().CloseKey(key);
  ASSERT_EQ(Rules()->Item("Custom", &item), winerr::kSOk);
  ASSERT_EQ(item->PutEnabled(true), winerr::kSOk);
  int32_t protocol = 0;
  item->GetProtocol(&protocol);
  EXPECT_EQ(protocol, kFwIpProtocolAny);
  EXPECT_EQ(StoredRules("{c"), "{custom} = v2.10|Action=Block|Active=TRUE|Dir=Out|Future=1|Protocol=x|Name=Custom|\n");
}

TEST(FirewallTest, ObjectsAreLiveAndNamesMayRepeat) {
  TestHost h;
  std::shared_ptr<IFwRules> rules = Rules();
  int32_t before = 0, after = 0;
  ASSERT_EQ(rules->Count(&before), winerr::kSOk);
  std::shared_ptr<IFwRule> first = NewRule("Twin"), second = NewRule("Twin");
  first->PutDescription("first");
  second->PutDescription("second");
  ASSERT_EQ(rules->Add(first), winerr::kSOk);
  ASSERT_EQ(rules->Add(second), winerr::kSOk);
  ASSERT_EQ(rules->Count(&after), winerr::kSOk);
  EXPECT_EQ(after, before + 2);

  // The added object, an item and the enumeration all see one rule.
  ASSERT_EQ(first->PutEnabled(true), winerr::kSOk);
  std::shared_ptr<IFwRule> item;
  ASSERT_EQ(rules->Item("Twin", &item), winerr::kSOk);
  std::string description;
  bool enabled = false;
  item->GetDescription(&description);
  item->GetEnabled(&enabled);
  EXPECT_EQ(description + (enabled ? " on" : " off"), "first on");
  ASSERT_EQ(item->PutDescription("changed"), winerr::kSOk);
  first->GetDescription(&description);
  EXPECT_EQ(description, "changed");

  // Remove takes one rule of the name at a time.
  ASSERT_EQ(rules->Remove("Twin"), winerr::kSOk);
  ASSERT_EQ(rules->Item("Twin", &item), winerr::kSOk);
  item->GetDescription(&description);
  EXPECT_EQ(description, "second");
  ASSERT_EQ(rules->Remove("Twin"), winerr::kSOk);
  EXPECT_EQ(rules->Item("Twin", &item), winerr::kHrFileNotFound);
  EXPECT_EQ(rules->Remove("Twin"), winerr::kSOk);
  ASSERT_EQ(rules->Count(&after), winerr::kSOk);
  EXPECT_EQ(after, before);
  std::shared_ptr<IFwRule> unnamed;
  ASSERT_EQ(Firewall().CreateRule(&unnamed), winerr::kSOk);
  EXPECT_EQ(rules->Add(unnamed), winerr::kEInvalidArg);
}

// The ids of the enabled rules of a group, sorted as stored.
std::string EnabledOf(std::string_view group) {
  std::string listed;
  for (const host::FirewallRuleRecord& r : static_cast<host::Host&>(Current()).Firewall().Rules()) {
    if (r.rule.First("EmbedCtxt") == group && r.rule.First("Active") == "TRUE") listed += r.id + " ";
  }
  return listed;
}

TEST(FirewallTest, EnableRuleGroupSwitchesTheGroupsRulesOfTheProfiles) {
  TestHost h;
  std::shared_ptr<IFwPolicy2> policy;
  ASSERT_EQ(Firewall().CreatePolicy2(&policy), winerr::kSOk);
  const std::string fps = "@FirewallAPI.dll,-28502";
  EXPECT_EQ(EnabledOf(fps), "");
  ASSERT_EQ(policy->EnableRuleGroup(kFwProfile2Domain, fps, true), winerr::kSOk);
  EXPECT_EQ(EnabledOf(fps),
            "FPS-NB_Session-In-TCP-NoScope FPS-NB_Session-Out-TCP-NoScope FPS-SMB-In-TCP-NoScope "
            "FPS-SMB-Out-TCP-NoScope FPS-NB_Name-In-UDP-NoScope FPS-NB_Name-Out-UDP-NoScope "
            "FPS-NB_Datagram-In-UDP-NoScope FPS-NB_Datagram-Out-UDP-NoScope FPS-SpoolSvc-In-TCP-NoScope "
            "FPS-RPCSS-In-TCP-NoScope FPS-ICMP4-ERQ-In-NoScope FPS-ICMP4-ERQ-Out-NoScope FPS-ICMP6-ERQ-In-NoScope "
            "FPS-ICMP6-ERQ-Out-NoScope ");
  // By the group's name too, and for every profile.
  ASSERT_EQ(policy->EnableRuleGroup(kFwProfile2All, "File and Printer Sharing", false), winerr::kSOk);
  EXPECT_EQ(EnabledOf(fps), "");
  ASSERT_EQ(policy->EnableRuleGroup(kFwProfile2Public, "@FirewallAPI.dll,-28752", true), winerr::kSOk);
  EXPECT_EQ(EnabledOf("@FirewallAPI.dll,-28752"), "RemoteDesktop-In-TCP ");
  EXPECT_EQ(policy->EnableRuleGroup(kFwProfile2All, "No Such Group", true), winerr::kSFalse);
}

TEST(FirewallTest, CallsAreRefusedWhileTheServiceStopsAndForStandardUsers) {
  {
    TestHost h;
    std::shared_ptr<IFwRules> rules = Rules();
    std::shared_ptr<IFwRule> item;
    ASSERT_EQ(rules->Item("Remote Desktop (TCP-In)", &item), winerr::kSOk);
    std::shared_ptr<IFwMgr> manager;
    ASSERT_EQ(Firewall().CreateManager(&manager), winerr::kSOk);
    ASSERT_EQ(h.Host().Services().SetState("MpsSvc", kServiceStopped), 0u);
    int32_t count = 0;
    bool enabled = false;
    std::shared_ptr<IFwPolicy> policy;
    EXPECT_EQ(rules->Count(&count), winerr::kHrFirewallServiceNotRunning);
    EXPECT_EQ(item->GetEnabled(&enabled), winerr::kHrFirewallServiceNotRunning);
    EXPECT_EQ(item->PutEnabled(true), winerr::kHrFirewallServiceNotRunning);
    EXPECT_EQ(rules->Add(NewRule("x")), winerr::kHrFirewallServiceNotRunning);
    EXPECT_EQ(manager->GetLocalPolicy(&policy), winerr::kHrFirewallServiceNotRunning);
    ASSERT_EQ(h.Host().Services().SetState("MpsSvc", kServiceRunning), 0u);
    EXPECT_EQ(item->GetEnabled(&enabled), winerr::kSOk);

    // get_CurrentProfile fails as often as the knob says.
    ASSERT_EQ(manager->GetLocalPolicy(&policy), winerr::kSOk);
    std::shared_ptr<IFwProfile> profile;
    h.Host().Firewall().SetProfileFailures(2);
    std::string answers;
    for (int i = 0; i < 3; ++i) answers += policy->GetCurrentProfile(&profile) == winerr::kSOk ? "ok " : "fail ";
    h.Host().Firewall().SetProfileFailures(-1);
    for (int i = 0; i < 2; ++i) answers += policy->GetCurrentProfile(&profile) == winerr::kSOk ? "ok " : "fail ";
    EXPECT_EQ(answers, "fail fail ok fail fail ");
  }
  TestHost h{TestHost::StandardUser{}};
  std::shared_ptr<IFwRule> item;
  ASSERT_EQ(Rules()->Item("Remote Desktop (TCP-In)", &item), winerr::kSOk);
  bool enabled = true;
  EXPECT_EQ(item->GetEnabled(&enabled), winerr::kSOk);
  EXPECT_FALSE(enabled);
  EXPECT_EQ(item->PutEnabled(true), winerr::kEAccessDenied);
  EXPECT_EQ(Rules()->Add(NewRule("x")), winerr::kEAccessDenied);
}

std::shared_ptr<IFwProfile> CurrentProfile() {
  std::shared_ptr<IFwMgr> manager;
  std::shared_ptr<IFwPolicy> policy;
  std::shared_ptr<IFwProfile> profile;
  EXPECT_EQ(Firewall().CreateManager(&manager), winerr::kSOk);
  EXPECT_EQ(manager->GetLocalPolicy(&policy), winerr::kSOk);
  EXPECT_EQ(policy->GetCurrentProfile(&profile), winerr::kSOk);
  return profile;
}

// Every value below the legacy standard profile, "subkey: name = data" per line.
std::string LegacyStore() {
  std::string listed;
  for (const char* sub : {"IcmpSettings", "AuthorizedApplications\\List", "GloballyOpenPorts\\List",
                          "Services\\List"}) {
    HKey key = kNullKey;
    const std::string path = std::string(host::kFirewallPolicyKey) + "\\StandardProfile\\" + sub;
    if (Current().Registry().OpenKey(kHkeyLocalMachine, path, kKeyRead, &key) != 0) continue;
    std::string name;
    RegValue value;
    for (uint32_t i = 0; Current().Registry().EnumValue(key, i, &name, &value) == 0; ++i) {
      const std::string data = value.type == kRegDword ? std::to_string(RegDwordValue(value.data)) : RegSzText(value.data);
      listed += std::string(sub) + ": " + name + " = " + data + "\n";
    }
    Current().Registry().CloseKey(key);
  }
  return listed;
}

TEST(FirewallTest, BeforeSixTheLegacyFamilyKeepsItsOwnStore) {
  TestHost h("winxp-sp3-x86");
  std::shared_ptr<IFwPolicy2> policy2;
  EXPECT_EQ(Firewall().CreatePolicy2(&policy2), winerr::kRegdbEClassNotReg);
  std::shared_ptr<IFwProfile> profile = CurrentProfile();
  ASSERT_TRUE(profile);

  std::shared_ptr<IFwIcmpSettings> icmp;
  ASSERT_EQ(profile->GetIcmpSettings(&icmp), winerr::kSOk);
  ASSERT_EQ(icmp->PutAllowInboundEchoRequest(true), winerr::kSOk);

  std::shared_ptr<IFwAuthorizedApplications> applications;
  ASSERT_EQ(profile->GetAuthorizedApplications(&applications), winerr::kSOk);
  std::shared_ptr<IFwAuthorizedApplication> application;
  ASSERT_EQ(Firewall().CreateAuthorizedApplication(&application), winerr::kSOk);
  EXPECT_EQ(applications->Add(application), winerr::kEInvalidArg);  // no path, no name
  application->PutName("Web: console");
  application->PutProcessImageFileName("C:\\Web\\web.exe");
  EXPECT_EQ(application->PutScope(kFwScopeCustom), winerr::kEInvalidArg);
  ASSERT_EQ(application->PutRemoteAddresses("10.0.0.1,fe80::1,localsubnet"), winerr::kSOk);
  ASSERT_EQ(applications->Add(application), winerr::kSOk);
  std::shared_ptr<IFwAuthorizedApplication> item;
  EXPECT_EQ(applications->Item("C:\\Other.exe", &item), winerr::kHrFileNotFound);
  ASSERT_EQ(applications->Item("c:\\web\\WEB.exe", &item), winerr::kSOk);
  ASSERT_EQ(item->PutEnabled(false), winerr::kSOk);
  bool enabled = true;
  int32_t scope = -1;
  application->GetEnabled(&enabled);
  application->GetScope(&scope);
  EXPECT_FALSE(enabled);
  EXPECT_EQ(scope, kFwScopeCustom);

  std::shared_ptr<IFwOpenPorts> ports;
  ASSERT_EQ(profile->GetGloballyOpenPorts(&ports), winerr::kSOk);
  for (int32_t port : {8080, 9090}) {
    std::shared_ptr<IFwOpenPort> open;
    ASSERT_EQ(Firewall().CreateOpenPort(&open), winerr::kSOk);
    open->PutName("Port " + std::to_string(port));
    open->PutPort(port);
    open->PutProtocol(kFwIpProtocolUdp);
    open->PutScope(kFwScopeLocalSubnet);
    ASSERT_EQ(ports->Add(open), winerr::kSOk);
  }
  ASSERT_EQ(ports->Remove(9090, kFwIpProtocolUdp), winerr::kSOk);
  std::shared_ptr<IFwOpenPort> open;
  EXPECT_EQ(ports->Item(8080, kFwIpProtocolTcp, &open), winerr::kHrFileNotFound);
  ASSERT_EQ(ports->Item(8080, kFwIpProtocolUdp, &open), winerr::kSOk);

  std::shared_ptr<IFwServices> services;
  ASSERT_EQ(profile->GetServices(&services), winerr::kSOk);
  std::shared_ptr<IFwService> service;
  EXPECT_EQ(services->Item(3, &service), winerr::kEInvalidArg);
  ASSERT_EQ(services->Item(kFwServiceRemoteDesktop, &service), winerr::kSOk);
  ASSERT_EQ(service->PutEnabled(true), winerr::kSOk);

  EXPECT_EQ(LegacyStore(),
            "IcmpSettings: AllowInboundEchoRequest = 1\n"
            "AuthorizedApplications\\List: C:\\Web\\web.exe = C:\\Web\\web.exe:10.0.0.1,fe80::1,LocalSubnet:Disabled:Web: console\n"
            "GloballyOpenPorts\\List: 8080:UDP = 8080:UDP:LocalSubnet:Enabled:Port 8080\n"
            "Services\\List: RemoteDesktop = RemoteDesktop:*:Enabled:\n");
  EXPECT_EQ(StoredRules(), "no key");
}

TEST(FirewallTest, FromSixTheLegacyFamilyReadsTheRules) {
  TestHost h;
  std::shared_ptr<IFwProfile> profile = CurrentProfile();
  std::shared_ptr<IFwIcmpSettings> icmp;
  std::shared_ptr<IFwServices> services;
  std::shared_ptr<IFwService> fps;
  ASSERT_EQ(profile->GetIcmpSettings(&icmp), winerr::kSOk);
  ASSERT_EQ(profile->GetServices(&services), winerr::kSOk);
  ASSERT_EQ(services->Item(kFwServiceFileAndPrint, &fps), winerr::kSOk);
  bool echo = true, sharing = true;
  icmp->GetAllowInboundEchoRequest(&echo);
  fps->GetEnabled(&sharing);
  EXPECT_FALSE(echo || sharing);
  std::shared_ptr<IFwPolicy2> policy;
  ASSERT_EQ(Firewall().CreatePolicy2(&policy), winerr::kSOk);
  ASSERT_EQ(policy->EnableRuleGroup(kFwProfile2All, "@FirewallAPI.dll,-28502", true), winerr::kSOk);
  icmp->GetAllowInboundEchoRequest(&echo);
  fps->GetEnabled(&sharing);
  EXPECT_TRUE(echo && sharing);
}

}  // namespace
