// One firewall application (t:service): a program the firewall lets through
// or no longer lets through. On the legacy family it is an authorized
// application of the current profile; on the rules family an inbound rule
// named after the entry and grouped under the product's name. An existing
// exception for the program is replaced and keeps the remote addresses it
// allowed. A missing executable never gets an exception.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Firewall.h"
#include "platform/xml/Dom.h"

class CErrorMgr;

class CService {
 public:
  CService() = default;

  // Reads the attributes and the scope of a t:service element.
  void Read(const xml::Node& element);

  // Legacy family: removes, replaces or adds the authorized application.
  // Null arguments are errors. True unless the error flag is set.
  bool ApplyService(CErrorMgr& errorMgr, plat::IFwProfile* profile, plat::IFwAuthorizedApplications* applications);
  // Rules family: removes, replaces or adds the entry's rule (found by the
  // entry's name). True unless the error flag is set.
  bool ApplyService2(CErrorMgr& errorMgr, plat::IFwPolicy2* policy, plat::IFwRules* rules);
  // A new authorized application for the entry, keeping `previousRemoteAddresses`
  // (null when there were none). False when it was not added.
  bool AttachNewApplicationToFirewall(CErrorMgr& errorMgr, plat::IFwAuthorizedApplications* applications,
                                      const std::string* previousRemoteAddresses);
  // Replaces every rule of the entry's name by one new rule. False when it was not added.
  bool AttachNewApplicationToFirewall2(CErrorMgr& errorMgr, plat::IFwRules* rules);
  // Fills an authorized application object from the entry.
  bool ChangeApplicationValues(CErrorMgr& errorMgr, plat::IFwAuthorizedApplication* application,
                               const std::string* previousRemoteAddresses);
  // Whether the executable exists (a warning when it does not).
  bool FilePathExist(CErrorMgr& errorMgr) const;
  // The entry as the legacy family has it now (exists 0 when absent).
  std::unique_ptr<CService> GetCurrentService(CErrorMgr& errorMgr, plat::IFwProfile* profile) const;
  // The authorized application of the executable path, or null.
  std::shared_ptr<plat::IFwAuthorizedApplication> GetAppFromFirewall(CErrorMgr& errorMgr,
                                                                      plat::IFwProfile* profile) const;
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) const;
  // Writes the entry below the t:lan element (reusing the t:service of the
  // same name); null after an error.
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& lan, std::string_view productName,
                            bool withMessage) const;

  // A copy that asks for the exception to be removed (exists 0).
  std::unique_ptr<CService> RemovalCopy() const;
  // The grouping of the rules the entry makes: the product's name.
  void SetGrouping(std::string grouping) { grouping_ = std::move(grouping); }

  const std::string& ExePath() const { return exePath_; }
  const std::string& Name() const { return name_; }
  int ScopeType() const { return scopeType_; }
  const std::string& CustomAddresses() const { return customAddresses_; }
  int Enable() const { return enable_; }
  int Exists() const { return exists_; }
  const std::string& FirewallProfile() const { return firewallProfile_; }

 private:
  bool ExecutableExists() const;
  // The entries of an executable that is not there: an error, or a warning
  // when the tool was called in a way where that is expected.
  void ReportMissingExecutable(CErrorMgr& errorMgr, const char* label) const;
  // Sets every property of a new rule for the entry; false after the first refusal.
  bool FillRule(CErrorMgr& errorMgr, plat::IFwRule& rule, const std::string& previousRemoteAddresses) const;

  std::string exePath_;
  std::string name_;
  int scopeType_ = -1;
  std::string customAddresses_;
  int enable_ = -1;
  int exists_ = -1;
  std::string firewallProfile_;
  std::string grouping_;
};
