// Security files name well-known accounts in English ("Administrators",
// "Everyone", "NETWORK SERVICE" ...), while a localized Windows gives many of
// them names of its own. The access-control and DCOM features translate such
// a name through the account's SID before it reaches the platform; every
// other name is used as it stands.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/winsec/Sid.h"

// A well-known account as the running machine names it.
struct WellKnownAccount {
  winsec::Sid sid;
  std::string localName;    // as LookupAccountSid gives it in the machine's language
  std::string localDomain;  // "VORDEFINIERT", "NT-AUTORITÄT", the computer name, or ""
  std::string englishDomain;  // "BUILTIN", "NT AUTHORITY", the computer name, or ""

  // Whether `domain` names this account's domain: empty, the English name
  // a security file would use ("BUILTIN", "NT AUTHORITY", the computer name
  // for the built-in users) or the local one, letter case aside.
  bool IsDomainOf(std::string_view domain) const;
};

// The account behind one of the 23 English well-known names (exact,
// case-sensitive match), or nothing when the name is not in the table or
// the machine cannot look the account up.
std::optional<WellKnownAccount> FindWellKnownAccount(std::string_view englishName);

// The machine's name for a well-known English account name; any other name,
// and a name whose lookup fails, comes back unchanged.
std::string TranslateAccountName(std::string_view name);

// An account named in a security file, as the machine knows it.
struct ResolvedAccount {
  std::string name;  // the machine's name for it (well-known names translated)
  winsec::Sid sid;
  bool found = false;
  // Found by its own name or as a well-known account; otherwise looked up
  // as "domain\name", the form a domain account goes by.
  bool bySid = true;
};

// A well-known account is taken by its SID whenever the domain given is its
// own, so "NT AUTHORITY\NETWORK SERVICE" is found on a German machine too.
// Any other account given with a domain is looked up in that domain, never
// by its bare name, which could be a local account of the same name.
ResolvedAccount ResolveAccount(std::string_view domain, std::string_view name);

// Whether `text` with its terminating NUL fits a lookup buffer of
// `bufferChars` UTF-16 units, the rule LookupAccountSidW applies to its
// name and domain buffers.
bool FitsLookupBuffer(std::string_view text, size_t bufferChars);
