#include "tallyglass/crawl/resume.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <limits>

#include "site/cut.h"

namespace tallyglass::crawl {

QString ResumeFilePath(const QString& folder) {
  return folder + QLatin1Char('/') + QLatin1String(kResumeFileName);
}

std::optional<std::int32_t> ReadResumeId(const QString& folder) {
  QFile f(ResumeFilePath(folder));
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  // Only the first line counts; an id is a few bytes.
  QByteArray line = f.readLine(256);
  if (line.isEmpty() && f.error() != QFileDevice::NoError) return std::nullopt;
  std::string_view text(line.constData(), static_cast<std::size_t>(line.size()));
  if (std::size_t eol = text.find('\n'); eol != std::string_view::npos) text = text.substr(0, eol);
  std::int64_t v = ::site::ParseLong(text);
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

ResumeFileState CheckResumeFile(const QString& folder) {
  QFile f(ResumeFilePath(folder));
  if (!f.exists()) return ResumeFileState::Missing;
  if (!f.open(QIODevice::ReadOnly)) return ResumeFileState::Corrupt;
  const QByteArray line = f.readLine(256);
  if (f.error() != QFileDevice::NoError) return ResumeFileState::Corrupt;
  const QByteArray id = line.trimmed();
  if (id.isEmpty() || id.size() > 10) return ResumeFileState::Corrupt;
  for (char c : id) {
    if (c < '0' || c > '9') return ResumeFileState::Corrupt;
  }
  return id.toLongLong() <= std::numeric_limits<std::int32_t>::max() ? ResumeFileState::Ok
                                                                     : ResumeFileState::Corrupt;
}

SaveResult WriteResumeId(const QString& folder, std::int32_t id) {
  QSaveFile f(ResumeFilePath(folder));
  if (!f.open(QIODevice::WriteOnly)) return SaveResult::CannotCreate;
  QByteArray line = QByteArray::number(id) + "\r\n";
  // QSaveFile's commit misses a failure of its own final flush, so flush
  // here and look.
  if (f.write(line) != line.size() || !f.flush()) {
    f.cancelWriting();
    return SaveResult::WriteFailed;
  }
  return f.commit() ? SaveResult::Saved : SaveResult::WriteFailed;
}

bool EnsureResumeFile(const QString& folder, std::int32_t deliveredId) {
  if (QFileInfo::exists(ResumeFilePath(folder))) return true;
  return WriteResumeId(folder, deliveredId) == SaveResult::Saved;
}

}  // namespace tallyglass::crawl
