// The firewall feature: a security file's t:network/t:lan asks for inbound
// ICMP echo to be allowed or blocked and declares firewall applications,
// ports and predefined system services. CFirewall applies them through the
// firewall family of the running Windows (the legacy objects before 6.0,
// the rules from 6.0 on), with the firewall service running for the time
// of the work, reads what the legacy objects hold now, logs itself and
// writes itself into feature documents, the history and, for snapshots,
// into a security file.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "features/Feature.h"
#include "firewall/Port.h"
#include "firewall/Service.h"
#include "firewall/SystemService.h"
#include "platform/Firewall.h"

class CFirewall : public CFeature {
 public:
  static constexpr int kIcmpNotRequested = -1;

  CFirewall();
  ~CFirewall() override;

  bool ApplyFeature(CErrorMgr& errorMgr) override;
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) override;
  bool SetFeatureToXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc) override;
  // The feature as a complete security file below "t:vscSetup" (snapshots).
  bool SetFeatureToSecurityXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc) override;
  bool GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) override;
  // With `undo`: a feature removing this one's applications. Otherwise the
  // product's firewall feature as the history recorded it.
  std::unique_ptr<CFeature> GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool undo) override;
  // Drops the applications another firewall feature of `others` also
  // declares; true (and everything but applications dropped) when some remain.
  bool IsUninstallable(CErrorMgr& errorMgr, const std::vector<CFeature*>& others) override;
  // What the legacy objects hold now for this feature's entries.
  std::unique_ptr<CFeature> GetCurrentFeature(CErrorMgr& errorMgr) override;
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) override;

  // ---- Legacy family
  bool SetPortsToFirewall(CErrorMgr& errorMgr, plat::IFwProfile* profile);
  bool SetSystemServices(CErrorMgr& errorMgr, plat::IFwProfile* profile);
  bool SetServices(CErrorMgr& errorMgr, plat::IFwProfile* profile);
  bool SetIcmpState(CErrorMgr& errorMgr, plat::IFwProfile* profile);
  // The current profile, asked for up to ten times; null when it never came.
  static bool GetFirewallProfile(CErrorMgr& errorMgr, std::shared_ptr<plat::IFwProfile>* profile);
  // -1 when it cannot be read, else whether inbound echo is allowed.
  static int IsIcmpEnabled(CErrorMgr& errorMgr, plat::IFwProfile* profile);
  bool GetCurrentPorts(CErrorMgr& errorMgr, plat::IFwProfile* profile, CFirewall* current) const;
  bool GetCurrentServices(CErrorMgr& errorMgr, plat::IFwProfile* profile, CFirewall* current) const;
  bool GetCurrentSystemServices(CErrorMgr& errorMgr, plat::IFwProfile* profile, CFirewall* current) const;

  // ---- Rules family
  bool SetPortsToFirewall2(CErrorMgr& errorMgr, plat::IFwPolicy2* policy);
  bool SetSystemServices2(CErrorMgr& errorMgr, plat::IFwPolicy2* policy);
  bool SetServices2(CErrorMgr& errorMgr, plat::IFwPolicy2* policy);
  bool SetIcmpState2(CErrorMgr& errorMgr, plat::IFwPolicy2* policy);
  static bool GetFirewallProfile2(CErrorMgr& errorMgr, std::shared_ptr<plat::IFwPolicy2>* policy);

  // ---- The firewall service around the work
  // Starts a stopped firewall service, remembering to stop it again.
  bool CheckFirewall(CErrorMgr& errorMgr);
  bool StopFirewall(CErrorMgr& errorMgr);

  int IcmpState() const { return icmpState_; }
  const std::vector<std::unique_ptr<CSystemService>>& SystemServices() const { return systemServices_; }
  const std::vector<std::unique_ptr<CPort>>& Ports() const { return ports_; }
  const std::vector<std::unique_ptr<CService>>& Applications() const { return applications_; }

 private:
  void Clear();
  // t:icmp below `lan`, when the feature asks for a state.
  void WriteIcmp(const xml::Node& lan, bool withMessage, bool withRequestingProgram) const;
  // The system services, ports and applications below `lan`.
  void WriteEntries(CErrorMgr& errorMgr, const xml::Node& lan, bool withMessage) const;

  int icmpState_ = kIcmpNotRequested;
  bool startedByUs_ = false;
  uint32_t previousStartType_ = 0;
  std::vector<std::unique_ptr<CSystemService>> systemServices_;
  std::vector<std::unique_ptr<CPort>> ports_;
  std::vector<std::unique_ptr<CService>> applications_;
};
