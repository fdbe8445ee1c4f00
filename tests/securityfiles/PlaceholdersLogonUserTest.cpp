// [LOGONUSER]: the account of the running process replaces the placeholder
// in "user" or "value" of elements that carry a "domain", and a failed
// account lookup leaves the placeholder.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "platform/Forwarding.h"
#include "platform/WinError.h"
#include "platform/xml/Dom.h"
#include "securityfiles/Placeholders.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kLogonUserLabel = "CXmlAnalyser::ReplaceHolderLogonUser";

// The host's security service, except that account names cannot be looked
// up by SID (as when the domain controller of a domain account is away).
class NoAccountLookup : public plat::ISecurity {
 public:
  explicit NoAccountLookup(plat::ISecurity& base) : base_(base) {}
  uint32_t LookupAccountName(std::string_view systemName, std::string_view accountName, winsec::Sid* sid,
                             std::string* referencedDomain, plat::SidNameUse* use) override {
    return base_.LookupAccountName(systemName, accountName, sid, referencedDomain, use);
  }
  uint32_t LookupAccountSid(std::string_view, const winsec::Sid&, plat::AccountName*) override {
    return kNoTrustedDomain;
  }
  uint32_t GetTokenUser(winsec::Sid* user) override { return base_.GetTokenUser(user); }
  uint32_t GetTokenGroups(std::vector<winsec::Sid>* groups) override { return base_.GetTokenGroups(groups); }
  uint32_t LookupPrivilegeValue(std::string_view name, uint64_t* luid) override {
    return base_.LookupPrivilegeValue(name, luid);
  }
  uint32_t AdjustTokenPrivilege(uint64_t luid, uint32_t attributes) override {
    return base_.AdjustTokenPrivilege(luid, attributes);
  }
  bool IsPrivilegeEnabled(uint64_t luid) override { return base_.IsPrivilegeEnabled(luid); }
  uint32_t GetNamedSecurityInfo(std::string_view objectName, plat::SeObjectType type, uint32_t securityInformation,
                                winsec::SecurityDescriptor* descriptor) override {
    return base_.GetNamedSecurityInfo(objectName, type, securityInformation, descriptor);
  }
  uint32_t SetNamedSecurityInfo(std::string_view objectName, plat::SeObjectType type, uint32_t securityInformation,
                                const winsec::Sid* owner, const winsec::Sid* group, const winsec::Acl* dacl,
                                const winsec::Acl* sacl) override {
    return base_.SetNamedSecurityInfo(objectName, type, securityInformation, owner, group, dacl, sacl);
  }
  uint32_t SetFileSecurity(std::string_view path, uint32_t securityInformation,
                           const winsec::SecurityDescriptor& descriptor) override {
    return base_.SetFileSecurity(path, securityInformation, descriptor);
  }

  static constexpr uint32_t kNoTrustedDomain = 1789;  // ERROR_TRUSTED_RELATIONSHIP_FAILURE

 private:
  plat::ISecurity& base_;
};

class PlaceholdersLogonUserTest : public ::testing::Test {
 protected:
  PlaceholdersLogonUserTest() { CPlaceholders::ResetCachedValues(); }
  ~PlaceholdersLogonUserTest() override { CPlaceholders::ResetCachedValues(); }

  static xml::Document Document(std::string_view body) {
    xml::Document doc = xml::Document::Create();
    const std::string text =
        R"(<t:vscSetup xmlns:t="urn:test"><t:body>)" + std::string(body) + "</t:body></t:vscSetup>";
    EXPECT_TRUE(doc.LoadXml(text));
    return doc;
  }

  xml::Document Resolve(std::string_view body) {
    opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
    xml::Document doc = Document(body);
    EXPECT_TRUE(CPlaceholders::RePlaceHolders(errors_, doc, opFile_, 1, 1, "ApplyFeatures"));
    return doc;
  }

  static std::string Attr(const xml::Document& doc, std::string_view xpath) {
    const xml::Node node = doc.SelectSingleNode(xpath);
    EXPECT_FALSE(node.IsNull()) << xpath;
    return node.NodeValue();
  }

  std::vector<std::string> Messages(int level) const {
    std::vector<std::string> found;
    for (const auto& entry : errors_.Entries()) {
      if (entry->level == level && entry->function == kLogonUserLabel) found.push_back(entry->message);
    }
    return found;
  }

  // What the host itself says about the account of the running process.
  plat::AccountName ProcessAccount() {
    plat::ISecurity& security = plat::Current().Security();
    winsec::Sid sid;
    plat::AccountName account;
    EXPECT_EQ(security.GetTokenUser(&sid), winerr::kSuccess);
    EXPECT_EQ(security.LookupAccountSid("", sid, &account), winerr::kSuccess);
    return account;
  }

  TestHost host_;
  CIniFile opFile_;
  CErrorMgr errors_;
};

TEST_F(PlaceholdersLogonUserTest, UserOrValueWithDomainBecomesTheProcessAccount) {
  const plat::AccountName account = ProcessAccount();
  ASSERT_EQ(account.name, "tester");
  ASSERT_FALSE(account.domain.empty());
  const xml::Document doc = Resolve(
      R"(<t:a user="[LOGONUSER]" domain=""/><t:b value="[LOGONUSER]" domain="old"/>)"
      R"(<t:c user="[LOGONUSER]" value="[LOGONUSER]" domain=""/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@user"), account.name);
  EXPECT_EQ(Attr(doc, "//t:a/@domain"), account.domain);
  EXPECT_EQ(Attr(doc, "//t:b/@value"), account.name);
  EXPECT_EQ(Attr(doc, "//t:b/@domain"), account.domain);
  EXPECT_EQ(Attr(doc, "//t:c/@user"), account.name);
  EXPECT_EQ(Attr(doc, "//t:c/@value"), account.name);

  const std::vector<std::string> debug = Messages(kLevelDebug);
  EXPECT_NE(std::find(debug.begin(), debug.end(), "  User=[LOGONUSER]  UserValue="), debug.end());
  EXPECT_NE(std::find(debug.begin(), debug.end(), "  user=tester  domain=" + account.domain), debug.end());
  EXPECT_NE(std::find(debug.begin(), debug.end(), "  value=tester  domain=" + account.domain), debug.end());
}

TEST_F(PlaceholdersLogonUserTest, OnlyAnExactPlaceholderOnAnElementWithDomainIsReplaced) {
  const xml::Document doc = Resolve(
      R"(<t:nodomain user="[LOGONUSER]"/><t:longer user="[LOGONUSER]x" domain="d"/>)"
      R"(<t:other comment="by [LOGONUSER]" user="Operators" domain="d"/>)");
  EXPECT_EQ(Attr(doc, "//t:nodomain/@user"), "[LOGONUSER]");
  EXPECT_EQ(Attr(doc, "//t:longer/@user"), "[LOGONUSER]x");
  EXPECT_EQ(Attr(doc, "//t:longer/@domain"), "d");
  EXPECT_EQ(Attr(doc, "//t:other/@user"), "Operators");
  EXPECT_EQ(Attr(doc, "//t:other/@comment"), "by [LOGONUSER]");
}

TEST_F(PlaceholdersLogonUserTest, CalledDirectlyOnAnElement) {
  const xml::Document doc = Document(R"(<t:a value="[LOGONUSER]" domain=""/>)");
  const xml::Node element = doc.SelectSingleNode("//t:a");
  CPlaceholders::ReplaceHolderLogonUser(errors_, element);
  EXPECT_EQ(element.GetAttribute("value"), ProcessAccount().name);
  EXPECT_FALSE(errors_.IsError());
}

TEST_F(PlaceholdersLogonUserTest, FailedAccountLookupKeepsThePlaceholderWithAWarning) {
  NoAccountLookup security(host_.Platform().Security());
  plat::ForwardingPlatform platform(host_.Platform());
  platform.SetSecurity(&security);
  plat::ScopedPlatform installed(platform);
  const xml::Document doc = Resolve(R"(<t:a user="[LOGONUSER]" domain="here"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@user"), "[LOGONUSER]");
  EXPECT_EQ(Attr(doc, "//t:a/@domain"), "here");
  EXPECT_EQ(Messages(kLevelWarning),
            std::vector<std::string>{"  the account of the running process could not be looked up. Error=1789"});
  EXPECT_FALSE(errors_.IsError());
}

}  // namespace
