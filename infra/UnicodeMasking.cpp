#include "infra/UnicodeMasking.h"

#include <vector>

#include "infra/StdioFileEx.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"

namespace {

constexpr char16_t kMarkerStart = 0x00B2;  // SUPERSCRIPT TWO
constexpr std::u16string_view kMarkerEnd = u"&amp;";
constexpr char16_t kFirstMaskedUnit = 0x0100;

// A search, not an existence check: a pattern matches when any file does.
bool InputExists(plat::IFiles& files, std::string_view path) {
  std::vector<plat::FileEntry> found;
  return files.Find(path, &found) == 0 && !found.empty();
}

// The file service has no sharing modes, so nothing else would stop the
// output from truncating the input it is being copied from. The files are
// compared, not their paths: a hard link or a symbolic link to the input is
// the input too. An output that does not exist yet is another file.
bool NamesSameFile(plat::IFiles& files, std::string_view input, std::string_view output) {
  plat::FileId inputId, outputId;
  return files.GetFileId(input, &inputId) == 0 && files.GetFileId(output, &outputId) == 0 && inputId == outputId;
}

int CopyMasked(CStdioFileEx& input, CStdioFileEx& output) {
  std::u16string line;
  while (input.ReadString(line)) {
    std::u16string masked = MaskUnicodeLine(line);
    masked += u'\n';
    if (!output.WriteString(masked)) return kMaskOutputNotCreated;
  }
  return input.LastError() == 0 ? kMaskWritten : kMaskInputNotReadable;
}

}  // namespace

std::u16string MaskUnicodeLine(std::u16string_view line) {
  std::u16string out;
  out.reserve(line.size());
  for (const char16_t unit : line) {
    if (unit < kFirstMaskedUnit) {
      out += unit;
      continue;
    }
    out += kMarkerStart;
    out += u'u';
    for (const char digit : std::to_string(static_cast<unsigned>(unit))) out += static_cast<char16_t>(digit);
    out += kMarkerEnd;
  }
  return out;
}

int MaskUnicodeCharacters(std::string_view inputPath, std::string_view outputPath) {
  plat::IFiles& files = plat::Current().Files();
  if (!InputExists(files, inputPath)) return kMaskInputNotFound;

  CStdioFileEx input;
  input.SetCodePage(static_cast<int>(text::kCodePage1252));
  if (!input.Open(inputPath, CStdioFileEx::kModeRead | CStdioFileEx::kTypeText)) return kMaskInputNotReadable;
  if (NamesSameFile(files, inputPath, outputPath)) return kMaskOutputNotCreated;

  CStdioFileEx output;
  output.SetCodePage(static_cast<int>(text::kCodePage1252));
  if (!output.Open(outputPath, CStdioFileEx::kModeCreate | CStdioFileEx::kModeWrite | CStdioFileEx::kTypeBinary |
                                   CStdioFileEx::kModeWriteUnicode)) {
    return kMaskOutputNotCreated;
  }

  int result = CopyMasked(input, output);
  input.Close();
  if (!output.Close() && result == kMaskWritten) result = kMaskOutputNotCreated;
  // A partial copy would pass for the whole document downstream.
  if (result != kMaskWritten) files.RemoveFile(outputPath);
  return result;
}
