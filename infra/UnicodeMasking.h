// Masking of the characters an 8-bit consumer cannot carry. A text file is
// copied line by line into a UTF-16LE file in which every UTF-16 code unit of
// 256 or more is written as a marker: SUPERSCRIPT TWO (U+00B2), "u", the
// unit in decimal and "&amp;". The text then passes through 8-bit hands and
// can be restored at the far end. The utility runs without OPFile, log or
// error manager: its result is the process exit code.
#pragma once

#include <string>
#include <string_view>

// Results of MaskUnicodeCharacters.
enum MaskUnicodeResult : int {
  kMaskWritten = 0,           // the output was written (also for an empty input)
  kMaskInputNotFound = 1,     // no file-system entry matches the input path
  kMaskInputNotReadable = 2,  // the input cannot be opened (or read) as a file
  kMaskOutputNotCreated = 3,  // the output cannot be created (or written)
};

// Copies `inputPath` (UTF-16LE when it starts with FF FE, otherwise code page
// 1252; wildcards match in the search but then fail to open) to `outputPath`
// (created or overwritten, UTF-16LE with FF FE before the first line, each
// line ended by a single LF). An output that cannot be completed is removed
// again, and an output path naming the input file is refused (3) before
// anything is truncated.
int MaskUnicodeCharacters(std::string_view inputPath, std::string_view outputPath);

// One line masked: units below 256 as they are, every other unit (each half
// of a surrogate pair on its own) as its marker.
std::u16string MaskUnicodeLine(std::u16string_view line);
