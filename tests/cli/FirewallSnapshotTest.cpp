// Firewall snapshots end to end: products stored in the repository by an
// ApplyFeatures run, then exports under good, taken and malformed names,
// imports of missing and hostile names, the snapshot's files, a changed
// firewall put back by an import, and the runs that take no snapshot.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/FeatureRunFixture.h"

namespace {

// The results -1 (not a snapshot name) and -2 (name taken) as exit statuses.
constexpr int kWrongName = 255;
constexpr int kNameTaken = 254;
constexpr const char* kSnapshot = "2014_11_10__11_01_37";
constexpr const char* kSnapshotFolder = "C:\\Windows\\Security\\Kelmar\\2014_11_10__11_01_37\\";

std::string Lan(const std::string& entries) {
  return "<t:network><t:lan value=\"Local Area Connection\">" + entries + "</t:lan></t:network>";
}
std::string Port(const std::string& name, const std::string& port) {
  return "<t:port name=\"" + name + "\" value=\"" + port +
         "\" tcp=\"true\" exists=\"true\" enable=\"yes\" firewallProfile=\"all\"><t:scopeAny/></t:port>";
}
std::string Program(const std::string& name, const std::string& exe) {
  return "<t:service name=\"" + name + "\" exepath=\"" + exe +
         "\" exists=\"true\" enable=\"yes\" firewallProfile=\"all\"><t:scopeSubnet/></t:service>";
}

class FirewallSnapshotTest : public FeatureRunTest {
 protected:
  FirewallSnapshotTest() { host_.WriteHostFile("C:\\Plant\\runtime.exe", "MZ"); }

  // Five products in the repository: two named "Plant", one "Plant Viewer",
  // one whose name holds path characters, and one without firewall
  // features. "Shared" is declared by the viewer and then by a "Plant", so
  // its one rule is grouped under "Plant".
  void StoreProducts() {
    WriteSecurityFile("C:\\sec\\viewer.xml", Lan(Port("Viewer Port", "5000") + Port("Shared", "5100")), "Plant Viewer");
    WriteSecurityFile("C:\\sec\\plant.xml", Lan(Port("Plant Port", "6000") + Port("Shared", "5100")), "Plant");
    WriteSecurityFile("C:\\sec\\plant2.xml", Lan(Program("Plant Runtime", "C:\\Plant\\runtime.exe")), "Plant");
    WriteSecurityFile("C:\\sec\\gauge.xml", Lan("<t:icmp value=\"true\"/>"), "..\\Gauge:1");
    WriteSecurityFile("C:\\sec\\meter.xml", Wua("pause"), "Meter");
    WriteOpFile(General(), {{"Product1", Product("{A}", {"C:\\sec\\viewer.xml"})},
                            {"Product2", Product("{B}", {"C:\\sec\\plant.xml"})},
                            {"Product3", Product("{C}", {"C:\\sec\\plant2.xml"})},
                            {"Product4", Product("{D}", {"C:\\sec\\gauge.xml"})},
                            {"Product5", Product("{E}", {"C:\\sec\\meter.xml"})}});
    ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0) << Log();
  }

  ProgramResult Run(const std::string& program, std::vector<std::string> args) {
    return RunProgram(BinaryPath(program), std::move(args), {{"TARVO_HOST", host_.Folder()}});
  }
  int Export(const std::string& name) { return Run("tarvo", {"ExportFirewallFeatures", name}).exitCode; }
  int Import(const std::string& name) { return Run("tarvo", {"ImportAndApplyFirewallFeatures", name}).exitCode; }
  std::string Firewall() { return Run("tarvo-host", {"firewall"}).out; }

  // The names in a folder of the host, sorted.
  std::vector<std::string> Listing(const std::string& windowsFolder) {
    std::vector<std::string> names;
    if (!Exists(windowsFolder)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(host_.HostPath(windowsFolder))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> SnapshotFolders() {
    std::vector<std::string> names;
    for (const std::string& name : Listing(kRepository)) {
      if (name.size() == 20 && name[4] == '_' && name[10] == '_') names.push_back(name);
    }
    return names;
  }
  std::string SnapshotText(const std::string& file) { return FileText(host_.ReadHostFile(kSnapshotFolder + file)); }
};

TEST_F(FirewallSnapshotTest, ExportWritesOneFilePerProductWithFirewallFeaturesAndRefusesBadOrTakenNames) {
  StoreProducts();
  ASSERT_EQ(Export(kSnapshot), 0) << Log();
  EXPECT_EQ(Listing(kSnapshotFolder),
            (std::vector<std::string>{".._Gauge_1_Firewall.xml", "ExportedFeaturesOnlyFirewall.ini",
                                      "Plant Viewer_Firewall.xml", "Plant_Firewall.xml", "Plant_Firewall_0.xml",
                                      "TarvoRepositoryFirewall.xml"}));
  // The snapshot's OPFile lists the four files, and no product without firewall features.
  const std::string ini = SnapshotText("ExportedFeaturesOnlyFirewall.ini");
  EXPECT_EQ(Count(ini, "SecurityXML1="), 4u) << ini;
  EXPECT_EQ(Count(ini, "_Firewall"), 4u) << ini;
  EXPECT_NE(ini.find("SessionID=88  Tarvo GUI OnlyFirewall"), std::string::npos) << ini;
  EXPECT_NE(ini.find("InstallationMoment=1"), std::string::npos) << ini;
  // Each file is a signed security file of its product.
  const std::string viewer = SnapshotText("Plant Viewer_Firewall.xml");
  EXPECT_NE(viewer.find("<t:product value=\"Plant Viewer\""), std::string::npos) << viewer;
  EXPECT_NE(viewer.find("xsi:schemaLocation=\"" + secfile::WrittenSchemaLocation() + "\""), std::string::npos);
  EXPECT_EQ(Run("tarvo-host", {"sign", "--verify", host_.HostPath(std::string(kSnapshotFolder) + "Plant_Firewall.xml")})
                .exitCode,
            0);

  struct Case {
    const char* name;
    int exitCode;
  };
  for (const Case& c : {Case{kSnapshot, kNameTaken}, Case{"2014_11_10__11_01_37 ", kWrongName},
                        Case{"2014_13_10__11_01_37", kWrongName}, Case{"2014_11_10__11_01_3", kWrongName},
                        Case{"x2014_11_10__11_01_37", kWrongName}}) {
    EXPECT_EQ(Export(c.name), c.exitCode) << c.name;
  }
  EXPECT_EQ(SnapshotFolders(), std::vector<std::string>{kSnapshot});
}

TEST_F(FirewallSnapshotTest, ImportPutsBackTheFirewallAsItWasAtTheExport) {
  StoreProducts();
  ASSERT_EQ(Run("tarvo-host", {"firewall", "disable", "Shared"}).exitCode, 0);
  const std::string atExport = Firewall();
  ASSERT_EQ(Export(kSnapshot), 0) << Log();
  // The snapshot holds the rules as they are: "Shared" is off for "Plant",
  // whose rule it is, and stays as declared for "Plant Viewer".
  EXPECT_EQ(Count(SnapshotText("Plant_Firewall.xml"), "enable=\"no\""), 1u) << SnapshotText("Plant_Firewall.xml");
  EXPECT_EQ(Count(SnapshotText("Plant Viewer_Firewall.xml"), "enable=\"no\""), 0u);

  ASSERT_EQ(Run("tarvo-host", {"firewall", "enable", "Shared"}).exitCode, 0);
  ASSERT_EQ(Run("tarvo-host", {"firewall", "delete", "Plant Runtime"}).exitCode, 0);
  ASSERT_EQ(Run("tarvo-host", {"firewall", "delete", "Viewer Port"}).exitCode, 0);
  ASSERT_NE(Firewall(), atExport);
  EXPECT_EQ(Import(kSnapshot), 0) << Log();
  EXPECT_EQ(Firewall(), atExport);
  // The snapshot files are valid security files.
  const std::string log = host_.ReadHostFile(std::string(kRepository) + "Tarvo.log");
  EXPECT_NE(log.find("ImportAndApplyFirewallFeatures"), std::string::npos);
  EXPECT_EQ(log.find("Incorrect security file"), std::string::npos) << log;
}

TEST_F(FirewallSnapshotTest, ImportChecksTheNameBeforeItOpensAnything) {
  // The name would lead from the repository to C:\setup.
  const std::string planted = Utf16FileBytes("[GENERAL]\r\nResourcePath=C:\\x\r\n[RESULTS]\r\nold=1\r\n");
  host_.WriteHostFile("C:\\setup\\ExportedFeaturesOnlyFirewall.ini", planted);
  const ProgramResult r = Run("tarvo", {"ImportAndApplyFirewallFeatures", "..\\..\\..\\setup"});
  EXPECT_EQ(r.exitCode, kWrongName);
  EXPECT_EQ(host_.ReadHostFile("C:\\setup\\ExportedFeaturesOnlyFirewall.ini"), planted);
  EXPECT_FALSE(Exists("C:\\setup\\Tarvo.log"));
  // A snapshot name without its folder: the OPFile is missing.
  EXPECT_EQ(Import(kSnapshot), 1);
}

TEST_F(FirewallSnapshotTest, ExportWithoutRepositoryStillChecksTheNameAndSavesNothing) {
  EXPECT_EQ(Export("2014_11_10__11_01_37 "), kWrongName);
  host_.Platform().Files().MakeDirectory(kRepository);
  host_.Platform().Files().MakeDirectory(kSnapshotFolder);
  EXPECT_EQ(Export(kSnapshot), kNameTaken);
  EXPECT_NE(Export("2015_01_01__00_00_00"), 0);
  const std::string ini = FileText(host_.ReadHostFile(std::string(kRepository) + "ExportFeatures.ini"));
  EXPECT_NE(ini.find("SetupLanguage=1033"), std::string::npos) << ini;
  const std::string log = host_.ReadHostFile(std::string(kRepository) + "Tarvo.log");
  EXPECT_NE(log.find("No Export will be done because no firewall settings are defined"), std::string::npos);
  EXPECT_EQ(SnapshotFolders(), std::vector<std::string>{kSnapshot});
}

TEST_F(FirewallSnapshotTest, AnExportWhoseSnapshotCannotBeSavedDoesNotReportSuccess) {
  StoreProducts();
  // A file where the snapshot folder would go.
  host_.WriteHostFile(std::string(kRepository) + kSnapshot, "");
  EXPECT_EQ(Export(kSnapshot), 10);
  const std::string log = host_.ReadHostFile(std::string(kRepository) + "Tarvo.log");
  EXPECT_NE(log.find("Error trying to create the Firewall Snapshot folder"), std::string::npos) << log;
}

TEST_F(FirewallSnapshotTest, ReturnFeaturesTakesASnapshotUnlessTheSetupGuiOrTheOpFileSaysNo) {
  struct Case {
    std::vector<std::string> general;
    size_t snapshots;
  };
  const Case cases[] = {
      {{"SessionID=88  Tarvo GUI"}, 0},
      {{"SessionID=88  Tarvo GUI OnlyFirewall"}, 0},
      {{"SaveCurrentFirewall=OFF"}, 0},
      // Only "OFF" turns it off; a fresh machine gets its repository folder first.
      {{"SaveCurrentFirewall=off"}, 1},
  };
  WriteSecurityFile("C:\\sec\\a.xml", Lan(Port("Plant Port", "6000")), "Plant");
  for (const Case& c : cases) {
    std::vector<std::string> general = General();
    general.insert(general.end(), c.general.begin(), c.general.end());
    general.erase(std::find(general.begin(), general.end(), "SessionID=Session 1"));
    if (c.general[0].rfind("SessionID", 0) != 0) general.push_back("SessionID=Session 1");
    WriteOpFile(general, {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
    EXPECT_EQ(Tarvo("ReturnFeatures").exitCode, 0) << Log();
    EXPECT_EQ(SnapshotFolders().size(), c.snapshots) << c.general[0];
  }
  const std::string folder = std::string(kRepository) + SnapshotFolders().at(0) + "\\";
  EXPECT_EQ(Listing(folder), (std::vector<std::string>{"Plant_Firewall.xml", "TarvoRepositoryFirewall.xml"}));
}

}  // namespace
