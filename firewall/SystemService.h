// One predefined firewall exception (t:systemService): file and printer
// sharing, UPnP or remote desktop, switched on or off. On the legacy family
// the profile's service object is switched; on the rules family the
// matching built-in rule group, except file and printer sharing with a
// custom scope, which gets nine rules of its own that carry the addresses.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Firewall.h"
#include "platform/xml/Dom.h"

class CErrorMgr;

class CSystemService {
 public:
  CSystemService() = default;

  // Reads the attributes and the scope of a t:systemService element.
  void Read(const xml::Node& element);

  // Legacy family. True unless the error flag is set.
  bool ApplySystemService(CErrorMgr& errorMgr, plat::IFwServices* services);
  // Rules family. True unless the error flag is set; own rules of file and
  // printer sharing that could not all be made are an error of the run.
  bool ApplySystemService2(CErrorMgr& errorMgr, plat::IFwPolicy2* policy);
  // The entry as the legacy family has it now.
  std::unique_ptr<CSystemService> GetCurrentSystemService(CErrorMgr& errorMgr, plat::IFwProfile* profile) const;
  std::shared_ptr<plat::IFwService> GetSystemServiceFromFirewall(CErrorMgr& errorMgr, plat::IFwProfile* profile) const;
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) const;
  // Writes the entry below the t:lan element (reusing the t:systemService of the same name).
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& lan, std::string_view productName,
                            bool withMessage) const;

  const std::string& Name() const { return name_; }
  bool Value() const { return value_; }
  int ScopeType() const { return scopeType_; }
  const std::string& CustomAddresses() const { return customAddresses_; }
  const std::string& FirewallProfile() const { return firewallProfile_; }

 private:
  // The remote addresses of a legacy service: what the entry asks for,
  // keeping those the service allowed before.
  bool SetLegacyScope(CErrorMgr& errorMgr, plat::IFwService& service) const;
  // Replaces the nine rules of file and printer sharing by new ones that
  // allow the custom addresses. False (after an error) when one was not made.
  bool ApplyOwnRules(CErrorMgr& errorMgr, plat::IFwPolicy2& policy) const;
  // The language text of the feature document; "" (after an error) for an unknown name.
  std::string MessageText(CErrorMgr& errorMgr) const;

  std::string name_;
  bool value_ = false;
  int scopeType_ = -1;
  std::string customAddresses_;
  std::string firewallProfile_;
};
