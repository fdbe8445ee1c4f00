// The firewall feature applied end to end on both firewall families: the
// older lists of Windows XP, the rules of Vista (no service check there) and
// Windows 7. Programs, ports with their scopes and profiles, the predefined
// services and ping are set, changed and removed; a second run of the same
// file changes nothing; a stopped or disabled firewall service is put back
// as it was found; a profile that cannot be read and a missing program are
// reported as they should be.
#include <map>
#include <string>

#include "cli/FeatureRunFixture.h"
#include "platform/host/HostFirewall.h"

namespace {

constexpr const char* kFirstFile = R"(<t:network><t:lan value="Local Area Connection">
<t:icmp value="true"/>
<t:service name="Plant Runtime" exepath="C:\Plant\\bin\runtime.exe" exists="true" enable="yes" firewallProfile="public"><t:scopeAny/></t:service>
<t:service name="Plant Viewer" exepath="C:\Plant\bin\viewer.exe" exists="true" enable="nomatter" firewallProfile="all"><t:scopeCustom value="192.168.1.0/24"/></t:service>
<t:port name="Plant Alarms" value="50120" tcp="true" udp="true" exists="true" enable="yes" firewallProfile="private"><t:scopeSubnet/></t:port>
<t:port name="Plant Range" value="8080-8090" tcp="true" exists="true" enable="yes" firewallProfile="domain"><t:scopeAny/></t:port>
<t:systemService name="NET_FW_SERVICE_FILE_AND_PRINT" value="true" firewallProfile="all"><t:scopeSubnet/></t:systemService>
<t:systemService name="NET_FW_SERVICE_REMOTE_DESKTOP" value="true" firewallProfile="private"><t:scopeAny/></t:systemService>
</t:lan></t:network>)";

// Ping off, the runtime asked for a custom scope (it keeps "any"), the
// viewer and the port range removed, remote desktop switched off.
constexpr const char* kSecondFile = R"(<t:network><t:lan value="Local Area Connection">
<t:icmp value="false"/>
<t:service name="Plant Runtime" exepath="C:\Plant\bin\runtime.exe" exists="true" enable="yes" firewallProfile="public"><t:scopeCustom value="10.1.1.1"/></t:service>
<t:service name="Plant Viewer" exepath="C:\Plant\bin\viewer.exe" exists="false"><t:scopeAny/></t:service>
<t:port name="Plant Alarms" value="50120" tcp="true" exists="true" enable="yes" firewallProfile="private"><t:scopeSubnet/></t:port>
<t:port name="Plant Range" value="8080" tcp="true" exists="false"><t:scopeAny/></t:port>
<t:systemService name="NET_FW_SERVICE_REMOTE_DESKTOP" firewallProfile="private"><t:scopeAny/></t:systemService>
</t:lan></t:network>)";

// From Vista on: rules grouped under the product, "nomatter" a disabled
// rule, no profile field for "all"; ping as ICMP_RULE; the predefined
// groups switched (file and printer sharing without its LLMNR rules,
// which come with later versions).
constexpr const char* kRulesAfterFirst =
    "Action=Allow|Active=TRUE|Dir=In|Name=Plant Alarms|EmbedCtxt=Plant Viewer|Protocol=6|LPort=50120|RA4=LocalSubnet|"
    "RA6=LocalSubnet|Profile=Private|\n"
    "Action=Allow|Active=TRUE|Dir=In|Name=Plant Range|EmbedCtxt=Plant Viewer|Protocol=6|LPort=8080-8090|"
    "Profile=Domain|\n"
    "Action=Allow|Active=TRUE|Dir=In|App=C:\\Plant\\bin\\runtime.exe|Name=Plant Runtime|EmbedCtxt=Plant Viewer|"
    "Profile=Public|\n"
    "Action=Allow|Active=FALSE|Dir=In|App=C:\\Plant\\bin\\viewer.exe|Name=Plant Viewer|EmbedCtxt=Plant Viewer|"
    "RA4=192.168.1.0/24|\n"
    "Action=Allow|Active=TRUE|Dir=In|Name=ICMP_RULE|Desc=Allow ICMP network traffic|Protocol=1|ICMP4=8:*|"
    "EmbedCtxt=Plant Viewer|\n"
    "File and Printer Sharing: 28 enabled\n"
    "Remote Desktop: 1 enabled\n";
// The runtime keeps "any" although it asks for 10.1.1.1 now.
constexpr const char* kRulesAfterSecond =
    "Action=Allow|Active=TRUE|Dir=In|Name=Plant Alarms|EmbedCtxt=Plant Viewer|Protocol=6|LPort=50120|RA4=LocalSubnet|"
    "RA6=LocalSubnet|Profile=Private|\n"
    "Action=Allow|Active=TRUE|Dir=In|App=C:\\Plant\\bin\\runtime.exe|Name=Plant Runtime|EmbedCtxt=Plant Viewer|"
    "Profile=Public|\n"
    "File and Printer Sharing: 28 enabled\n";

class FirewallApplyTest : public FeatureRunTest {
 protected:
  explicit FirewallApplyTest(std::string_view profile) : FeatureRunTest(profile) {
    for (const char* program : {"C:\\Plant\\bin\\runtime.exe", "C:\\Plant\\bin\\viewer.exe"}) {
      host_.WriteHostFile(program, "MZ");
    }
  }

  // Whether one line of the log holds both parts (a level tag and a message).
  bool LogHasLine(std::string_view tag, std::string_view message) {
    const std::string log = Log();
    for (size_t start = 0, end; start < log.size(); start = end + 1) {
      end = log.find('\n', start);
      if (end == std::string::npos) end = log.size();
      const std::string_view line(log.data() + start, end - start);
      if (line.find(tag) != std::string_view::npos && line.find(message) != std::string_view::npos) return true;
    }
    return false;
  }

  int Apply(std::string_view body, std::vector<std::string> extraGeneral = {}) {
    WriteSingleFileSetup(body, std::move(extraGeneral));
    return Tarvo("ApplyFeatures").exitCode;
  }

  ProgramResult HostTool(std::vector<std::string> args) {
    return RunProgram(BinaryPath("tarvo-host"), std::move(args), {{"TARVO_HOST", host_.Folder()}});
  }

  // The firewall as the host keeps it: before Vista the older lists; from
  // Vista on every rule that is not predefined as its rule string (without
  // the version), and how many predefined rules of each group are enabled.
  std::string FirewallState() {
    host::HostFirewall& firewall = host_.Host().Firewall();
    std::string state;
    if (!firewall.HasRules()) {
      const host::FirewallLegacyState legacy = firewall.LegacyState();
      state = std::string("echo ") + (legacy.inboundEcho ? "on" : "off") + "\n";
      for (const host::FirewallLegacyEntry& e : legacy.entries) {
        state += e.list + " " + e.key + " = " + e.scope + (e.enabled ? " on " : " off ") + e.name + "\n";
      }
      return state;
    }
    std::map<std::string, int> enabledPerGroup;
    for (const host::FirewallRuleRecord& record : firewall.Rules()) {
      if (record.rule.First("Name").starts_with("@")) {
        if (record.rule.First("Active") == "TRUE") ++enabledPerGroup[host::FirewallDisplayText(record.rule.First("EmbedCtxt"))];
        continue;
      }
      const std::string text = record.rule.Text();
      state += text.substr(text.find('|') + 1) + "\n";
    }
    for (const auto& [group, count] : enabledPerGroup) state += group + ": " + std::to_string(count) + " enabled\n";
    return state;
  }
};

struct FamilyCase {
  const char* profile;
  const char* afterFirst;
  const char* afterSecond;
};

class FirewallFamilyTest : public FirewallApplyTest, public ::testing::WithParamInterface<FamilyCase> {
 protected:
  FirewallFamilyTest() : FirewallApplyTest(GetParam().profile) {}
};

TEST_P(FirewallFamilyTest, SetsChangesAndRemovesExceptionsAndASecondRunChangesNothing) {
  ASSERT_EQ(Apply(kFirstFile), 0) << Log();
  EXPECT_EQ(FirewallState(), GetParam().afterFirst) << Log();
  ASSERT_EQ(HostTool({"snapshot", "save", "first"}).exitCode, 0);
  const std::string listed = HostTool({"firewall"}).out;
  ASSERT_EQ(Apply(kFirstFile), 0) << Log();
  // The same firewall (rules set again keep their ids), and nothing else
  // changes but the logs.
  EXPECT_EQ(HostTool({"firewall"}).out, listed);
  const std::string diff = HostTool({"diff", "first"}).out;
  EXPECT_EQ(Count(diff, "\n"), Count(diff, "Tarvo.log")) << diff;

  ASSERT_EQ(Apply(kSecondFile), 0) << Log();
  EXPECT_EQ(FirewallState(), GetParam().afterSecond) << Log();
}

INSTANTIATE_TEST_SUITE_P(
    Families, FirewallFamilyTest,
    ::testing::Values(
        // Before Vista every exception is enabled whatever `enable` says,
        // a port takes its first number, and the profile is the only one.
        FamilyCase{"winxp-sp3-x86",
                   "echo on\n"
                   "application C:\\Plant\\bin\\runtime.exe = * on Plant Runtime\n"
                   "application C:\\Plant\\bin\\viewer.exe = 192.168.1.0/24 on Plant Viewer\n"
                   "port 50120:TCP = LocalSubnet on Plant Alarms\n"
                   "port 8080:TCP = * on Plant Range\n"
                   "service FileAndPrint = LocalSubnet on \n"
                   "service RemoteDesktop = * on \n",
                   "echo off\n"
                   "application C:\\Plant\\bin\\runtime.exe = * on Plant Runtime\n"
                   "port 50120:TCP = LocalSubnet on Plant Alarms\n"
                   "service FileAndPrint = LocalSubnet on \n"
                   "service RemoteDesktop = * off \n"},
        FamilyCase{"vista-sp2-x86", kRulesAfterFirst, kRulesAfterSecond},
        FamilyCase{"win7-sp1-x64", kRulesAfterFirst, kRulesAfterSecond}),
    [](const auto& info) {
      std::string name = info.param.profile;
      std::erase(name, '-');
      return name;
    });

// A program whose file is missing gets no exception: an error in a setup's
// run, a warning when the setup GUI called.
class FirewallWin7Test : public FirewallApplyTest {
 protected:
  FirewallWin7Test() : FirewallApplyTest("win7-sp1-x64") {}
};

TEST_F(FirewallWin7Test, AMissingProgramIsAnErrorUnlessTheSetupGuiCalled) {
  const std::string body = R"(<t:network><t:lan value="Local Area Connection">
<t:service name="Gone" exepath="C:\Plant\bin\gone.exe" exists="true"><t:scopeAny/></t:service></t:lan></t:network>)";
  EXPECT_NE(Apply(body), 0);
  EXPECT_TRUE(LogHasLine("|ADS_ERROR  |", "    Application not found at: C:\\Plant\\bin\\gone.exe")) << Log();
  EXPECT_TRUE(LogHasLine("|           |", "    no firewall settings were made for: Gone")) << Log();
  host_.WriteHostFile(std::string(kRepository) + "TarvoTool_X86.ini", "[GENERAL]\r\nSessionID=88  Tarvo GUI\r\n");
  EXPECT_EQ(Apply(body), 0);
  EXPECT_TRUE(LogHasLine("|ADS_WARNING|", "    Application not found at: C:\\Plant\\bin\\gone.exe")) << Log();
  EXPECT_EQ(HostTool({"firewall"}).out.find("Gone"), std::string::npos);
}

// A stopped and disabled firewall service is started for the work and put
// back as it was; on Vista no service is checked, so a stopped firewall
// refuses the work.
struct StoppedServiceCase {
  const char* profile;
  const char* service;
  int exitCode;
  const char* logged;
};

class FirewallStoppedServiceTest : public FirewallApplyTest, public ::testing::WithParamInterface<StoppedServiceCase> {
 protected:
  FirewallStoppedServiceTest() : FirewallApplyTest(GetParam().profile) {}
};

TEST_P(FirewallStoppedServiceTest, TheServiceIsPutBackAsItWasFound) {
  const StoppedServiceCase& c = GetParam();
  ASSERT_EQ(HostTool({"services", "set", c.service, "--start", "disabled", "--state", "stopped"}).exitCode, 0);
  const std::string before = HostTool({"services", c.service}).out;
  EXPECT_EQ(Apply(R"(<t:network><t:lan value="Local Area Connection"><t:icmp value="true"/></t:lan></t:network>)") != 0,
            c.exitCode != 0);
  EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
  EXPECT_EQ(HostTool({"services", c.service}).out, before);
  if (c.exitCode == 0) {
    EXPECT_TRUE(FirewallState().starts_with("echo on") || FirewallState().find("ICMP_RULE") != std::string::npos)
        << FirewallState();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Families, FirewallStoppedServiceTest,
    ::testing::Values(StoppedServiceCase{"winxp-sp3-x86", "SharedAccess", 0, "    Set Startup Type: Disabled"},
                      StoppedServiceCase{"win7-sp1-x64", "MpsSvc", 0, "    Set Startup Type: Disabled"},
                      StoppedServiceCase{"vista-sp2-x86", "MpsSvc", 1,
                                         "|ADS_ERROR  |CFirewall::SetPortsToFirewall2         |get_Rules failed: "
                                         "0x800706d9"}),
    [](const auto& info) {
      std::string name = info.param.profile;
      std::erase(name, '-');
      return name;
    });

// Before Vista the current profile may not answer: ten tries, two
// warnings, for the values before, the change and the values after; the
// first step that needs the profile reports the error, and nothing is set.
class FirewallXpTest : public FirewallApplyTest {
 protected:
  FirewallXpTest() : FirewallApplyTest("winxp-sp3-x86") {}
};

TEST_F(FirewallXpTest, AProfileThatCannotBeReadEndsTheWorkAfterTenTries) {
  ASSERT_EQ(HostTool({"firewall", "set", "profile-failures", "always"}).exitCode, 0);
  EXPECT_NE(Apply(kFirstFile), 0);
  EXPECT_EQ(Count(Log(), "    Retrying because  get_CurrentProfile failed (0x80004005)"), 30u) << Log();
  EXPECT_EQ(Count(Log(), "|ADS_WARNING|CFirewall::GetFirewallProfile          |Getting the firewall profile failed"),
            3u);
  EXPECT_TRUE(LogHasLine("|ADS_ERROR  |", "fwProfile may not be NULL")) << Log();
  EXPECT_EQ(FirewallState(), "echo off\n");
}

}  // namespace
