#include "bench/BenchInputs.h"

#include <array>
#include <cstdio>

#include "securityfiles/SecurityFileFormat.h"

namespace bench {
namespace {

// One round of twenty features, in the proportions a product's file has:
// mostly permissions and updates, a few groups, DCOM and firewall entries.
enum class Slot { kGroupUser, kFilePath, kRegistryPath, kComponentService, kLan, kWua };
constexpr std::array<Slot, 20> kRound = {
    Slot::kGroupUser,        Slot::kGroupUser,        Slot::kFilePath,     Slot::kFilePath,
    Slot::kFilePath,         Slot::kFilePath,         Slot::kRegistryPath, Slot::kRegistryPath,
    Slot::kRegistryPath,     Slot::kRegistryPath,     Slot::kComponentService, Slot::kComponentService,
    Slot::kLan,              Slot::kLan,              Slot::kWua,          Slot::kWua,
    Slot::kWua,              Slot::kWua,              Slot::kWua,          Slot::kWua,
};

// Feature elements that the schema nests in a container element.
const char* ContainerOf(Slot slot) {
  switch (slot) {
    case Slot::kFilePath: return "t:fileSystemPermissions";
    case Slot::kRegistryPath: return "t:registry";
    case Slot::kLan: return "t:network";
    default: return nullptr;
  }
}

std::string Number(int n) { return std::to_string(n); }

std::string GroupUser(int n) {
  const std::string g = "Bench Group " + Number(n);
  return "\t\t\t<t:groupuser critical=\"false\" adaptionmoment=\"BeforeInstallation\">\r\n"
         "\t\t\t\t<t:group value=\"" + g + " Operators\" domain=\"\" comment=\"Operators of bench unit " + Number(n) + "\"/>\r\n"
         "\t\t\t\t<t:group value=\"" + g + " Engineers\" domain=\"\" comment=\"Engineers of bench unit " + Number(n) + "\"/>\r\n"
         "\t\t\t\t<t:user value=\"[LOGONUSER]\" domain=\"\">\r\n"
         "\t\t\t\t\t<t:groupmember value=\"" + g + " Engineers\" domain=\"\"/>\r\n"
         "\t\t\t\t\t<t:groupmember value=\"" + g + " Operators\" domain=\"\"/>\r\n"
         "\t\t\t\t</t:user>\r\n"
         "\t\t\t</t:groupuser>\r\n";
}

std::string FilePath(int n) {
  return "\t\t\t\t<t:fileSystemPath value=\"[INSTALLDIR]\\Data" + Number(n) +
         "\" adaptionmoment=\"AfterInstallation\" critical=\"false\">\r\n"
         "\t\t\t\t\t<t:filePermissions user=\"Users\" domain=\"\" applyOnto=\"This folder, subfolders and files\" applyWithinThisContainerOnly=\"false\">\r\n"
         "\t\t\t\t\t\t<t:traverseFolder_executeFile allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t\t<t:listFolder_readData allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t\t<t:readAttributes allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t\t<t:readPermissions allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t</t:filePermissions>\r\n"
         "\t\t\t\t\t<t:filePermissions user=\"Guests\" domain=\"\" applyOnto=\"This folder and subfolders\" applyWithinThisContainerOnly=\"false\">\r\n"
         "\t\t\t\t\t\t<t:delete allow=\"false\" deny=\"true\"/>\r\n"
         "\t\t\t\t\t</t:filePermissions>\r\n"
         "\t\t\t\t\t<t:inheritFromParentToChild value=\"true\" inherited=\"CopyInherited\"/>\r\n"
         "\t\t\t\t\t<t:replaceAllChild value=\"false\"/>\r\n"
         "\t\t\t\t</t:fileSystemPath>\r\n";
}

std::string RegistryPath(int n) {
  return "\t\t\t\t<t:path hkey=\"HKEY_LOCAL_MACHINE\" value=\"SOFTWARE\\Bench\\Unit" + Number(n) +
         "\" oswow=\"NO\" os64bit=\"YES\">\r\n"
         "\t\t\t\t\t<t:key name=\"InstallPath\" keytype=\"REG_SZ\" value=\"[INSTALLDIR]\"/>\r\n"
         "\t\t\t\t\t<t:key name=\"ListenPort\" keytype=\"REG_DWORD\" value=\"" + Number(50000 + n % 10000) + "\"/>\r\n"
         "\t\t\t\t\t<t:registryPermissions user=\"Users\" domain=\"\" applyOntoReg=\"This key and subkeys\" applyWithinThisContainerOnly=\"false\">\r\n"
         "\t\t\t\t\t\t<t:queryValue allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t\t<t:enumSubKey allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t\t<t:readControl allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t</t:registryPermissions>\r\n"
         "\t\t\t\t\t<t:inheritFromParentToChild value=\"true\" inherited=\"CopyInherited\"/>\r\n"
         "\t\t\t\t</t:path>\r\n";
}

std::string ComponentService(int n) {
  return "\t\t\t<t:componentService reboot=\"no\">\r\n"
         "\t\t\t\t<t:dcom>\r\n"
         "\t\t\t\t\t<t:component applicationID=\"" + GuidText(static_cast<unsigned>(n)) +
         "\" name=\"Bench Server " + Number(n) + "\" runAs=\"Interactive User\" localService=\"\" serviceParameters=\"\">\r\n"
         "\t\t\t\t\t\t<t:authenticationLevel value=\"connect\"/>\r\n"
         "\t\t\t\t\t\t<t:launchPermissions value=\"customize\">\r\n"
         "\t\t\t\t\t\t\t<t:launch domain=\"\" user=\"Users\">\r\n"
         "\t\t\t\t\t\t\t\t<t:localLaunch allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t\t\t\t<t:localActivation allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t\t\t</t:launch>\r\n"
         "\t\t\t\t\t\t</t:launchPermissions>\r\n"
         "\t\t\t\t\t\t<t:accessPermissions value=\"customize\">\r\n"
         "\t\t\t\t\t\t\t<t:access domain=\"\" user=\"Users\">\r\n"
         "\t\t\t\t\t\t\t\t<t:localAccess allow=\"true\" deny=\"false\"/>\r\n"
         "\t\t\t\t\t\t\t</t:access>\r\n"
         "\t\t\t\t\t\t</t:accessPermissions>\r\n"
         "\t\t\t\t\t</t:component>\r\n"
         "\t\t\t\t</t:dcom>\r\n"
         "\t\t\t</t:componentService>\r\n";
}

std::string Lan(int n) {
  return "\t\t\t\t<t:lan value=\"Local Area Connection\">\r\n"
         "\t\t\t\t\t<t:port name=\"Bench Channel " + Number(n) + "\" value=\"" + Number(40000 + n % 20000) +
         "\" tcp=\"true\" udp=\"false\" exists=\"true\" enable=\"yes\" firewallProfile=\"private\">\r\n"
         "\t\t\t\t\t\t<t:scopeCustom value=\"LocalSubnet,10.20.0.0/255.255.0.0\"/>\r\n"
         "\t\t\t\t\t</t:port>\r\n"
         "\t\t\t\t</t:lan>\r\n";
}

// Pause and resume alternate, as a product's files ask for them.
std::string Wua(int n, const std::string& moment) {
  return std::string("\t\t\t<t:wua value=\"") + (n % 2 == 0 ? "pause" : "resume") + "\" adaptionmoment=\"" + moment +
         "\"/>\r\n";
}

std::string Feature(Slot slot, int n, const SecurityFileShape& shape) {
  switch (slot) {
    case Slot::kGroupUser: return GroupUser(n);
    case Slot::kFilePath: return FilePath(n);
    case Slot::kRegistryPath: return RegistryPath(n);
    case Slot::kComponentService: return ComponentService(n);
    case Slot::kLan: return Lan(n);
    case Slot::kWua: return Wua(n, shape.wuaMoment);
  }
  return {};
}

std::string Body(const SecurityFileShape& shape) {
  std::string body;
  const char* open = nullptr;  // the container element now open, if any
  for (int i = 0; i < shape.features; ++i) {
    const Slot slot = shape.wuaOnly ? Slot::kWua : kRound[static_cast<size_t>(i) % kRound.size()];
    const char* container = ContainerOf(slot);
    if (open && open != container) {
      body += "\t\t\t</" + std::string(open) + ">\r\n";
      open = nullptr;
    }
    if (container && !open) {
      body += "\t\t\t<" + std::string(container) + ">\r\n";
      open = container;
    }
    body += Feature(slot, i, shape);
  }
  if (open) body += "\t\t\t</" + std::string(open) + ">\r\n";
  return body;
}

}  // namespace

std::string GuidText(unsigned number) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-1B7E-4C1A-9D2E-%012X}", number * 2654435761u, number);
  return text;
}

std::string SecurityFileText(const SecurityFileShape& shape) {
  return std::string("<?xml version=\"1.0\" encoding=\"") + (shape.utf16 ? "UTF-16" : "UTF-8") + "\"?>\r\n" +
         "<t:vscSetup xmlns:t=\"" + secfile::kSecurityFileNamespace + "\">\r\n"
         "\t<t:host name=\"\">\r\n"
         "\t\t<t:products>\r\n"
         "\t\t\t<t:product value=\"" + shape.productValue + "\"/>\r\n"
         "\t\t\t<t:checksum value=\"00000000000000000000000000000000\"/>\r\n"
         "\t\t</t:products>\r\n"
         "\t\t<t:body>\r\n" + Body(shape) +
         "\t\t</t:body>\r\n"
         "\t</t:host>\r\n"
         "</t:vscSetup>\r\n";
}

std::string TreePermissionFileText(const std::string& folder, const std::string& group) {
  const auto right = [](const char* element, bool deny = false) {
    return std::string("\t\t\t\t\t\t<t:") + element +
           (deny ? " allow=\"false\" deny=\"true\"/>\r\n" : " allow=\"true\" deny=\"false\"/>\r\n");
  };
  const auto entry = [](const std::string& user, const char* applyOnto, const std::string& rights) {
    return "\t\t\t\t\t<t:filePermissions user=\"" + user + "\" domain=\"\" applyOnto=\"" + applyOnto +
           "\" applyWithinThisContainerOnly=\"false\">\r\n" + rights + "\t\t\t\t\t</t:filePermissions>\r\n";
  };
  const std::string read = right("traverseFolder_executeFile") + right("listFolder_readData") +
                           right("readAttributes") + right("readExtendedAttributes") + right("readPermissions");
  const std::string modify = read + right("createFiles_writeData") + right("createFolders_appendData") +
                             right("writeAttributes") + right("writeExtendedAttributes") + right("delete");
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n") +
         "<t:vscSetup xmlns:t=\"" + secfile::kSecurityFileNamespace + "\">\r\n"
         "\t<t:host name=\"\">\r\n"
         "\t\t<t:products>\r\n"
         "\t\t\t<t:product value=\"Bench Tree Product\"/>\r\n"
         "\t\t\t<t:checksum value=\"00000000000000000000000000000000\"/>\r\n"
         "\t\t</t:products>\r\n"
         "\t\t<t:body>\r\n"
         "\t\t\t<t:fileSystemPermissions>\r\n"
         "\t\t\t\t<t:fileSystemPath value=\"" + folder + "\" adaptionmoment=\"AfterInstallation\" critical=\"false\">\r\n" +
         entry("Users", "This folder, subfolders and files", read) +
         entry(group, "This folder, subfolders and files", modify) +
         entry("Everyone", "This folder only", right("delete", true)) +
         "\t\t\t\t\t<t:inheritFromParentToChild value=\"true\" inherited=\"CopyInherited\"/>\r\n"
         "\t\t\t\t\t<t:replaceAllChild value=\"true\"/>\r\n"
         "\t\t\t\t</t:fileSystemPath>\r\n"
         "\t\t\t</t:fileSystemPermissions>\r\n"
         "\t\t</t:body>\r\n"
         "\t</t:host>\r\n"
         "</t:vscSetup>\r\n";
}

std::string OpFileText(const OpFileShape& shape) {
  std::string text = "[GENERAL]\r\n"
                     "SessionID=" + GuidText(1) + "\r\n"
                     "ResourcePath=" + shape.resourcePath + "\r\n"
                     "LanguagePackPath=\r\n"
                     "SetupLanguage=1033\r\n"
                     "LogfilePath=" + shape.logfilePath + "\r\n"
                     "InstallationMoment=" + Number(shape.installationMoment) + "\r\n"
                     "Feature=\r\n";
  for (size_t p = 0; p < shape.products.size(); ++p) {
    const OpFileProduct& product = shape.products[p];
    text += "[Product" + std::to_string(p + 1) + "]\r\n";
    text += "UpgradeCode=" + product.upgradeCode + "\r\n";
    text += "InstallDir=" + product.installDir + "\r\n";
    for (size_t f = 0; f < product.securityFiles.size(); ++f) {
      text += "SecurityXML" + std::to_string(f + 1) + "=" + product.securityFiles[f] + "\r\n";
    }
  }
  return text;
}

std::string HistoryText(int setups) {
  // The declaration the program gives its own documents, so a save keeps
  // the file in UTF-16 as the program's own history is.
  std::string text = std::string("<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?>\r\n") +
                     "<t:TarvoHistory xmlns:t=\"" + secfile::kProgramNamespace + "\">\r\n";
  for (int s = 0; s < setups; ++s) {
    text += "\t<t:Setup SessionId=\"" + GuidText(static_cast<unsigned>(s + 100)) + "\">\r\n";
    text += "\t\t<t:Product name=\"Bench History Product " + Number(s % 50) + "\" moment=\"TargetValue\">\r\n";
    text += "\t\t\t<t:wua adaptionmoment=\"BeforeInstallation\" value=\"pause\"/>\r\n";
    text += "\t\t\t<t:wua adaptionmoment=\"AfterInstallation\" value=\"resume\"/>\r\n";
    text += "\t\t</t:Product>\r\n";
    text += "\t</t:Setup>\r\n";
  }
  text += "</t:TarvoHistory>\r\n";
  return text;
}

}  // namespace bench
