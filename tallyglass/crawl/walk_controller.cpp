#include "tallyglass/crawl/walk_controller.h"

#include <QMetaObject>

namespace tallyglass::crawl {

WalkController::WalkController(Setup setup, QObject* parent) : QObject(parent), setup_(std::move(setup)) {
  tick_.setInterval(kTickMs);
  connect(&tick_, &QTimer::timeout, this, &WalkController::Tick);
}

WalkController::~WalkController() {
  tick_.stop();
  // The readers let go before the session goes.
  if (walk_) walk_->Stop();
  walk_.reset();
}

QString WalkController::UpdateButtonText() const {
  return state_ == State::Idle ? QStringLiteral("更新") : QStringLiteral("暂停");
}

QString WalkController::ProgressText() const {
  if (!walk_ || state_ == State::Idle) return {};
  return QStringLiteral("已检查 %1 个ID, 存入 %2 条, %3 个ID/秒, 当前ID %4")
      .arg(walk_->walked())
      .arg(walk_->stored())
      .arg(walk_->IdsPerSecond(), 0, 'f', 1)
      .arg(walk_->currentId());
}

QString WalkController::Outcome::SummaryText() const {
  QString text = completed ? QStringLiteral("更新完成,当前记录ID为%1").arg(lastId)
                           : QStringLiteral("更新中止,当前记录ID为%1 错误信息:%2").arg(lastId).arg(error);
  if (implausible > 0) text += QStringLiteral("\r\n%1 条成交记录的价格或日期不可信, 未存入").arg(implausible);
  return text;
}

void WalkController::SetState(State s) {
  if (s == state_) return;
  state_ = s;
  emit stateChanged();
}

bool WalkController::Start(std::int32_t lastId) {
  if (Running()) return false;
  TransportFactory factory = setup_.newTransport;
  if (!factory) {
    factory = [] {
      return std::make_unique<platform::http::CurlTransport>(
          ::site::SiteHttpOptions(::site::kHistoryAgentName));
    };
  }
  // The walk before this one has let its readers go.
  walk_.reset();
  walk_ = std::make_unique<WalkSession>(setup_.db, setup_.folder, std::move(factory), setup_.options, lastId);
  walk_->onStep = [this](std::int32_t id, AuctionOutcome::Kind kind) {
    if (onAuctionHandled) onAuctionHandled(id, kind);
  };
  // The readers wake this thread when they have something; the tick is for
  // commits that are due by time, and the progress.
  posted_->store(false);
  walk_->SetOnReady([this, posted = posted_] {
    if (posted->exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this, posted] {
          posted->store(false);
          if (Running()) Tick();
        },
        Qt::QueuedConnection);
  });
  shownRows_ = 0;
  sinceRefresh_.start();
  SetState(State::Walking);
  walk_->Start();
  tick_.start();
  emit progressChanged(ProgressText());
  return true;
}

void WalkController::Stop() {
  if (state_ != State::Walking) return;
  walk_->Stop();
  SetState(State::Stopping);
}

void WalkController::Tick() {
  const bool over = walk_->Pump();
  if (over) {
    Finish();
    return;
  }
  emit progressChanged(ProgressText());
  if (walk_->stored() != shownRows_ && sinceRefresh_.elapsed() >= kRefreshMs) {
    shownRows_ = walk_->stored();
    sinceRefresh_.restart();
    emit rowsStored();
  }
}

void WalkController::Finish() {
  tick_.stop();
  Outcome o;
  o.completed = walk_->result() == WalkSession::Result::Completed;
  o.lastId = walk_->lastAppended();
  o.error = walk_->error();
  o.implausible = walk_->implausible();
  emit progressChanged(QString());
  // The buttons change back once the outcome has been shown.
  emit finished(o);
  SetState(State::Idle);
}

}  // namespace tallyglass::crawl
