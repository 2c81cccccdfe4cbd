// The price history at the snipe, read from a history file that Tallyglass's
// own database code wrote.
#include "gavelhawk/snipe/price_history.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <future>
#include <map>

#include "platform/text/gbk.h"
#include "tallyglass/db/history_db.h"

namespace gavelhawk::snipe {
namespace {

constexpr std::int32_t kToday = 20000;
constexpr std::int64_t kNowMs = std::int64_t{kToday} * 86'400'000 + 45'000'000;

std::string Gbk(const char* utf8) { return platform::text::Utf8ToGbk(utf8); }

class PriceHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    // pg_server.sh runs the sales test again against a throw-away server.
    if (!qEnvironmentVariable("TALLYGLASS_TEST_PG_SKIP").isEmpty())
      GTEST_SKIP() << qPrintable(qEnvironmentVariable("TALLYGLASS_TEST_PG_SKIP"));
    source_.databaseUrl = qEnvironmentVariable("TALLYGLASS_TEST_PG");
    // The file name goes into an SQLite URI: characters that mean something there.
    source_.dataDir = dir_.path() + QStringLiteral("/数据 #1?%");
  }
  // (title, price, days before today) as Tallyglass stores them.
  void WriteHistory(const std::vector<std::tuple<const char*, int, int>>& sales) {
    tallyglass::db::HistoryDb db;
    ASSERT_TRUE(db.Open(source_.dataDir, source_.databaseUrl)) << db.LastError().toStdString();
    QSqlQuery(db.Database()).exec(QStringLiteral("DELETE FROM ") + db.Ident(QStringLiteral("History")));
    std::vector<tallyglass::db::HistoryRecord> rows;
    for (const auto& [title, price, ago] : sales) {
      tallyglass::db::HistoryRecord r;
      r.nProductId = static_cast<std::int32_t>(rows.size()) + 1000;
      r.strTitle = QString::fromUtf8(title);
      r.nTrxPrice = price;
      r.strBuyerName = QStringLiteral("buyer");
      r.nBidTime = kToday - ago;
      rows.push_back(r);
    }
    std::size_t saved = 0;
    QString error;
    ASSERT_TRUE(tallyglass::db::AppendBatch(&db, rows, &saved, &error)) << error.toStdString();
    db.Close();
  }
  QTemporaryDir dir_;
  HistorySource source_;
};

TEST_F(PriceHistoryTest, BatchAnswersEachTitleFromItsSalesOfTheLast30Days) {
  WriteHistory({
      {"相机A", 100, 0},
      {"相机A", 300, 1},
      {"相机A", 200, 2},  // odd count
      {"镜头C", 101, 0},
      {"镜头C", 104, 30},
      {"镜头C", 999, 31},  // even; day 31 is out
      {"  耳机D \t", 50, 3},
      {"耳机D", 70, 4},  // stored with white space
      {"A&B 套装", 10, 5},
      {"旧货E", 500, 40},  // only an old sale
  });
  const struct {
    const char* asked;  // UTF-8, sent as the site's GBK
    const char* label;
  } cases[] = {
      {"相机A", "历史成交：中位¥200，3次（近30天）"},
      {"镜头C", "历史成交：中位¥102，2次（近30天）"},
      {" 耳机D　", "历史成交：中位¥60，2次（近30天）"},  // ideographic space too
      {"A&amp;B 套装", "历史成交：中位¥10，1次（近30天）"},
      {"旧货E", "历史成交：无"},
      {"相机", "历史成交：无"},  // the same title, not a part of it
      {"", ""},                  // a title that was not read shows nothing
  };
  std::vector<std::string> titles;
  for (const auto& c : cases) titles.push_back(Gbk(c.asked));
  const std::vector<PriceHistory> answers = LookUpPriceHistories(source_, titles, kNowMs);
  ASSERT_EQ(answers.size(), std::size(cases));
  for (std::size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(HistoryLabelText(answers[i]), cases[i].label) << cases[i].asked;
    EXPECT_EQ(answers[i].error, "") << cases[i].asked;
  }
  EXPECT_EQ(HistoryEventLine(2000212, answers[1]), "event=history id=2000212 median=102 count=2");
  EXPECT_EQ(HistoryEventLine(2000212, answers[4]), "");

  // The window asks off its thread and gets the same answers.
  std::promise<std::vector<PriceHistory>> delivered;
  {
    PriceHistoryLookup lookup(source_);
    lookup.LookUp({Gbk("相机A"), Gbk("旧货E")}, kNowMs,
                  [&delivered](std::vector<PriceHistory> a) { delivered.set_value(std::move(a)); });
    const std::vector<PriceHistory> async = delivered.get_future().get();
    ASSERT_EQ(async.size(), 2u);
    EXPECT_EQ(HistoryLabelText(async[0]), "历史成交：中位¥200，3次（近30天）");
    EXPECT_EQ(HistoryLabelText(async[1]), "历史成交：无");
  }
  EXPECT_EQ(HistoryLabelText(LookUpPriceHistory(source_, Gbk("相机A"), kNowMs + 31LL * 86'400'000)),
            "历史成交：无");
  if (source_.databaseUrl.isEmpty()) {
    // Read-only: not even a journal is left beside the history.
    EXPECT_EQ(QDir(source_.dataDir).entryList(QDir::Files),
              QStringList{QString::fromLatin1(tallyglass::db::kDatabaseFileName)});
  }
  // Tallyglass running beside: its sales are read all the same.
  tallyglass::db::HistoryDb running;
  ASSERT_TRUE(running.Open(source_.dataDir, source_.databaseUrl));
  EXPECT_EQ(HistoryLabelText(LookUpPriceHistory(source_, Gbk("镜头C"), kNowMs)),
            "历史成交：中位¥102，2次（近30天）");
}

TEST_F(PriceHistoryTest, MissingOrDamagedHistoryShowsNothingAndIsLeftAsItWas) {
  source_.databaseUrl.clear();
  const struct {
    const char* name;
    QByteArray content;  // null: no file at all
  } cases[] = {
      {"no file", QByteArray()},
      {"not a database", QByteArray("this is no SQLite file, just text\n").repeated(200)},
      {"empty file", QByteArray("")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    source_.dataDir = dir.filePath(QStringLiteral("Tallyglass"));
    const QString file =
        source_.dataDir + QLatin1Char('/') + QLatin1String(tallyglass::db::kDatabaseFileName);
    if (!c.content.isNull()) {
      ASSERT_TRUE(QDir().mkpath(source_.dataDir));
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      ASSERT_EQ(f.write(c.content), c.content.size());
    }
    const PriceHistory h = LookUpPriceHistory(source_, Gbk("相机A"), kNowMs);
    EXPECT_FALSE(h.present);
    EXPECT_EQ(HistoryLabelText(h), "");
    EXPECT_EQ(HistoryEventLine(1, h), "");
    EXPECT_EQ(h.error.empty(), c.content.isNull()) << h.error;
    // Nothing made and nothing written: the folder holds what the test put there.
    if (c.content.isNull()) {
      EXPECT_FALSE(QFileInfo::exists(source_.dataDir));
    } else {
      EXPECT_EQ(QDir(source_.dataDir).entryList(QDir::Files),
                QStringList{QString::fromLatin1(tallyglass::db::kDatabaseFileName)});
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::ReadOnly));
      EXPECT_EQ(f.readAll(), c.content);
    }
  }
}

TEST(PriceHistorySource, FollowsTallyglassSettings) {
  const struct {
    std::map<std::string, std::string> env;
    bool demo;
    QString url, dirEnd;
  } cases[] = {
      {{{"TALLYGLASS_DATABASE", "postgresql://u@h/db"}, {"TALLYGLASS_DATA_DIR", "/d"}},
       false,
       QStringLiteral("postgresql://u@h/db"),
       QStringLiteral("/d")},
      {{{"TALLYGLASS_DATA_DIR", "/data/tg"}}, true, {}, QStringLiteral("/data/tg")},
      {{}, false, {}, QStringLiteral("/Tallyglass")},
      {{}, true, {}, QStringLiteral("/Tallyglass-demo")},
  };
  for (const auto& c : cases) {
    const HistorySource s = HistorySourceFromEnvironment(
        [&c](const char* name) -> const char* {
          const auto it = c.env.find(name);
          return it == c.env.end() ? nullptr : it->second.c_str();
        },
        c.demo);
    EXPECT_EQ(s.databaseUrl, c.url);
    EXPECT_TRUE(s.dataDir.endsWith(c.dirEnd)) << s.dataDir.toStdString();
  }
}

}  // namespace
}  // namespace gavelhawk::snipe
