#pragma once
// The save-file dialog, with a seam for tests: while names are queued, no
// dialog shows and the next queued name is the user's choice.
#include <QString>

class QWidget;

namespace platform::dialog {

// The path the user chose, or empty when they cancelled.
QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                        const QString& filter);

// Test seam: the answer of the next GetSaveFileName ("" for a cancel).
void QueueSaveFileName(const QString& path);

}  // namespace platform::dialog
