// The [RESULTS] section of the OPFile: reset at the start of a run, kept in
// the in-memory OPFile during it (raised by the features as they are read,
// filled from the error manager's entries at the end) and written back key
// by key into the file.
#pragma once

#include <string>
#include <string_view>

class CErrorMgr;
class CIniFile;

inline constexpr const char* kResultsSection = "RESULTS";
inline constexpr const char* kReturnedFeaturesFile = "ReturnedFeatures.xml";

// Reboot codes of a feature.
constexpr int kRebootUnset = -1;
constexpr int kRebootNo = 1;
constexpr int kRebootAfterInstallation = 2;
constexpr int kRebootBeforeInstallation = 4;

// What the file says while a run is going: a run that dies before its end
// leaves these, so a setup reading only the OPFile never takes it for success.
inline constexpr const char* kUnfinishedRunMessage = "The run did not finish";

// Run on the OPFile before it is loaded: cuts the old results
// (CIniFile::CutResults) and writes the keys of an unfinished run in the
// same replacement of the file, so at no moment does the file hold the
// previous run's answer or none. A file that cannot be read or written, or
// is not INI text, is left as it is (InitResults then reports it). True
// when the file was replaced.
bool CutResultsAndMarkUnfinished(std::string_view opFilePath);
// Resets [RESULTS]: the file reads as a failure (ErrorOccured=1,
// CriticalError=1, kUnfinishedRunMessage) until WriteResults writes the real
// values; the model gets the initial values of a run. 0, or 4 when the file
// cannot be written. `alreadyMarked`: CutResultsAndMarkUnfinished replaced
// the file in this run, so it holds these keys already and was writable;
// writing the same bytes again would only cost a flush.
int InitResults(std::string_view opFilePath, CIniFile& model, std::string_view logfilePath,
                bool alreadyMarked = false);
// The model part of InitResults alone, for a run that ends before the reset.
void InitResultsModel(CIniFile& model, std::string_view logfilePath);
void SetRebootRequirement(CIniFile& model, int rebootCode);
void SetContainCriticalFeatures(CIniFile& model, bool critical);
// Copies the error manager's entries into the model.
void SetResults(CIniFile& model, const CErrorMgr& errorMgr);
// Writes the model's keys into the file (single failures are ignored).
void WriteResults(std::string_view opFilePath, const CIniFile& model);
// The folder of LogfilePath (with its backslash) + "ReturnedFeatures.xml".
std::string MessageFullPath(std::string_view logfilePath);
