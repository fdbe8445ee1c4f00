#include "infra/StdioFileEx.h"

#include <array>

#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace {

constexpr char kDefaultChar = '#';
constexpr size_t kReadChunk = 64 * 1024;

// A letter and a combining mark that the conversion to 8-bit text composes
// into one byte, because code page 1252 has the precomposed letter.
struct Composition {
  char16_t base;
  char16_t mark;
  unsigned char byte;
};

constexpr char16_t kGrave = 0x0300, kAcute = 0x0301, kCircumflex = 0x0302, kTilde = 0x0303;
constexpr char16_t kDiaeresis = 0x0308, kRing = 0x030A, kCaron = 0x030C, kCedilla = 0x0327;

constexpr std::array<Composition, 58> kCompositions = {{
    {u'S', kCaron, 0x8A}, {u'Z', kCaron, 0x8E}, {u's', kCaron, 0x9A}, {u'z', kCaron, 0x9E},
    {u'Y', kDiaeresis, 0x9F},
    {u'A', kGrave, 0xC0}, {u'A', kAcute, 0xC1}, {u'A', kCircumflex, 0xC2}, {u'A', kTilde, 0xC3},
    {u'A', kDiaeresis, 0xC4}, {u'A', kRing, 0xC5}, {u'C', kCedilla, 0xC7},
    {u'E', kGrave, 0xC8}, {u'E', kAcute, 0xC9}, {u'E', kCircumflex, 0xCA}, {u'E', kDiaeresis, 0xCB},
    {u'I', kGrave, 0xCC}, {u'I', kAcute, 0xCD}, {u'I', kCircumflex, 0xCE}, {u'I', kDiaeresis, 0xCF},
    {u'N', kTilde, 0xD1},
    {u'O', kGrave, 0xD2}, {u'O', kAcute, 0xD3}, {u'O', kCircumflex, 0xD4}, {u'O', kTilde, 0xD5},
    {u'O', kDiaeresis, 0xD6},
    {u'U', kGrave, 0xD9}, {u'U', kAcute, 0xDA}, {u'U', kCircumflex, 0xDB}, {u'U', kDiaeresis, 0xDC},
    {u'Y', kAcute, 0xDD},
    {u'a', kGrave, 0xE0}, {u'a', kAcute, 0xE1}, {u'a', kCircumflex, 0xE2}, {u'a', kTilde, 0xE3},
    {u'a', kDiaeresis, 0xE4}, {u'a', kRing, 0xE5}, {u'c', kCedilla, 0xE7},
    {u'e', kGrave, 0xE8}, {u'e', kAcute, 0xE9}, {u'e', kCircumflex, 0xEA}, {u'e', kDiaeresis, 0xEB},
    {u'i', kGrave, 0xEC}, {u'i', kAcute, 0xED}, {u'i', kCircumflex, 0xEE}, {u'i', kDiaeresis, 0xEF},
    {u'n', kTilde, 0xF1},
    {u'o', kGrave, 0xF2}, {u'o', kAcute, 0xF3}, {u'o', kCircumflex, 0xF4}, {u'o', kTilde, 0xF5},
    {u'o', kDiaeresis, 0xF6},
    {u'u', kGrave, 0xF9}, {u'u', kAcute, 0xFA}, {u'u', kCircumflex, 0xFB}, {u'u', kDiaeresis, 0xFC},
    {u'y', kAcute, 0xFD}, {u'y', kDiaeresis, 0xFF},
}};

int ComposedByte(char16_t base, char16_t mark) {
  for (const Composition& c : kCompositions) {
    if (c.base == base && c.mark == mark) return c.byte;
  }
  return -1;
}

bool IsSurrogatePair(char16_t high, char16_t low) {
  return high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF;
}

template <typename View>
View UpToNul(View text) {
  return text.substr(0, text.find(typename View::value_type{0}));
}

// -1 stands for the host's ANSI code page.
unsigned ResolveCodePage(int codePage) {
  if (codePage == CStdioFileEx::kAnsiCodePage) return plat::Current().System().AnsiCodePage();
  return codePage < 0 ? 0 : static_cast<unsigned>(codePage);
}

bool Decode(std::string_view bytes, unsigned codePage, std::u16string* text) {
  if (codePage == text::kCodePage1252) {
    *text = text::Utf8ToUtf16(text::Cp1252ToUtf8(bytes));
    return true;
  }
  if (codePage == text::kCodePageUtf8) {
    *text = text::Utf8ToUtf16(bytes);
    return true;
  }
  return false;
}

// A character outside the basic plane is one character: one "#", not two.
std::string EncodeCp1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (i + 1 < text.size()) {
      if (const int composed = ComposedByte(text[i], text[i + 1]); composed >= 0) {
        out += static_cast<char>(composed);
        ++i;
        continue;
      }
      if (IsSurrogatePair(text[i], text[i + 1])) {
        out += kDefaultChar;
        ++i;
        continue;
      }
    }
    const int byte = text::Cp1252ByteOf(text[i]);  // none for a lone surrogate
    out += byte < 0 ? kDefaultChar : static_cast<char>(byte);
  }
  return out;
}

bool Encode(std::u16string_view text, unsigned codePage, std::string* bytes) {
  if (codePage == text::kCodePage1252) {
    *bytes = EncodeCp1252(text);
    return true;
  }
  if (codePage == text::kCodePageUtf8) {
    *bytes = text::Utf16ToUtf8(text);  // a lone surrogate becomes U+FFFD
    return true;
  }
  return false;
}

// A line without its line end: CR LF, or else one CR or LF.
void StripLineEnd(std::u16string* line) {
  if (line->size() >= 2 && line->compare(line->size() - 2, 2, u"\r\n") == 0) {
    line->resize(line->size() - 2);
  } else if (!line->empty() && (line->back() == u'\r' || line->back() == u'\n')) {
    line->pop_back();
  }
}

bool WantsWriting(unsigned flags) {
  return (flags & (CStdioFileEx::kModeWrite | CStdioFileEx::kModeReadWrite)) != 0;
}

// The file service knows four ways of opening; the flag combinations map
// onto them. Creating with read access or without truncation takes two steps
// because the service's creating modes are write-only or append-only.
uint32_t OpenStreamFor(std::string_view path, unsigned flags, std::unique_ptr<plat::IFileStream>* stream) {
  plat::IFiles& files = plat::Current().Files();
  const bool writeOnly = (flags & CStdioFileEx::kModeWrite) && !(flags & CStdioFileEx::kModeReadWrite);
  const plat::OpenMode existing = WantsWriting(flags) ? plat::OpenMode::kReadWrite : plat::OpenMode::kRead;
  if (!(flags & CStdioFileEx::kModeCreate)) return files.OpenStream(path, existing, stream);

  const bool keep = (flags & CStdioFileEx::kModeNoTruncate) && plat::PathExists(files, path);
  if (!keep) {
    if (uint32_t rc = files.OpenStream(path, plat::OpenMode::kWrite, stream)) return rc;
    if (writeOnly) return winerr::kSuccess;
    stream->reset();
  }
  return files.OpenStream(path, existing, stream);
}

uint32_t ReadFully(plat::IFileStream& stream, char* buffer, size_t size, size_t* got) {
  *got = 0;
  while (*got < size) {
    size_t n = 0;
    if (uint32_t rc = stream.Read(buffer + *got, size - *got, &n)) return rc;
    if (n == 0) break;
    *got += n;
  }
  return winerr::kSuccess;
}

}  // namespace

CStdioFileEx::~CStdioFileEx() { Close(); }

bool CStdioFileEx::Open(std::string_view path, unsigned flags, uint32_t* error) {
  Close();
  unicode_ = false;
  lastError_ = winerr::kSuccess;
  path_ = std::string(path);
  if ((flags & kTypeText) && !(flags & (kModeCreate | kModeWrite)) && IsFileUnicode(path)) {
    unicode_ = true;
    flags = (flags & ~kTypeText) | kTypeBinary;
  }
  openFlags_ = flags;
  if (uint32_t rc = OpenStreamFor(path, flags, &stream_)) {
    stream_.reset();
    unicode_ = false;
    if (error) *error = rc;
    return Fail(rc);
  }
  return true;
}

bool CStdioFileEx::Close() {
  if (!stream_) return true;
  const uint32_t rc = written_ ? stream_->Flush() : winerr::kSuccess;
  stream_.reset();
  position_ = 0;
  readAhead_.clear();
  readOffset_ = 0;
  written_ = false;
  return rc == winerr::kSuccess || Fail(rc);
}

uint64_t CStdioFileEx::GetLength() const { return stream_ ? stream_->Size() : 0; }

bool CStdioFileEx::Fail(uint32_t code) {
  lastError_ = code;
  return false;
}

bool CStdioFileEx::FillReadAhead() {
  if (readOffset_ < readAhead_.size()) return true;
  readAhead_.resize(kReadChunk);
  readOffset_ = 0;
  size_t got = 0;
  const uint32_t rc = stream_->Read(readAhead_.data(), readAhead_.size(), &got);
  readAhead_.resize(rc == winerr::kSuccess ? got : 0);
  if (rc != winerr::kSuccess) return Fail(rc);
  return got > 0;
}

int CStdioFileEx::NextByte() {
  if (!FillReadAhead()) return -1;
  ++position_;
  return static_cast<unsigned char>(readAhead_[readOffset_++]);
}

int CStdioFileEx::PeekByte() {
  if (!FillReadAhead()) return -1;
  return static_cast<unsigned char>(readAhead_[readOffset_]);
}

// The bytes up to and including the next LF, however many. Text mode reads
// a CR LF pair as LF, as the text streams of Windows do. A line is never cut:
// a piece of it would pass for a line of its own (and the rest for a key).
bool CStdioFileEx::ReadByteLine(std::string* bytes) {
  const bool textMode = !(openFlags_ & kTypeBinary);
  bytes->clear();
  for (;;) {
    int c = NextByte();
    if (c < 0) break;
    if (textMode && c == '\r' && PeekByte() == '\n') c = NextByte();
    bytes->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !bytes->empty();
}

// One line of UTF-16LE units, the LF removed. The mark at the start of the
// file is skipped; an odd byte at the end of the file is no unit and dropped.
bool CStdioFileEx::ReadUnitLine(std::u16string* units) {
  units->clear();
  if (position_ == 0) {
    NextByte();
    NextByte();
  }
  bool any = false;
  for (;;) {
    const int low = NextByte();
    const int high = low < 0 ? -1 : NextByte();
    if (high < 0) break;
    any = true;
    const auto unit = static_cast<char16_t>(low | (high << 8));
    if (unit == u'\n') break;
    units->push_back(unit);
  }
  return any;
}

bool CStdioFileEx::ReadString(std::u16string& line) {
  line.clear();
  if (!stream_) return Fail(winerr::kInvalidHandle);
  if (unicode_) {
    if (!ReadUnitLine(&line)) return false;
    line.resize(UpToNul(std::u16string_view(line)).size());
  } else {
    std::string bytes;
    if (!ReadByteLine(&bytes)) return false;
    // Decoded whole: BytesToText's fixed buffer would refuse a long line.
    if (!Decode(UpToNul(std::string_view(bytes)), ResolveCodePage(codePage_), &line)) line.clear();
  }
  StripLineEnd(&line);
  return true;
}

bool CStdioFileEx::ReadString(std::string& line) {
  std::u16string units;
  const bool read = ReadString(units);
  line = text::Utf16ToUtf8(units);
  return read;
}

bool CStdioFileEx::WriteBytes(std::string_view bytes) {
  // The stream stands past the bytes read ahead: go back to where the caller is.
  if (readOffset_ < readAhead_.size()) {
    if (uint32_t rc = stream_->Seek(position_)) return Fail(rc);
  }
  readAhead_.clear();
  readOffset_ = 0;
  if (bytes.empty()) return true;
  written_ = true;
  if (uint32_t rc = stream_->Write(bytes.data(), bytes.size())) return Fail(rc);
  position_ += bytes.size();
  return true;
}

bool CStdioFileEx::WriteString(std::u16string_view text) {
  if (!stream_) return Fail(winerr::kInvalidHandle);
  text = UpToNul(text);
  std::string bytes;
  if (openFlags_ & kModeWriteUnicode) {
    if (position_ == 0) bytes = text::kUtf16LeBom;
    bytes += text::Utf16ToUtf16LeBytes(text);
  } else {
    const int size = GetTextByteLength(text, codePage_);
    if (size == 0) return Fail(winerr::kInvalidParameter);
    TextToBytes(text, &bytes, size, codePage_);
  }
  return WriteBytes(bytes);
}

bool CStdioFileEx::WriteString(std::string_view text) { return WriteString(text::Utf8ToUtf16(text)); }

int CStdioFileEx::BytesToText(std::string_view bytes, std::u16string* text, int codePage) {
  text->clear();
  std::u16string decoded;
  if (!Decode(UpToNul(bytes), ResolveCodePage(codePage), &decoded)) return 0;
  if (decoded.size() >= kTextBufferUnits) return 0;
  *text = std::move(decoded);
  return static_cast<int>(text->size());
}

int CStdioFileEx::GetTextByteLength(std::u16string_view text, int codePage) {
  std::string bytes;
  if (!Encode(UpToNul(text), ResolveCodePage(codePage), &bytes)) return 0;
  return static_cast<int>(bytes.size() + 1);
}

int CStdioFileEx::TextToBytes(std::u16string_view text, std::string* bytes, int size, int codePage) {
  bytes->clear();
  if (size < 1) return 0;
  std::string encoded;
  if (!Encode(UpToNul(text), ResolveCodePage(codePage), &encoded)) return 0;
  if (encoded.size() + 1 > static_cast<size_t>(size)) return 0;
  *bytes = std::move(encoded);
  return static_cast<int>(bytes->size());
}

bool CStdioFileEx::IsFileUnicode(std::string_view path) {
  std::unique_ptr<plat::IFileStream> stream;
  if (plat::Current().Files().OpenStream(path, plat::OpenMode::kRead, &stream)) return false;
  char mark[2];
  size_t got = 0;
  if (ReadFully(*stream, mark, sizeof mark, &got) || got != sizeof mark) return false;
  return std::string_view(mark, got) == text::kUtf16LeBom;
}

bool CStdioFileEx::CanOpenForWriting(std::string_view path) {
  CStdioFileEx file;
  if (!file.Open(path, kModeCreate | kModeNoTruncate | kModeReadWrite)) return false;
  file.Close();
  return true;
}
