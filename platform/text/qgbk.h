#pragma once
// GBK <-> QString, for the places where site text is shown in a window.
#include <QString>
#include <string>
#include <string_view>

namespace platform::text {

QString GbkToQString(std::string_view gbk);
std::string QStringToGbk(const QString& s);

}  // namespace platform::text
