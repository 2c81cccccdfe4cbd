// GBK conversions as the site text needs them: byte counts, characters GBK
// lacks, characters split between pieces, and ASCII upper-casing that leaves
// the trail byte of a two-byte character alone.
#include <gtest/gtest.h>

#include <string>

#include "platform/text/gbk.h"

namespace {

using platform::text::GbkToUtf16;
using platform::text::GbkToUtf8;
using platform::text::GbkUpperAscii;
using platform::text::GbkUpperAsciiCopy;
using platform::text::Utf8ToGbk;
using platform::text::Utf8ToGbkStream;

TEST(GbkConversion, ChineseIsTwoBytesAndAsciiStaysAscii) {
  EXPECT_EQ(Utf8ToGbk("京东价"), "\xBE\xA9\xB6\xAB\xBC\xDB");
  EXPECT_EQ(Utf8ToGbk("京东价").size(), 6u);
  EXPECT_EQ(Utf8ToGbk("var nowMil=1386012345678;"), "var nowMil=1386012345678;");
  EXPECT_EQ(Utf8ToGbk(""), "");
}

TEST(GbkConversion, RoundTripsThroughUtf8AndUtf16) {
  const std::string utf8 = "夺宝岛 iPhone 15 全新";
  std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
  EXPECT_EQ(GbkToUtf16(gbk), u"夺宝岛 iPhone 15 全新");
}

TEST(GbkConversion, CharacterGbkLacksBecomesQuestionMark) {
  EXPECT_EQ(Utf8ToGbk("a한b"), "a?b");
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80"), "?");  // an emoji, four UTF-8 bytes, one '?'
  EXPECT_EQ(Utf8ToGbk("x\xFFy"), "x?y");          // malformed UTF-8
}

TEST(GbkConversion, MalformedGbkBecomesReplacementCharacter) {
  // A lead byte with nothing after it.
  EXPECT_EQ(GbkToUtf8("ab\xBE"), "ab\xEF\xBF\xBD");
  EXPECT_EQ(GbkToUtf16("\xBE"), std::u16string(1, u'\uFFFD'));
}

TEST(GbkUpperCase, UpperCasesAsciiLettersOnly) {
  EXPECT_EQ(GbkUpperAsciiCopy("iphone 15 pro"), "IPHONE 15 PRO");
  EXPECT_EQ(GbkUpperAsciiCopy(Utf8ToGbk("京东ipad")), Utf8ToGbk("京东IPAD"));
}

TEST(GbkUpperCase, TrailByteInLetterRangeIsNotTouched) {
  // 乤 is 0x81 0x61 and 媧 is 0x8B 0x7A in GBK: their trail bytes are 'a' and
  // 'z'; upper-casing them would turn the character into another one.
  std::string gbk = Utf8ToGbk("乤媧x");
  ASSERT_EQ(gbk, "\x81\x61\x8B\x7Ax");
  GbkUpperAscii(gbk);
  EXPECT_EQ(gbk, "\x81\x61\x8B\x7AX");
  EXPECT_EQ(GbkToUtf8(gbk), "乤媧X");
}

TEST(GbkStream, CharacterSplitBetweenPiecesIsJoined) {
  const std::string jing = "京";  // E4 BA AC
  for (size_t cut = 1; cut < jing.size(); ++cut) {
    Utf8ToGbkStream s;
    std::string out;
    s.Feed("ab" + jing.substr(0, cut), out);
    EXPECT_EQ(out, "ab") << "cut after byte " << cut;
    s.Feed(jing.substr(cut) + "c", out);
    s.Finish(out);
    EXPECT_EQ(out,
              "ab\xBE\xA9"
              "c")
        << "cut after byte " << cut;
  }
}

TEST(GbkStream, CharacterSplitOverThreePiecesIsJoined) {
  Utf8ToGbkStream s;
  std::string out;
  s.Feed("\xE4", out);
  s.Feed("\xBA", out);
  s.Feed("\xAC", out);
  s.Finish(out);
  EXPECT_EQ(out, "\xBE\xA9");
}

TEST(GbkStream, UnfinishedCharacterAtTheEndBecomesQuestionMark) {
  Utf8ToGbkStream s;
  std::string out;
  s.Feed("ok\xE4\xBA", out);
  s.Finish(out);
  EXPECT_EQ(out, "ok?");
}

}  // namespace
