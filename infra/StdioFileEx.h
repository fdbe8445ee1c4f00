// Line-oriented text files in the encodings the program meets: UTF-16LE with
// a byte-order mark, recognised on reading by the bytes FF FE, and 8-bit text
// in code page 1252, the host's ANSI code page or UTF-8. The static
// conversion functions are the code-page conversions that every 8-bit reader
// and writer of the program shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Files.h"

// A text file opened through the platform's file service. Text in memory is
// UTF-8 (std::string) or UTF-16 code units (std::u16string); a text ends at
// its first NUL, on reading and on writing alike. Failures never throw: the
// operations return false and LastError() gives the Win32 code.
class CStdioFileEx {
 public:
  // Open flags. The numbers are those of the framework file class the callers
  // were written against, so a combination keeps its meaning everywhere;
  // kModeWriteUnicode is this class's own. The sharing flags are accepted and
  // have no effect: the file service has no sharing modes.
  static constexpr unsigned kModeRead = 0x0000;
  static constexpr unsigned kModeWrite = 0x0001;
  static constexpr unsigned kModeReadWrite = 0x0002;
  static constexpr unsigned kShareCompat = 0x0000;
  static constexpr unsigned kShareExclusive = 0x0010;
  static constexpr unsigned kShareDenyWrite = 0x0020;
  static constexpr unsigned kShareDenyRead = 0x0030;
  static constexpr unsigned kShareDenyNone = 0x0040;
  static constexpr unsigned kModeNoInherit = 0x0080;
  static constexpr unsigned kModeCreate = 0x1000;
  static constexpr unsigned kModeNoTruncate = 0x2000;
  static constexpr unsigned kTypeText = 0x4000;
  static constexpr unsigned kTypeBinary = 0x8000;
  // Writes go out as UTF-16LE, the first one at position 0 behind FF FE.
  static constexpr unsigned kModeWriteUnicode = 0x20000;

  // Code page -1 stands for the host's ANSI code page; 1252 and 65001 (UTF-8)
  // are the others the conversions know. Any other number makes them fail.
  static constexpr int kAnsiCodePage = -1;
  // BytesToText fills a buffer of this many UTF-16 units, terminating NUL included.
  static constexpr size_t kTextBufferUnits = 4096;

  CStdioFileEx() = default;
  ~CStdioFileEx();
  CStdioFileEx(const CStdioFileEx&) = delete;
  CStdioFileEx& operator=(const CStdioFileEx&) = delete;

  // Opens `path` (a Windows path), closing any file open before. Text mode for
  // reading (kTypeText without kModeCreate and kModeWrite) first looks for the
  // byte-order mark: a UTF-16LE file is then read in byte mode instead. Text
  // mode (any 8-bit file opened without kTypeBinary) reads CR LF as LF;
  // writes are never translated.
  // On failure returns false and, when `error` is given, the Win32 code
  // (3 for a missing folder, 2 for a missing file ...); nothing is created.
  bool Open(std::string_view path, unsigned flags, uint32_t* error = nullptr);
  // Flushes what was written and closes; false when the flush failed.
  bool Close();
  bool IsOpen() const { return stream_ != nullptr; }

  // Reads the next line without its line end (CR LF, LF or CR), whatever its
  // length. A UTF-16LE file gives its code units as they are; an 8-bit file
  // gives its bytes converted in the code page. Returns false at the end of
  // the file or on a read error (then LastError() is set).
  bool ReadString(std::u16string& line);
  // The same line as UTF-8; a lone surrogate in it becomes U+FFFD.
  bool ReadString(std::string& line);

  // Writes the text as it is, line breaks included: UTF-16LE with
  // kModeWriteUnicode, otherwise converted to the code page, "#" standing for
  // each character the code page lacks.
  bool WriteString(std::u16string_view text);
  // `text` is UTF-8; a malformed sequence in it counts as U+FFFD.
  bool WriteString(std::string_view text);

  // The offset in bytes of the next byte to read or write (CR LF counted as
  // two bytes in text mode), and the size of the open file.
  uint64_t GetPosition() const { return position_; }
  uint64_t GetLength() const;

  // The code page of 8-bit text; set it before reading or writing.
  void SetCodePage(int codePage) { codePage_ = codePage; }
  int GetCodePage() const { return codePage_; }
  // Whether the file opened for reading is UTF-16LE, and the flags as used
  // after that adjustment.
  bool IsUnicode() const { return unicode_; }
  unsigned GetOpenFlags() const { return openFlags_; }
  const std::string& GetFilePath() const { return path_; }  // as last given to Open
  uint32_t LastError() const { return lastError_; }

  // Decodes 8-bit text (up to its first NUL) in `codePage` into `text`.
  // Returns the number of UTF-16 units, or 0 with an empty `text` when the
  // code page is unknown or the result does not fit kTextBufferUnits.
  // Malformed UTF-8 becomes U+FFFD.
  static int BytesToText(std::string_view bytes, std::u16string* text, int codePage);
  // The bytes the 8-bit form of `text` needs, its terminating NUL included; 0
  // when the code page is unknown.
  static int GetTextByteLength(std::u16string_view text, int codePage);
  // Encodes `text` (up to its first NUL) into `bytes` for a buffer of `size`
  // bytes, NUL included. Returns the number of bytes without the NUL, or 0 with
  // empty `bytes` when `size` is below 1 or too small, or the code page is
  // unknown. In code pages other than UTF-8 a base letter followed by a
  // combining mark becomes the precomposed letter where the code page has
  // one, and each character it lacks becomes "#".
  static int TextToBytes(std::u16string_view text, std::string* bytes, int size, int codePage);
  // Whether the file begins with FF FE; false when it cannot be opened or is
  // shorter than two bytes.
  static bool IsFileUnicode(std::string_view path);
  // Opens the file for reading and writing without truncating it, creating an
  // empty file when it is missing, and closes it again.
  static bool CanOpenForWriting(std::string_view path);

 private:
  bool FillReadAhead();
  int NextByte();
  int PeekByte();
  bool ReadByteLine(std::string* bytes);
  bool ReadUnitLine(std::u16string* units);
  bool WriteBytes(std::string_view bytes);
  bool Fail(uint32_t code);

  std::unique_ptr<plat::IFileStream> stream_;
  std::string path_;
  bool unicode_ = false;
  unsigned openFlags_ = 0;
  int codePage_ = kAnsiCodePage;
  uint64_t position_ = 0;
  // Bytes fetched from the stream beyond position_; the stream's own pointer
  // stands at the end of them.
  std::string readAhead_;
  size_t readOffset_ = 0;
  bool written_ = false;
  uint32_t lastError_ = 0;
};
