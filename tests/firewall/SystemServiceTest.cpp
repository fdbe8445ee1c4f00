// Predefined firewall exceptions on both families: built-in groups switched
// by profile, file and printer sharing with a custom scope as rules of our
// own that keep earlier addresses without repeating them, legacy services
// with their scopes and current values, refused calls that write no success
// text, the log lines and the feature document.
#include <gtest/gtest.h>

#include <string>

#include "features/FeatureFixture.h"
#include "firewall/SystemService.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "platform/Forwarding.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "resources/ResourceMgr.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;
using feature_test::SecurityFile;

CSystemService Entry(const std::string& name, const std::string& attributes, const std::string& scope) {
  const xml::Document file = SecurityFile("<t:systemService name='" + name + "' " + attributes + ">" + scope +
                                          "</t:systemService>");
  CSystemService entry;
  entry.Read(FirstNode(file, "//t:systemService"));
  return entry;
}

// "level|label|message" of every entry since the last call.
std::string Log(const CErrorMgr& errorMgr, size_t* seen) {
  std::string lines;
  for (; *seen < errorMgr.Entries().size(); ++*seen) {
    const CErrorObject& e = *errorMgr.Entries()[*seen];
    lines += std::to_string(e.level) + "|" + e.function + "|" + e.message + "\n";
  }
  return lines;
}

// Enabled rules per built-in group (file and printer sharing, network
// discovery, remote desktop), then every own rule: name, addresses, state.
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

class SystemServiceTest : public ::testing::Test {
 protected:
  SystemServiceTest() { ResetProcessState(); }
  ~SystemServiceTest() override {
    ResetProcessState();
    CResourceMgr::Reset();
  }
  CErrorMgr errorMgr_;
  size_t seen_ = 0;
};

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
    CSystemService entry = Entry(c.name, c.attributes, c.scope);
    const bool known = std::string_view(c.name).starts_with("NET_FW");
    EXPECT_EQ(entry.ApplySystemService2(errorMgr_, policy.get()), known) << c.name;
    EXPECT_EQ(Log(errorMgr_, &seen_), known ? "2|CSystemService::ApplySystemService2|  => SystemService is set: " +
                                                  std::string(c.name) + "\n"
                                            : "5|CSystemService::ApplySystemService2|    Unknown service type: " +
                                                  std::string(c.name) + "\n");
    EXPECT_EQ(RulesState(h.Host()), c.state) << c.name << " " << c.attributes;
  }
}

// Rules refuses the n-th Add; everything else goes to the host.
class RefusingRules : public plat::IFwRules {
 public:
  RefusingRules(std::shared_ptr<plat::IFwRules> base, int refused) : base_(std::move(base)), refused_(refused) {}
  uint32_t Count(int32_t* count) override { return base_->Count(count); }
  uint32_t Enumerate(std::vector<std::shared_ptr<plat::IFwRule>>* rules) override { return base_->Enumerate(rules); }
  uint32_t Item(std::string_view name, std::shared_ptr<plat::IFwRule>* rule) override { return base_->Item(name, rule); }
  uint32_t Add(const std::shared_ptr<plat::IFwRule>& rule) override {
    return --refused_ == 0 ? winerr::kEAccessDenied : base_->Add(rule);
  }
  uint32_t Remove(std::string_view name) override { return base_->Remove(name); }

 private:
  std::shared_ptr<plat::IFwRules> base_;
  int refused_;
};

class RulesPolicy : public plat::IFwPolicy2 {
 public:
  explicit RulesPolicy(std::shared_ptr<plat::IFwRules> rules) : rules_(std::move(rules)) {}
  uint32_t GetRules(std::shared_ptr<plat::IFwRules>* rules) override {
    *rules = rules_;
    return winerr::kSOk;
  }
  uint32_t EnableRuleGroup(int32_t, std::string_view, bool) override { return winerr::kEUnexpected; }

 private:
  std::shared_ptr<plat::IFwRules> rules_;
};

TEST_F(SystemServiceTest, CustomScopeSharingMakesNineRulesThatKeepEarlierAddressesOnce) {
  TestHost h;
  std::shared_ptr<plat::IFwRules> rules;
  ASSERT_EQ(Policy()->GetRules(&rules), winerr::kSOk);
  CSystemService entry = Entry("NET_FW_SERVICE_FILE_AND_PRINT", "value='true'",
                               "<t:scopeCustom value='10.0.0.0/8,LocalSubnet'/>");
  ASSERT_TRUE(entry.ApplySystemService2(errorMgr_, Policy().get()));
  std::string added;
  for (int i = 0; i < 9; ++i) added += "2|CSystemService::ApplySystemService2|New_RULE is added and activated\n";
  EXPECT_EQ(Log(errorMgr_, &seen_), added);
  const std::string first = RulesState(h.Host());
  const std::string own = "v2.10|Action=Allow|Active=TRUE|Dir=In|Name=File and Printer Sharing New_Rule (";
  const std::string rest = "EmbedCtxt=Vantrix Rule Group|";
  const std::string addresses = "RA4=10.0.0.0/8|RA4=LocalSubnet|RA6=LocalSubnet|";
  const std::string description = "Desc=File and Printer Sharing for Davoduze VU|Protocol=";
  EXPECT_EQ(first, "0 0 0\n" +
                       own + "Spooler Service - RPC-EPMAP)|" + description + "6|Svc=Rpcss|" + rest + addresses + "\n" +
                       own + "Spooler Service - RPC)|" + description +
                       "6|Svc=Spooler|App=%SystemRoot%\\system32\\spoolsv.exe|" + rest + addresses + "\n" +
                       own + "SMB-In)|" + description + "6|LPort=445|App=System|" + rest + addresses + "\n" +
                       own + "NB-Name-In)|" + description + "17|LPort=137|App=System|" + rest + addresses + "\n" +
                       own + "NB-Session-In)|" + description + "6|LPort=139|App=System|" + rest + addresses + "\n" +
                       own + "NB-Datagram-In)|" + description + "17|LPort=138|App=System|" + rest + addresses + "\n" +
                       own + "LLMNR-UDP-In)|" + description +
                       "17|LPort=5355|Svc=dnscache|App=%SystemRoot%\\system32\\svchost.exe|" + rest + addresses +
                       "\n" + own + "Echo Request - ICMPv6-In)|" + description + "58|ICMP6=128:*|" + rest + addresses +
                       "\n" + own + "Echo Request - ICMPv4-In)|" + description + "1|ICMP4=8:*|" + rest + addresses);

  // Another run finds the rules and keeps their addresses without doubling them.
  ASSERT_TRUE(entry.ApplySystemService2(errorMgr_, Policy().get()));
  EXPECT_EQ(RulesState(h.Host()), first);
  // An address added by hand is kept; a rule open to all stays so.
  std::shared_ptr<plat::IFwRule> rule;
  ASSERT_EQ(rules->Item("File and Printer Sharing New_Rule (SMB-In)", &rule), winerr::kSOk);
  ASSERT_EQ(rule->PutRemoteAddresses("10.0.0.0/8,192.168.1.1"), winerr::kSOk);
  ASSERT_EQ(rules->Item("File and Printer Sharing New_Rule (NB-Name-In)", &rule), winerr::kSOk);
  ASSERT_EQ(rule->PutRemoteAddresses("*"), winerr::kSOk);
  ASSERT_TRUE(entry.ApplySystemService2(errorMgr_, Policy().get()));
  const std::string third = RulesState(h.Host());
  EXPECT_NE(third.find("(SMB-In)|" + description + "6|LPort=445|App=System|" + rest +
                       "RA4=10.0.0.0/8|RA4=LocalSubnet|RA4=192.168.1.1|RA6=LocalSubnet|\n"),
            std::string::npos)
      << third;
  // "*" is the default, which the rule string leaves out.
  EXPECT_NE(third.find("(NB-Name-In)|" + description + "17|LPort=137|App=System|" + rest + "\n"), std::string::npos)
      << third;

  // A refused add is reported with its code, and no success text for it.
  RulesPolicy refusing(std::make_shared<RefusingRules>(rules, 3));
  Log(errorMgr_, &seen_);
  EXPECT_FALSE(entry.ApplySystemService2(errorMgr_, &refusing));
  EXPECT_EQ(Log(errorMgr_, &seen_), added.substr(0, 2 * added.size() / 9) +
                                        "2|CSystemService::ApplySystemService2|Firewall Rule Add failed: 0x80070005\n\n");
  // A refused group switch is an error.
  EXPECT_FALSE(Entry("NET_FW_SERVICE_UPNP", "", "<t:scopeAny/>").ApplySystemService2(errorMgr_, &refusing));
  EXPECT_EQ(Log(errorMgr_, &seen_), "5|CSystemService::ApplySystemService2|  EnableRuleGroup failed: 0x8000ffff\n");
}

// The factory fails the n-th new rule.
class FailingFactory : public plat::ForwardingFirewall {
 public:
  FailingFactory(plat::IFirewall& base, int failing) : ForwardingFirewall(base), failing_(failing) {}
  uint32_t CreateRule(std::shared_ptr<plat::IFwRule>* rule) override {
    return --failing_ == 0 ? winerr::kEFail : ForwardingFirewall::CreateRule(rule);
  }

 private:
  int failing_;
};

TEST_F(SystemServiceTest, ARuleThatCannotBeMadeLeavesTheFirewallAlone) {
  TestHost h;
  FailingFactory factory(h.Platform().Firewall(), 9);
  plat::ForwardingPlatform platform(h.Platform());
  platform.SetFirewall(&factory);
  plat::ScopedPlatform installed(platform);
  CSystemService entry = Entry("NET_FW_SERVICE_FILE_AND_PRINT", "value='true'", "<t:scopeCustom value='10.0.0.1'/>");
  EXPECT_FALSE(entry.ApplySystemService2(errorMgr_, Policy().get()));
  EXPECT_EQ(Log(errorMgr_, &seen_),
            "2|CSystemService::ApplySystemService2|CoCreateInstance for Firewall Rule failed: 0x80004005\n\n");
  EXPECT_EQ(RulesState(h.Host()), "0 0 0");
}

TEST_F(SystemServiceTest, LegacyServicesKeepEarlierAddressesAndReportTheirCurrentValues) {
  struct Case {
    const char* name;
    const char* before;  // remote addresses set first
    const char* attributes;
    const char* scope;
    const char* stored;  // the service's legacy entry afterwards
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
  ASSERT_EQ(manager->GetLocalPolicy(&policy), winerr::kSOk);
  ASSERT_EQ(policy->GetCurrentProfile(&profile), winerr::kSOk);
  ASSERT_EQ(profile->GetServices(&services), winerr::kSOk);
  for (const Case& c : cases) {
    CSystemService entry = Entry(c.name, c.attributes, c.scope);
    std::shared_ptr<plat::IFwService> service = entry.GetSystemServiceFromFirewall(errorMgr_, profile.get());
    ASSERT_TRUE(service);
    ASSERT_EQ(service->PutRemoteAddresses(c.before), winerr::kSOk);
    ASSERT_TRUE(entry.ApplySystemService(errorMgr_, services.get()));
    EXPECT_EQ(Log(errorMgr_, &seen_), "2|::ApplySystemService|  => SystemService is set: " + std::string(c.name) + "\n");
    std::string stored;
    for (const host::FirewallLegacyEntry& e : h.Host().Firewall().LegacyState().entries) {
      if (e.list == "service") stored += e.scope + (e.enabled ? ":Enabled" : ":Disabled") + " ";
    }
    // The entries are kept in type order.
    EXPECT_NE(stored.find(std::string(c.stored) + " "), std::string::npos) << c.name << " " << c.before << ": " << stored;

    std::unique_ptr<CSystemService> current = entry.GetCurrentSystemService(errorMgr_, profile.get());
    EXPECT_EQ(current->Value(), std::string(c.stored).ends_with(":Enabled"));
    const int scope = current->ScopeType();
    EXPECT_EQ(scope, c.stored[0] == '*' ? 0 : 2) << c.name;
    if (scope == 2) {
      EXPECT_EQ(current->CustomAddresses() + ":Enabled", c.stored);
    }
  }
  EXPECT_FALSE(Entry("NET_FW_SERVICE_upnp", "value='true'", "<t:scopeAny/>").ApplySystemService(errorMgr_, services.get()));
  EXPECT_FALSE(Entry("NET_FW_SERVICE_UPNP", "", "<t:scopeAny/>").ApplySystemService(errorMgr_, nullptr));
  EXPECT_EQ(Log(errorMgr_, &seen_),
            "5|::ApplySystemService|Could not retrieve the service NET_FW_SERVICE_upnp from firewall. Error: 0x80070057\n"
            "5|::ApplySystemService|Could not retrieve the service NET_FW_SERVICE_UPNP from firewall. Error: 0x80004003\n");
}

TEST_F(SystemServiceTest, LogLinesAndTheFeatureDocument) {
  TestHost h;
  h.WriteHostFile("C:\\lang\\Tarvo_1033.ulf", "160=FP on\r\n186=FP off\r\n164=listed\r\n");
  ASSERT_TRUE(CResourceMgr::LoadResource(errorMgr_, "C:\\lang", 1033));
  Log(errorMgr_, &seen_);  // the language load
  xml::Document document = SecurityFile("<t:lan/>");
  const xml::Node lan = FirstNode(document, "//t:lan");
  for (const char* value : {"value='true'", "value='false'"}) {
    const CSystemService entry =
        Entry("NET_FW_SERVICE_FILE_AND_PRINT", value, "<t:scopeCustom value=\"10.0.0.1,10.0.0.2\"/>");
    entry.SetFeatureToXml(errorMgr_, lan, "Plant O'Viewer", true);
    entry.AddLogEntriesFromFeature(errorMgr_);
  }
  Entry("NET_FW_SERVICE_UPNP", "", "").AddLogEntriesFromFeature(errorMgr_);
  const std::string label = "2|CSystemService::AddLogEntriesFromFeature|";
  EXPECT_EQ(Log(errorMgr_, &seen_), label + "    SystemService 'NET_FW_SERVICE_FILE_AND_PRINT' is acitivated\n" + label +
                                        "    Network access: custom network access to 10.0.0.1,10.0.0.2\n" + label +
                                        "    SystemService 'NET_FW_SERVICE_FILE_AND_PRINT' is not activated\n" + label +
                                        "  SystemService not allowed:  NET_FW_SERVICE_UPNP\n");
  EXPECT_EQ(lan.Xml(),
            "<t:lan><t:systemService name=\"NET_FW_SERVICE_FILE_AND_PRINT\" value=\"else\" firewallProfile=\"all\" "
            "message=\"FP off\"><t:RequestingProgram><t:Program name=\"Plant O'Viewer\"/></t:RequestingProgram>"
            "<t:scopeCustom message=\"listed\" value=\"10.0.0.1,10.0.0.2\"/></t:systemService></t:lan>");
  // What was written reads back: "else" is off.
  CSystemService back;
  back.Read(FirstNode(document, "//t:systemService"));
  EXPECT_FALSE(back.Value());
  EXPECT_EQ(back.CustomAddresses(), "10.0.0.1,10.0.0.2");

  Entry("NET_FW_SERVICE_upnp", "", "<t:scopeAny/>").SetFeatureToXml(errorMgr_, lan, "P", true);
  EXPECT_TRUE(Entry("NET_FW_SERVICE_UPNP", "", "").SetFeatureToXml(errorMgr_, xml::Node(), "P", false).IsNull());
  EXPECT_EQ(Log(errorMgr_, &seen_),
            "5|CSystemService::SetFeatureToXml|Unknown SystemServiceName: NET_FW_SERVICE_upnp\n"
            "2|CSystemService::SetFeatureToXml|  allowed SystemServiceName:  NET_FW_SERVICE_REMOTE_DESKTOP   "
            "NET_FW_SERVICE_UPNP   NET_FW_SERVICE_FILE_AND_PRINT\n"
            "6|CSystemService::SetFeatureToXml|Internal error: Paramenter pRootNode may not be NULL\n");
}

}  // namespace
