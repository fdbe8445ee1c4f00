// Bringing snapshot files in line with the firewall's rules, in process: a
// rule belongs to the files of the product its grouping names exactly; a
// registered file that does not load, or that lies outside the snapshot
// folder, is left as it is.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/Tarvo.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kFolder = "C:\\Windows\\Security\\Kelmar\\2014_11_10__11_01_37";

std::shared_ptr<plat::IFwRule> Rule(const std::string& name, const std::string& grouping, bool enabled,
                                    const std::string& remoteAddresses) {
  std::shared_ptr<plat::IFwRule> rule;
  EXPECT_EQ(plat::Current().Firewall().CreateRule(&rule), 0u);
  rule->PutName(name);
  rule->PutProtocol(plat::kFwIpProtocolTcp);
  rule->PutLocalPorts("6000");
  rule->PutGrouping(grouping);
  rule->PutEnabled(enabled);
  rule->PutRemoteAddresses(remoteAddresses);
  return rule;
}

class FirewallSnapshotRulesTest : public ::testing::Test {
 protected:
  FirewallSnapshotRulesTest() {
    host_.Platform().Files().MakeDirectory("C:\\Windows\\Security\\Kelmar");
    host_.Platform().Files().MakeDirectory(kFolder);
  }

  // A snapshot file of `product` with the port "P1", registered in the
  // snapshot folder's firewall repository.
  std::string AddSnapshotFile(const std::string& path, const std::string& product) {
    xml::Document document = xml::Document::Create();
    EXPECT_TRUE(document.LoadXml(std::string("<t:vscSetup xmlns:t=\"") + secfile::kSecurityFileNamespace +
                                 "\"><t:host name=\"\"><t:products><t:product value=\"" + product +
                                 "\"/></t:products><t:body><t:network><t:lan><t:port name=\"P1\" value=\"6000\" "
                                 "enable=\"yes\"><t:scopeAny/></t:port></t:lan></t:network></t:body></t:host>"
                                 "</t:vscSetup>"));
    CErrorMgr errors;
    EXPECT_TRUE(CRepositoryMgr::SaveXMLWithHash(errors, document, path));
    Register(path);
    return host_.ReadHostFile(path);
  }
  void Register(const std::string& path) {
    CErrorMgr errors;
    const xml::Document repository = CRepositoryMgr::OpenOnlyFirewallRepository(errors, kFolder);
    xml::Node products = GetOrCreateChildElement(repository.DocumentElement(), "t:products");
    xml::Node product = GetOrCreateChildElement(products, "t:product");
    xml::Node file = product.AppendChild(repository.CreateElement("t:securityfile"));
    SetXmlAttribute(file, "secfilename", path);
    ASSERT_TRUE(CRepositoryMgr::SaveRepositoryOnlyFirewall(errors, repository, kFolder));
  }
  static xml::Document Load(const std::string& path) {
    xml::Document document;
    EXPECT_EQ(LoadXmlFile(path, &document), kLoadXmlOk) << path;
    return document;
  }
  static std::string Port(const std::string& path) { return Load(path).SelectSingleNode("//t:port").Xml(); }

  TestHost host_;
  CTarvo tarvo_;
  CErrorMgr errors_;
};

TEST_F(FirewallSnapshotRulesTest, ARuleChangesOnlyTheFilesOfTheProductItsGroupingNames) {
  const std::string plant = std::string(kFolder) + "\\Plant_Firewall.xml";
  const std::string viewer = std::string(kFolder) + "\\Plant Viewer_Firewall.xml";
  AddSnapshotFile(plant, "Plant");
  AddSnapshotFile(viewer, "Plant Viewer");
  // "Plant" occurs in the viewer's path, "2014" in every path of the folder.
  tarvo_.FWRulesInCollection(errors_,
                             {Rule("P1", "2014", false, "10.9.9.9"), Rule("P1", "Plant", false, "10.0.0.1,10.0.0.2"),
                              Rule("P1", "Other", true, "LocalSubnet")},
                             kFolder);
  EXPECT_EQ(Port(plant),
            "<t:port name=\"P1\" value=\"6000\" enable=\"no\"><t:scopeCustom value=\"10.0.0.1,10.0.0.2\"/></t:port>");
  EXPECT_EQ(Port(viewer), "<t:port name=\"P1\" value=\"6000\" enable=\"yes\"><t:scopeAny/></t:port>");
  CErrorMgr verify;
  EXPECT_TRUE(CRepositoryMgr::CheckCheckSum(verify, Load(plant), plant, false));
}

TEST_F(FirewallSnapshotRulesTest, FilesThatDoNotLoadOrLieElsewhereAreLeftAlone) {
  const std::string broken = std::string(kFolder) + "\\Broken_Firewall.xml";
  host_.WriteHostFile(broken, "<t:vscSetup");
  Register(broken);
  host_.Platform().Files().MakeDirectory("C:\\other");
  const std::string outside = AddSnapshotFile("C:\\other\\Plant_Firewall.xml", "Plant");
  tarvo_.FWRulesInCollection(errors_, {Rule("P1", "Plant", false, "*")}, kFolder);
  EXPECT_EQ(host_.ReadHostFile(broken), "<t:vscSetup");
  EXPECT_EQ(host_.ReadHostFile("C:\\other\\Plant_Firewall.xml"), outside);
  EXPECT_EQ(errors_.GetHighestLevel(), kLevelWarning);
}

}  // namespace
