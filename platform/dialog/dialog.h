#pragma once
// What the dialog programs need of the window system: dialog units, message
// boxes with scriptable answers, and numbered one-shot window timers.
#include <QFont>
#include <QHash>
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>
#include <vector>

class QTimer;
class QWidget;

namespace platform::dialog {

// Dialog units -> pixels with the metrics of `font` (average character
// width of the 52 Latin letters, and the font height), as MapDialogRect does.
QRect MapDialogRect(const QFont& font, const QRect& dialogUnits);
// The programs' dialog font: 9 pt, a CJK face where one is installed.
QFont DialogFont();

// Loads Qt's own Chinese translations (Debian's qt6-translations-l10n), so
// that the standard buttons and dialogs speak the programs' language. Once
// per process, after the application object exists; false when none was
// found (the English texts stay).
bool InstallQtTranslations();

// OkCancelCancelDefault: a question whose OK loses something; Enter answers
// Cancel.
enum class Buttons { Ok, OkCancel, OkCancelCancelDefault };
enum class Answer { Ok, Cancel };

// A modal message box with the given caption. Its modal loop keeps
// delivering timers, as a message box on the original platform did.
Answer MessageBox(QWidget* parent, const QString& text, const QString& caption,
                  Buttons buttons = Buttons::Ok);

// Test seam. While answers are queued, MessageBox shows nothing: it records
// the box, runs the event loop for `holdMs` (so timers can fire "while the
// box is open") and returns the queued answer (an OK-only box always gives
// Ok). With no answer queued and scripting on, it still records the box and
// answers as a box closed without a choice would: Ok for an OK-only box,
// Cancel for an OK/Cancel box. Turning scripting off drops queue and record.
struct ShownBox {
  QString text;
  QString caption;
  Buttons buttons;
};
void SetScripted(bool on);
void QueueAnswer(Answer answer, int holdMs = 0);
std::vector<ShownBox> TakeShownBoxes();

// Numbered one-shot timers owned by a window. Setting a running id restarts
// it. Each fires once, into the handler, on the window's thread.
class WindowTimers : public QObject {
  Q_OBJECT
 public:
  explicit WindowTimers(QObject* parent = nullptr);
  ~WindowTimers() override;

  void SetTimer(int id, int ms);  // ms <= 0 fires as soon as the event loop runs
  void KillTimer(int id);
  bool IsSet(int id) const;
  // The delay last requested for a running id, or -1.
  int RequestedDelay(int id) const;
  std::vector<int> RunningIds() const;

  std::function<void(int)> onTimer;

 private:
  QHash<int, QTimer*> timers_;
  QHash<int, int> delays_;
};

}  // namespace platform::dialog
