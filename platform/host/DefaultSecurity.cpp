#include "platform/host/DefaultSecurity.h"

#include "platform/WinError.h"
#include "platform/winsec/Sddl.h"

namespace host {
namespace {

// Windows generations whose installations differ in these descriptors.
enum class Generation { kNt5, kNt6, kNt62 };

Generation GenerationOf(const Profile& profile) {
  if (profile.major < 6) return Generation::kNt5;
  if (profile.major == 6 && profile.minor < 2) return Generation::kNt6;
  return Generation::kNt62;
}

// "{user}" stands for the SID of the user whose hive it is; S-1-5-80-956...
// is NT SERVICE\TrustedInstaller, which owns the system folders since 6.0.
// The sets of ACEs follow what icacls and regedit show on fresh
// installations; ACE order within a descriptor is this host's choice.
struct DefaultSddl {
  DefaultObject object;
  Generation generation;
  const char* sddl;
};

#define TI "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

constexpr DefaultSddl kDefaults[] = {
    {DefaultObject::kDriveRoot, Generation::kNt5,
     "O:BAG:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;BU)"
     "(A;CIIO;DC;;;BU)(A;;0x1200a9;;;WD)"},
    {DefaultObject::kDriveRoot, Generation::kNt6,
     "O:" TI "G:" TI "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
     "(A;;LC;;;AU)"},
    {DefaultObject::kDriveRoot, Generation::kNt62,
     "O:" TI "G:" TI "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
     "(A;;LC;;;AU)"},
    {DefaultObject::kWindowsFolder, Generation::kNt5,
     "O:BAG:SYD:PAI(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;;0x1301bf;;;PU)(A;OICIIO;SDGXGWGR;;;PU)(A;;FA;;;BA)"
     "(A;OICIIO;GA;;;BA)(A;OICIIO;GA;;;CO)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)"},
    {DefaultObject::kWindowsFolder, Generation::kNt6,
     "O:" TI "G:" TI "D:PAI(A;;FA;;;" TI ")(A;CIIO;GA;;;" TI ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)"
     "(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)"},
    {DefaultObject::kWindowsFolder, Generation::kNt62,
     "O:" TI "G:" TI "D:PAI(A;;FA;;;" TI ")(A;CIIO;GA;;;" TI ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)"
     "(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)"
     "(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)"},
    {DefaultObject::kMachineHive, Generation::kNt5,
     "O:BAG:SYD:PAI(A;CIIO;GA;;;CO)(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)"},
    {DefaultObject::kMachineHive, Generation::kNt6,
     "O:BAG:SYD:PAI(A;CIIO;GA;;;CO)(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)"},
    {DefaultObject::kMachineHive, Generation::kNt62,
     "O:BAG:SYD:PAI(A;CIIO;GA;;;CO)(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;AC)"},
    // Owner Administrators, group SYSTEM before 6.x and Administrators since.
    {DefaultObject::kMachineSoftware, Generation::kNt5,
     "O:BAG:SYD:PAI(A;CIIO;GA;;;CO)(A;;KR;;;BU)(A;CIIO;GR;;;BU)(A;;0x3001f;;;PU)(A;CIIO;SDGWGR;;;PU)(A;;KA;;;BA)"
     "(A;CIIO;GA;;;BA)(A;;KA;;;SY)(A;CIIO;GA;;;SY)"},
    {DefaultObject::kMachineSoftware, Generation::kNt6,
     "O:BAG:BAD:PAI(A;CIIO;GA;;;CO)(A;CIIO;GA;;;SY)(A;;KA;;;SY)(A;CIIO;GA;;;BA)(A;;KA;;;BA)(A;CIIO;GR;;;BU)"
     "(A;;KR;;;BU)"},
    {DefaultObject::kMachineSoftware, Generation::kNt62,
     "O:BAG:BAD:PAI(A;CIIO;GA;;;CO)(A;CIIO;GA;;;SY)(A;;KA;;;SY)(A;CIIO;GA;;;BA)(A;;KA;;;BA)(A;CIIO;GR;;;BU)"
     "(A;;KR;;;BU)(A;CIIO;GR;;;AC)(A;;KR;;;AC)"},
    {DefaultObject::kUsersHive, Generation::kNt5, "O:BAG:SYD:PAI(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)"},
    {DefaultObject::kUsersHive, Generation::kNt6, "O:BAG:SYD:PAI(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)"},
    {DefaultObject::kUsersHive, Generation::kNt62, "O:BAG:SYD:PAI(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)"},
    {DefaultObject::kUserHive, Generation::kNt5,
     "O:{user}G:SYD:PAI(A;CI;KA;;;{user})(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;RC)"},
    {DefaultObject::kUserHive, Generation::kNt6,
     "O:{user}G:SYD:PAI(A;CI;KA;;;{user})(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;RC)"},
    {DefaultObject::kUserHive, Generation::kNt62,
     "O:{user}G:SYD:PAI(A;CI;KA;;;{user})(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;RC)"},
};

#undef TI

std::string ReplaceAll(std::string text, std::string_view from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

}  // namespace

std::string DefaultSddlOf(DefaultObject object, const Profile& profile) {
  const Generation generation = GenerationOf(profile);
  for (const DefaultSddl& entry : kDefaults) {
    if (entry.object == object && entry.generation == generation) return entry.sddl;
  }
  return "";
}

winsec::SecurityDescriptor DefaultSecurityOf(DefaultObject object, const Profile& profile, const winsec::Sid& user,
                                             const winsec::Sid& domain) {
  const std::string sddl = ReplaceAll(DefaultSddlOf(object, profile), "{user}", user.ToString());
  winsec::SecurityDescriptor sd;
  winsec::SddlDomains domains;
  domains.machine = domain;
  // The table is fixed and tested; a descriptor that does not parse would
  // read back as no descriptor at all (a NULL DACL).
  winsec::SecurityDescriptorFromSddl(sddl, &sd, domains);
  return sd;
}

CreatorDefaults CreatorDefaultsOf(HostDb& db) {
  winsec::Sid user, domain, group;
  winsec::Sid::FromString(db.Meta("user_sid"), &user);
  winsec::Sid::FromString(db.Meta("domain_sid"), &domain);
  winsec::Sid::WithRid(domain, winsec::kRidDomainUsers, &group);  // "None" on a workstation
  const bool admin = db.Meta("user_admin") == "1";
  return {admin ? winsec::Sid::BuiltinAdministrators() : user, group};
}

}  // namespace host
