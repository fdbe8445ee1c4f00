#include "platform/host/WellKnownAccounts.h"

namespace host {
namespace {

using plat::SidNameUse;

// German names: those seen on German installations are taken as they are;
// where none was seen (Gäste, Remotedesktopbenutzer, the mandatory labels
// ...), the name follows the pattern of the others and is this host's best
// guess. Case follows the English original ("Jeder" but "SYSTEM").
constexpr WellKnownAccount kWellKnown[] = {
    {"S-1-0-0", WellKnownDomain::kNone, "NULL SID", "NULL SID", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-1-0", WellKnownDomain::kNone, "Everyone", "Jeder", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-2-0", WellKnownDomain::kNone, "LOCAL", "LOKAL", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-2-1", WellKnownDomain::kNone, "CONSOLE LOGON", "KONSOLENANMELDUNG", SidNameUse::kWellKnownGroup, kNt61},
    {"S-1-3-0", WellKnownDomain::kNone, "CREATOR OWNER", "ERSTELLER-BESITZER", SidNameUse::kWellKnownGroup,
     kAllVersions},
    {"S-1-3-1", WellKnownDomain::kNone, "CREATOR GROUP", "ERSTELLERGRUPPE", SidNameUse::kWellKnownGroup,
     kAllVersions},
    {"S-1-3-2", WellKnownDomain::kNone, "CREATOR OWNER SERVER", "ERSTELLER-BESITZER-SERVER",
     SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-3-3", WellKnownDomain::kNone, "CREATOR GROUP SERVER", "ERSTELLERGRUPPENSERVER",
     SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-3-4", WellKnownDomain::kNone, "OWNER RIGHTS", "BESITZERRECHTE", SidNameUse::kWellKnownGroup, kNt60},
    {"S-1-5-1", WellKnownDomain::kNtAuthority, "DIALUP", "DFÜ", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-2", WellKnownDomain::kNtAuthority, "NETWORK", "NETZWERK", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-3", WellKnownDomain::kNtAuthority, "BATCH", "BATCH", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-4", WellKnownDomain::kNtAuthority, "INTERACTIVE", "INTERAKTIV", SidNameUse::kWellKnownGroup,
     kAllVersions},
    {"S-1-5-6", WellKnownDomain::kNtAuthority, "SERVICE", "DIENST", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-7", WellKnownDomain::kNtAuthority, "ANONYMOUS LOGON", "ANONYMOUS-ANMELDUNG",
     SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-8", WellKnownDomain::kNtAuthority, "PROXY", "PROXY", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-9", WellKnownDomain::kNtAuthority, "ENTERPRISE DOMAIN CONTROLLERS",
     "DOMÄNENCONTROLLER DER ORGANISATION", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-10", WellKnownDomain::kNtAuthority, "SELF", "SELBST", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-11", WellKnownDomain::kNtAuthority, "Authenticated Users", "Authentifizierte Benutzer",
     SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-12", WellKnownDomain::kNtAuthority, "RESTRICTED", "EINGESCHRÄNKT", SidNameUse::kWellKnownGroup,
     kAllVersions},
    {"S-1-5-13", WellKnownDomain::kNtAuthority, "TERMINAL SERVER USER", "TERMINALSERVERBENUTZER",
     SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-14", WellKnownDomain::kNtAuthority, "REMOTE INTERACTIVE LOGON", "REMOTE-INTERAKTIVE ANMELDUNG",
     SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-15", WellKnownDomain::kNtAuthority, "This Organization", "Diese Organisation",
     SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-17", WellKnownDomain::kNtAuthority, "IUSR", "IUSR", SidNameUse::kWellKnownGroup, kNt60},
    {"S-1-5-18", WellKnownDomain::kNtAuthority, "SYSTEM", "SYSTEM", SidNameUse::kWellKnownGroup, kAllVersions},
    {"S-1-5-19", WellKnownDomain::kNtAuthority, "LOCAL SERVICE", "LOKALER DIENST", SidNameUse::kWellKnownGroup,
     kAllVersions},
    {"S-1-5-20", WellKnownDomain::kNtAuthority, "NETWORK SERVICE", "NETZWERKDIENST", SidNameUse::kWellKnownGroup,
     kAllVersions},
    {"S-1-5-64-10", WellKnownDomain::kNtAuthority, "NTLM Authentication", "NTLM-Authentifizierung",
     SidNameUse::kWellKnownGroup, kAllVersions},
    {kTrustedInstallerSid, WellKnownDomain::kNtService, "TrustedInstaller", "TrustedInstaller",
     SidNameUse::kWellKnownGroup, kNt60},
    {"S-1-15-2-1", WellKnownDomain::kAppPackageAuthority, "ALL APPLICATION PACKAGES", "ALLE ANWENDUNGSPAKETE",
     SidNameUse::kWellKnownGroup, kNt62},
    {"S-1-16-4096", WellKnownDomain::kMandatoryLabel, "Low Mandatory Level", "Niedrige Verbindlichkeitsstufe",
     SidNameUse::kLabel, kNt60},
    {"S-1-16-8192", WellKnownDomain::kMandatoryLabel, "Medium Mandatory Level", "Mittlere Verbindlichkeitsstufe",
     SidNameUse::kLabel, kNt60},
    {"S-1-16-12288", WellKnownDomain::kMandatoryLabel, "High Mandatory Level", "Hohe Verbindlichkeitsstufe",
     SidNameUse::kLabel, kNt60},
    {"S-1-16-16384", WellKnownDomain::kMandatoryLabel, "System Mandatory Level", "Systemverbindlichkeitsstufe",
     SidNameUse::kLabel, kNt60},
};

// The aliases of a workstation or member server (domain controllers have
// more). Descriptions as the local-users snap-in shows them.
constexpr BuiltinAliasDef kBuiltinAliases[] = {
    {544, "Administrators", "Administratoren",
     "Administrators have complete and unrestricted access to the computer/domain",
     "Administratoren haben uneingeschränkten Vollzugriff auf den Computer bzw. die Domäne.", kAllVersions},
    {545, "Users", "Benutzer",
     "Users are prevented from making accidental or intentional system-wide changes and can run most "
     "applications",
     "Benutzer können keine zufälligen oder beabsichtigten Änderungen am System durchführen und dürfen die "
     "meisten herkömmlichen Anwendungen ausführen.",
     kAllVersions},
    {546, "Guests", "Gäste",
     "Guests have the same access as members of the Users group by default, except for the Guest account which "
     "is further restricted",
     "Gäste besitzen standardmäßig die selben Zugriffsrechte wie die Mitglieder der Benutzergruppe. Das "
     "Gastkonto ist jedoch zusätzlich eingeschränkt.",
     kAllVersions},
    {547, "Power Users", "Hauptbenutzer",
     "Power Users are included for backwards compatibility and possess limited administrative powers",
     "Hauptbenutzer sind aus Gründen der Rückwärtskompatibilität eingeschlossen und haben eingeschränkte "
     "Administratorrechte.",
     kAllVersions},
    {551, "Backup Operators", "Sicherungs-Operatoren",
     "Backup Operators can override security restrictions for the sole purpose of backing up or restoring files",
     "Sicherungs-Operatoren können Sicherheitseinschränkungen lediglich zum Sichern oder Wiederherstellen von "
     "Dateien außer Kraft setzen.",
     kAllVersions},
    {552, "Replicator", "Replikations-Operator", "Supports file replication in a domain",
     "Unterstützt Dateireplikation in Domänen", kAllVersions},
    {555, "Remote Desktop Users", "Remotedesktopbenutzer", "Members in this group are granted the right to logon remotely",
     "Die Mitglieder dieser Gruppe besitzen die Berechtigung, sich remote anzumelden.", kAllVersions},
    {556, "Network Configuration Operators", "Netzwerkkonfigurations-Operatoren",
     "Members in this group can have some administrative privileges to manage configuration of networking "
     "features",
     "Mitglieder dieser Gruppe verfügen über einige Administratorrechte zur Verwaltung der Konfiguration von "
     "Netzwerkfunktionen.",
     kAllVersions},
    {558, "Performance Monitor Users", "Leistungsüberwachungsbenutzer",
     "Members of this group can access performance counter data locally and remotely",
     "Mitglieder dieser Gruppe können lokal und remote auf Leistungszählerdaten zugreifen.", kNt52},
    {559, "Performance Log Users", "Leistungsprotokollbenutzer",
     "Members of this group may schedule logging of performance counters, enable trace providers, and collect "
     "event traces both locally and via remote access to this computer",
     "Mitglieder dieser Gruppe können die Protokollierung von Leistungsindikatoren planen, "
     "Ablaufverfolgungsanbieter aktivieren und Ereignisablaufverfolgungen sowohl lokal als auch per "
     "Remotezugriff auf diesen Computer sammeln.",
     kNt52},
    {562, "Distributed COM Users", "Distributed COM-Benutzer",
     "Members are allowed to launch, activate and use Distributed COM objects on this machine.",
     "Mitglieder dürfen Distributed-COM-Objekte auf diesem Computer starten, aktivieren und verwenden.", kNt52},
    {568, "IIS_IUSRS", "IIS_IUSRS", "Built-in group used by Internet Information Services.",
     "Von Internetinformationsdiensten verwendete integrierte Gruppe.", kNt60},
    {569, "Cryptographic Operators", "Kryptografie-Operatoren",
     "Members are authorized to perform cryptographic operations.",
     "Mitglieder sind berechtigt, kryptografische Vorgänge durchzuführen.", kNt60},
    {573, "Event Log Readers", "Ereignisprotokollleser", "Members of this group can read event logs from local machine",
     "Mitglieder dieser Gruppe dürfen Ereignisprotokolle des lokalen Computers lesen.", kNt60},
    {578, "Hyper-V Administrators", "Hyper-V-Administratoren",
     "Members of this group have complete and unrestricted access to all features of Hyper-V.",
     "Die Mitglieder dieser Gruppe erhalten vollständigen und uneingeschränkten Zugriff auf sämtliche Features "
     "von Hyper-V.",
     kNt62},
    {579, "Access Control Assistance Operators", "Zugriffssteuerungs-Unterstützungsoperatoren",
     "Members of this group can remotely query authorization attributes and permissions for resources on this "
     "computer.",
     "Mitglieder dieser Gruppe können Autorisierungsattribute und Berechtigungen für Ressourcen auf dem Computer "
     "remote abfragen.",
     kNt62},
    {580, "Remote Management Users", "Remoteverwaltungsbenutzer",
     "Members of this group can access WMI resources over management protocols (such as WS-Management via the "
     "Windows Remote Management service). This applies only to WMI namespaces that grant access to the user.",
     "Mitglieder dieser Gruppe können über Verwaltungsprotokolle (z. B. WS-Verwaltung über den "
     "Windows-Remoteverwaltungsdienst) auf WMI-Ressourcen zugreifen. Dies gilt nur für WMI-Namespaces, die dem "
     "Benutzer Zugriff gewähren.",
     kNt62},
};

constexpr BuiltinDomainAccountDef kDomainAccounts[] = {
    {500, SidNameUse::kUser, "Administrator", "Administrator",
     "Built-in account for administering the computer/domain",
     "Vordefiniertes Konto für die Verwaltung des Computers bzw. der Domäne"},
    {501, SidNameUse::kUser, "Guest", "Gast", "Built-in account for guest access to the computer/domain",
     "Vordefiniertes Konto für Gastzugriff auf den Computer bzw. die Domäne"},
    // Every local user belongs to this global group; it is why a local
    // group cannot be called "None".
    {513, SidNameUse::kGroup, "None", "Kein", "Ordinary users", "Normale Benutzer"},
};

}  // namespace

AccountLanguage AccountLanguageOf(std::string_view language) {
  return language == "de-DE" ? AccountLanguage::kGerman : AccountLanguage::kEnglish;
}

uint16_t VersionOf(const Profile& profile) { return static_cast<uint16_t>(profile.major * 100 + profile.minor); }

std::string DomainDisplayName(WellKnownDomain domain, AccountLanguage language) {
  switch (domain) {
    case WellKnownDomain::kNone: return "";
    case WellKnownDomain::kNtAuthority: return InLanguage(language, "NT AUTHORITY", "NT-AUTORITÄT");
    case WellKnownDomain::kBuiltin: return InLanguage(language, "BUILTIN", "VORDEFINIERT");
    case WellKnownDomain::kNtService: return "NT SERVICE";
    case WellKnownDomain::kAppPackageAuthority:
      return InLanguage(language, "APPLICATION PACKAGE AUTHORITY",
                        "ZERTIFIZIERUNGSSTELLE FÜR ANWENDUNGSPAKETE");
    case WellKnownDomain::kMandatoryLabel: return InLanguage(language, "Mandatory Label", "Verbindliche Beschriftung");
  }
  return "";
}

std::span<const WellKnownAccount> WellKnownAccounts() { return kWellKnown; }
std::span<const BuiltinAliasDef> BuiltinAliases() { return kBuiltinAliases; }
std::span<const BuiltinDomainAccountDef> BuiltinDomainAccounts() { return kDomainAccounts; }

}  // namespace host
