// The registry permission feature: a security file's t:path makes sure one
// registry key and its declared values exist, and grants and denies rights
// on the key with the same inheritance, protection and subtree settings as
// the file feature. With oswow it works on the 32-bit registry view.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "access/Permission.h"
#include "platform/Registry.h"

// A declared (or current) value of the key.
struct RegistryValueEntry {
  std::string name;
  std::string keytype;  // "REG_SZ", "REG_EXPAND_SZ", "REG_DWORD", "REG_BINARY"
  std::string value;
};

class CRegistryPermission : public CPermission {
 public:
  CRegistryPermission();
  ~CRegistryPermission() override;

  using CFeature::SetFeatureToXml;

  // Creates the key and values when missing (also when the current values
  // are not read first), then merges the entries into the key's DACL.
  bool ApplyFeature(CErrorMgr& errorMgr) override;
  bool GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) override;
  // Creates what is missing of the key and its values, then reads its DACL.
  std::unique_ptr<CFeature> GetCurrentFeature(CErrorMgr& errorMgr) override;
  xml::Node SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) override;
  std::unique_ptr<CFeature> GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool undo) override;

  // Creates the key and writes every declared value.
  void AddRegistryEntriesToRegistry(CErrorMgr& errorMgr);
  // The key's values of the types this feature knows, data up to 256 bytes.
  std::vector<RegistryValueEntry> ReadCurrentValues() const;

  // The object name of a key for the security calls: the hive's name
  // without "HKEY_" ("HKEY_LOCAL_MACHINE\SOFTWARE" is "MACHINE\SOFTWARE").
  static std::string ObjectNameOf(std::string_view hive, std::string_view subkey);
  // REG_DWORD data of a text: "0x"/"0X" hexadecimal, a leading 0 octal,
  // else decimal, up to the first character that does not fit; an optional
  // sign. False for a number that does not fit 32 bits.
  static bool ParseDword(std::string_view text, uint32_t* value);

  const std::string& Hive() const { return hive_; }
  const std::string& Subkey() const { return subkey_; }
  const std::vector<RegistryValueEntry>& Values() const { return values_; }

 protected:
  std::unique_ptr<CPermission> CreateEmptyFeature() const override;
  plat::SeObjectType ObjectType() const override { return plat::SeObjectType::kRegistryKey; }
  size_t RightCount() const override;
  bool GetAccessMasks(CErrorMgr& errorMgr, uint32_t* allowMask, uint32_t* denyMask) override;
  uint8_t GetInheritanceFlags() const override;
  void AddEntryFromAce(const CPermission& templateFeature, uint32_t mask, uint8_t aceFlags, const std::string& name,
                       const std::string& domain, bool allowed) override;
  uint32_t ReplaceAllChildFileAccess(CErrorMgr& errorMgr, const std::string& objectName, plat::SeObjectType objectType,
                                     const std::vector<winsec::ExplicitAccess>& records, bool parentToChild) override;
  void CopyObjectFrom(const CPermission& templateFeature) override;

 private:
  // The display path as the messages show it: with oswow, SOFTWARE\ reads
  // SOFTWARE\Wow6432Node\.
  std::string MessagePath() const;
  uint32_t ViewFlag() const;
  // Creates the key and values when the key or one declared value is missing.
  void EnsureKeyAndValues(CErrorMgr& errorMgr);
  bool WriteValue(CErrorMgr& errorMgr, plat::HKey key, const RegistryValueEntry& entry);
  bool WriteCurrentEntry(CErrorMgr& errorMgr, const xml::Node& root, bool withMessage,
                         xml::Node* pathElement) override;

  std::string hive_;
  std::string subkey_;
  std::string displayPath_;
  std::vector<RegistryValueEntry> values_;
};
