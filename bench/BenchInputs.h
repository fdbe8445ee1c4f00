// The inputs the benchmarks run on, made as text: security files with a
// chosen number of features (of every kind the schema allows, shaped after
// the shipped examples), the OPFile that names them, and history files of
// a chosen length. Nothing here signs or writes: the generator and the
// in-process benchmarks do that with the program's own code.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct SecurityFileShape {
  std::string productValue;  // t:product value, unique per file
  int features = 20;
  // Only t:wua elements (the one kind ApplyFeatures carries out today);
  // otherwise a fixed mix of all six kinds.
  bool wuaOnly = false;
  // adaptionmoment of the t:wua elements: "BeforeInstallation" or "AfterInstallation".
  std::string wuaMoment = "AfterInstallation";
  bool utf16 = false;  // the declaration names UTF-16 (the file is saved so)
};

// The document text, with a placeholder checksum that signing replaces.
std::string SecurityFileText(const SecurityFileShape& shape);

struct OpFileProduct {
  std::string upgradeCode;
  std::string installDir;
  std::vector<std::string> securityFiles;  // Windows paths
};

struct OpFileShape {
  std::string resourcePath;  // the folder holding Tarvo2.xsd and the language files
  std::string logfilePath;   // a folder, ending in a backslash
  int installationMoment = 1;
  std::vector<OpFileProduct> products;
};

// The OPFile's text in UTF-8 with CR LF line ends (saved as UTF-16LE).
std::string OpFileText(const OpFileShape& shape);

// A history document holding `setups` t:Setup entries, each with one
// product and two automatic-update features, declared UTF-16 as the
// program writes its history.
std::string HistoryText(int setups);

// A security file with one file permission feature on `folder` (a Windows
// path) that rewrites the whole tree below it: Users read, the local group
// `group` modify, Everyone denied delete on the folder itself, reopened to
// inheritance, applied after the installation.
std::string TreePermissionFileText(const std::string& folder, const std::string& group);

// A GUID-shaped text that is the same for the same number.
std::string GuidText(unsigned number);

}  // namespace bench
