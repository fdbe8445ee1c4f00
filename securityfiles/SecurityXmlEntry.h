// One loaded security file as the session keeps it: the DOM document, the
// path as the OPFile lists it and the upgrade code of its product section.
// The list of these records is what the features are discovered from and
// what the repository stores.
#pragma once

#include <string>

#include "platform/xml/Dom.h"

struct CSecurityXmlEntry {
  xml::Document document;
  std::string path;
  std::string upgradeCode;
};
