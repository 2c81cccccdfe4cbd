// The crawl's reads of saved site pages, and endID.dat.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <sstream>

#include "platform/text/gbk.h"
#include "site/fetch.h"
#include "site/paths.h"
#include "tallyglass/crawl/resume.h"
#include "tallyglass/crawl/walk.h"

namespace tallyglass::crawl {
namespace {

using platform::text::Utf8ToGbk;
using ::site::LinesToText;

std::string ReadData(const std::string& name) {
  std::ifstream f(std::string(TG_DATA_DIR) + "/" + name, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  EXPECT_FALSE(s.str().empty()) << name;
  return s.str();
}

// A detail page in the site's format (UTF-8 with CR LF, as it arrives).
std::string DetailPage(const std::string& title, std::int64_t endMs, int status, int listPrice) {
  std::string filler;
  for (int i = 0; i < 40; ++i) filler += "<li class=\"params\">规格参数 " + std::to_string(i) + "</li>\r\n";
  return "<html><body>\r\n<div data-title=\"" + title +
         "\" data-kind=\"auction-lot\" data-alt-title=\"\">\r\n<script>var timeInfo = {endTimeMili=" +
         std::to_string(endMs) + "};\r\nvar auctionStatus = " + std::to_string(status) +
         ";\r\n</script>\r\n" + filler + "<script>var listPrice = parseInt('" + std::to_string(listPrice) +
         ".00');\r\nvar nowMil=1386012400000;</script>\r\n</body></html>\r\n";
}
std::string Records(const std::string& buyer, int price) {
  return "{\"trxBuyerName\":" + buyer + ",\"trxPrice\":" + std::to_string(price) + ".00,\"records\":[]}\r\n";
}

TEST(PageReadTest, TodayFromTheHomePage) {
  EXPECT_EQ(ReadToday(LinesToText(ReadData("home.html"))), 16041);
  EXPECT_EQ(ReadToday("<html>no clock here, though it is long enough to cut</html>"), 0);
  EXPECT_EQ(ReadToday(""), 0);
  // Day numbers turn at 00:00 UTC.
  EXPECT_EQ(ReadToday("var nowMil=1385942399999;"), 16040);
  EXPECT_EQ(ReadToday("var nowMil=1385942400000;"), 16041);
}

TEST(PageReadTest, SavedDetailPage) {
  std::string page = LinesToText(ReadData("detail_sold.html"));
  ASSERT_GE(page.size(), ::site::kMinDetailPage);
  DetailRead d = ReadDetail(page);
  EXPECT_EQ(d.title, Utf8ToGbk("Apple iPhone 5s 16G 银色 手机"));
  EXPECT_TRUE(d.hasEnd);
  EXPECT_EQ(d.endDay, 16041);
  EXPECT_EQ(d.status, 2);
  EXPECT_EQ(d.listPrice, 5288);
}

TEST(PageReadTest, DetailPageEdges) {
  // The title area without a second "title": no title.
  std::string page = LinesToText(DetailPage("手机", 1386012345678, 0, 99));
  std::string noAlt = page;
  noAlt.replace(noAlt.find("data-alt-title"), 14, "data-alt-xxxxx");
  EXPECT_EQ(ReadDetail(noAlt).title, "");
  EXPECT_EQ(ReadDetail(page).title, Utf8ToGbk("手机"));
  EXPECT_EQ(ReadDetail(LinesToText(DetailPage("", 1386012345678, 0, 99))).title, "");

  std::string noEnd = page;
  noEnd.replace(noEnd.find("endTimeMili"), 11, "endTimeMilx");
  EXPECT_FALSE(ReadDetail(noEnd).hasEnd);

  DetailRead d = ReadDetail(LinesToText(DetailPage("x", 1385942399999, 1, 0)));
  EXPECT_EQ(d.endDay, 16040);
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.listPrice, 0);
}

TEST(PageReadTest, BidRecords) {
  BidRecordsRead b = ReadBidRecords(LinesToText(ReadData("bid_records_sold.json")));
  EXPECT_TRUE(b.sold);
  EXPECT_EQ(b.buyer, Utf8ToGbk("jd_小明"));
  EXPECT_EQ(b.trxPrice, 3150);

  EXPECT_FALSE(ReadBidRecords(Records("null", 0)).sold);
  // Quotes go; a comma ends the name.
  b = ReadBidRecords(Records("\"ali,ce\"", 77));
  EXPECT_TRUE(b.sold);
  EXPECT_EQ(b.buyer, "ali");
  b = ReadBidRecords(Records("\"bo\rb\"", 40000));
  EXPECT_EQ(b.buyer, "bob") << "carriage returns are removed first";
  EXPECT_EQ(b.trxPrice, 40000) << "full width, no 16-bit wrap";
  // An answer that never came, or that names nobody, is no sale.
  EXPECT_FALSE(ReadBidRecords("").sold);
  EXPECT_FALSE(ReadBidRecords("<html>502 Bad Gateway</html>").sold);

  EXPECT_EQ(ReadTrxPriceAgain(Records("\"a\"", 120)), 120);
  EXPECT_EQ(ReadTrxPriceAgain("{\"price\":88.00}"), 88);
  EXPECT_EQ(ReadTrxPriceAgain(""), 0);
}

TEST(PageReadTest, SecondReadBelowATenth) {
  EXPECT_TRUE(NeedsSecondRead(1000, 99));
  EXPECT_FALSE(NeedsSecondRead(1000, 100));
  EXPECT_FALSE(NeedsSecondRead(0, 0));
  EXPECT_FALSE(NeedsSecondRead(-5, 0));
  EXPECT_FALSE(NeedsSecondRead(2000000000, 300000000)) << "ten times the price is over 32 bits";
}

class ResumeFileTest : public ::testing::Test {
 protected:
  void Put(const QByteArray& bytes) {
    QFile f(ResumeFilePath(dir_.path()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }
  QByteArray Get() {
    QFile f(ResumeFilePath(dir_.path()));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
  }
  QTemporaryDir dir_;
};

TEST_F(ResumeFileTest, FirstLineReadAsAtolDoes) {
  EXPECT_FALSE(ReadResumeId(dir_.path()).has_value());
  Put("1234567\r\n7654321\r\n");
  EXPECT_EQ(ReadResumeId(dir_.path()), 1234567);
  Put("12ab\r\n");
  EXPECT_EQ(ReadResumeId(dir_.path()), 12);
  Put("\r\n2000000\r\n");
  EXPECT_EQ(ReadResumeId(dir_.path()), 0) << "only the first line counts";
  Put("  +1000000");
  EXPECT_EQ(ReadResumeId(dir_.path()), 1000000);
  Put("");
  EXPECT_EQ(ReadResumeId(dir_.path()), 0);
  Put("99999999999999999999\n");
  EXPECT_EQ(ReadResumeId(dir_.path()), 2147483647) << "held to 32 bits, not wrapped into range";
}

TEST_F(ResumeFileTest, SaveWritesOneLineAndReplacesWhole) {
  Put("12345678901234\r\nold second line\r\n");
  ASSERT_EQ(WriteResumeId(dir_.path(), 1234567), SaveResult::Saved);
  EXPECT_EQ(Get(), QByteArray("1234567\r\n"));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{"endID.dat"}) << "no temporary file left";

  EXPECT_EQ(WriteResumeId(dir_.path() + "/missing", 5), SaveResult::CannotCreate);
  EXPECT_FALSE(QFile::exists(dir_.path() + "/missing/endID.dat"));
}

TEST_F(ResumeFileTest, FailedWriteKeepsTheOldId) {
  Put("2000000\r\n");
  // Files may grow to 4 bytes only: the new id cannot be written out.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tiny = old;
  tiny.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  SaveResult r = WriteResumeId(dir_.path(), 3000000);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r, SaveResult::WriteFailed);
  EXPECT_EQ(Get(), QByteArray("2000000\r\n"));
  EXPECT_EQ(ReadResumeId(dir_.path()), 2000000);
}

TEST_F(ResumeFileTest, DeliveredIdOnlyWhenThereIsNone) {
  ASSERT_TRUE(EnsureResumeFile(dir_.path(), kDemoResumeId));
  EXPECT_EQ(Get(), QByteArray("2000000\r\n"));
  Put("garbage the user typed");
  ASSERT_TRUE(EnsureResumeFile(dir_.path(), kDeliveredResumeId));
  EXPECT_EQ(Get(), QByteArray("garbage the user typed"));
  EXPECT_GE(kDeliveredResumeId, kFirstResumeId);
  EXPECT_LE(kDeliveredResumeId, kLastResumeId);
  EXPECT_FALSE(EnsureResumeFile(dir_.path() + "/missing", kDeliveredResumeId));
}

}  // namespace
}  // namespace tallyglass::crawl
