// The DCOM feature applied end to end on English and German hosts: the
// machine-wide descriptors, stored and missing, applications created,
// changed and removed, values that cannot be changed left alone while the
// others are applied, and a second run that changes nothing.
#include <sstream>
#include <string>

#include "cli/FeatureRunFixture.h"
#include "dcom/DCOMTool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/winsec/Sddl.h"

namespace {

constexpr const char* kNoValue = "(none)";

class DcomApplyTest : public FeatureRunTest, public ::testing::WithParamInterface<const char*> {
 protected:
  DcomApplyTest() : FeatureRunTest("win7-sp1-x64", "present", GetParam()) {}

  static std::string Feature(const std::string& dcom) {
    return "<t:componentService><t:dcom>" + dcom + "</t:dcom></t:componentService>";
  }

  // The DACL of a descriptor value as SDDL, "(none)" when the value is
  // missing, else the value's type and bytes as the host diff shows them.
  std::string Dacl(plat::HKey root, const std::string& keyPath, const char* name) {
    plat::IRegistry& registry = plat::Current().Registry();
    plat::HKey key = plat::kNullKey;
    plat::RegValue value;
    if (registry.OpenKey(root, keyPath, plat::kKeyRead, &key) != winerr::kSuccess) return kNoValue;
    const uint32_t rc = registry.QueryValue(key, name, &value);
    registry.CloseKey(key);
    if (rc != winerr::kSuccess) return kNoValue;
    winsec::SecurityDescriptor sd;
    std::string sddl;
    if (value.type != plat::kRegBinary || winsec::SecurityDescriptor::FromSelfRelative(winsec::AsBytes(value.data), &sd) ||
        winsec::SecurityDescriptorToSddl(sd, winsec::kDaclSecurityInformation, &sddl)) {
      return "invalid";
    }
    return sddl.empty() ? "no DACL" : sddl;
  }
  std::string Ole(const char* name) { return Dacl(plat::kHkeyLocalMachine, kOleKey, name); }
  std::string AppId(const std::string& id, const char* name) {
    return Dacl(plat::kHkeyClassesRoot, "AppID\\" + id, name);
  }
  std::string AppIdString(const std::string& id, const char* name) {
    plat::HKey key = plat::kNullKey;
    plat::RegValue value;
    plat::IRegistry& registry = plat::Current().Registry();
    const std::string path = id.empty() ? std::string("AppID") : "AppID\\" + id;
    if (registry.OpenKey(plat::kHkeyClassesRoot, path, plat::kKeyRead, &key) != winerr::kSuccess) {
      return "(no key)";
    }
    const uint32_t rc = registry.QueryValue(key, name, &value);
    registry.CloseKey(key);
    if (rc != winerr::kSuccess) return kNoValue;
    return value.type == plat::kRegDword ? std::to_string(plat::RegDwordValue(value.data)) : plat::RegSzText(value.data);
  }
  void SetValue(plat::HKey root, const std::string& keyPath, const char* name, uint32_t type, const std::string& data) {
    plat::IRegistry& registry = plat::Current().Registry();
    plat::HKey key = plat::kNullKey;
    bool created = false;
    ASSERT_EQ(registry.CreateKey(root, keyPath, plat::kKeyAllAccess, &key, &created), winerr::kSuccess);
    ASSERT_EQ(registry.SetValue(key, name, type, data), winerr::kSuccess);
    registry.CloseKey(key);
  }
  void SetSddl(plat::HKey root, const std::string& keyPath, const char* name, const char* sddl) {
    winsec::SecurityDescriptor sd;
    winsec::Bytes bytes;
    ASSERT_EQ(winsec::SecurityDescriptorFromSddl(sddl, &sd), winerr::kSuccess);
    ASSERT_EQ(sd.ToSelfRelative(&bytes), winerr::kSuccess);
    SetValue(root, keyPath, name, plat::kRegBinary, winsec::ToByteString(bytes));
  }
  ProgramResult HostTool(std::vector<std::string> args) {
    return RunProgram(BinaryPath("tarvo-host"), std::move(args), {{"TARVO_HOST", host_.Folder()}});
  }
  // Applies once more after a snapshot; the registry lines of the diff.
  std::string SecondRunRegistryChanges(int expectedExit) {
    EXPECT_EQ(HostTool({"snapshot", "save", "first"}).exitCode, 0);
    EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, expectedExit) << Log();
    return RegistryChangesSince("first");
  }
  std::string RegistryChangesSince(const std::string& snapshot) {
    std::string changes;
    std::istringstream diff(HostTool({"diff", snapshot}).out);
    for (std::string line; std::getline(diff, line);) {
      if (line.find(" reg ") != std::string::npos || line.find(" key ") != std::string::npos) changes += line + "\n";
    }
    return changes;
  }
};

INSTANTIATE_TEST_SUITE_P(Languages, DcomApplyTest, ::testing::Values("en-US", "de-DE"));

constexpr const char* kRemoteAccess = "<t:remoteAccess allow='true' deny='false'/>";
constexpr const char* kLocalAccess = "<t:localAccess allow='true' deny='false'/>";

// Two t:limits feed one object; named accounts lose their old ACEs first,
// also in the standard descriptor used for a missing value; an account the
// machine does not know is skipped with a warning.
TEST_P(DcomApplyTest, MachineWideValuesStoredAndMissing) {
  SetSddl(plat::kHkeyLocalMachine, kOleKey, "DefaultAccessPermission", "O:BAG:BAD:(A;;CCDCLC;;;PS)");
  // Guests listed twice: the second ACE folds into the first.
  SetSddl(plat::kHkeyLocalMachine, kOleKey, "MachineAccessRestriction",
          "O:BAG:BAD:(A;;CCDCLC;;;WD)(A;;CCDC;;;AN)(A;;CC;;;BG)(A;;CCDC;;;BG)");
  WriteSingleFileSetup(Feature(
      std::string("<t:limits><t:launch domain='' user='Users'><t:localLaunch allow='true' deny='false'/>"
                  "<t:remoteLaunch allow='false' deny='true'/></t:launch></t:limits>"
                  "<t:limits><t:access domain='' user='Everyone'>") +
      kLocalAccess + "</t:access><t:access domain='' user='No Such User'>" + kLocalAccess +
      "</t:access></t:limits>"
      "<t:defaults DefaultAccessPerm='TRUE'><t:launch domain='BUILTIN' user='Administrators'>"
      "<t:localLaunch allow='true' deny='false'/></t:launch><t:access domain='' user='Users'>" +
      kLocalAccess + "</t:access></t:defaults>"));
  plat::HKey ole = plat::kNullKey;
  ASSERT_EQ(plat::Current().Registry().OpenKey(plat::kHkeyLocalMachine, kOleKey, plat::kKeyAllAccess, &ole), 0u);
  plat::Current().Registry().DeleteValue(ole, "DefaultLaunchPermission");
  plat::Current().Registry().CloseKey(ole);

  ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0) << Log();
  EXPECT_EQ(Ole("MachineLaunchRestriction"),
            "D:(D;;CCLC;;;BU)(A;;CCDCLCSWRP;;;BA)(A;;CCDCSW;;;WD)(A;;CCDCLCSWRP;;;S-1-5-32-562)(A;;CCDCLCSWRP;;;LU)"
            "(A;;CCDC;;;BU)");
  EXPECT_EQ(Ole("MachineAccessRestriction"), "D:(A;;CCDC;;;AN)(A;;CCDC;;;BG)(A;;CCDC;;;WD)");
  EXPECT_EQ(Ole("DefaultLaunchPermission"), "D:(A;;CCDCSW;;;IU)(A;;CCDCSW;;;SY)(A;;CCDC;;;BA)");
  EXPECT_EQ(Ole("DefaultAccessPermission"), kNoValue);
  EXPECT_NE(Log().find("|CAccessPerm::SetPermToDacl             |  The user \\No Such User  doesn't exist  ==> "
                       "GetSIDFromName()"),
            std::string::npos)
      << Log();
  // A second run gives the same descriptors, whatever the first one created.
  EXPECT_EQ(SecondRunRegistryChanges(0), "");
}

// A value that cannot be changed stays as it was: a right both allowed and
// denied, a value that is no descriptor, a NULL DACL. The other values of
// the feature are still applied; an id naming another key is refused.
TEST_P(DcomApplyTest, WhatCannotBeChangedIsLeftAloneAndTheRestApplied) {
  const std::string launchBefore = Ole("MachineLaunchRestriction");
  SetValue(plat::kHkeyLocalMachine, kOleKey, "MachineAccessRestriction", plat::kRegSz, plat::MakeRegSz("O:BAG:BAD:"));
  SetSddl(plat::kHkeyLocalMachine, kOleKey, "DefaultLaunchPermission", "O:BAG:BAD:NO_ACCESS_CONTROL");
  SetValue(plat::kHkeyClassesRoot, "AppID", "Kept", plat::kRegSz, plat::MakeRegSz("x"));
  SetValue(plat::kHkeyClassesRoot, "AppID\\{B}", "LaunchPermission", plat::kRegSz, plat::MakeRegSz("x"));
  WriteSingleFileSetup(Feature(
      "<t:limits><t:launch domain='' user='Users'><t:localLaunch allow='true' deny='true'/></t:launch>"
      "<t:access domain='' user='Users'>" + std::string(kLocalAccess) + "</t:access></t:limits>"
      "<t:defaults><t:launch domain='' user='Users'><t:localLaunch allow='true' deny='false'/></t:launch>"
      "<t:access domain='' user='Users'>" + kLocalAccess + "</t:access></t:defaults>"
      "<t:component applicationID='\\' DoesNotExistOnSystem='true'/>"
      "<t:component applicationID='{A}\\Sub' name='Elsewhere'/>"
      "<t:component applicationID='{B}' name='Beta'><t:authenticationLevel value='call'/>"
      "<t:launchPermissions value='customize'><t:launch domain='' user='Users'>"
      "<t:localLaunch allow='true' deny='false'/></t:launch></t:launchPermissions>"
      "<t:accessPermissions value='customize'><t:access domain='' user='Users'>" + kLocalAccess +
      "</t:access></t:accessPermissions></t:component>"));
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 10);
  EXPECT_EQ(Ole("MachineLaunchRestriction"), launchBefore);
  EXPECT_EQ(Ole("MachineAccessRestriction"), "invalid");
  EXPECT_EQ(Ole("DefaultLaunchPermission"), "D:NO_ACCESS_CONTROL");
  EXPECT_EQ(Ole("DefaultAccessPermission"), "D:(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)(A;;CCDC;;;BU)");
  EXPECT_EQ(AppIdString("{B}", ""), "Beta");
  EXPECT_EQ(AppIdString("{B}", "LaunchPermission"), "x");
  EXPECT_EQ(AppId("{B}", "AccessPermission"), "D:(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)(A;;CCDC;;;BU)");
  EXPECT_EQ(AppIdString("{B}", "AuthenticationLevel"), "3");
  EXPECT_EQ(AppIdString("", "Kept"), "x");
  const std::string log = Log();
  for (const char* line : {
           "|CPermission::GetAccessDenyRights()     |   There is an Permission accessright set both true",
           "|CDCOMTool::GetSecurityDescriptorFromRegistry |The value MachineAccessRestriction is not a valid "
           "self-relative security descriptor (REG_BINARY); it is left as it is. Error=1338",
           "|CLimitsDefaults::CreateAndAttachNewSD  |GetSecurityDescriptorDacl() failed.  ReturnValue=1338",
           "|CComponent::SetAccessLaunchPermissions |GetSecurityDescriptorFromRegistry() failed. ReturnValue=1338",
           "|CComponent::ApplyFeature               |RegDeleteKey(APPID\\\\) for DCOM application   failed.  "
           "ReturnValue=123",
           "|CComponent::CreateApplicationKeyInReg  |RegCreateKeyEx(HKEY_CLASSES_ROOT\\APPID\\{A}\\Sub) failed.  "
           "ReturnValue=123",
       }) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
}

// A feature of t:component elements only touches AppID keys; a removed
// application is no error on the second run either.
TEST_P(DcomApplyTest, ApplicationsCreatedChangedAndRemoved) {
  const std::string a = "{6C1D2E4A-0000-4F0E-8A51-00000000000A}";
  SetSddl(plat::kHkeyClassesRoot, "AppID\\" + a, "LaunchPermission", "O:BAG:BAD:(A;;CCDCSW;;;WD)");
  SetValue(plat::kHkeyClassesRoot, "AppID\\" + a, "LocalService", plat::kRegSz, plat::MakeRegSz("OldService"));
  SetSddl(plat::kHkeyClassesRoot, "AppID\\{B}", "AccessPermission", "O:BAG:BAD:(A;;CCDC;;;WD)");
  SetValue(plat::kHkeyClassesRoot, "AppID\\{C}", "", plat::kRegSz, plat::MakeRegSz("Gone soon"));
  WriteSingleFileSetup(Feature(
      "<t:component applicationID='" + a + "' name='Alpha' runAs='NETWORK SERVICE' localService='' "
      "serviceParameters='-x'><t:authenticationLevel value='Packet Privacy'/>"
      "<t:launchPermissions value='Use Default'><t:launch domain='' user='Users'>"
      "<t:localLaunch allow='true' deny='false'/></t:launch></t:launchPermissions>"
      "<t:accessPermissions value='customize'><t:access domain='' user='Everyone'>"
      "<t:localAccess allow='true' deny='false'/><t:remoteAccess allow='false' deny='true'/></t:access>"
      "</t:accessPermissions><t:configurationPermissions value='use default'/></t:component>"
      "<t:component applicationID='{B}' name='Beta'><t:authenticationLevel value='sometimes'/>"
      "<t:accessPermissions value='customize'/></t:component>"
      "<t:component applicationID='{C}' name='Gamma' DoesNotExistOnSystem='true'/>"));
  const std::string oleBefore = HostTool({"dcom"}).out;
  ASSERT_EQ(HostTool({"snapshot", "save", "zero"}).exitCode, 0);

  ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0) << Log();
  std::istringstream changes(RegistryChangesSince("zero"));
  for (std::string line; std::getline(changes, line);) {
    EXPECT_NE(line.find("HKLM\\SOFTWARE\\Classes\\AppID\\"), std::string::npos) << line;
  }
  const bool german = std::string(GetParam()) == "de-DE";
  EXPECT_EQ(AppIdString(a, ""), "Alpha");
  EXPECT_EQ(AppIdString(a, "RunAs"), german ? "NETZWERKDIENST" : "NETWORK SERVICE");
  EXPECT_EQ(AppIdString(a, "LocalService"), "OldService");
  EXPECT_EQ(AppIdString(a, "ServiceParameters"), "-x");
  EXPECT_EQ(AppIdString(a, "AuthenticationLevel"), "6");
  EXPECT_EQ(AppId(a, "LaunchPermission"), kNoValue);
  EXPECT_EQ(AppId(a, "AccessPermission"), "D:(D;;CCLC;;;WD)(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)(A;;CCDC;;;WD)");
  EXPECT_EQ(AppIdString("{B}", "AuthenticationLevel"), "0");
  EXPECT_EQ(AppId("{B}", "AccessPermission"), "D:(A;;CCDC;;;WD)");
  EXPECT_EQ(AppIdString("{C}", ""), "(no key)");
  EXPECT_NE(Log().find("|CComponent::GetAuthenticationLevel AL  |  Unknown Authentication Level 'sometimes'. Using "
                       "default Authentication Level"),
            std::string::npos);
  EXPECT_EQ(HostTool({"dcom"}).out, oleBefore);
  EXPECT_NE(HostTool({"dcom", "appid", a}).out.find("  AccessPermission\n    SDDL: "), std::string::npos);

  EXPECT_EQ(SecondRunRegistryChanges(0), "");
  EXPECT_NE(Log().find("DCOM application Gamma ({C}) does not exist - nothing to delete"), std::string::npos) << Log();
}

}  // namespace
