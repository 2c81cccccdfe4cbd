// The snipe list kept across restarts, and the lock that keeps two clients
// from sniping the same list.
#include "gavelhawk/snipe/saved_list.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <map>

#include "platform/text/gbk.h"

namespace {

using gavelhawk::ui::LoadSnipes;
using gavelhawk::ui::SavedSnipe;
using platform::text::Utf8ToGbk;

constexpr std::int64_t kNow = 1386999990000;

SavedSnipe Row(std::int32_t id, const char* state, std::int64_t endTime, bool waiting) {
  SavedSnipe r;
  r.nDealId = id;
  r.strTitle = Utf8ToGbk("九成新 联想 ThinkPad X1 “碳纤维” 笔记本");
  r.strState = Utf8ToGbk(state);
  r.nMaxPrice = 1234;
  r.nIncrement = 3;
  r.nPrepTime = 800;
  r.nEndTime = endTime;
  r.nGroup = id % 3;
  r.ePhase = waiting ? gavelhawk::snipe::SnipePhase::Waiting : gavelhawk::snipe::SnipePhase::Finished;
  return r;
}

TEST(SavedList, RowsComeBackAsSavedAndARowThatClosedWhileOffNeverWaitsAgain) {
  QTemporaryDir dir;
  const std::string path = (dir.path() + "/Gavelhawk/snipes.json").toStdString();
  const std::vector<SavedSnipe> saved = {
      Row(4000001, "准备竞拍", kNow + 600000, true), Row(4000002, "出价成功", kNow - 5000, false),
      Row(4000003, "准备竞拍", kNow - 1, true),  // closed while the program was off
      Row(4000004, "准备竞拍", kNow, true),      // closing now: too late to bid
  };
  std::string error;
  ASSERT_TRUE(gavelhawk::ui::SaveSnipes(path, saved, &error)) << error;

  const auto loaded = LoadSnipes(path, kNow);
  EXPECT_EQ("", loaded.problem);
  EXPECT_EQ((std::vector<std::int32_t>{4000003, 4000004}), loaded.missed);
  ASSERT_EQ(4u, loaded.rows.size());
  struct Want {
    const char* state;
    bool waiting;
  };
  const Want want[] = {
      {"准备竞拍", true}, {"出价成功", false}, {"已结束(未运行)", false}, {"已结束(未运行)", false}};
  for (std::size_t i = 0; i < 4; ++i) {
    const SavedSnipe& r = loaded.rows[i];
    SCOPED_TRACE(saved[i].nDealId);
    EXPECT_EQ(saved[i].nDealId, r.nDealId);
    EXPECT_EQ(saved[i].strTitle, r.strTitle);
    EXPECT_EQ(saved[i].nMaxPrice, r.nMaxPrice);
    EXPECT_EQ(saved[i].nIncrement, r.nIncrement);
    EXPECT_EQ(saved[i].nPrepTime, r.nPrepTime);
    EXPECT_EQ(saved[i].nEndTime, r.nEndTime);
    EXPECT_EQ(Utf8ToGbk(want[i].state), r.strState);
    EXPECT_EQ(want[i].waiting, r.Waiting());
    EXPECT_EQ(saved[i].nGroup, r.nGroup);
  }
  // IE模式 is kept with the rows; a list saved before it was kept reads as clear.
  for (const bool ie : {true, false}) {
    ASSERT_TRUE(gavelhawk::ui::SaveSnipes(path, saved, nullptr, ie));
    EXPECT_EQ(ie, LoadSnipes(path, kNow).ieMode);
  }
  {
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{\"version\":1,\"snipes\":[]}");
  }
  EXPECT_FALSE(LoadSnipes(path, kNow).ieMode);
  // A rewrite replaces the list whole; no temporary file is left beside it.
  ASSERT_TRUE(gavelhawk::ui::SaveSnipes(path, {saved[1]}));
  EXPECT_EQ(1u, LoadSnipes(path, kNow).rows.size());
  EXPECT_EQ(QStringList{"snipes.json"}, QDir(dir.path() + "/Gavelhawk").entryList(QDir::Files));
}

TEST(SavedList, ADamagedFileIsKeptAsideAndToldOnce) {
  const char* damaged[] = {
      "{\"version\":1,\"snipes\":[{\"dealId\":4000001,",        // cut short
      "\xff\xfe garbage",                                       // not JSON
      "{\"version\":1,\"snipes\":[{\"dealId\":\"4000001\"}]}",  // wrong type
      "{\"version\":1,\"snipes\":{}}",                          // not a list
  };
  // A row whose values the window would refuse: one bad value each.
  const auto row = [](const char* field, const char* value) {
    std::map<std::string, std::string> v = {{"dealId", "4000001"},
                                            {"maxPrice", "100"},
                                            {"increment", "1"},
                                            {"prepTime", "800"},
                                            {"endTime", "1"}};
    v[field] = value;
    std::string json =
        "{\"version\":1,\"snipes\":[{\"title\":\"\",\"state\":\"\",\"waiting\":true,\"outcome\":\"\"";
    for (const auto& [k, x] : v) json += ",\"" + k + "\":" + x;
    return json + "}]}";
  };
  std::vector<std::string> all(std::begin(damaged), std::end(damaged));
  for (const auto& [field, value] :
       std::vector<std::pair<const char*, const char*>>{{"maxPrice", "99999999999"},
                                                        {"maxPrice", "-5"},
                                                        {"maxPrice", "0"},
                                                        {"increment", "0"},
                                                        {"prepTime", "-100000"},
                                                        {"prepTime", "3600001"},
                                                        {"dealId", "0"},
                                                        {"group", "-1"},
                                                        {"endTime", "-1"}}) {
    all.push_back(row(field, value));
  }
  all.push_back(row("maxPrice", "100").insert(1, "\"ieMode\":\"yes\","));  // IE mode not a flag
  for (const std::string& text : all) {
    const char* bytes = text.c_str();
    SCOPED_TRACE(bytes);
    QTemporaryDir dir;
    const QString file = dir.path() + "/snipes.json";
    {
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(bytes);
    }
    const auto loaded = LoadSnipes(file.toStdString(), kNow);
    EXPECT_TRUE(loaded.rows.empty());
    EXPECT_NE(std::string::npos, loaded.problem.find("已损坏")) << loaded.problem;
    EXPECT_NE(std::string::npos, loaded.problem.find(loaded.setAside)) << loaded.problem;
    EXPECT_FALSE(QFile::exists(file));
    QFile aside(QString::fromStdString(loaded.setAside));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly)) << loaded.setAside;
    EXPECT_EQ(QByteArray(bytes), aside.readAll());
    EXPECT_TRUE(QString::fromStdString(loaded.setAside).startsWith(file + ".damaged-"));
    // Told once: the next start finds no list and says nothing.
    EXPECT_EQ("", LoadSnipes(file.toStdString(), kNow).problem);
  }
}

TEST(SavedList, ASecondClientIsRefusedWhileTheListIsHeldAndACrashedOnesLockIsTakenOver) {
  QTemporaryDir dir;
  const std::string path = (dir.path() + "/Gavelhawk/snipes.json").toStdString();
  const QString lockFile = QString::fromStdString(path) + ".lock";
  std::string refusal;
  auto first = gavelhawk::ui::LockSavedList(path, &refusal);
  ASSERT_TRUE(first) << refusal;
  EXPECT_FALSE(gavelhawk::ui::LockSavedList(path, &refusal));
  EXPECT_NE(std::string::npos, refusal.find("抢拍列表正由另一个 Gavelhawk 使用")) << refusal;
  EXPECT_NE(std::string::npos, refusal.find(std::to_string(QCoreApplication::applicationPid()))) << refusal;

  // The same lock as left behind by a copy that has since died.
  QFile held(lockFile);
  ASSERT_TRUE(held.open(QIODevice::ReadOnly));
  QList<QByteArray> lines = held.readAll().split('\n');
  held.close();
  QProcess gone;
  gone.start("true", {});
  ASSERT_TRUE(gone.waitForStarted());
  const qint64 deadPid = gone.processId();
  ASSERT_TRUE(gone.waitForFinished());
  lines[0] = QByteArray::number(deadPid);
  first.reset();
  ASSERT_FALSE(QFile::exists(lockFile));
  QFile stale(lockFile);
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  stale.write(lines.join('\n'));
  stale.close();
  refusal.clear();
  EXPECT_TRUE(gavelhawk::ui::LockSavedList(path, &refusal)) << refusal;
}

TEST(SavedList, TheListLivesUnderTheUsersDataFolder) {
  auto env = [](std::map<std::string, std::string> vars) {
    return [vars](const char* name) -> const char* {
      const auto it = vars.find(name);
      return it == vars.end() ? nullptr : it->second.c_str();
    };
  };
  EXPECT_EQ("/d/Gavelhawk/snipes.json",
            gavelhawk::ui::SavedListPath(env({{"XDG_DATA_HOME", "/d"}, {"HOME", "/h"}})));
  EXPECT_EQ("/h/.local/share/Gavelhawk/snipes.json", gavelhawk::ui::SavedListPath(env({{"HOME", "/h"}})));
  EXPECT_EQ("/d/Gavelhawk-demo/snipes.json",
            gavelhawk::ui::SavedListPath(env({{"XDG_DATA_HOME", "/d"}}), /*demo=*/true));
}

}  // namespace
