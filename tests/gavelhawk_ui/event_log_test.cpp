// The event log: what reaches the file, rotation, and cookie values kept out.
#include "gavelhawk/log/event_log.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <thread>
#include <vector>

namespace {

using gavelhawk::log::EventLog;

QByteArray Read(const QString& file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

TEST(EventLog, ACookieValueNeverReachesTheLog) {
  struct Case {
    const char* text;
    const char* secret;
    const char* kept;
  };
  const Case cases[] = {
      {"GET /bid\nCookie: pin=alice; thor=S3CRET\nHost: x", "S3CRET", "Host: x"},
      {"set-cookie: thor=S3CRET; Path=/", "S3CRET", "set-cookie:"},
      {"登录 cookie=S3CRET 已更新", "S3CRET", "登录"},
      {"{\"cookies\": \"thor=S3CRET\"}", "S3CRET", "{"},
      {"夺宝编号 4000001 出价成功", nullptr, "夺宝编号 4000001 出价成功"},
  };
  QTemporaryDir dir;
  const QString file = dir.path() + "/Gavelhawk/gavelhawk.log";
  EventLog log(file.toStdString());
  for (const Case& c : cases) log.Log(c.text);
  const QByteArray written = Read(file);
  const auto events = log.Events();
  ASSERT_EQ(std::size(cases), events.size());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].text);
    if (cases[i].secret) {
      EXPECT_EQ(std::string::npos, events[i].text.find(cases[i].secret)) << events[i].text;
    }
    EXPECT_NE(std::string::npos, events[i].text.find(cases[i].kept)) << events[i].text;
  }
  EXPECT_FALSE(written.contains("S3CRET")) << written.toStdString();
  EXPECT_TRUE(written.contains("夺宝编号 4000001 出价成功")) << written.toStdString();
}

TEST(EventLog, TheFileRotatesAndEveryThreadsEventsAreKept) {
  QTemporaryDir dir;
  const QString file = dir.path() + "/gavelhawk.log";
  EventLog log(file.toStdString(), /*rotateBytes=*/4096);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 100; ++i) log.Log("线程 " + std::to_string(t) + " 事件 " + std::to_string(i));
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(400u, log.Events().size());
  const QByteArray current = Read(file);
  const QByteArray older = Read(file + ".1");
  EXPECT_LE(current.size(), 4096);
  EXPECT_LE(older.size(), 4096);
  EXPECT_GT(older.size(), 2048);
  // Each line whole and timestamped, none torn by another thread's write.
  const QList<QByteArray> lines = current.trimmed().split('\n');
  ASSERT_FALSE(lines.isEmpty());
  for (const QByteArray& line : lines) {
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  线程 \d 事件 \d+$)")
                    .match(QString::fromUtf8(line))
                    .hasMatch())
        << line.toStdString();
  }
}

}  // namespace
