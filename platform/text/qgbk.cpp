#include "platform/text/qgbk.h"

#include "platform/text/gbk.h"

namespace platform::text {

QString GbkToQString(std::string_view gbk) {
  std::u16string u = GbkToUtf16(gbk);
  return QString::fromUtf16(u.data(), static_cast<qsizetype>(u.size()));
}

std::string QStringToGbk(const QString& s) { return Utf8ToGbk(s.toUtf8().toStdString()); }

}  // namespace platform::text
