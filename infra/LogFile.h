// The log files of a run (Tarvo.log in the log folder and in the repository
// folder). Every line is in the file when AppendLine returns, so the log is
// complete up to the last line even when the process dies and another
// process can read it between lines. The file stays open for appending
// between lines, but only while it is still the file at the log's path: a
// log deleted or renamed by someone else is created again at its path by
// the next line.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Files.h"

class CLogFile {
 public:
  // The level threshold every log file is given.
  static constexpr int kDefaultLevel = 9;

  CLogFile() = default;
  virtual ~CLogFile() = default;

  void Init(std::string_view path, int level = kDefaultLevel);
  const std::string& GetFilePath() const { return path_; }
  int GetLevel() const { return level_; }

  // Appends `text` (UTF-8) as one line (OneLine) and CR LF in the log's
  // 8-bit encoding; false when the file cannot be opened or written
  // (nothing is reported).
  bool AppendLine(std::string_view text);
  // Deletes the file at the path.
  bool DeleteLogFile();
  // Lets go of the file (the next line opens it again).
  void Close() { stream_.reset(); }

  // The label of a row of the label table (0-11); "" outside it.
  static const char* LabelOfRow(int row);
  // The row of the label table that a level is written with.
  static int RowOfLevel(int level);

  // A text as one line of plain text: each run of CR and LF becomes one
  // blank, as does every other control character but the tab, so a line
  // break inside a message cannot start a line of its own.
  static std::string OneLine(std::string_view text);

  // What a log is: 8-bit text, so no control character but tab, CR and LF.
  // The lines this class writes always are.
  static bool IsLogText(std::string_view bytes);
  // Whether the file at `path` may receive log lines as far as its content
  // goes: a missing or empty file does, an existing one when the start of
  // it (up to 64 KiB) is log text. A file that cannot be read is left to
  // the open for writing to judge.
  static bool HoldsLogText(std::string_view path);

  // The 8-bit form of a log line: characters up to U+00FF are the byte of the
  // same value; characters above it become the code page 1252 byte that
  // stands for them (the euro sign 0x80, ...), or "?" where 1252 has none.
  static std::string ToLogBytes(std::string_view utf8);

 private:
  // Whether the open stream still writes to the file at the log's path.
  bool IsStillAtPath() const;
  bool Reopen();

  std::string path_;
  int level_ = kDefaultLevel;
  std::unique_ptr<plat::IFileStream> stream_;
  std::string openedPath_;  // the path as the file system spells it, for the look before each line
  plat::FileId openedId_;
};
