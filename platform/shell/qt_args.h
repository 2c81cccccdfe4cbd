#pragma once
// Qt's own command-line options, told apart from a program's before any
// QApplication exists, so that a wrong option is reported without a display.
// Header-only: the option parsers that use it link no Qt.
#include <string>
#include <vector>

namespace platform::shell {

// Every argument except Qt's options (QGuiApplication's and QApplication's)
// and their values.
inline std::vector<std::string> WithoutQtOptions(const std::vector<std::string>& args) {
  static const char* const withValue[] = {
      "-platform", "-platformpluginpath", "-platformtheme", "-plugin",      "-qwindowgeometry",
      "-geometry", "-qwindowtitle",       "-title",         "-qwindowicon", "-display",
      "-style",    "-stylesheet",         "-session",       "-name",        "-qmljsdebugger",
      "-visual"};
  static const char* const flags[] = {"-reverse",     "-nograb", "-dograb",
                                      "-widgetcount", "-sync",   "-testability"};
  std::vector<std::string> own;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool qt = false;
    for (const std::string name : withValue) {
      if (a == name) {
        qt = true;
        ++i;  // its value
        break;
      }
      if (a.rfind(name + "=", 0) == 0) qt = true;
    }
    for (const char* name : flags) qt = qt || a == name;
    if (!qt) own.push_back(a);
  }
  return own;
}

}  // namespace platform::shell
