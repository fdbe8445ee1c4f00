// The abstract feature: what every kind of security setting shares. It holds
// where a feature came from and the conditions under which it applies, reads
// the common attributes of a security-file element, and offers the helpers
// the kinds use to write themselves into feature documents and history entries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/System.h"
#include "platform/xml/Dom.h"

class CErrorMgr;
class CIniFile;

class CFeature {
 public:
  // Codes of an allow/deny pair (GetProgramPermission).
  static constexpr int32_t kPermissionNone = -1;  // absent, or no valid combination
  static constexpr int32_t kPermissionNeither = 0;
  static constexpr int32_t kPermissionDenied = 1;
  static constexpr int32_t kPermissionAllowed = 2;
  static constexpr int32_t kPermissionBoth = 3;

  CFeature();
  virtual ~CFeature();
  CFeature(const CFeature&) = delete;
  CFeature& operator=(const CFeature&) = delete;

  // ---- The ten slots every kind may fill -----------------------------------

  // Changes the system to the feature's target values. Base: false.
  virtual bool ApplyFeature(CErrorMgr& errorMgr);
  // Writes the feature's element below `pRootNode`, with the language texts
  // as "message" attributes when `withMessage` is set. Base: null.
  virtual xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage);
  // Writes the feature into a feature document below its root "t:Tarvo",
  // with messages. True unless the error flag is set.
  virtual bool SetFeatureToXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc);
  // Writes the feature in security-file form below "t:vscSetup". Base: false.
  virtual bool SetFeatureToSecurityXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc);
  // Reads the feature from its security-file element; false when it is not
  // valid or does not apply here. Base: true.
  virtual bool GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId);
  // A feature built from the history's values before the change (or one
  // undoing this one). Base: null.
  virtual std::unique_ptr<CFeature> GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool undo);
  // Whether anything of the feature is not held by another one. Base: false.
  virtual bool IsUninstallable(CErrorMgr& errorMgr, const std::vector<CFeature*>& others);
  // A new feature of the same kind holding the system's current values; the
  // caller owns it. Base: null.
  virtual std::unique_ptr<CFeature> GetCurrentFeature(CErrorMgr& errorMgr);
  // Writes the feature's values to the log. Base: nothing.
  virtual void AddLogEntriesFromFeature(CErrorMgr& errorMgr);

  // ---- Reading -------------------------------------------------------------

  // Restores every member to its initial value.
  void Reset();
  // The common reading every kind's GetFeatureFromXml starts with: product,
  // kind, conditions and common attributes. False (after a level-2 note)
  // when the feature does not apply on this machine.
  bool InitFeatureFromNode(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId);
  // Reads the feature with the OPFile's [GENERAL] SessionID and, when it is
  // kept, raises the OPFile's reboot and critical results.
  bool LoadFeature(CErrorMgr& errorMgr, CIniFile& opFile, const xml::Node& node);

  // ---- Conditions ----------------------------------------------------------

  bool IsOSVersionMatching(const plat::OsVersionInfoEx& running) const;
  // Whether the os64bit requirement fits the build's platform.
  bool IsPlatformMatching() const;

  // ---- Writing -------------------------------------------------------------

  // adaptionmoment, reboot, critical and platform, in this order.
  void SetCommonAttributesToXml(const xml::Node& element) const;
  // Lists `productName` below the element's t:RequestingProgram unless it is
  // listed there already. Nothing for a null element.
  static void AddRequestingProgram(const xml::Node& element, std::string_view productName);
  // The code of the node's "allow"/"deny" pair; *found becomes true for a
  // valid pair and is left alone otherwise. kPermissionNone for a null node.
  static int32_t GetProgramPermission(const xml::Node& node, bool* found);
  // Writes a code as "allow"/"deny" (and a non-empty message) into the child
  // element `elementName` of `parent`, creating it when missing. Codes other
  // than 0-3 write nothing and answer null.
  static xml::Node SetProgramPermissionToXml(const xml::Node& parent, std::string_view elementName, int32_t code,
                                             std::string_view message);

  // ---- History -------------------------------------------------------------

  // This feature's t:Product entry with the values from before the change,
  // in a history document already loaded (null when there is none).
  xml::Node GetProductNodeFromHistory(CErrorMgr& errorMgr, const xml::Document& history) const;
  // The node `xpath` selects below that entry of the repository's history
  // file; null (after the entries of the lookup) when there is none.
  xml::Node SelectFromHistory(CErrorMgr& errorMgr, std::string_view xpath) const;

  // ---- The running Windows -------------------------------------------------

  // Answers from one process-wide version record, read on first use; a read
  // that failed is tried again on the next use.
  static bool IsVistaOrLater();
  static bool IsWindows61To63();
  // Forgets the record, so the next query reads it again (tests, new hosts).
  static void ResetVersionRecord();

  // ---- Accessors -----------------------------------------------------------

  std::string GetSessionId() const { return sessionId_; }
  std::string GetProductName() const { return productName_; }
  std::string GetKindName() const { return kindName_; }
  int GetOs64BitRequirement() const { return os64Bit_; }
  const plat::OsVersionInfoEx& GetRequiredOsVersion() const { return requiredOsVersion_; }
  int GetOsRelation() const { return osRelation_; }
  bool IsOsWow() const { return osWow_; }
  bool IsCritical() const { return critical_; }
  int GetRebootRequirement() const { return rebootRequirement_; }
  int GetAdaptionMoment() const { return adaptionMoment_; }

 protected:
  // Takes over where `other` came from (session, product) and when it
  // applies (reboot, adaption moment): what a feature read from the system
  // keeps of the feature it was read for.
  void CopyOriginFrom(const CFeature& other);
  // The relational operator at the start of `text`; on return `text` holds
  // what follows it. True when the operator was recognised, so that the
  // version is worth reading.
  bool SetCondition(CErrorMgr& errorMgr, std::string* text);
  // The required version from the text after the operator.
  bool ExtractOSVersion(CErrorMgr& errorMgr, std::string_view text);
  // The os64bit requirement; false when it excludes this machine.
  bool CheckOs64Bit(CErrorMgr& errorMgr, const xml::Node& node);
  // The adaption moment of an adaptionmoment text (read with its default).
  int GetAdaptionMomentString(CErrorMgr& errorMgr, std::string_view text);

 private:
  void ReadOsCondition(CErrorMgr& errorMgr, const xml::Node& node);

  int os64Bit_;
  plat::OsVersionInfoEx requiredOsVersion_;
  int osRelation_;
  std::string sessionId_;
  std::string productName_;
  std::string kindName_;
  bool osWow_;
  bool critical_;
  int rebootRequirement_;
  int adaptionMoment_;
};

// What every kind checks before it writes into a feature document: false,
// with the internal error at level 6 under `label`, when there is no root
// node to write into.
bool HasFeatureRoot(CErrorMgr& errorMgr, std::string_view label, const xml::Node& pRootNode);
// A text of the language file, for the feature document the setup shows;
// none for the history (`withMessage` false).
std::string ResourceTextIf(bool withMessage, int number);
