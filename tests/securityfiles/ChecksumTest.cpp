#include <gtest/gtest.h>

#include "securityfiles/RepositoryMgr.h"

namespace {

TEST(ChecksumHashTest, FollowsTheDocumentedExamples) {
  EXPECT_EQ(CRepositoryMgr::HashText(u"abc"), "24930000000000000000000000000000");
  EXPECT_EQ(CRepositoryMgr::HashText(u"x"), std::string(32, '0'));
  EXPECT_EQ(CRepositoryMgr::HashText(u""), "-1000000000000000000000000000000");
}

TEST(ChecksumHashTest, LastUnitIsNotCountedAndSumsWrapAsSigned) {
  EXPECT_EQ(CRepositoryMgr::HashText(u"<a/>\r\n"), CRepositoryMgr::HashText(u"<a/>\r\r"));
  EXPECT_NE(CRepositoryMgr::HashText(u"<a/>\r\n"), CRepositoryMgr::HashText(u"<b/>\r\n"));
  // 0x80 shifted to the top bit reads as a negative value.
  EXPECT_EQ(CRepositoryMgr::HashText(std::u16string(u"\u0080\0\0\0y", 5)), "-2147483648" + std::string(21, '0'));
  // Five units of 0xFF: 0xFFFFFFFF rotated stays itself, plus 0xFF wraps to 0xFE.
  EXPECT_EQ(CRepositoryMgr::HashText(u"\u00FF\u00FF\u00FF\u00FF\u00FFx"), "254" + std::string(29, '0'));
}

TEST(ChecksumHashTest, Utf8TextIsHashedAsUtf16Units) {
  // U+1F600 is two UTF-16 units; the second is the last one and not counted.
  EXPECT_EQ(CRepositoryMgr::HashTextUtf8("a\xF0\x9F\x98\x80"), CRepositoryMgr::HashText(u"a\xD83D\xDE00"));
  EXPECT_EQ(CRepositoryMgr::HashTextUtf8("\xC3\xA4z"), CRepositoryMgr::HashText(u"\u00E4z"));
  EXPECT_EQ(CRepositoryMgr::HashTextUtf8("\xC3\xA4z").substr(0, 3), "228");
}

}  // namespace
