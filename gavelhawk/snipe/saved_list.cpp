#include "gavelhawk/snipe/saved_list.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/text/gbk.h"

namespace gavelhawk::ui {

namespace {

using platform::text::GbkToUtf8;
using platform::text::Utf8ToGbk;

constexpr int kFormatVersion = 1;
constexpr std::size_t kMaxRows = 10;

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
std::string S(const QString& s) { return s.toStdString(); }

QJsonObject ToJson(const SavedSnipe& r) {
  QJsonObject o;
  const bool waiting = r.Waiting();
  o["dealId"] = r.nDealId;
  o["title"] = Q(GbkToUtf8(r.strTitle));
  o["state"] = Q(GbkToUtf8(r.strState));
  o["maxPrice"] = r.nMaxPrice;
  o["increment"] = r.nIncrement;
  o["prepTime"] = r.nPrepTime;
  o["endTime"] = static_cast<qint64>(r.nEndTime);
  o["group"] = r.nGroup;
  o["waiting"] = waiting;
  o["outcome"] = waiting ? QString() : Q(GbkToUtf8(r.strState));
  if (waiting && r.bBidSent) o["bidSent"] = true;
  return o;
}

std::optional<std::int64_t> Integer(const QJsonObject& o, const char* key, std::int64_t lo, std::int64_t hi) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (!v.isDouble()) return std::nullopt;
  const double d = v.toDouble();
  // Doubles hold every integer a site time needs (< 2^53) exactly.
  if (d != static_cast<double>(static_cast<std::int64_t>(d))) return std::nullopt;
  const auto n = static_cast<std::int64_t>(d);
  if (n < lo || n > hi) return std::nullopt;
  return n;
}

std::optional<SavedSnipe> FromJson(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  // Each value within what the window itself accepts: a row out of range
  // damages the file like any other fault.
  constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  const auto id = Integer(o, "dealId", 1, hi);
  const auto maxPrice = Integer(o, "maxPrice", 1, hi);
  const auto increment = Integer(o, "increment", 1, hi);
  const auto prep = Integer(o, "prepTime", kMinPrepTimeMs, kMaxPrepTimeMs);
  const auto end = Integer(o, "endTime", 0, std::int64_t{1} << 53);
  if (!id || !maxPrice || !increment || !prep || !end) return std::nullopt;
  for (const char* key : {"title", "state", "outcome"}) {
    if (!o.value(QLatin1String(key)).isString()) return std::nullopt;
  }
  if (!o.value(QLatin1String("waiting")).isBool()) return std::nullopt;
  // Absent in lists saved before groups were kept: no group.
  const auto group =
      o.contains(QLatin1String("group")) ? Integer(o, "group", 0, hi) : std::optional<std::int64_t>(0);
  if (!group) return std::nullopt;
  SavedSnipe r;
  r.nDealId = static_cast<std::int32_t>(*id);
  r.strTitle = Utf8ToGbk(S(o.value(QLatin1String("title")).toString()));
  r.strState = Utf8ToGbk(S(o.value(QLatin1String("state")).toString()));
  r.nMaxPrice = static_cast<std::int32_t>(*maxPrice);
  r.nIncrement = static_cast<std::int32_t>(*increment);
  r.nPrepTime = static_cast<std::int32_t>(*prep);
  r.nEndTime = *end;
  r.nGroup = static_cast<std::int32_t>(*group);
  r.ePhase =
      o.value(QLatin1String("waiting")).toBool() ? snipe::SnipePhase::Waiting : snipe::SnipePhase::Finished;
  r.bBidSent = o.value(QLatin1String("bidSent")).toBool(false);
  return r;
}

// The rows of a well-formed file, or nothing when any part of it is not.
std::optional<std::vector<SavedSnipe>> Parse(const QByteArray& bytes, bool* ieMode) {
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
  if (err.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject top = doc.object();
  if (top.value(QLatin1String("version")).toInt(-1) != kFormatVersion) return std::nullopt;
  const QJsonValue list = top.value(QLatin1String("snipes"));
  if (!list.isArray() || static_cast<std::size_t>(list.toArray().size()) > kMaxRows) return std::nullopt;
  // Absent in lists saved before it was kept: clear, as at a first start.
  const QJsonValue ie = top.value(QLatin1String("ieMode"));
  if (!ie.isUndefined() && !ie.isBool()) return std::nullopt;
  *ieMode = ie.toBool(false);
  std::vector<SavedSnipe> rows;
  for (const QJsonValue& v : list.toArray()) {
    auto r = FromJson(v);
    if (!r) return std::nullopt;
    rows.push_back(std::move(*r));
  }
  return rows;
}

// Renames a damaged file beside itself, never over an earlier one.
QString SetAside(const QString& path) {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString target = path + QStringLiteral(".damaged-") + stamp;
  for (int n = 2; QFileInfo::exists(target) && n < 100; ++n) {
    target = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
  }
  return QFile::rename(path, target) ? target : QString();
}

}  // namespace

std::string SavedListPath(const std::function<const char*(const char*)>& getenv, bool demo) {
  std::string base;
  if (const char* d = getenv("XDG_DATA_HOME"); d && *d == '/') {
    base = d;
  } else if (const char* home = getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/share";
  } else {
    base = QDir::homePath().toStdString() + "/.local/share";
  }
  return base + (demo ? "/Gavelhawk-demo" : "/Gavelhawk") + "/snipes.json";
}

namespace {
// Rows marked "bid sent" per file, while they wait; saves and marks take
// turns.
std::mutex g_sentMu;
std::map<std::string, std::set<std::int32_t>> g_sent;
bool WriteSnipes(const std::string& path, const std::vector<SavedSnipe>& rows, std::string* error,
                 bool ieMode);
}  // namespace

bool SaveSnipes(const std::string& path, const std::vector<SavedSnipe>& rows, std::string* error,
                bool ieMode) {
  std::lock_guard lk(g_sentMu);
  std::vector<SavedSnipe> kept = rows;
  std::set<std::int32_t>& sent = g_sent[path];
  for (SavedSnipe& r : kept) {
    if (!r.Waiting()) {
      sent.erase(r.nDealId);
    } else if (sent.count(r.nDealId)) {
      r.bBidSent = true;
    }
  }
  return WriteSnipes(path, kept, error, ieMode);
}

bool MarkBidSent(const std::string& path, std::int32_t dealId, std::string* error) {
  std::lock_guard lk(g_sentMu);
  g_sent[path].insert(dealId);
  QFile in(Q(path));
  if (!in.open(QIODevice::ReadOnly)) {
    if (error) *error = S(QStringLiteral("无法读取抢拍列表 %1").arg(Q(path)));
    return false;
  }
  bool ieMode = false;
  auto rows = Parse(in.readAll(), &ieMode);
  in.close();
  // A damaged file is left for the next start to set aside.
  if (!rows) return false;
  for (SavedSnipe& r : *rows)
    if (r.nDealId == dealId && r.Waiting()) r.bBidSent = true;
  return WriteSnipes(path, *rows, error, ieMode);
}

namespace {
bool WriteSnipes(const std::string& path, const std::vector<SavedSnipe>& rows, std::string* error,
                 bool ieMode) {
  auto fail = [&](const QString& why) {
    if (error) *error = S(QStringLiteral("无法保存抢拍列表 %1：%2").arg(Q(path), why));
    return false;
  };
  const QString file = Q(path);
  if (!QDir().mkpath(QFileInfo(file).absolutePath())) return fail(QStringLiteral("无法创建文件夹"));
  QJsonArray list;
  for (const SavedSnipe& r : rows) list.append(ToJson(r));
  QJsonObject top;
  top["version"] = kFormatVersion;
  top["snipes"] = list;
  top["ieMode"] = ieMode;
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly)) return fail(out.errorString());
  const QByteArray bytes = QJsonDocument(top).toJson(QJsonDocument::Indented);
  if (out.write(bytes) != bytes.size()) {
    out.cancelWriting();
    return fail(out.errorString());
  }
  if (!out.commit()) return fail(out.errorString());
  return true;
}
}  // namespace

struct ListSaver::Impl {
  std::string path;
  Done done;
  std::mutex mu;
  std::condition_variable cv;
  std::optional<std::pair<std::vector<SavedSnipe>, bool>> pending;
  bool busy = false;
  bool stop = false;
  std::thread thread;

  void Run() {
    std::unique_lock lk(mu);
    for (;;) {
      cv.wait(lk, [this] { return stop || pending; });
      if (!pending) return;  // stopped with nothing left to write
      auto [rows, ieMode] = std::move(*pending);
      pending.reset();
      busy = true;
      lk.unlock();
      std::string error;
      const bool ok = SaveSnipes(path, rows, &error, ieMode);
      if (done) done(ok, error);
      lk.lock();
      busy = false;
      cv.notify_all();
    }
  }
};

ListSaver::ListSaver(std::string path, Done done) : impl_(std::make_unique<Impl>()) {
  impl_->path = std::move(path);
  impl_->done = std::move(done);
  impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
}

ListSaver::~ListSaver() {
  {
    std::lock_guard lk(impl_->mu);
    impl_->stop = true;
  }
  impl_->cv.notify_all();
  impl_->thread.join();
}

void ListSaver::Save(std::vector<SavedSnipe> rows, bool ieMode) {
  {
    std::lock_guard lk(impl_->mu);
    impl_->pending.emplace(std::move(rows), ieMode);
  }
  impl_->cv.notify_all();
}

void ListSaver::Wait() {
  std::unique_lock lk(impl_->mu);
  impl_->cv.wait(lk, [this] { return !impl_->pending && !impl_->busy; });
}

LoadedList LoadSnipes(const std::string& path, std::int64_t nowMs) {
  LoadedList result;
  const QString file = Q(path);
  QFile in(file);
  if (!in.exists()) return result;
  if (!in.open(QIODevice::ReadOnly)) {
    result.problem = S(QStringLiteral("无法读取抢拍列表 %1：%2").arg(file, in.errorString()));
    return result;
  }
  // A real list is a few kilobytes; anything huge is not one.
  const QByteArray bytes = in.read(1 << 20);
  const bool whole = in.atEnd();
  in.close();
  bool ieMode = false;
  auto rows = whole ? Parse(bytes, &ieMode) : std::nullopt;
  if (!rows) {
    const QString aside = SetAside(file);
    result.setAside = S(aside);
    result.problem =
        aside.isEmpty()
            ? S(QStringLiteral("抢拍列表文件 %1 已损坏，也无法改名保留；本次从空列表开始。").arg(file))
            : S(QStringLiteral("抢拍列表文件已损坏，已另存为 %1；本次从空列表开始。").arg(aside));
    return result;
  }
  for (SavedSnipe& r : *rows) {
    // A row whose bid may have gone out is never bid on again either way.
    if (r.Waiting() && !r.bBidSent && r.nEndTime > 0 && r.nEndTime <= nowMs) {
      r.ePhase = snipe::SnipePhase::Finished;
      r.strState = Utf8ToGbk(kStateMissedWhileOff);
      result.missed.push_back(r.nDealId);
    }
  }
  result.rows = std::move(*rows);
  result.ieMode = ieMode;
  return result;
}

struct SavedListLock::Impl {
  explicit Impl(const QString& file) : lock(file) {}
  QLockFile lock;
};

SavedListLock::SavedListLock() = default;
SavedListLock::~SavedListLock() = default;  // QLockFile unlocks when destroyed

std::unique_ptr<SavedListLock> LockSavedList(const std::string& path, std::string* refusal) {
  const QString file = Q(path);
  QDir().mkpath(QFileInfo(file).absolutePath());
  std::unique_ptr<SavedListLock> held(new SavedListLock);
  held->impl_ = std::make_unique<SavedListLock::Impl>(file + QStringLiteral(".lock"));
  QLockFile& lock = held->impl_->lock;
  // A window runs for days: only a dead owner makes the lock stale, never its age.
  lock.setStaleLockTime(0);
  if (lock.tryLock(0)) return held;
  if (refusal) {
    qint64 pid = 0;
    QString host, app;
    if (lock.error() == QLockFile::LockFailedError && lock.getLockInfo(&pid, &host, &app)) {
      *refusal = S(QStringLiteral("抢拍列表正由另一个 Gavelhawk 使用（进程 %1）。\n"
                                  "同一个列表不能同时由两处抢拍：请先关闭那个窗口或 gavelhawk snipe。")
                       .arg(pid));
    } else {
      *refusal = S(QStringLiteral("无法锁定抢拍列表 %1.lock，没有打开它。").arg(file));
    }
  }
  return nullptr;
}

}  // namespace gavelhawk::ui
