#include "platform/dialog/file_dialog.h"

#include <QFileDialog>
#include <deque>

namespace platform::dialog {

namespace {
std::deque<QString>& Queued() {
  static std::deque<QString> names;
  return names;
}
}  // namespace

QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                        const QString& filter) {
  if (!Queued().empty()) {
    QString name = Queued().front();
    Queued().pop_front();
    return name;
  }
  return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

void QueueSaveFileName(const QString& path) { Queued().push_back(path); }

}  // namespace platform::dialog
