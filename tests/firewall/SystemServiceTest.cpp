// Predefined firewall exceptions on both families: built-in groups switched
// by profile, file and printer sharing with a custom scope as rules of our
// own that keep earlier addresses once, legacy services with their scopes
// and current values, refusals that write no success text, the log lines
// and the feature document.
#include <gtest/gtest.h>

#include <string>

#include "features/FeatureFixture.h"
#include "firewall/SystemService.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "platform/Forwarding.h"
#include "platform/WinError.h"
#include "resources/ResourceMgr.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;

CSystemService Entry(const std::string& name, const std::string& attributes, const std::string& scope) {
  const xml::Document file = feature_test::SecurityFile("<t:systemService name='" + name + "' " + attributes + ">" +
                                                        scope + "</t:systemService>");
  CSystemService entry;
  entry.Read(FirstNode(file, "//t:systemService"));
  return entry;
}

// Enabled rules per built-in group (file and printer sharing, network
// discovery, remote desktop), then the rule string of every own rule.
std::string RulesState(host::Host& host) {
  const char* groups[] = {"@FirewallAPI.dll,-28502", "@FirewallAPI.dll,-32752", "@FirewallAPI.dll,-28752"};
  int enabled[3] = {0, 0, 0};
  std::string own;
  for (const host::FirewallRuleRecord& r : host.Firewall().Rules()) {
    const std::string group = r.rule.First("EmbedCtxt");
    for (int i = 0; i < 3; ++i) enabled[i] += r.rule.First("Active") == "TRUE" && group == groups[i];
    if (group == "Vantrix Rule Group") own += "\n" + r.rule.Text();
  }
  return std::to_string(enabled[0]) + " " + std::to_string(enabled[1]) + " " + std::to_string(enabled[2]) + own;
}

std::shared_ptr<plat::IFwPolicy2> Policy() {
  std::shared_ptr<plat::IFwPolicy2> policy;
  EXPECT_EQ(plat::Current().Firewall().CreatePolicy2(&policy), winerr::kSOk);
  return policy;
}

// The factory fails the n-th new rule.
struct FailingFactory : plat::ForwardingFirewall {
  FailingFactory(plat::IFirewall& base, int failing) : ForwardingFirewall(base), failing(failing) {}
  uint32_t CreateRule(std::shared_ptr<plat::IFwRule>* rule) override {
    return --failing == 0 ? winerr::kEFail : ForwardingFirewall::CreateRule(rule);
  }
  int failing;
};

// The host's rules, except that the n-th Add is refused.
struct RefusingRules : plat::IFwRules {
  RefusingRules(std::shared_ptr<plat::IFwRules> base, int refused) : base(std::move(base)), refused(refused) {}
  uint32_t Count(int32_t* count) override { return base->Count(count); }
  uint32_t Enumerate(std::vector<std::shared_ptr<plat::IFwRule>>* rules) override { return base->Enumerate(rules); }
  uint32_t Item(std::string_view name, std::shared_ptr<plat::IFwRule>* rule) override { return base->Item(name, rule); }
  uint32_t Add(const std::shared_ptr<plat::IFwRule>& rule) override {
    return --refused == 0 ? winerr::kEAccessDenied : base->Add(rule);
  }
  uint32_t Remove(std::string_view name) override { return base->Remove(name); }
  std::shared_ptr<plat::IFwRules> base;
  int refused;
};
struct RulesPolicy : plat::IFwPolicy2 {
  uint32_t GetRules(std::shared_ptr<plat::IFwRules>* got) override { return *got = rules, winerr::kSOk; }
  uint32_t EnableRuleGroup(int32_t, std::string_view, bool) override { return winerr::kEUnexpected; }
  std::shared_ptr<plat::IFwRules> rules;
};

class SystemServiceTest : public ::testing::Test {
 protected:
  SystemServiceTest() { ResetProcessState(); }
  ~SystemServiceTest() override {
    ResetProcessState();
    CResourceMgr::Reset();
  }
  // "level|label|message" of every entry since the last call.
  std::string Log() {
    std::string lines;
    for (; seen_ < errorMgr_.Entries().size(); ++seen_) {
      const CErrorObject& e = *errorMgr_.Entries()[seen_];
      lines += std::to_string(e.level) + "|" + e.function + "|" + e.message + "\n";
    }
    return lines;
  }
  CErrorMgr errorMgr_;
  size_t seen_ = 0;
};

constexpr const char* kApply2 = "CSystemService::ApplySystemService2|";

TEST_F(SystemServiceTest, RuleGroupsAreSwitchedForTheProfileWhateverTheScope) {
  struct Case {
    bool startOn;  // every built-in group on before, else off
    const char* name;
    const char* attributes;
    const char* scope;
    const char* state;
  };
  const Case cases[] = {
      {false, "NET_FW_SERVICE_FILE_AND_PRINT", "value='TRUE'", "<t:scopeAny/>", "28 0 0"},
      {false, "NET_FW_SERVICE_FILE_AND_PRINT", "value='true' firewallProfile='domain'", "<t:scopeSubnet/>", "14 0 0"},
      {false, "NET_FW_SERVICE_UPNP", "value='true' firewallProfile='public'", "<t:scopeCustom value='10.0.0.1'/>",
       "0 2 0"},
      {false, "NET_FW_SERVICE_REMOTE_DESKTOP", "value='true'", "<t:scopeAny/>", "0 0 1"},
      {true, "NET_FW_SERVICE_REMOTE_DESKTOP", "", "<t:scopeAny/>", "28 2 0"},
      // Off with a custom scope: the built-in group goes off, nothing of our own is made.
      {true, "NET_FW_SERVICE_FILE_AND_PRINT", "value='false'", "<t:scopeCustom value='10.0.0.1'/>", "0 2 1"},
      {true, "net_fw_service_upnp", "value='true'", "<t:scopeAny/>", "28 2 1"},
  };
  TestHost h;
  std::shared_ptr<plat::IFwPolicy2> policy = Policy();
  for (const Case& c : cases) {
    for (const char* group : {"@FirewallAPI.dll,-28502", "@FirewallAPI.dll,-32752", "@FirewallAPI.dll,-28752"}) {
      ASSERT_EQ(policy->EnableRuleGroup(plat::kFwProfile2All, group, c.startOn), winerr::kSOk);
    }
    const bool known = std::string_view(c.name).starts_with("NET_FW");
    EXPECT_EQ(Entry(c.name, c.attributes, c.scope).ApplySystemService2(errorMgr_, policy.get()), known);
    EXPECT_EQ(Log(), (known ? "2|" + std::string(kApply2) + "  => SystemService is set: "
                            : "5|" + std::string(kApply2) + "    Unknown service type: ") +
                         c.name + "\n");
    EXPECT_EQ(RulesState(h.Host()), c.state) << c.name << " " << c.attributes;
  }
}

TEST_F(SystemServiceTest, CustomScopeSharingMakesNineRulesThatKeepEarlierAddressesOnce) {
  TestHost h;
  std::shared_ptr<plat::IFwRules> rules;
  ASSERT_EQ(Policy()->GetRules(&rules), winerr::kSOk);
  CSystemService entry = Entry("NET_FW_SERVICE_FILE_AND_PRINT", "value='true'",
                               "<t:scopeCustom value='10.0.0.0/8,LocalSubnet'/>");
  ASSERT_TRUE(entry.ApplySystemService2(errorMgr_, Policy().get()));
  std::string added;
  for (int i = 0; i < 9; ++i) added += "2|" + std::string(kApply2) + "New_RULE is added and activated\n";
  EXPECT_EQ(Log(), added);
  const std::string first = RulesState(h.Host());
  const std::string own = "\nv2.10|Action=Allow|Active=TRUE|Dir=In|Name=File and Printer Sharing New_Rule (";
  const std::string what = "Desc=File and Printer Sharing for Davoduze VU|Protocol=";
  const std::string group = "EmbedCtxt=Vantrix Rule Group|";
  const std::string addresses = group + "RA4=10.0.0.0/8|RA4=LocalSubnet|RA6=LocalSubnet|";
  EXPECT_EQ(first, "0 0 0" + own + "Spooler Service - RPC-EPMAP)|" + what + "6|Svc=Rpcss|" + addresses + own +
                       "Spooler Service - RPC)|" + what + "6|Svc=Spooler|App=%SystemRoot%\\system32\\spoolsv.exe|" +
                       addresses + own + "SMB-In)|" + what + "6|LPort=445|App=System|" + addresses + own +
                       "NB-Name-In)|" + what + "17|LPort=137|App=System|" + addresses + own + "NB-Session-In)|" +
                       what + "6|LPort=139|App=System|" + addresses + own + "NB-Datagram-In)|" + what +
                       "17|LPort=138|App=System|" + addresses + own + "LLMNR-UDP-In)|" + what +
                       "17|LPort=5355|Svc=dnscache|App=%SystemRoot%\\system32\\svchost.exe|" + addresses + own +
                       "Echo Request - ICMPv6-In)|" + what + "58|ICMP6=128:*|" + addresses + own +
                       "Echo Request - ICMPv4-In)|" + what + "1|ICMP4=8:*|" + addresses);

  // Another run keeps the addresses without doubling them; an address added
  // by hand is kept, and a rule open to all ("*", left out) stays so.
  ASSERT_TRUE(entry.ApplySystemService2(errorMgr_, Policy().get()));
  EXPECT_EQ(RulesState(h.Host()), first);
  std::shared_ptr<plat::IFwRule> rule;
  ASSERT_EQ(rules->Item("File and Printer Sharing New_Rule (SMB-In)", &rule), winerr::kSOk);
  ASSERT_EQ(rule->PutRemoteAddresses("10.0.0.0/8,192.168.1.1"), winerr::kSOk);
  ASSERT_EQ(rules->Item("File and Printer Sharing New_Rule (NB-Name-In)", &rule), winerr::kSOk);
  ASSERT_EQ(rule->PutRemoteAddresses("*"), winerr::kSOk);
  ASSERT_TRUE(entry.ApplySystemService2(errorMgr_, Policy().get()));
  const std::string third = RulesState(h.Host());
  EXPECT_NE(third.find("(SMB-In)|" + what + "6|LPort=445|App=System|" + group +
                       "RA4=10.0.0.0/8|RA4=LocalSubnet|RA4=192.168.1.1|RA6=LocalSubnet|\n"),
            std::string::npos);
  EXPECT_NE(third.find("(NB-Name-In)|" + what + "17|LPort=137|App=System|" + group + "\n"), std::string::npos);

  // A refused add is reported with its code, and gets no success text.
  Log();
  RulesPolicy refusing;
  refusing.rules = std::make_shared<RefusingRules>(rules, 3);
  EXPECT_FALSE(entry.ApplySystemService2(errorMgr_, &refusing));
  EXPECT_EQ(Log(), added.substr(0, added.size() / 9 * 2) + "5|" + kApply2 + "Firewall Rule Add failed: 0x80070005\n\n");
  // A rule that cannot be made leaves every rule as it was.
  FailingFactory factory(h.Platform().Firewall(), 9);
  plat::ForwardingPlatform platform(h.Platform());
  platform.SetFirewall(&factory);
  plat::ScopedPlatform installed(platform);
  const std::string fourth = RulesState(h.Host());
  EXPECT_FALSE(entry.ApplySystemService2(errorMgr_, Policy().get()));
  EXPECT_EQ(Log(), "5|" + std::string(kApply2) + "CoCreateInstance for Firewall Rule failed: 0x80004005\n\n");
  EXPECT_EQ(RulesState(h.Host()), fourth);
  // A refused group switch is an error.
  ASSERT_EQ(h.Host().Services().SetState("MpsSvc", plat::kServiceStopped), 0u);
  EXPECT_FALSE(Entry("NET_FW_SERVICE_UPNP", "", "<t:scopeAny/>").ApplySystemService2(errorMgr_, Policy().get()));
  EXPECT_EQ(Log(), "5|" + std::string(kApply2) + "  EnableRuleGroup failed: 0x800706d9\n");
}

TEST_F(SystemServiceTest, LegacyServicesKeepEarlierAddressesAndReportTheirCurrentValues) {
  struct Case {
    const char* name;
    const char* before;  // the service's remote addresses
    const char* attributes;
    const char* scope;
    const char* after;  // addresses and state
  };
  const Case cases[] = {
      {"NET_FW_SERVICE_REMOTE_DESKTOP", "*", "value='true'", "<t:scopeCustom value='10.0.0.1'/>", "*:Enabled"},
      {"NET_FW_SERVICE_FILE_AND_PRINT", "LocalSubnet", "value='true'", "<t:scopeCustom value='10.0.0.1'/>",
       "10.0.0.1,LocalSubnet:Enabled"},
      {"NET_FW_SERVICE_FILE_AND_PRINT", "10.0.0.1,LOCALSUBNET", "value='true'", "<t:scopeSubnet/>",
       "LocalSubnet,10.0.0.1:Enabled"},
      {"NET_FW_SERVICE_UPNP", "10.0.0.1", "value='true'", "<t:scopeCustom value='10.0.0.1'/>", "10.0.0.1:Enabled"},
      {"NET_FW_SERVICE_UPNP", "10.0.0.1", "", "<t:scopeAny/>", "*:Disabled"},
  };
  TestHost h("winxp-sp3-x86");
  std::shared_ptr<plat::IFwMgr> manager;
  std::shared_ptr<plat::IFwPolicy> policy;
  std::shared_ptr<plat::IFwProfile> profile;
  std::shared_ptr<plat::IFwServices> services;
  ASSERT_EQ(plat::Current().Firewall().CreateManager(&manager), winerr::kSOk);
  ASSERT_TRUE(manager->GetLocalPolicy(&policy) == 0 && policy->GetCurrentProfile(&profile) == 0);
  ASSERT_EQ(profile->GetServices(&services), winerr::kSOk);
  for (const Case& c : cases) {
    CSystemService entry = Entry(c.name, c.attributes, c.scope);
    std::shared_ptr<plat::IFwService> service = entry.GetSystemServiceFromFirewall(errorMgr_, profile.get());
    ASSERT_TRUE(service && service->PutRemoteAddresses(c.before) == 0);
    ASSERT_TRUE(entry.ApplySystemService(errorMgr_, services.get()));
    EXPECT_EQ(Log(), "2|::ApplySystemService|  => SystemService is set: " + std::string(c.name) + "\n");
    std::string stored;
    for (const host::FirewallLegacyEntry& e : h.Host().Firewall().LegacyState().entries) {
      if (e.list == "service") stored += e.scope + (e.enabled ? ":Enabled " : ":Disabled ");
    }
    EXPECT_NE(stored.find(std::string(c.after) + " "), std::string::npos) << c.name << " " << c.before << ": " << stored;
    // Read back: a custom scope with its addresses, else the scope type.
    std::unique_ptr<CSystemService> current = entry.GetCurrentSystemService(errorMgr_, profile.get());
    EXPECT_EQ((current->ScopeType() == 2 ? current->CustomAddresses() : std::to_string(current->ScopeType())) +
                  (current->Value() ? ":Enabled" : ":Disabled"),
              c.after[0] == '*' ? std::string("0") + (c.after + 1) : c.after);
  }
  EXPECT_FALSE(Entry("NET_FW_SERVICE_upnp", "value='true'", "<t:scopeAny/>").ApplySystemService(errorMgr_, services.get()));
  EXPECT_FALSE(Entry("NET_FW_SERVICE_UPNP", "", "<t:scopeAny/>").ApplySystemService(errorMgr_, nullptr));
  EXPECT_EQ(Log(),
            "5|::ApplySystemService|Could not retrieve the service NET_FW_SERVICE_upnp from firewall. Error: 0x80070057\n"
            "5|::ApplySystemService|Could not retrieve the service NET_FW_SERVICE_UPNP from firewall. Error: 0x80004003\n");
}

TEST_F(SystemServiceTest, LogLinesAndTheFeatureDocument) {
  TestHost h;
  h.WriteHostFile("C:\\lang\\Tarvo_1033.ulf", "160=FP on\r\n186=FP off\r\n164=listed\r\n");
  ASSERT_TRUE(CResourceMgr::LoadResource(errorMgr_, "C:\\lang", 1033));
  Log();
  const xml::Document document = feature_test::SecurityFile("<t:lan/>");
  const xml::Node lan = FirstNode(document, "//t:lan");
  // Written twice under the same name: one element, the second values win.
  for (const char* value : {"value='true'", "value='false'"}) {
    const CSystemService entry =
        Entry("NET_FW_SERVICE_FILE_AND_PRINT", value, "<t:scopeCustom value=\"10.0.0.1,10.0.0.2\"/>");
    entry.SetFeatureToXml(errorMgr_, lan, "Plant O'Viewer", true);
    entry.AddLogEntriesFromFeature(errorMgr_);
  }
  Entry("NET_FW_SERVICE_UPNP", "", "").AddLogEntriesFromFeature(errorMgr_);
  const std::string label = "2|CSystemService::AddLogEntriesFromFeature|";
  EXPECT_EQ(Log(), label + "    SystemService 'NET_FW_SERVICE_FILE_AND_PRINT' is acitivated\n" + label +
                       "    Network access: custom network access to 10.0.0.1,10.0.0.2\n" + label +
                       "    SystemService 'NET_FW_SERVICE_FILE_AND_PRINT' is not activated\n" + label +
                       "  SystemService not allowed:  NET_FW_SERVICE_UPNP\n");
  EXPECT_EQ(lan.Xml(),
            "<t:lan><t:systemService name=\"NET_FW_SERVICE_FILE_AND_PRINT\" value=\"else\" firewallProfile=\"all\" "
            "message=\"FP off\"><t:RequestingProgram><t:Program name=\"Plant O'Viewer\"/></t:RequestingProgram>"
            "<t:scopeCustom message=\"listed\" value=\"10.0.0.1,10.0.0.2\"/></t:systemService></t:lan>");

  Entry("NET_FW_SERVICE_upnp", "", "<t:scopeAny/>").SetFeatureToXml(errorMgr_, lan, "P", true);
  EXPECT_TRUE(Entry("NET_FW_SERVICE_UPNP", "", "").SetFeatureToXml(errorMgr_, xml::Node(), "P", false).IsNull());
  EXPECT_EQ(Log(), "5|CSystemService::SetFeatureToXml|Unknown SystemServiceName: NET_FW_SERVICE_upnp\n"
                   "2|CSystemService::SetFeatureToXml|  allowed SystemServiceName:  NET_FW_SERVICE_REMOTE_DESKTOP   "
                   "NET_FW_SERVICE_UPNP   NET_FW_SERVICE_FILE_AND_PRINT\n"
                   "6|CSystemService::SetFeatureToXml|Internal error: Paramenter pRootNode may not be NULL\n");
}

}  // namespace
