#include "platform/host/AccountDirectory.h"

#include <algorithm>

#include "platform/WinError.h"
#include "platform/host/Host.h"
#include "platform/text/Text.h"

namespace host {
namespace {

using plat::SidNameUse;

const char* KindText(AccountKind kind) {
  switch (kind) {
    case AccountKind::kUser: return "user";
    case AccountKind::kGroup: return "group";
    case AccountKind::kAlias: return "alias";
  }
  return "alias";
}

SidNameUse UseOfKind(std::string_view kind) {
  if (kind == "user") return SidNameUse::kUser;
  if (kind == "group") return SidNameUse::kGroup;
  return SidNameUse::kAlias;
}

SidNameUse UseOfKind(AccountKind kind) { return UseOfKind(KindText(kind)); }

// Latin-1 capitals U+00C0..U+00DE (without U+00D7, the multiplication
// sign) fold to the small letter 0x20 above them.
char32_t FoldCodePoint(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  return c;
}

bool SameName(std::string_view a, std::string_view b) { return FoldAccountName(a) == FoldAccountName(b); }

uint32_t LastRid(const winsec::Sid& sid) {
  uint32_t rid = 0;
  sid.Rid(&rid);
  return rid;
}

// Splits "DOMAIN\name" at its first backslash, as LsaLookupNames does.
bool SplitQualified(std::string_view accountName, std::string_view* domain, std::string_view* name) {
  const size_t slash = accountName.find('\\');
  if (slash == std::string_view::npos) return false;
  *domain = accountName.substr(0, slash);
  *name = accountName.substr(slash + 1);
  return true;
}

}  // namespace

std::string FoldAccountName(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  size_t pos = 0;
  while (pos < name.size()) text::AppendUtf8(folded, FoldCodePoint(text::NextCodePoint(name, pos)));
  return folded;
}

void SortAccounts(std::vector<Account>* accounts) {
  const winsec::Sid builtin = winsec::Sid::BuiltinDomain();
  std::stable_sort(accounts->begin(), accounts->end(), [&](const Account& a, const Account& b) {
    const bool aBuiltin = a.sid.IsInDomain(builtin);
    const bool bBuiltin = b.sid.IsInDomain(builtin);
    if (aBuiltin != bBuiltin) return aBuiltin;
    return LastRid(a.sid) < LastRid(b.sid);
  });
}

AccountDirectory::AccountDirectory(HostDb& db, const Profile& profile, AccountLanguage language,
                                   std::string computerName, winsec::Sid domainSid)
    : db_(db),
      profile_(profile),
      language_(language),
      computerName_(std::move(computerName)),
      domainSid_(std::move(domainSid)) {}

AccountDirectory AccountDirectory::Of(Host& host) {
  winsec::Sid domain;
  winsec::Sid::FromString(host.DomainSid(), &domain);
  return AccountDirectory(host.Db(), host.ProfileDef(), AccountLanguageOf(host.Language()),
                          host.Identity().computerName, domain);
}

std::string AccountDirectory::DomainOfStored(const winsec::Sid& sid) const {
  if (sid.IsInDomain(winsec::Sid::BuiltinDomain())) return DomainDisplayName(WellKnownDomain::kBuiltin, language_);
  return computerName_;
}

Account AccountDirectory::MakeStored(const winsec::Sid& sid, std::string_view kind, std::string name,
                                     std::string comment) const {
  Account account;
  account.sid = sid;
  account.name = std::move(name);
  account.domain = DomainOfStored(sid);
  account.use = UseOfKind(kind);
  account.comment = std::move(comment);
  account.stored = true;
  return account;
}

std::optional<Account> AccountDirectory::StoredBySid(const winsec::Sid& sid) {
  Statement st(db_, "SELECT kind, name, comment FROM account WHERE sid=?");
  st.Bind(1, sid.ToString());
  if (!st.Step()) return std::nullopt;
  return MakeStored(sid, st.Text(0), st.Text(1), st.Text(2));
}

std::optional<Account> AccountDirectory::WellKnownBySid(const winsec::Sid& sid) const {
  const std::string text = sid.ToString();
  for (const WellKnownAccount& entry : WellKnownAccounts()) {
    if (text != entry.sid || !AvailableOn(entry.since, profile_)) continue;
    Account account;
    account.sid = sid;
    account.name = InLanguage(language_, entry.english, entry.german);
    account.domain = DomainDisplayName(entry.domain, language_);
    account.use = entry.use;
    return account;
  }
  return std::nullopt;
}

// A domain SID names the domain itself: LookupAccountSid gives its name as
// both the account and the domain.
std::optional<Account> AccountDirectory::DomainBySid(const winsec::Sid& sid) const {
  std::string name;
  if (sid == winsec::Sid::BuiltinDomain()) {
    name = DomainDisplayName(WellKnownDomain::kBuiltin, language_);
  } else if (sid == domainSid_) {
    name = computerName_;
  } else {
    return std::nullopt;
  }
  Account account;
  account.sid = sid;
  account.name = name;
  account.domain = name;
  account.use = SidNameUse::kDomain;
  return account;
}

std::optional<Account> AccountDirectory::FindBySid(const winsec::Sid& sid) {
  if (auto stored = StoredBySid(sid)) return stored;
  if (auto wellKnown = WellKnownBySid(sid)) return wellKnown;
  return DomainBySid(sid);
}

std::vector<Account> AccountDirectory::StoredNamed(std::string_view name) {
  std::vector<Account> found;
  Statement st(db_, "SELECT sid, kind, name, comment FROM account WHERE fold=?");
  st.Bind(1, FoldAccountName(name));
  while (st.Step()) {
    winsec::Sid sid;
    if (winsec::Sid::FromString(st.Text(0), &sid) != winerr::kSuccess) continue;
    found.push_back(MakeStored(sid, st.Text(1), st.Text(2), st.Text(3)));
  }
  SortAccounts(&found);
  return found;
}

std::optional<Account> AccountDirectory::FindBare(std::string_view name) {
  for (const WellKnownAccount& entry : WellKnownAccounts()) {
    if (!AvailableOn(entry.since, profile_) || !SameName(name, InLanguage(language_, entry.english, entry.german))) {
      continue;
    }
    winsec::Sid sid;
    winsec::Sid::FromString(entry.sid, &sid);
    return WellKnownBySid(sid);
  }
  if (std::vector<Account> stored = StoredNamed(name); !stored.empty()) return stored.front();
  if (SameName(name, DomainDisplayName(WellKnownDomain::kBuiltin, language_))) {
    return DomainBySid(winsec::Sid::BuiltinDomain());
  }
  if (SameName(name, computerName_)) return DomainBySid(domainSid_);
  return std::nullopt;
}

std::optional<Account> AccountDirectory::FindQualified(std::string_view domain, std::string_view name) {
  if (name.empty()) return std::nullopt;
  for (const WellKnownAccount& entry : WellKnownAccounts()) {
    if (!AvailableOn(entry.since, profile_) || !SameName(domain, DomainDisplayName(entry.domain, language_)) ||
        !SameName(name, InLanguage(language_, entry.english, entry.german))) {
      continue;
    }
    winsec::Sid sid;
    winsec::Sid::FromString(entry.sid, &sid);
    return WellKnownBySid(sid);
  }
  for (Account& account : StoredNamed(name)) {
    if (SameName(account.domain, domain)) return account;
  }
  return std::nullopt;
}

std::optional<Account> AccountDirectory::FindByName(std::string_view accountName) {
  std::string_view domain, name;
  if (SplitQualified(accountName, &domain, &name)) return FindQualified(domain, name);
  if (accountName.empty()) return std::nullopt;
  return FindBare(accountName);
}

std::optional<Account> AccountDirectory::FindStored(std::string_view name, AccountKind kind) {
  std::string_view domain, bare;
  const bool qualified = SplitQualified(name, &domain, &bare);
  for (Account& account : StoredNamed(qualified ? bare : name)) {
    if (account.use != UseOfKind(kind)) continue;
    if (qualified && !SameName(account.domain, domain)) continue;
    return account;
  }
  return std::nullopt;
}

std::vector<Account> AccountDirectory::Stored(AccountKind kind) {
  std::vector<Account> accounts;
  Statement st(db_, "SELECT sid, name, comment FROM account WHERE kind=?");
  st.Bind(1, KindText(kind));
  while (st.Step()) {
    winsec::Sid sid;
    if (winsec::Sid::FromString(st.Text(0), &sid) != winerr::kSuccess) continue;
    accounts.push_back(MakeStored(sid, KindText(kind), st.Text(1), st.Text(2)));
  }
  SortAccounts(&accounts);
  return accounts;
}

std::vector<winsec::Sid> AccountDirectory::MembersOf(const winsec::Sid& group) {
  std::vector<winsec::Sid> members;
  Statement st(db_, "SELECT sid FROM member WHERE grp=? ORDER BY rowid");
  st.Bind(1, group.ToString());
  while (st.Step()) {
    winsec::Sid sid;
    if (winsec::Sid::FromString(st.Text(0), &sid) == winerr::kSuccess) members.push_back(sid);
  }
  return members;
}

bool AccountDirectory::IsMember(const winsec::Sid& group, const winsec::Sid& member) {
  Statement st(db_, "SELECT 1 FROM member WHERE grp=? AND sid=?");
  st.Bind(1, group.ToString()).Bind(2, member.ToString());
  return st.Step();
}

std::vector<Account> AccountDirectory::GroupsContaining(const std::vector<winsec::Sid>& members, AccountKind kind) {
  std::vector<Account> groups;
  Statement st(db_,
               "SELECT a.sid, a.name, a.comment FROM member m JOIN account a ON a.sid = m.grp "
               "WHERE m.sid=? AND a.kind=?");
  for (const winsec::Sid& member : members) {
    st.Reset();
    st.Bind(1, member.ToString()).Bind(2, KindText(kind));
    while (st.Step()) {
      winsec::Sid sid;
      if (winsec::Sid::FromString(st.Text(0), &sid) != winerr::kSuccess) continue;
      const bool known = std::any_of(groups.begin(), groups.end(), [&](const Account& a) { return a.sid == sid; });
      if (!known) groups.push_back(MakeStored(sid, KindText(kind), st.Text(1), st.Text(2)));
    }
  }
  SortAccounts(&groups);
  return groups;
}

void AccountDirectory::Insert(const winsec::Sid& sid, AccountKind kind, std::string_view name,
                              std::string_view comment) {
  Statement st(db_, "INSERT INTO account(sid, kind, name, fold, comment) VALUES(?, ?, ?, ?, ?)");
  st.Bind(1, sid.ToString()).Bind(2, KindText(kind)).Bind(3, name).Bind(4, FoldAccountName(name)).Bind(5, comment);
  st.Run();
}

void AccountDirectory::Remove(const winsec::Sid& sid) {
  const std::string text = sid.ToString();
  Statement members(db_, "DELETE FROM member WHERE grp=? OR sid=?");
  members.Bind(1, text).Bind(2, text).Run();
  Statement account(db_, "DELETE FROM account WHERE sid=?");
  account.Bind(1, text).Run();
}

void AccountDirectory::AddMember(const winsec::Sid& group, const winsec::Sid& member) {
  Statement st(db_, "INSERT OR IGNORE INTO member(grp, sid) VALUES(?, ?)");
  st.Bind(1, group.ToString()).Bind(2, member.ToString()).Run();
}

void AccountDirectory::RemoveMember(const winsec::Sid& group, const winsec::Sid& member) {
  Statement st(db_, "DELETE FROM member WHERE grp=? AND sid=?");
  st.Bind(1, group.ToString()).Bind(2, member.ToString()).Run();
}

uint32_t AccountDirectory::AllocateRid() {
  const std::string stored = db_.Meta("next_rid");
  uint32_t rid = stored.empty() ? kFirstNewAccountRid : static_cast<uint32_t>(std::stoul(stored));
  db_.SetMeta("next_rid", std::to_string(rid + 1));
  return rid;
}

}  // namespace host
