// The code-page conversions of the text-file module, on in-memory data.
#include <gtest/gtest.h>

#include <string>

#include "infra/StdioFileEx.h"
#include "support/TestHost.h"

namespace {

constexpr int k1252 = 1252;
constexpr int kUtf8 = 65001;

std::u16string Decoded(std::string_view bytes, int codePage, int* count = nullptr) {
  std::u16string text = u"left over";
  const int n = CStdioFileEx::BytesToText(bytes, &text, codePage);
  if (count) *count = n;
  return text;
}

std::string Encoded(std::u16string_view text, int codePage) {
  std::string bytes = "left over";
  CStdioFileEx::TextToBytes(text, &bytes, CStdioFileEx::GetTextByteLength(text, codePage), codePage);
  return bytes;
}

TEST(StdioFileExBytesToText, DecodesCodePage1252ByteForByte) {
  int count = 0;
  EXPECT_EQ(Decoded("Gr\xE4" "fe", k1252, &count), u"Gr\u00E4fe");
  EXPECT_EQ(count, 5);
  EXPECT_EQ(Decoded("\x80", k1252), u"\u20AC");
  EXPECT_EQ(Decoded("\x9F\xFF", k1252), u"\u0178\u00FF");
  // A byte the code page leaves undefined keeps its value as a C1 control.
  EXPECT_EQ(Decoded("\x81", k1252), u"\u0081");
}

TEST(StdioFileExBytesToText, DecodesUtf8AndReplacesMalformedBytes) {
  int count = 0;
  EXPECT_EQ(Decoded("\xF0\x9F\x98\x80", kUtf8, &count), u"\U0001F600");
  EXPECT_EQ(count, 2) << "counted in UTF-16 units";
  EXPECT_EQ(Decoded("a\xE4z", kUtf8), u"a\uFFFDz");
  // The byte-order mark of UTF-8 is text like any other.
  EXPECT_EQ(Decoded("\xEF\xBB\xBFx", kUtf8), u"\uFEFFx");
}

TEST(StdioFileExBytesToText, StopsAtTheFirstNul) {
  int count = -1;
  EXPECT_EQ(Decoded(std::string_view("ab\0cd", 5), k1252, &count), u"ab");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Decoded(std::string_view("\0cd", 3), kUtf8, &count), u"");
  EXPECT_EQ(count, 0);
}

TEST(StdioFileExBytesToText, FailsWithEmptyTextForUnknownCodePagesAndOverlongInput) {
  int count = -1;
  EXPECT_EQ(Decoded("abc", 1250, &count), u"");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Decoded("abc", -2, &count), u"");
  EXPECT_EQ(count, 0);
  // The buffer holds 4096 units with the terminating NUL.
  const std::string fits(CStdioFileEx::kTextBufferUnits - 1, 'x');
  EXPECT_EQ(Decoded(fits, k1252, &count).size(), fits.size());
  EXPECT_EQ(count, 4095);
  EXPECT_EQ(Decoded(fits + "x", k1252, &count), u"");
  EXPECT_EQ(count, 0);
}

TEST(StdioFileExBytesToText, MinusOneMeansTheHostsAnsiCodePage) {
  TestHost host;
  ASSERT_EQ(host.Platform().System().AnsiCodePage(), 1252u);
  EXPECT_EQ(Decoded("\x80\xE4", CStdioFileEx::kAnsiCodePage), u"\u20AC\u00E4");
  EXPECT_EQ(Encoded(u"\u20AC\u4E2D", CStdioFileEx::kAnsiCodePage), "\x80#");
}

TEST(StdioFileExTextToBytes, EncodesCodePage1252WithHashForMissingCharacters) {
  EXPECT_EQ(Encoded(u"\u20AC", k1252), "\x80");
  EXPECT_EQ(Encoded(u"\u4E2D", k1252), "#");
  EXPECT_EQ(Encoded(u"Pr\u00FCfung \u0100", k1252), "Pr\xFC" "fung #");
  EXPECT_EQ(Encoded(u"\u0081\u00A0", k1252), "\x81\xA0");
  // A character outside the basic plane is one character, a lone surrogate another.
  EXPECT_EQ(Encoded(u"a\U0001F600b", k1252), "a#b");
  EXPECT_EQ(Encoded(std::u16string{u'a', char16_t(0xD83D), u'b'}, k1252), "a#b");
  EXPECT_EQ(Encoded(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, k1252), "##");
}

TEST(StdioFileExTextToBytes, ComposesLetterAndMarkWhereCodePage1252HasTheLetter) {
  EXPECT_EQ(Encoded(u"Pru\u0308fung", k1252), "Pr\xFC" "fung");
  EXPECT_EQ(Encoded(u"S\u030Cy\u0308Y\u0308", k1252), "\x8A\xFF\x9F");
  // No precomposed letter: base and mark stay separate characters.
  EXPECT_EQ(Encoded(u"x\u0301", k1252), "x#");
  EXPECT_EQ(Encoded(u"a\u0308\u0301", k1252), "\xE4#");
  EXPECT_EQ(Encoded(u"\u0301a", k1252), "#a");
  // UTF-8 converts without composing.
  EXPECT_EQ(Encoded(u"u\u0308", kUtf8), "u\xCC\x88");
}

TEST(StdioFileExTextToBytes, EncodesUtf8WithoutDefaultCharacter) {
  EXPECT_EQ(Encoded(u"\u4E2D\u20AC", kUtf8), "\xE4\xB8\xAD\xE2\x82\xAC");
  EXPECT_EQ(Encoded(u"\U0001F600", kUtf8), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Encoded(std::u16string{u'a', char16_t(0xD800)}, kUtf8), "a\xEF\xBF\xBD");
}

TEST(StdioFileExTextToBytes, HonoursTheBufferSizeWithRoomForTheNul) {
  std::string bytes = "left over";
  EXPECT_EQ(CStdioFileEx::TextToBytes(u"abc", &bytes, 4, k1252), 3);
  EXPECT_EQ(bytes, "abc");
  EXPECT_EQ(CStdioFileEx::TextToBytes(u"abc", &bytes, 3, k1252), 0);
  EXPECT_EQ(bytes, "");
  bytes = "left over";
  EXPECT_EQ(CStdioFileEx::TextToBytes(u"", &bytes, 0, k1252), 0);
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(CStdioFileEx::TextToBytes(u"", &bytes, 1, k1252), 0);
  EXPECT_EQ(CStdioFileEx::TextToBytes(u"abc", &bytes, 100, 437), 0);
  EXPECT_EQ(CStdioFileEx::TextToBytes(std::u16string_view(u"ab\0cd", 5), &bytes, 3, k1252), 2);
  EXPECT_EQ(bytes, "ab");
}

TEST(StdioFileExGetTextByteLength, CountsTheConvertedBytesAndTheNul) {
  EXPECT_EQ(CStdioFileEx::GetTextByteLength(u"", k1252), 1);
  EXPECT_EQ(CStdioFileEx::GetTextByteLength(u"\u4E2D\u20AC", k1252), 3);
  EXPECT_EQ(CStdioFileEx::GetTextByteLength(u"\u4E2D\u20AC", kUtf8), 7);
  EXPECT_EQ(CStdioFileEx::GetTextByteLength(u"a\u0308", k1252), 2) << "composed into one byte";
  EXPECT_EQ(CStdioFileEx::GetTextByteLength(std::u16string_view(u"ab\0cd", 5), kUtf8), 3);
  EXPECT_EQ(CStdioFileEx::GetTextByteLength(u"abc", 1250), 0);
}

}  // namespace
