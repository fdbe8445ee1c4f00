// The permission entries a DCOM setting lists per account: access rights
// (t:access, CAccessPerm), launch and activation rights (t:launch,
// CLaunchPerm), and configuration rights (t:configuration), which are only
// carried through documents. Each entry reads itself from its element,
// computes its grant and deny masks of COM rights, adds them to a DACL,
// logs itself and writes itself into feature documents.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/winsec/Acl.h"
#include "platform/xml/Dom.h"

class CErrorMgr;

// One right of an entry kind: its element, the COM right bit it stands for
// (0 for rights that are never applied) and the language text of its message.
struct ComRight {
  const char* element;
  uint32_t bit;
  int text;
};

class CDCOMPerm {
 public:
  virtual ~CDCOMPerm();

  // Domain and user from the attributes, each right's code from its child
  // (-1 when the child is absent).
  void Read(const xml::Node& element);
  // An entry for the current values: each right whose bit the mask holds
  // gets the code of an allowed (2) or denied (1) ACE.
  void SetFromAce(uint32_t mask, const std::string& domain, const std::string& user, bool allowed);

  // The grant and deny masks, each non-empty one with the execute bit;
  // false (after a level-5 entry) at the first right both allowed and denied.
  bool GetMasks(CErrorMgr& errorMgr, uint32_t* grant, uint32_t* deny) const;
  // Adds the entry's allowed and denied ACEs for its account to the ACL. An
  // account the machine does not know is a warning and adds nothing.
  void SetPermToDacl(CErrorMgr& errorMgr, winsec::Acl* acl) const;
  // Removes every ACE of the entry's account from the ACL, so that the
  // entry's ACEs replace what the account had.
  void RemoveAccountFrom(winsec::Acl* acl) const;
  // "      Allowed 0x... to domain\user." and the denied line (level 2).
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) const;
  // The entry's element below `parent`, found by domain and user or added.
  xml::Node SetFeatureToXml(const xml::Node& parent, bool withMessage) const;

  const std::string& User() const { return user_; }
  const std::string& Domain() const { return domain_; }
  const std::vector<int32_t>& Codes() const { return codes_; }

 protected:
  CDCOMPerm();
  // The rights in element order.
  virtual std::span<const ComRight> Rights() const = 0;
  // The order in which the masks take the rights (indices into Rights()).
  virtual std::span<const size_t> MaskOrder() const = 0;
  virtual const char* ElementName() const = 0;
  // The language text of the element's message; 0 for none.
  virtual int MessageText() const = 0;
  // "CAccessPerm" or "CLaunchPerm": the label and wording of the log lines.
  virtual const char* ClassName() const = 0;
  bool IsAccess() const;
  // Every right not given; the kinds' constructors call it.
  void ResetCodes();

 private:
  std::string user_;
  std::string domain_;
  std::vector<int32_t> codes_;  // one per right, -1 when not given
};

class CAccessPerm : public CDCOMPerm {
 public:
  CAccessPerm();

 protected:
  std::span<const ComRight> Rights() const override;
  std::span<const size_t> MaskOrder() const override;
  const char* ElementName() const override { return "t:access"; }
  int MessageText() const override { return 153; }
  const char* ClassName() const override { return "CAccessPerm"; }
};

class CLaunchPerm : public CDCOMPerm {
 public:
  CLaunchPerm();

 protected:
  std::span<const ComRight> Rights() const override;
  std::span<const size_t> MaskOrder() const override;
  const char* ElementName() const override { return "t:launch"; }
  int MessageText() const override { return 152; }
  const char* ClassName() const override { return "CLaunchPerm"; }
};

// Read and written back only; never applied.
class CConfigurationPerm : public CDCOMPerm {
 public:
  CConfigurationPerm();

 protected:
  std::span<const ComRight> Rights() const override;
  std::span<const size_t> MaskOrder() const override;
  const char* ElementName() const override { return "t:configuration"; }
  int MessageText() const override { return 0; }
  const char* ClassName() const override { return "CConfigurationPerm"; }
};
