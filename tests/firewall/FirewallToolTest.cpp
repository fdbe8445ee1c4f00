// The scope of firewall entries: which scope element wins, the addresses
// read from whichever element carries them, writing the element back with
// its language text, and the refused unknown scope.
#include <gtest/gtest.h>

#include <string>

#include "features/FeatureFixture.h"
#include "firewall/FirewallTool.h"
#include "infra/ErrorMgr.h"
#include "resources/ResourceMgr.h"
#include "support/TestHost.h"

namespace {

using feature_test::FirstNode;
using feature_test::SecurityFile;

constexpr const char* kPortPath = "/t:vscSetup/t:host/t:body/t:port";

TEST(FirewallToolTest, TheFirstScopeElementGivesTheTypeAndAnyElementTheAddresses) {
  struct Case {
    const char* children;
    int type;
    const char* addresses;
  };
  const Case cases[] = {
      {"", -1, ""},
      {"<t:scopeAny/>", 0, ""},
      {"<t:scopeSubnet value='10.0.0.0/8'/>", 1, "10.0.0.0/8"},
      {"<t:scopeCustom/>", 2, ""},
      {"<t:scopeCustom value='10.1.1.1,LocalSubnet'/>", 2, "10.1.1.1,LocalSubnet"},
      {"<t:scopeCustom value='10.1.1.1'/><t:scopeAny/>", 0, ""},
      {"<t:scopeCustom value='10.1.1.1'/><t:scopeSubnet value='*'/>", 1, "*"},
      {"<t:other value='x'/>", -1, ""},
  };
  for (const Case& c : cases) {
    const xml::Document file = SecurityFile(std::string("<t:port>") + c.children + "</t:port>");
    int type = 99;
    std::string addresses = "stale";
    CFirewallTool::GetScopeTypeFromXml(FirstNode(file, kPortPath), &type, &addresses);
    EXPECT_EQ(type, c.type) << c.children;
    EXPECT_EQ(addresses, c.addresses) << c.children;
  }
  int type = 99;
  std::string addresses = "stale";
  CFirewallTool::GetScopeTypeFromXml(xml::Node(), &type, &addresses);
  EXPECT_EQ(type, -1);
  EXPECT_EQ(addresses, "");
}

TEST(FirewallToolTest, WritingAScopeKeepsItsAddressesOnItsOwnElement) {
  TestHost h;
  CErrorMgr errorMgr;
  struct Case {
    int type;
    const char* addresses;
    bool withMessage;
    const char* written;
  };
  // Without a language file the message is the marker text of a missing language.
  const Case cases[] = {
      {0, "", false, "<t:scopeAny/>"},
      {1, "10.0.0.0/8", false, "<t:scopeSubnet value=\"10.0.0.0/8\"/>"},
      {2, "10.1.1.1,10.2.0.0/16", false, "<t:scopeCustom value=\"10.1.1.1,10.2.0.0/16\"/>"},
      {2, "", true, "<t:scopeCustom message=\"###_NO_LANGUAGE_LOADED_###\"/>"},
  };
  for (const Case& c : cases) {
    xml::Document file = SecurityFile("<t:port/>");
    const xml::Node port = FirstNode(file, kPortPath);
    CFirewallTool::SetScopeTypeToXML(errorMgr, port, c.type, c.addresses, c.withMessage);
    EXPECT_EQ(port.Xml(), std::string("<t:port>") + c.written + "</t:port>") << c.type;
    // What is written reads back as it was.
    int type = -1;
    std::string addresses;
    CFirewallTool::GetScopeTypeFromXml(port, &type, &addresses);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(addresses, c.addresses);
  }
  EXPECT_TRUE(errorMgr.Entries().empty());
}

TEST(FirewallToolTest, AnExistingScopeElementIsReusedAndAnUnknownTypeIsAnError) {
  CErrorMgr errorMgr;
  xml::Document file = SecurityFile("<t:port><t:scopeSubnet value='10.0.0.0/8'/></t:port>");
  const xml::Node port = FirstNode(file, kPortPath);
  CFirewallTool::SetScopeTypeToXML(errorMgr, port, 1, "", false);
  EXPECT_EQ(port.Xml(), "<t:port><t:scopeSubnet value=\"10.0.0.0/8\"/></t:port>");
  for (int type : {-1, 3}) {
    CFirewallTool::SetScopeTypeToXML(errorMgr, port, type, "10.1.1.1", false);
  }
  EXPECT_EQ(port.Xml(), "<t:port><t:scopeSubnet value=\"10.0.0.0/8\"/></t:port>");
  ASSERT_EQ(errorMgr.Entries().size(), 2u);
  EXPECT_EQ(errorMgr.Entries()[0]->level, kLevelError);
  EXPECT_EQ(errorMgr.Entries()[0]->function, "CFirewallTool::SetScopeTypeToXML");
  EXPECT_EQ(errorMgr.Entries()[0]->message, "Unknown of initialized Scope Type, Please check Scope Type in XML");
  EXPECT_TRUE(errorMgr.IsError());
}

TEST(FirewallToolTest, PreviousAddressesAreKeptOnceAndProfileTextsGiveMasks) {
  const struct {
    const char* addresses;
    const char* previous;
    const char* combined;
  } cases[] = {
      {"192.168.1.0/24", "10.0.0.1", "192.168.1.0/24,10.0.0.1"},
      {"LocalSubnet", "LocalSubnet", "LocalSubnet"},
      {"localsubnet", "LocalSubnet,10.0.0.1", "localsubnet,10.0.0.1"},
      {"10.0.0.1,10.0.0.2", "10.0.0.2,10.0.0.3,10.0.0.3", "10.0.0.1,10.0.0.2,10.0.0.3"},
      {"10.0.0.1", "", "10.0.0.1"},
      {"", "10.0.0.1", "10.0.0.1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CFirewallTool::AppendPreviousAddresses(c.addresses, c.previous), c.combined) << c.addresses;
  }
  EXPECT_EQ(CFirewallTool::GetProfileMask("all"), 0x7FFFFFFF);
  EXPECT_EQ(CFirewallTool::GetProfileMask("private"), 2);
  EXPECT_EQ(CFirewallTool::GetProfileMask("Public"), static_cast<int32_t>(0xFFFFFFFF));
}

}  // namespace
