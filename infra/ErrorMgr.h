// The error manager of one method run. Every operation of the program
// reports through AddMessage; the manager keeps the entries (the [RESULTS]
// section is filled from them), tracks the highest level recorded, and
// writes each entry as one line into the main log and the repository log.
// Entries recorded before the log files are attached stay pending.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "infra/LogFile.h"

// Entry levels.
constexpr int kLevelDebug = 0;
constexpr int kLevelDetail = 1;
constexpr int kLevelInfo = 2;
constexpr int kLevelWarning = 4;
constexpr int kLevelError = 5;
constexpr int kLevelCritical = 6;

// One recorded entry.
class CErrorObject {
 public:
  virtual ~CErrorObject() = default;

  bool written = false;
  std::string message;   // the text for the setup
  std::string logText;   // the text of the log line when it differs from the message
  std::string function;  // Class::Method of the code that recorded it
  int level = -1;
  // A run keeps every entry: the log text is stored only where it differs.
  const std::string& LogText() const { return logText.empty() ? message : logText; }
};

class CErrorMgr {
 public:
  CErrorMgr() = default;
  ~CErrorMgr();
  CErrorMgr(const CErrorMgr&) = delete;
  CErrorMgr& operator=(const CErrorMgr&) = delete;

  // Records one entry (log text defaults to the message) and writes what can be written.
  void AddMessage(int level, std::string_view function, std::string_view message, std::string_view logText = "");
  // printf-style convenience: the formatted text is message and log text.
  void AddMessageF(int level, std::string_view function, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // Writes every entry not written yet (debug entries only while the debug flag is set).
  void FlushToLog();
  // Attaches the main log (not owned) and the repository log (owned; dropped
  // when its path equals the main log's), and switches debug logging on when
  // LOGGINGLEVEL is above 10.
  void AttachLogFiles(CLogFile* mainLog, std::unique_ptr<CLogFile> repositoryLog);
  void WriteLogHeader(std::string_view setupId, std::string_view action);

  int GetHighestLevel() const { return highestLevel_; }
  void SetHighestLevel(int level) { highestLevel_ = level; }
  bool IsError() const { return error_; }
  void SetError(bool error) { error_ = error; }
  bool IsCriticalFeature() const { return criticalFeature_; }
  void SetCriticalFeature(bool critical) { criticalFeature_ = critical; }
  bool IsDebug() const { return debug_; }
  void SetDebug(bool debug) { debug_ = debug; }

  // The messages of every entry of level 5 or 6, in recorded order.
  void GetErrorMessages(std::vector<std::string>* messages) const;
  const std::vector<std::unique_ptr<CErrorObject>>& Entries() const { return entries_; }
  // Deletes all entries, clears the critical-feature and error flags (not the
  // debug flag) and sets the highest level to -1.
  void ResetMessages();

  // Security files whose placeholders could not all be resolved.
  void AddWrongFile(std::string path) { wrongFiles_.push_back(std::move(path)); }
  const std::vector<std::string>& WrongFiles() const { return wrongFiles_; }

  const CLogFile* MainLog() const { return mainLog_; }
  const CLogFile* RepositoryLog() const { return repositoryLog_.get(); }

  // The log line of an entry (without the time and line end): label, function column and text.
  static std::string FormatLine(const CErrorObject& entry, std::string_view time);

 private:
  void WriteHeaderTo(CLogFile& log, bool isMainLog, const std::vector<std::string>& lines);

  bool debug_ = false;
  bool criticalFeature_ = false;
  bool error_ = false;
  std::vector<std::unique_ptr<CErrorObject>> entries_;
  // Indices of the entries not written yet, in order: new entries and
  // lines a log refused. Each flush visits only these.
  std::vector<size_t> unwritten_;
  // Debug entries held back until debug logging starts, in order; kept
  // apart so that a run without debug logging does not walk them at every
  // message.
  std::vector<size_t> heldDebug_;
  int highestLevel_ = -1;
  CLogFile* mainLog_ = nullptr;
  std::unique_ptr<CLogFile> repositoryLog_;
  std::vector<std::string> wrongFiles_;
};

// Notes whether an error was recorded during one piece of work (one
// descriptor, one entry), so that the work goes on or is written only when
// its own steps went well, while an error recorded before stays recorded.
class CErrorScope {
 public:
  explicit CErrorScope(CErrorMgr& errorMgr) : errorMgr_(errorMgr), before_(errorMgr.IsError()) {
    errorMgr_.SetError(false);
  }
  ~CErrorScope() { errorMgr_.SetError(before_ || errorMgr_.IsError()); }
  CErrorScope(const CErrorScope&) = delete;
  CErrorScope& operator=(const CErrorScope&) = delete;
  bool Failed() const { return errorMgr_.IsError(); }

 private:
  CErrorMgr& errorMgr_;
  bool before_;
};
