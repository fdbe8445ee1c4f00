// The in-memory model of an INI file: the OPFile the calling setup passes in
// and the snapshot INI files the program writes itself. Sections and keys
// keep their file order and first spelling, are looked up without regard to
// ASCII case, and carry the comment and blank lines that stood above them, so
// a loaded file can be written back whole.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One key line: the key as first stored, its value, and the comment and blank
// lines that stood directly above it.
class CIniValue {
 public:
  CIniValue(std::string key, std::string value);
  virtual ~CIniValue() = default;

  const std::string& GetKey() const { return key_; }
  const std::string& GetValue() const { return value_; }
  void SetValue(std::string value) { value_ = std::move(value); }
  const std::vector<std::string>& GetComments() const { return comments_; }
  // Moves `lines` to the end of the comment lines and leaves `lines` empty.
  void TakeComments(std::vector<std::string>& lines);

 private:
  std::string key_;
  std::string value_;
  std::vector<std::string> comments_;
};

// One section: its values in file order (owned), indexed by the upper-cased
// key, and the comment lines above its header.
class CIniSection {
 public:
  explicit CIniSection(std::string name);
  virtual ~CIniSection() = default;
  CIniSection(const CIniSection&) = delete;
  CIniSection& operator=(const CIniSection&) = delete;

  const std::string& GetName() const { return name_; }
  const std::vector<std::string>& GetComments() const { return comments_; }
  void TakeComments(std::vector<std::string>& lines);

  // The value of `key`, or "" when the key does not exist.
  std::string GetValue(std::string_view key) const;
  // Replaces the value of an existing key in place (its position and spelling
  // stay), or appends the key at the end of the section.
  CIniValue& SetValue(std::string_view key, std::string_view value);
  // The key's entry, or nullptr; tells a missing key from an empty value.
  const CIniValue* FindValue(std::string_view key) const;
  const std::vector<std::unique_ptr<CIniValue>>& Values() const { return values_; }

 private:
  std::map<std::string, CIniValue*> index_;  // upper-cased key -> entry of values_
  std::vector<std::unique_ptr<CIniValue>> values_;
  std::string name_;
  std::vector<std::string> comments_;
};

// One file. Owns its sections; loading never throws and never fails on
// content: any bytes become sections, keys and comment lines by the line
// rules, and only an unreadable file is reported.
class CIniFile {
 public:
  CIniFile() = default;
  virtual ~CIniFile() = default;
  CIniFile(const CIniFile&) = delete;
  CIniFile& operator=(const CIniFile&) = delete;
  // Moving keeps the sections where they are, so the index stays valid.
  CIniFile(CIniFile&&) = default;
  CIniFile& operator=(CIniFile&&) = default;

  // Reads the file at `path` (Windows path) into the model. Returns "" on
  // success, else "Can not read <path>, errorcode=<code>" followed by " ->"
  // and the system's text for the code when it has one; the model is left as
  // it was then, but the path is remembered.
  std::string Load(std::string_view path);
  // Replaces the model by the content of `bytes` (a whole file): FF FE at the
  // start means UTF-16LE, anything else code page 1252.
  void LoadFromBytes(std::string_view bytes);

  // Writes the model to the path as UTF-16LE with a byte order mark and CR LF
  // line ends, replacing the file atomically. 0 on success, else the Win32
  // code of the failure (the old file is then untouched).
  int Save();
  // The bytes Save writes.
  std::string ToBytes() const;

  void SetPath(std::string_view path) { path_ = path; }
  const std::string& GetPath() const { return path_; }

  // The value, or "" when the section or key does not exist.
  std::string GetValue(std::string_view section, std::string_view key) const;
  // Creates the section (at the end) and the key (at the end of its section)
  // when missing, else replaces the value in place.
  CIniValue& SetValue(std::string_view section, std::string_view key, std::string_view value);
  // The existing section of that name, or a new one appended at the end.
  CIniSection& GetSection(std::string_view name);
  // The existing section, or nullptr; never creates one.
  const CIniSection* FindSection(std::string_view name) const;
  const std::vector<std::unique_ptr<CIniSection>>& Sections() const { return sections_; }
  // The comment and blank lines that followed the last section or key.
  const std::vector<std::string>& GetPendingComments() const { return pending_; }
  // Whether the file last inspected by Load or CutResultsSection began with
  // the UTF-16LE byte order mark; Save sets it.
  bool IsUnicode() const { return unicode_; }

  // Deletes all sections, values and pending comment lines (the path stays).
  void Clear();

  // Run on the OPFile before it is loaded: removes the old results, so the
  // file keeps its first line that is exactly "[RESULTS]" (with its line
  // break) but none of the keys under it. When [RESULTS] is the last section
  // the file simply ends after that line; sections that follow it are kept,
  // with the comment lines above their headers, so that a setup's own
  // sections placed after [RESULTS] are never lost. Later sections named
  // RESULTS (in any case, as the model would merge them) go as well. Records
  // the file's encoding in the Unicode flag. A file that cannot be read or
  // rewritten is left unchanged.
  void CutResultsSection(std::string_view path);
  // The content CutResultsSection leaves of `bytes` (a whole file), or
  // nothing when the file has no "[RESULTS]" line.
  static std::optional<std::string> CutResults(std::string_view bytes);

 private:
  // Files one trimmed line of the file under the section being read.
  void AddLine(std::string_view line, CIniSection*& current);

  std::string path_;
  std::map<std::string, CIniSection*> index_;  // upper-cased name -> entry of sections_
  std::vector<std::unique_ptr<CIniSection>> sections_;
  std::vector<std::string> pending_;
  bool unicode_ = false;
};

// A key, value or name as one line: each run of CR and LF becomes one blank
// (a line break would start a line of its own on the next read, and a stray
// value could pose as a key), and the text ends at a NUL.
std::string IniOneLine(std::string_view s);
