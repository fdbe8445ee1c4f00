// The machine-wide DCOM descriptors under HKLM\Software\Microsoft\Ole: the
// default launch and access permissions (t:defaults, kinds 1 and 2) and the
// machine-wide launch and access restrictions (t:limits, kinds 3 and 4). One
// CLimitsDefaults holds a t:defaults or a t:limits; applying it either
// returns a descriptor to the system default by deleting its value, or
// replaces the entries of the accounts it names in that descriptor and
// keeps every other account's entries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dcom/DCOMPerm.h"
#include "platform/winsec/SecurityDescriptor.h"
#include "platform/xml/Dom.h"

class CErrorMgr;

class CLimitsDefaults {
 public:
  CLimitsDefaults();
  ~CLimitsDefaults();

  // Appends the entries of one t:defaults or t:limits element; a default
  // flag set by any element stays set.
  void Read(const xml::Node& element);
  // Launch kind first (1 or 3), then access (2 or 4). An error in one
  // descriptor does not keep the other from being applied. True unless the
  // error flag is set.
  bool ApplyFeature(CErrorMgr& errorMgr, bool isDefaults);
  // Deletes the kind's value; a missing value is no error. 0 or the code.
  uint32_t DeleteLimitDefaultSD(CErrorMgr& errorMgr, int kind);
  // Takes the accounts the kind's entries name out of the DACL.
  void RemovePrincipal(CErrorMgr& errorMgr, int kind, winsec::Acl* dacl) const;
  // One read-modify-write of the kind's descriptor: the stored value, or the
  // kind's standard descriptor when there is none, without the accounts
  // named, without repeated ACEs, with the entries' ACEs added; written
  // once, and only when no error was recorded on the way. 0 or the code.
  uint32_t CreateAndAttachNewSD(CErrorMgr& errorMgr, int kind);
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) const;
  // Writes the flags and entries into a t:defaults or t:limits element.
  void SetFeatureToXml(const xml::Node& element, bool withMessage) const;
  // An entry of the current values, from an ACE of the kind's descriptor.
  void AddEntryFromAce(bool launch, uint32_t mask, const std::string& domain, const std::string& user, bool allowed);

  bool LaunchUsesSystemDefault() const { return launchDefault_; }
  bool AccessUsesSystemDefault() const { return accessDefault_; }
  void SetLaunchUsesSystemDefault(bool value) { launchDefault_ = value; }
  void SetAccessUsesSystemDefault(bool value) { accessDefault_ = value; }
  const std::vector<std::unique_ptr<CLaunchPerm>>& LaunchEntries() const { return launch_; }
  const std::vector<std::unique_ptr<CAccessPerm>>& AccessEntries() const { return access_; }

 private:
  // The entries of a kind: launch for 1 and 3, access for 2 and 4.
  std::vector<const CDCOMPerm*> EntriesOf(int kind) const;
  void ApplyKind(CErrorMgr& errorMgr, int kind, bool useDefault, const char* heading);

  bool launchDefault_ = false;
  bool accessDefault_ = false;
  std::vector<std::unique_ptr<CLaunchPerm>> launch_;
  std::vector<std::unique_ptr<CAccessPerm>> access_;
};
