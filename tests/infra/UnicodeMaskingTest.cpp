// The masking utility: the marker per code unit, and whole files through the
// simulated host, including the failures of the file service.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "infra/UnicodeMasking.h"
#include "platform/Files.h"
#include "platform/Forwarding.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "support/TestHost.h"

namespace {

std::string Utf16Le(std::u16string_view text) { return text::Utf16ToUtf16LeBytes(text); }
std::string MaskedFile(std::u16string_view text) { return "\xFF\xFE" + Utf16Le(text); }

TEST(UnicodeMaskingLine, KeepsUnitsBelow256AndMarksTheOthers) {
  EXPECT_EQ(MaskUnicodeLine(u"a\u00FF\u00B2"), u"a\u00FF\u00B2");
  EXPECT_EQ(MaskUnicodeLine(u"\u0100"), u"\u00B2u256&amp;");
  EXPECT_EQ(MaskUnicodeLine(u"\uFFFF"), u"\u00B2u65535&amp;");
  EXPECT_EQ(MaskUnicodeLine(u"Pr\u00FCfung \u20AC"), u"Pr\u00FCfung \u00B2u8364&amp;");
  EXPECT_EQ(MaskUnicodeLine(u""), u"");
}

TEST(UnicodeMaskingLine, MarksEachHalfOfASurrogatePair) {
  EXPECT_EQ(MaskUnicodeLine(u"\U0001F600"), u"\u00B2u55357&amp;\u00B2u56832&amp;");
  EXPECT_EQ(MaskUnicodeLine(std::u16string{char16_t(0xDC00), u'x'}), u"\u00B2u56320&amp;x");
}

class UnicodeMaskingTest : public ::testing::Test {
 protected:
  plat::IFiles& files() { return host_.Platform().Files(); }
  bool Exists(std::string_view path) { return plat::PathExists(files(), path); }

  TestHost host_;
};

TEST_F(UnicodeMaskingTest, Utf16InputWithCrLfGivesLfOnlyOutput) {
  host_.WriteHostFile("C:\\x\\in.xml", MaskedFile(u"<a t=\"\u4E2D\">\r\n\u00FF\u0100\U0001F600\r\n</a>\r\n"));
  ASSERT_EQ(MaskUnicodeCharacters("C:\\x\\in.xml", "C:\\x\\out.xml"), kMaskWritten);
  EXPECT_EQ(host_.ReadHostFile("C:\\x\\out.xml"),
            MaskedFile(u"<a t=\"\u00B2u20013&amp;\">\n\u00FF\u00B2u256&amp;\u00B2u55357&amp;\u00B2u56832&amp;\n</a>\n"));
}

TEST_F(UnicodeMaskingTest, EightBitInputIsReadInCodePage1252) {
  host_.WriteHostFile("C:\\in.txt", "Pr\xFC" "fung \x80\r\nlast");
  ASSERT_EQ(MaskUnicodeCharacters("C:\\in.txt", "C:\\out.txt"), kMaskWritten);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.txt"), MaskedFile(u"Pr\u00FCfung \u00B2u8364&amp;\nlast\n"));
}

TEST_F(UnicodeMaskingTest, EmptyInputGivesAnEmptyOutputWithoutMark) {
  host_.WriteHostFile("C:\\empty.xml", "");
  host_.WriteHostFile("C:\\out.xml", "previous output");
  ASSERT_EQ(MaskUnicodeCharacters("C:\\empty.xml", "C:\\out.xml"), kMaskWritten);
  EXPECT_TRUE(Exists("C:\\out.xml"));
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), "");
  // A file holding only the mark has no lines either.
  host_.WriteHostFile("C:\\mark.xml", "\xFF\xFE");
  ASSERT_EQ(MaskUnicodeCharacters("C:\\mark.xml", "C:\\out.xml"), kMaskWritten);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), "");
}

TEST_F(UnicodeMaskingTest, LongLinesStayWhole) {
  const std::string element = "<a v=\"" + std::string(5000, 'x') + "\"/>";
  host_.WriteHostFile("C:\\long.xml", element + "\r\n<b/>\r\n");
  ASSERT_EQ(MaskUnicodeCharacters("C:\\long.xml", "C:\\out.xml"), kMaskWritten);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), MaskedFile(text::Utf8ToUtf16(element) + u"\n<b/>\n"));
}

TEST_F(UnicodeMaskingTest, LinesAreCutAtTheirFirstNul) {
  host_.WriteHostFile("C:\\nul.xml", MaskedFile(std::u16string(u"a\u0100\0\u0101b\r\nc", 8)));
  ASSERT_EQ(MaskUnicodeCharacters("C:\\nul.xml", "C:\\out.xml"), kMaskWritten);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), MaskedFile(u"a\u00B2u256&amp;\nc\n"));
}

TEST_F(UnicodeMaskingTest, MissingInputReturnsOneAndLeavesTheOutputAlone) {
  host_.WriteHostFile("C:\\out.xml", "untouched");
  EXPECT_EQ(MaskUnicodeCharacters("C:\\missing.xml", "C:\\out.xml"), kMaskInputNotFound);
  EXPECT_EQ(MaskUnicodeCharacters("C:\\no\\folder\\in.xml", "C:\\out.xml"), kMaskInputNotFound);
  EXPECT_EQ(MaskUnicodeCharacters("", "C:\\out.xml"), kMaskInputNotFound);
  EXPECT_EQ(MaskUnicodeCharacters("C:\\*.nothing", "C:\\new.xml"), kMaskInputNotFound);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), "untouched");
  EXPECT_FALSE(Exists("C:\\new.xml"));
}

TEST_F(UnicodeMaskingTest, WildcardsOrAFolderMatchTheSearchButCannotBeOpened) {
  host_.WriteHostFile("C:\\data\\in.xml", "x");
  EXPECT_EQ(MaskUnicodeCharacters("C:\\data\\*.xml", "C:\\out.xml"), kMaskInputNotReadable);
  EXPECT_EQ(MaskUnicodeCharacters("C:\\data\\in.x?l", "C:\\out.xml"), kMaskInputNotReadable);
  EXPECT_EQ(MaskUnicodeCharacters("C:\\data", "C:\\out.xml"), kMaskInputNotReadable);
  EXPECT_FALSE(Exists("C:\\out.xml"));
}

TEST_F(UnicodeMaskingTest, OutputThatCannotBeCreatedReturnsThreeAndCreatesNothing) {
  host_.WriteHostFile("C:\\in.xml", "x\n");
  EXPECT_EQ(MaskUnicodeCharacters("C:\\in.xml", "C:\\no\\such\\out.xml"), kMaskOutputNotCreated);
  EXPECT_FALSE(Exists("C:\\no"));
  EXPECT_EQ(MaskUnicodeCharacters("C:\\in.xml", ""), kMaskOutputNotCreated);
  host_.WriteHostFile("C:\\ro.xml", "read-only");
  ASSERT_EQ(files().SetReadOnly("C:\\ro.xml", true), winerr::kSuccess);
  EXPECT_EQ(MaskUnicodeCharacters("C:\\in.xml", "C:\\ro.xml"), kMaskOutputNotCreated);
  EXPECT_EQ(host_.ReadHostFile("C:\\ro.xml"), "read-only");
}

TEST_F(UnicodeMaskingTest, OutputNamingTheInputIsRefusedBeforeTruncating) {
  const std::string input = host_.WriteHostFile("C:\\Data\\in.xml", "keep me\n");
  std::filesystem::create_hard_link(input, host_.HostPath("C:\\Data\\hard.xml"));
  std::filesystem::create_symlink(input, host_.HostPath("C:\\Data\\soft.xml"));
  for (const char* output : {"c:/data/./IN.XML", "C:\\Data\\hard.xml", "C:\\Data\\soft.xml"}) {
    EXPECT_EQ(MaskUnicodeCharacters("C:\\Data\\in.xml", output), kMaskOutputNotCreated) << output;
    EXPECT_EQ(host_.ReadHostFile("C:\\Data\\in.xml"), "keep me\n") << output;
  }
  // The link as the input is the same file too.
  EXPECT_EQ(MaskUnicodeCharacters("C:\\Data\\soft.xml", "C:\\Data\\in.xml"), kMaskOutputNotCreated);
  EXPECT_EQ(host_.ReadHostFile("C:\\Data\\in.xml"), "keep me\n");
}

TEST_F(UnicodeMaskingTest, ExistingOutputIsReplacedWhole) {
  host_.WriteHostFile("C:\\in.xml", "ab");
  host_.WriteHostFile("C:\\out.xml", std::string(100, 'z'));
  ASSERT_EQ(MaskUnicodeCharacters("C:\\in.xml", "C:\\out.xml"), kMaskWritten);
  EXPECT_EQ(host_.ReadHostFile("C:\\out.xml"), MaskedFile(u"ab\n"));
}

// The host's file service with streams that fail once `budget` bytes have
// gone through them (writes for kWrite streams, reads for kRead streams).
class FailingFiles : public plat::ForwardingFiles {
 public:
  FailingFiles(plat::IFiles& inner, plat::OpenMode failing, size_t budget)
      : plat::ForwardingFiles(inner), failing_(failing), budget_(budget) {}

  uint32_t OpenStream(std::string_view path, plat::OpenMode mode,
                      std::unique_ptr<plat::IFileStream>* stream) override {
    if (uint32_t rc = base_.OpenStream(path, mode, stream)) return rc;
    if (mode == failing_) *stream = std::make_unique<Stream>(std::move(*stream), budget_);
    return winerr::kSuccess;
  }

 private:
  class Stream : public plat::IFileStream {
   public:
    Stream(std::unique_ptr<plat::IFileStream> inner, size_t budget) : inner_(std::move(inner)), budget_(budget) {}
    uint32_t Read(void* buffer, size_t size, size_t* got) override {
      if (size > budget_) return 23;  // ERROR_CRC, a failing disk
      budget_ -= size;
      return inner_->Read(buffer, size, got);
    }
    uint32_t Write(const void* data, size_t size) override {
      if (size > budget_) return 112;  // ERROR_DISK_FULL
      budget_ -= size;
      return inner_->Write(data, size);
    }
    uint32_t Seek(uint64_t offset) override { return inner_->Seek(offset); }
    uint32_t SeekToEnd() override { return inner_->SeekToEnd(); }
    uint64_t Size() override { return inner_->Size(); }
    uint32_t Flush() override { return inner_->Flush(); }

   private:
    std::unique_ptr<plat::IFileStream> inner_;
    size_t budget_;
  };

  plat::OpenMode failing_;
  size_t budget_;
};

// The test host with FailingFiles as its file service.
class FailingPlatform : public plat::ForwardingPlatform {
 public:
  FailingPlatform(plat::IPlatform& inner, plat::OpenMode failing, size_t budget)
      : plat::ForwardingPlatform(inner), files_(inner.Files(), failing, budget) {
    SetFiles(&files_);
  }

 private:
  FailingFiles files_;
};

TEST_F(UnicodeMaskingTest, FailedWriteReturnsThreeAndRemovesThePartialOutput) {
  host_.WriteHostFile("C:\\in.xml", "line one\nline two\n");
  FailingPlatform failing(host_.Platform(), plat::OpenMode::kWrite, 20);
  plat::ScopedPlatform installed(failing);
  EXPECT_EQ(MaskUnicodeCharacters("C:\\in.xml", "C:\\out.xml"), kMaskOutputNotCreated);
  EXPECT_FALSE(Exists("C:\\out.xml"));
}

TEST_F(UnicodeMaskingTest, FailedReadReturnsTwoAndRemovesThePartialOutput) {
  host_.WriteHostFile("C:\\in.xml", "line one\n");
  // Two bytes are enough for the encoding check, not for the lines.
  FailingPlatform failing(host_.Platform(), plat::OpenMode::kRead, 2);
  plat::ScopedPlatform installed(failing);
  EXPECT_EQ(MaskUnicodeCharacters("C:\\in.xml", "C:\\out.xml"), kMaskInputNotReadable);
  EXPECT_FALSE(Exists("C:\\out.xml"));
}

}  // namespace
