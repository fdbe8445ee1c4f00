// Placeholder resolution for a loaded security file. Security files are
// written once for many machines, so their paths and accounts are given as
// placeholders ([INSTALLDIR]\bin, [ProgramFilesFolder], %SystemRoot%,
// [LOGONUSER] ...); this module rewrites every attribute value of the
// document in place with this machine's values, taken from the product's
// OPFile section, the registry and the shell's known folders.
#pragma once

#include <string_view>

#include "platform/xml/Dom.h"

class CErrorMgr;
class CIniFile;

class CPlaceholders {
 public:
  // Resolves the placeholders of security file K of product N (the numbers of
  // the OPFile's [ProductN] section and its key SecurityXMLK). `methodName` is
  // the running method: an unresolvable [INSTALLDIR] or [COMMONDIR] is an
  // error during "ApplyFeatures" and a warning otherwise. A product section
  // without any install directory is an error that leaves the document as it
  // was. Returns false when the error manager's error flag is set at the end
  // (so a flag already set by the caller also gives false and no rewrite).
  static bool RePlaceHolders(CErrorMgr& errorMgr, const xml::Document& document, const CIniFile& opFile,
                             int productNumber, int fileNumber, std::string_view methodName);

  // Replaces an exact "[LOGONUSER]" in the attribute "user" (else in "value")
  // of an element that has a "domain" attribute by the account of the
  // running process, and its "domain" by the account's domain. Elements
  // without "domain" are left alone. When the account cannot be found the
  // attributes keep the placeholder and a warning is recorded.
  static void ReplaceHolderLogonUser(CErrorMgr& errorMgr, const xml::Node& element);

  // The known folders and the 32-bit shared path are read once per process,
  // on first use; this forgets them (tests that switch hosts).
  static void ResetCachedValues();
};
