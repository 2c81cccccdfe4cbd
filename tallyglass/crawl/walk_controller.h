#pragma once
// WalkController: the 更新 button's walk as a state the window shows. Start
// hands the readers their work; the walk's commits, its progress and its end
// arrive as signals on the caller's thread. Stop is a request: the walk
// winds down and then finishes like any other. QtCore only.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "tallyglass/crawl/resume.h"
#include "tallyglass/crawl/walk.h"
#include "tallyglass/crawl/walker.h"

namespace tallyglass::crawl {

class WalkController : public QObject {
  Q_OBJECT

 public:
  enum class State { Idle, Walking, Stopping };

  struct Setup {
    db::HistoryDb* db = nullptr;
    QString folder;  // endID.dat's folder: the walk saves its progress there
    TransportFactory newTransport;
    WalkOptions options;
  };
  explicit WalkController(Setup setup, QObject* parent = nullptr);
  ~WalkController() override;

  // A resume id outside these is not walked from (checked on the id the
  // window opened with; endID.dat edited since moves only the start).
  static bool Walkable(std::int32_t lastId) { return lastId >= kFirstResumeId && lastId <= kLastResumeId; }
  // Walks the ids after `lastId`; false (and nothing starts) when a walk
  // still runs.
  bool Start(std::int32_t lastId);
  void Stop();

  State state() const { return state_; }
  bool Running() const { return state_ != State::Idle; }
  // What the window shows of it: the 更新 button's caption, whether 查询 may
  // be pressed, and the progress line (empty when idle).
  QString UpdateButtonText() const;
  bool QueryEnabled() const { return state_ == State::Idle; }
  QString ProgressText() const;

  // The last walk's end, valid once finished() was sent.
  struct Outcome {
    bool completed = false;
    std::int32_t lastId = 0;  // the last id stored
    QString error;
    std::int64_t implausible = 0;
    QString SummaryText() const;  // the box shown at the end
  };

  // Interval of the progress and of the commits due by time; a grid refresh
  // waits at least kRefreshMs after the last one.
  static constexpr int kTickMs = 100;
  static constexpr int kRefreshMs = 1000;

  // Test seam: called after each auction id handled.
  std::function<void(std::int32_t id, AuctionOutcome::Kind kind)> onAuctionHandled;

 signals:
  void stateChanged();
  void progressChanged(const QString& text);
  // New rows were committed: what shows them may read again.
  void rowsStored();
  // Sent while the state is still Walking or Stopping; Idle follows.
  void finished(const tallyglass::crawl::WalkController::Outcome& outcome);

 private:
  void Tick();
  void Finish();
  void SetState(State s);

  Setup setup_;
  State state_ = State::Idle;
  std::unique_ptr<WalkSession> walk_;
  QTimer tick_;
  QElapsedTimer sinceRefresh_;
  std::int64_t shownRows_ = 0;
  // A wake-up from the readers is queued; they post at most one at a time.
  std::shared_ptr<std::atomic<bool>> posted_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace tallyglass::crawl
