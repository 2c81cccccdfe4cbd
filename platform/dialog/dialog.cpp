#include "platform/dialog/dialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <algorithm>
#include <deque>

namespace platform::dialog {

namespace {

int MulDivRound(int value, int num, int den) {
  // Rounds half away from zero, as the platform's MulDiv does.
  const long long p = static_cast<long long>(value) * num;
  const long long q = p >= 0 ? (p + den / 2) / den : (p - den / 2) / den;
  return static_cast<int>(q);
}

struct Script {
  bool on = false;
  std::deque<std::pair<Answer, int>> answers;
  std::vector<ShownBox> shown;
};

Script& TheScript() {
  static Script s;
  return s;
}

}  // namespace

QRect MapDialogRect(const QFont& font, const QRect& du) {
  const QFontMetrics fm(font);
  static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  // Same rounding as the platform's average-width computation.
  const int baseX = std::max(1, (fm.horizontalAdvance(letters) / 26 + 1) / 2);
  const int baseY = std::max(1, fm.height());
  const int left = MulDivRound(du.x(), baseX, 4);
  const int top = MulDivRound(du.y(), baseY, 8);
  const int right = MulDivRound(du.x() + du.width(), baseX, 4);
  const int bottom = MulDivRound(du.y() + du.height(), baseY, 8);
  return QRect(left, top, right - left, bottom - top);
}

QFont DialogFont() {
  QFont f;
  const QStringList installed = QFontDatabase::families();
  QStringList wanted;
  for (const char* name :
       {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC", "Droid Sans Fallback"}) {
    if (installed.contains(QLatin1String(name), Qt::CaseInsensitive)) wanted << QLatin1String(name);
  }
  if (!wanted.isEmpty()) f.setFamilies(wanted);
  f.setPointSize(9);
  return f;
}

bool InstallQtTranslations() {
  static QTranslator* installed = nullptr;
  if (installed) return true;
  auto* t = new QTranslator(QCoreApplication::instance());
  if (!t->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(t)) {
    delete t;
    return false;
  }
  installed = t;
  return true;
}

Answer MessageBox(QWidget* parent, const QString& text, const QString& caption, Buttons buttons) {
  Script& s = TheScript();
  if (s.on) {
    s.shown.push_back({text, caption, buttons});
    if (s.answers.empty()) return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    const auto [answer, holdMs] = s.answers.front();
    s.answers.pop_front();
    if (holdMs > 0) {
      // Stands for the time the box is open: timers keep arriving meanwhile.
      QEventLoop loop;
      QTimer::singleShot(holdMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
      loop.exec();
    }
    if (buttons == Buttons::Ok) return Answer::Ok;
    return answer;
  }
  QMessageBox box(QMessageBox::NoIcon, caption, text,
                  buttons == Buttons::Ok ? QMessageBox::Ok : (QMessageBox::Ok | QMessageBox::Cancel), parent);
  box.setTextFormat(Qt::PlainText);  // page text is shown as it stands, tags included
  box.setDefaultButton(buttons == Buttons::OkCancelCancelDefault ? QMessageBox::Cancel : QMessageBox::Ok);
  box.setEscapeButton(buttons == Buttons::Ok ? QMessageBox::Ok : QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

void SetScripted(bool on) {
  Script& s = TheScript();
  s.on = on;
  if (!on) {
    s.answers.clear();
    s.shown.clear();
  }
}

void QueueAnswer(Answer answer, int holdMs) { TheScript().answers.emplace_back(answer, holdMs); }

std::vector<ShownBox> TakeShownBoxes() {
  std::vector<ShownBox> out;
  out.swap(TheScript().shown);
  return out;
}

WindowTimers::WindowTimers(QObject* parent) : QObject(parent) {}

WindowTimers::~WindowTimers() = default;  // the QTimers are children

void WindowTimers::SetTimer(int id, int ms) {
  QTimer*& t = timers_[id];
  if (!t) {
    t = new QTimer(this);
    t->setSingleShot(true);
    t->setTimerType(Qt::PreciseTimer);
    connect(t, &QTimer::timeout, this, [this, id] {
      delays_.remove(id);
      if (onTimer) onTimer(id);
    });
  }
  delays_[id] = ms;
  t->start(std::max(ms, 0));  // restarts a running timer
}

void WindowTimers::KillTimer(int id) {
  if (QTimer* t = timers_.value(id)) t->stop();
  delays_.remove(id);
}

bool WindowTimers::IsSet(int id) const {
  const QTimer* t = timers_.value(id);
  return t && t->isActive();
}

int WindowTimers::RequestedDelay(int id) const { return IsSet(id) ? delays_.value(id, -1) : -1; }

std::vector<int> WindowTimers::RunningIds() const {
  std::vector<int> ids;
  for (auto it = timers_.cbegin(); it != timers_.cend(); ++it) {
    if (it.value()->isActive()) ids.push_back(it.key());
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace platform::dialog
