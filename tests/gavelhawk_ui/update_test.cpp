// Reads of the update page: which published versions are offers, which link
// would be opened, and the history text the user is shown.
#include "gavelhawk/app/update.h"

#include <gtest/gtest.h>

#include "platform/text/gbk.h"

namespace {

using gavelhawk::ui::ParseDecimal;
using gavelhawk::ui::ReadUpdateHistory;
using gavelhawk::ui::ReadUpdateOffer;
using Kind = gavelhawk::ui::UpdateOffer::Kind;
using platform::text::GbkToUtf8;
using platform::text::Utf8ToGbk;

// The page as FetchPage hands it over: GBK, CR LF removed.
std::string Page(const std::string& version, const std::string& link = "http://dl.example/gh.tar.gz") {
  return Utf8ToGbk("<html><p>标准版 v9.9<a>http://wrong.example/</a></p><p>专业版 v" + version + "</p><a>" +
                   link + "</a><p>更新历史</p><p>修正A</p><p>修正B<br></html>");
}

TEST(UpdateOffer, VersionsUpTo36101AreNotOffers) {
  EXPECT_EQ(Kind::None, ReadUpdateOffer(Page("3.61")).kind);
  EXPECT_EQ(Kind::None, ReadUpdateOffer(Page("3.6")).kind);
  EXPECT_EQ(Kind::None, ReadUpdateOffer(Page("2.99")).kind);
  EXPECT_FLOAT_EQ(3.61f, ReadUpdateOffer(Page("3.61")).version);
}

TEST(UpdateOffer, SinglePrecisionMakes36101Newer) {
  const auto offer = ReadUpdateOffer(Page("3.6101"));
  EXPECT_EQ(Kind::Ordinary, offer.kind);
  EXPECT_EQ("http://dl.example/gh.tar.gz", offer.link);
}

TEST(UpdateOffer, MinorAndMajorUpdates) {
  EXPECT_EQ(Kind::Ordinary, ReadUpdateOffer(Page("3.62")).kind);
  EXPECT_EQ(Kind::Ordinary, ReadUpdateOffer(Page("3.9")).kind);
  EXPECT_EQ(Kind::Important, ReadUpdateOffer(Page("4.0")).kind);
  EXPECT_EQ(Kind::Important, ReadUpdateOffer(Page("4")).kind);
  EXPECT_EQ(Kind::Important, ReadUpdateOffer(Page("12.5")).kind);
}

TEST(UpdateOffer, ReadsTheEntryAfterTheProEditionMarkerOnly) {
  // The 9.9 of the other edition comes first on the page and must be ignored.
  EXPECT_FLOAT_EQ(3.62f, ReadUpdateOffer(Page("3.62")).version);
  EXPECT_EQ("http://dl.example/gh.tar.gz", ReadUpdateOffer(Page("3.62")).link);
}

TEST(UpdateOffer, VersionWithoutClosingBracketReadsZero) {
  const auto offer = ReadUpdateOffer(Utf8ToGbk("专业版 v4.0 http://dl.example/x"));
  EXPECT_EQ(Kind::None, offer.kind);
  EXPECT_EQ(0.0f, offer.version);
}

TEST(UpdateOffer, EmptyOrGarbledPagesAreSilent) {
  EXPECT_EQ(Kind::None, ReadUpdateOffer("").kind);
  EXPECT_EQ(Kind::None, ReadUpdateOffer("ab").kind);
  EXPECT_EQ(Kind::None, ReadUpdateOffer(Utf8ToGbk("专业版 vabc<")).kind);
  EXPECT_EQ(Kind::None, ReadUpdateOffer(Utf8ToGbk("专业版 vinf<http://x/<")).kind);
  EXPECT_EQ(Kind::None, ReadUpdateOffer(Utf8ToGbk("专业版 vnan<http://x/<")).kind);
  // Too large for a float: not a version, and no crash on the way.
  EXPECT_EQ(Kind::None, ReadUpdateOffer(Utf8ToGbk("专业版 v1e300<http://x/<")).kind);
  std::string binary(4096, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 37);
  EXPECT_NO_THROW(ReadUpdateOffer(binary));
}

TEST(UpdateOffer, WithoutMarkerTheFirstThreeBytesAreDropped) {
  // No "专业版": the page loses its first 3 bytes, then the cuts go on.
  EXPECT_EQ(Kind::Ordinary, ReadUpdateOffer("xyzv3.7<a>http://h/<").kind);
  // Without "v" the page stays whole after that, and the text before "<" is
  // the version.
  EXPECT_EQ(Kind::Ordinary, ReadUpdateOffer("abc3.9<http://h/<").kind);
}

TEST(UpdateOffer, LinkIsWhatFollowsTheVersion) {
  EXPECT_EQ("http://a.example/new", ReadUpdateOffer(Utf8ToGbk("专业版v3.7<b>http://a.example/new</b>")).link);
  // No "<" after the link: the link is empty.
  EXPECT_EQ("", ReadUpdateOffer(Utf8ToGbk("专业版v3.7<b>http://a.example/new")).link);
}

TEST(ParseDecimal, BehavesLikeAtofInTheCLocale) {
  EXPECT_DOUBLE_EQ(3.62, ParseDecimal("3.62"));
  EXPECT_DOUBLE_EQ(3.62, ParseDecimal("  3.62abc"));
  EXPECT_DOUBLE_EQ(-2.5, ParseDecimal("-2.5"));
  EXPECT_DOUBLE_EQ(4.0, ParseDecimal("+4"));
  EXPECT_DOUBLE_EQ(0.5, ParseDecimal(".5"));
  EXPECT_DOUBLE_EQ(0.0, ParseDecimal(""));
  EXPECT_DOUBLE_EQ(0.0, ParseDecimal("v3"));
  EXPECT_DOUBLE_EQ(3.0, ParseDecimal("3,62"));  // a comma is no decimal point
}

TEST(IsUpdateLink, OnlyWebAddressesOnTheUpdatePagesOwnHost) {
  struct Case {
    const char* page;
    const char* link;
    bool opened;
  };
  const Case cases[] = {
      {"http://dl.example/update.html", "http://dl.example/gh.tar.gz", true},
      {"http://dl.example/update.html", "HTTPS://DL.example/x?y=1", true},
      {"https://dl.example/update.html", "https://dl.example:443/gh.tar.gz", true},
      {"http://127.0.0.1:8080/update", "http://127.0.0.1:8080/download", true},
      {"http://dl.example/u", "https://dl.example:8443/gh.tar.gz", true},  // up to https
      // Another host, or the same name with a user part in front.
      {"http://dbd.jd.com/update", "http://evil.example/gh.tar.gz", false},
      {"http://dbd.jd.com/update", "http://dbd.jd.com@evil.example/", false},
      {"http://dbd.jd.com/update", "http://user:pw@dbd.jd.com/x", false},
      {"http://dbd.jd.com/update", "http://dbd.jd.com.evil.example/x", false},
      {"http://127.0.0.1:8080/update", "http://127.0.0.1:9090/download", false},
      // Down from https to http.
      {"https://dl.example/update.html", "http://dl.example/gh.tar.gz", false},
      // No web address at all, or one a shell or browser would read otherwise.
      {"http://dl.example/u", "", false},
      {"http://dl.example/u", "http://dl.example", false},
      {"http://dl.example/u", "http://dl.example?x/", false},
      {"http://dl.example/u", "file:///etc/passwd", false},
      {"http://dl.example/u", "/usr/bin/xterm", false},
      {"http://dl.example/u", "javascript:alert(1)//http://dl.example/", false},
      {"http://dl.example/u", "smb://dl.example/share", false},
      {"http://dl.example/u", "http://dl.example/a b", false},
      {"http://dl.example/u", "http://dl.example/\"x", false},
      {"http://dl.example/u", "http://dl.example/\nx", false},
      {"http://dl.example/u", "http://dl.example\\@evil.example/", false},
      {"javascript:x", "http://dl.example/", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.opened, gavelhawk::ui::IsUpdateLink(c.link, c.page)) << c.page << " " << c.link;
  }
}

TEST(UpdateHistory, SectionUpToBreakWithParagraphsAsLines) {
  EXPECT_EQ("更新历史\r\n修正A\r\n修正B", GbkToUtf8(ReadUpdateHistory(Page("3.61"))));
}

TEST(UpdateHistory, OtherTagsStayAndMissingPartsGiveEmptyText) {
  EXPECT_EQ("更新历史<b>x</b>\r\ny",
            GbkToUtf8(ReadUpdateHistory(Utf8ToGbk("专业版 更新历史<b>x</b></p><p>y<br>"))));
  EXPECT_EQ("", ReadUpdateHistory(""));
  EXPECT_EQ("", ReadUpdateHistory(Utf8ToGbk("专业版 更新历史 no break here")));
}

TEST(UpdateHistory, HistoryBeforeTheProEditionIsNotShown) {
  const std::string page = Utf8ToGbk("更新历史 old<br> 专业版 更新历史 new<br>");
  EXPECT_EQ("更新历史 new", GbkToUtf8(ReadUpdateHistory(page)));
}

}  // namespace
