// The shipped example applied end to end on English and German hosts: both
// installation moments, what tarvo-host shows afterwards (groups, ACLs,
// registry, DCOM, firewall), and a second run that leaves the machine as the first
// one left it.
#include <string>

#include "cli/FeatureRunFixture.h"
#include "infra/BuildInfo.h"

namespace {

class ExampleApplyTest : public FeatureRunTest, public ::testing::WithParamInterface<const char*> {
 protected:
  ExampleApplyTest() : FeatureRunTest("win7-sp1-x64", "present", GetParam()) {
    // The folders the example's permissions name, as the products' setups make them.
    for (const char* folder : {"C:\\Program Files\\Control Station\\Projects\\Plant\\Area",
                               "C:\\ProgramData\\Control Station\\Logs", "C:\\ProgramData\\Data Server\\Archive"}) {
      host_.WriteHostFile(std::string(folder) + "\\readme.txt", "x");
    }
    // The program the example lets through the firewall.
    host_.WriteHostFile("C:\\Program Files\\Control Station\\bin\\CSRuntime.exe", "MZ");
  }

  void WriteExampleOpFile(int moment) {
    const auto example = [this](const char* name) {
      return host_.WindowsPathOf(std::string(TARVO_SOURCE_DIR) + "/examples/" + name);
    };
    WriteOpFile(General({"InstallationMoment=" + std::to_string(moment)}),
                {{"Product1",
                  {"UpgradeCode={A}", "InstallDir=C:\\Program Files\\Control Station",
                   "SecurityXML1=" + example("ControlStation.xml")}},
                 {"Product2",
                  {"UpgradeCode={B}", "InstallDir=C:\\Program Files\\Data Server",
                   "SecurityXML1=" + example("DataServer.xml")}}});
  }
  void ApplyBothMoments() {
    for (int moment : {0, 1}) {
      WriteExampleOpFile(moment);
      ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0) << moment;
    }
  }
  ProgramResult HostTool(std::vector<std::string> args) {
    return RunProgram(BinaryPath("tarvo-host"), std::move(args), {{"TARVO_HOST", host_.Folder()}});
  }
};

INSTANTIATE_TEST_SUITE_P(Languages, ExampleApplyTest, ::testing::Values("en-US", "de-DE"));

TEST_P(ExampleApplyTest, AppliesItsGroupsOnceAndASecondRunChangesNothing) {
  const bool german = std::string(GetParam()) == "de-DE";
  ApplyBothMoments();
  const std::string groups = HostTool({"groups"}).out;
  for (const std::string& expected : {
           std::string("CS Operators  ("), std::string("  Operators of the Control Station\n"),
           std::string("DS Archive Writers  ("),
           std::string("  members: ") + (german ? "NT-AUTORITÄT\\NETZWERKDIENST" : "NT AUTHORITY\\NETWORK SERVICE"),
           std::string("  members: WIN7-SP1-X64\\tester\n"),
       }) {
    EXPECT_NE(groups.find(expected), std::string::npos) << expected << "\n" << groups;
  }
  EXPECT_EQ(groups.find("DS Legacy Gateway"), std::string::npos);
  // The Projects folder: the example's three entries before what it inherits.
  const std::string projects = HostTool({"acl", "C:\\Program Files\\Control Station\\Projects"}).out;
  EXPECT_NE(projects.find("(D;CI;DTSD;;;BU)"), std::string::npos) << projects;
  EXPECT_NE(projects.find("(A;OICI;FA;;;S-1-5-21-"), std::string::npos) << projects;

  // The Data Server's key in the 32-bit view, with its values and rights
  // (its feature asks for the 64-bit flavour of the program).
  if (std::string_view(kBuildPlatform) == "X64") {
    const std::string values = HostTool({"reg", "query", "HKLM\\SOFTWARE\\Data Server\\Archive", "/reg:32"}).out;
    EXPECT_NE(values.find("RetentionDays    REG_DWORD    0x16d"), std::string::npos) << values;
    const std::string keyAcl = HostTool({"acl", "--reg", "HKLM\\SOFTWARE\\Data Server\\Archive", "/reg:32"}).out;
    EXPECT_NE(keyAcl.find("(A;CI;KR;;;S-1-5-21-"), std::string::npos) << keyAcl;
  }
  // DCOM: the operators within the machine-wide limits, the default launch
  // permission back to the system default, the runtime server's AppID.
  const std::string dcom = HostTool({"dcom"}).out;
  for (const std::string& expected : {
           std::string("DefaultLaunchPermission\n  (not set: system default)\n"),
           std::string("  allow  WIN7-SP1-X64\\CS Operators  LocalLaunch, RemoteLaunch, LocalActivation, "
                       "RemoteActivation\nMachineAccessRestriction\n"),
           std::string("  allow  WIN7-SP1-X64\\CS Operators  LocalAccess, RemoteAccess\n"),
       }) {
    EXPECT_NE(dcom.find(expected), std::string::npos) << expected << "\n" << dcom;
  }
  const std::string appId = HostTool({"dcom", "appid", "{6C1D2E4A-93B7-4F0E-8A51-2D7C9B3E5F10}"}).out;
  EXPECT_NE(appId.find(std::string("    deny   ") + (german ? "VORDEFINIERT\\Gäste" : "BUILTIN\\Guests") +
                       "  LocalLaunch, RemoteLaunch\n"),
            std::string::npos)
      << appId;
  EXPECT_NE(appId.find("  AuthenticationLevel = REG_DWORD 2\n"), std::string::npos) << appId;
  // The firewall: the runtime, the alarm channel and the archive port as
  // rules of their products, ping, file and printer sharing switched on.
  const std::string firewall = HostTool({"firewall"}).out;
  for (const std::string& expected : {
           std::string("Rule Name:                            Control Station Runtime\n"),
           std::string("RemoteIP:                             LocalSubnet,10.20.0.0/255.255.0.0\n"),
           std::string("Grouping:                             Data Server\n"),
           std::string("Rule Name:                            ICMP_RULE\n"),
           std::string("Rule Name:                            File and Printer Sharing (SMB-In)\n"
                       "----------------------------------------------------------------------\n"
                       "Enabled:                              Yes\n"),
       }) {
    EXPECT_NE(firewall.find(expected), std::string::npos) << expected << "\n" << firewall;
  }
  ASSERT_EQ(HostTool({"snapshot", "save", "first"}).exitCode, 0);
  ApplyBothMoments();
  // Only the program's own log in the repository grows; rules set again
  // keep their ids.
  EXPECT_EQ(HostTool({"firewall"}).out, firewall);
  const std::string diff = HostTool({"diff", "first"}).out;
  EXPECT_EQ(diff.find("group"), std::string::npos) << diff;
  EXPECT_EQ(Count(diff, "\n"), Count(diff, "Tarvo.log")) << diff;
  EXPECT_NE(Log().find("already exists - so it couldn't been created"), std::string::npos);
  // The history keeps one entry per path, however often a path was applied.
  const std::string history = DocumentText(std::string(kRepository) + "History.xml");
  EXPECT_EQ(Count(history, "<t:fileSystemPath "), 3u) << history;
}

}  // namespace
