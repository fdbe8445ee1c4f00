// One firewall port (t:port): a TCP or UDP port the firewall opens or
// closes. On the legacy family it is a globally open port of the current
// profile; on the rules family an inbound rule named after the entry and
// grouped under the product's name. An existing opening is replaced and
// keeps the remote addresses it had.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Firewall.h"
#include "platform/xml/Dom.h"

class CErrorMgr;

class CPort {
 public:
  CPort() = default;

  // Reads the attributes and the scope of a t:port element.
  void Read(const xml::Node& element);

  // Legacy family: closes, changes or opens the port. True unless the error flag is set.
  bool ApplyPort(CErrorMgr& errorMgr, plat::IFwOpenPorts* ports);
  // Rules family: removes or replaces the entry's rule. True unless the error flag is set.
  bool ApplyPort2(CErrorMgr& errorMgr, plat::IFwRules* rules);
  bool AttachNewPortToFirewall(CErrorMgr& errorMgr, plat::IFwOpenPorts* ports);
  bool FirewallPortAdd2(CErrorMgr& errorMgr, plat::IFwRules* rules);
  // Fills an open-port object from the entry; `existing` keeps its remote addresses.
  bool ChangePortValues(CErrorMgr& errorMgr, plat::IFwOpenPort* openPort, bool existing);
  // The entry as the legacy family has it now.
  std::unique_ptr<CPort> GetCurrentPort(CErrorMgr& errorMgr, plat::IFwProfile* profile) const;
  bool CheckPortInFirewall(CErrorMgr& errorMgr, plat::IFwProfile* profile, int32_t port, int32_t protocol,
                           CPort* entry) const;
  std::shared_ptr<plat::IFwOpenPort> GetPortFromFirewall(CErrorMgr& errorMgr, plat::IFwProfile* profile,
                                                         int32_t port, int32_t protocol) const;
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) const;
  // Writes the entry below the t:lan element (reusing the t:port of the same name).
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& lan, std::string_view productName,
                            bool withMessage) const;

  // 6 (TCP) when tcp is set, else 17 (UDP) when udp is, else -1.
  int32_t Protocol() const;
  // The port number of the value; 0 when it has no leading digits.
  int32_t PortNumber() const;
  void SetGrouping(std::string grouping) { grouping_ = std::move(grouping); }

  int Udp() const { return udp_; }
  int Tcp() const { return tcp_; }
  const std::string& Name() const { return name_; }
  const std::string& Value() const { return port_; }
  int Enable() const { return enable_; }
  int ScopeType() const { return scopeType_; }
  const std::string& CustomAddresses() const { return customAddresses_; }
  int Exists() const { return exists_; }
  const std::string& FirewallProfile() const { return firewallProfile_; }

 private:
  // "UDP" for a UDP entry, else "TCP".
  const char* ProtocolText() const;
  // The remote addresses or scope of a legacy port; `previous` is what the
  // port allowed before ("" for a new one).
  bool SetLegacyRemoteAccess(CErrorMgr& errorMgr, plat::IFwOpenPort& openPort, const std::string& previous) const;
  void RemoveRule(CErrorMgr& errorMgr, plat::IFwRules& rules) const;
  // Sets every property of a new rule for the entry; false after the first refusal.
  bool FillRule(CErrorMgr& errorMgr, plat::IFwRule& rule, const std::string& previousRemoteAddresses) const;

  int udp_ = -1;
  int tcp_ = -1;
  std::string name_;
  std::string port_;
  int enable_ = -1;
  int scopeType_ = -1;
  std::string customAddresses_;
  int exists_ = -1;
  std::string firewallProfile_;
  std::string grouping_;
};
