#include "infra/ErrorMgr.h"

#include <algorithm>
#include <cstdarg>

#include "infra/BuildInfo.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"

namespace {

std::string ClockText(const char* format) {
  const plat::SystemTime t = plat::Current().System().LocalTime();
  if (std::string_view(format) == "time") return text::Format("%02u:%02u:%02u", t.hour, t.minute, t.second);
  return text::Format("%04u.%02u.%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::string ReplaceCommas(std::string s) {
  for (char& c : s) {
    if (c == ',') c = '|';
  }
  return s;
}

// The OS line of the header, from the version record (extended, else basic).
std::vector<std::string> OsLines() {
  std::vector<std::string> lines;
  plat::ISystem& system = plat::Current().System();
  plat::OsVersionInfoEx info;
  bool known = system.GetVersionInfo(&info);
  if (!known) {
    info = plat::OsVersionInfoEx();
    info.osVersionInfoSize = plat::OsVersionInfoEx::kBasicSize;
    known = system.GetVersionInfo(&info);
  }
  if (!known) lines.push_back("*** operating system  may be wrong ");
  std::string os = text::Format("*** operating system that is installed:  VersionNT:%u0%u", info.majorVersion,
                                info.minorVersion);
  if (info.servicePackMajor != 0) os += text::Format("  Service Pack:%u", info.servicePackMajor);
  if (kBuildIs64Bit) {
    os += "  Running on 64bit Windows";
  } else {
    os += CStdTool::Is64BitWindows() ? "  Running on 64-bit Windows" : "  Running on 32-bit Windows";
  }
  lines.push_back(os);
  return lines;
}

}  // namespace

CErrorMgr::~CErrorMgr() {
  FlushToLog();
  mainLog_ = nullptr;
  repositoryLog_.reset();
  ResetMessages();
}

void CErrorMgr::AddMessage(int level, std::string_view function, std::string_view message, std::string_view logText) {
  auto entry = std::make_unique<CErrorObject>();
  entry->level = level;
  entry->function = std::string(function);
  entry->message = std::string(message);
  if (logText != message) entry->logText = std::string(logText);
  if (highestLevel_ < level || (criticalFeature_ && level == kLevelError)) {
    // While a critical feature runs, every error counts as critical.
    highestLevel_ = (level >= kLevelError && criticalFeature_) ? kLevelCritical : level;
  }
  // Every error sets the flag, also one below the highest level so far:
  // callers clear the flag before a step and look at it afterwards.
  if (level >= kLevelError) error_ = true;
  entries_.push_back(std::move(entry));
  unwritten_.push_back(entries_.size() - 1);
  FlushToLog();
}

void CErrorMgr::AddMessageF(int level, std::string_view function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = text::FormatV(format, args);
  va_end(args);
  AddMessage(level, function, text);
}

std::string CErrorMgr::FormatLine(const CErrorObject& entry, std::string_view time) {
  std::string logText = entry.level == kLevelDebug ? "DB:  " + entry.LogText() : entry.LogText();
  const std::string column = text::Format("%-38.45s", entry.function.c_str());
  return std::string(time) + "|" + CLogFile::LabelOfRow(CLogFile::RowOfLevel(entry.level)) + "|" + column + " |" +
         ReplaceCommas(std::move(logText));
}

void CErrorMgr::FlushToLog() {
  if (!mainLog_) return;
  if (debug_ && !heldDebug_.empty()) {
    // Debug logging has started: the held entries take their turn in order.
    std::vector<size_t> merged(unwritten_.size() + heldDebug_.size());
    std::merge(unwritten_.begin(), unwritten_.end(), heldDebug_.begin(), heldDebug_.end(), merged.begin());
    unwritten_ = std::move(merged);
    heldDebug_.clear();
  }
  std::vector<size_t> stillUnwritten;
  for (const size_t index : unwritten_) {
    CErrorObject& entry = *entries_[index];
    if (entry.level >= kLevelWarning) debug_ = true;
    if (entry.level == kLevelDebug && !debug_) {
      heldDebug_.push_back(index);
      continue;
    }
    const std::string line = FormatLine(entry, ClockText("time"));
    if (mainLog_->AppendLine(line)) entry.written = true;
    if (repositoryLog_) repositoryLog_->AppendLine(line);
    if (!entry.written) stillUnwritten.push_back(index);
  }
  unwritten_ = std::move(stillUnwritten);
}

void CErrorMgr::AttachLogFiles(CLogFile* mainLog, std::unique_ptr<CLogFile> repositoryLog) {
  mainLog_ = mainLog;
  if (repositoryLog && mainLog && repositoryLog->GetFilePath() != mainLog->GetFilePath()) {
    repositoryLog_ = std::move(repositoryLog);
  } else {
    repositoryLog_.reset();
  }
  if (ReadLoggingLevel() > kDebugLoggingAbove) debug_ = true;
}

void CErrorMgr::WriteHeaderTo(CLogFile& log, bool isMainLog, const std::vector<std::string>& lines) {
  log.AppendLine(isMainLog ? "" : "WinLog");
  for (const std::string& line : lines) {
    const bool mainOnly = line.rfind("*** Tarvo was called without administrator rights", 0) == 0;
    if (mainOnly && !isMainLog) continue;
    log.AppendLine(line);
  }
}

void CErrorMgr::WriteLogHeader(std::string_view setupId, std::string_view action) {
  std::vector<std::string> lines;
  lines.push_back(text::Format("*** Tarvo %s is called:   Version %s   %s", kBuildPlatform, kProductVersion,
                               kProductDate));
  lines.push_back("*** Date: " + ClockText("date"));
  for (std::string& line : OsLines()) lines.push_back(std::move(line));
  if (!plat::Current().System().IsUserAnAdmin()) lines.push_back("*** Tarvo was called without administrator rights");
  lines.push_back("*** Setup-SessionId: " + std::string(setupId));
  lines.push_back("*** Action: " + std::string(action));
  if (mainLog_) WriteHeaderTo(*mainLog_, true, lines);
  if (repositoryLog_) WriteHeaderTo(*repositoryLog_, false, lines);
}

void CErrorMgr::GetErrorMessages(std::vector<std::string>* messages) const {
  for (const auto& entry : entries_) {
    if (entry->level >= kLevelError) messages->push_back(entry->message);
  }
}

void CErrorMgr::ResetMessages() {
  entries_.clear();
  unwritten_.clear();
  heldDebug_.clear();
  criticalFeature_ = false;
  error_ = false;
  highestLevel_ = -1;
}
