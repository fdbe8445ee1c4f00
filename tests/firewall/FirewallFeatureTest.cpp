// The firewall feature in-process: what it reads, the security-file form a
// snapshot keeps, writing twice under one parent, an error recorded before
// it wrote, and the undo and uninstall views of its applications.
#include <gtest/gtest.h>

#include <string>

#include "features/FeatureFixture.h"
#include "firewall/Firewall.h"
#include "infra/ErrorMgr.h"
#include "securityfiles/SecurityFileFormat.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kLan = R"(<t:network><t:lan value="x">
<t:icmp value="TRUE"/>
<t:systemService name="NET_FW_SERVICE_UPNP" value="true" firewallProfile="all"><t:scopeAny/></t:systemService>
<t:port name="Alarms" value="50120" tcp="true" exists="true" enable="yes" firewallProfile="private"><t:scopeSubnet/></t:port>
<t:service name="Runtime" exepath="C:\run.exe" exists="true" enable="yes" firewallProfile="all"><t:scopeAny/></t:service>
<t:service name="Viewer" exepath="C:\view.exe" exists="true" enable="yes" firewallProfile="all"><t:scopeAny/></t:service>
</t:lan></t:network>)";

class FirewallFeatureTest : public ::testing::Test {
 protected:
  std::unique_ptr<CFirewall> Read(const std::string& lan, const char* product = "Plant Viewer") {
    const xml::Document file = feature_test::SecurityFile(lan, product);
    auto feature = std::make_unique<CFirewall>();
    EXPECT_TRUE(feature->GetFeatureFromXml(errorMgr_, feature_test::FirstNode(file, "//t:lan"), "S"));
    return feature;
  }

  TestHost host_;
  CErrorMgr errorMgr_;
};

TEST_F(FirewallFeatureTest, TheSecurityFileFormAndWritingTwiceUnderOneParent) {
  const std::unique_ptr<CFirewall> feature = Read(kLan);
  // "TRUE" is not "true": ping is left alone.
  EXPECT_EQ(feature->IcmpState(), CFirewall::kIcmpNotRequested);
  xml::Document snapshot = xml::Document::Create();
  ASSERT_TRUE(snapshot.LoadXml(std::string("<t:vscSetup xmlns:t=\"") + secfile::kSecurityFileNamespace + "\"/>"));
  // An error recorded before does not keep the entries out.
  errorMgr_.SetError(true);
  feature->SetFeatureToSecurityXml(errorMgr_, snapshot);
  // Written twice, nothing is doubled.
  feature->SetFeatureToSecurityXml(errorMgr_, snapshot);
  EXPECT_EQ(
      snapshot.SelectSingleNode("/t:vscSetup").Xml(),
      std::string("<t:vscSetup xmlns:t=\"") + secfile::kSecurityFileNamespace +
          "\"><t:host name=\"\"><t:products><t:product value=\"Plant Viewer\"/><t:checksum value=\"\"/>"
          "</t:products><t:body><t:network><t:lan value=\"Local Area Connection\">"
          "<t:systemService name=\"NET_FW_SERVICE_UPNP\" value=\"true\" firewallProfile=\"all\"><t:scopeAny/>"
          "</t:systemService><t:port tcp=\"true\" name=\"Alarms\" value=\"50120\" exists=\"true\" "
          "enable=\"yes\" firewallProfile=\"private\"><t:scopeSubnet/></t:port>"
          "<t:service name=\"Runtime\" exepath=\"C:\\run.exe\" enable=\"yes\" firewallProfile=\"all\" exists=\"true\">"
          "<t:scopeAny/></t:service><t:service name=\"Viewer\" exepath=\"C:\\view.exe\" enable=\"yes\" "
          "firewallProfile=\"all\" exists=\"true\"><t:scopeAny/></t:service></t:lan></t:network></t:body></t:host>"
          "</t:vscSetup>");
}

TEST_F(FirewallFeatureTest, UndoRemovesOnlyApplicationsAndOthersKeepTheirOwn) {
  std::unique_ptr<CFirewall> feature = Read(kLan);
  const std::unique_ptr<CFeature> undo = feature->GetOriginalFeatureFromHistory(errorMgr_, true);
  const auto& removal = static_cast<CFirewall&>(*undo);
  ASSERT_EQ(removal.Applications().size(), 2u);
  EXPECT_EQ(removal.Applications()[0]->Exists(), 0);
  EXPECT_TRUE(removal.Ports().empty() && removal.SystemServices().empty());

  // Another product still needs the viewer; only the runtime can go.
  const std::unique_ptr<CFirewall> other = Read(
      R"(<t:network><t:lan><t:service name="V" exepath="C:\view.exe" exists="true"><t:scopeAny/></t:service></t:lan></t:network>)",
      "Plant Server");
  EXPECT_TRUE(feature->IsUninstallable(errorMgr_, {feature.get(), other.get()}));
  ASSERT_EQ(feature->Applications().size(), 1u);
  EXPECT_EQ(feature->Applications()[0]->ExePath(), "C:\\run.exe");
  EXPECT_TRUE(feature->Ports().empty() && feature->SystemServices().empty());
}

}  // namespace
