#include <QApplication>
#include <QStyleFactory>
#include <cstdlib>
#include <iostream>

#include "tallyglass/ui/App.h"
#include "tallyglass/ui/settings.h"

namespace {

std::vector<std::string> ArgsOf(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  // --help needs no display: answer it before Qt looks for one.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << tallyglass::ui::HelpText();
      return 0;
    }
  }
  QApplication qapp(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("tallyglass"));
  QApplication::setApplicationVersion(QStringLiteral("3.0.0.0"));
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
  const auto p = tallyglass::ui::ParseSettings(ArgsOf(argc, argv), std::getenv);
  if (!p.error.empty()) {
    std::cerr << "tallyglass: " << p.error << "\n(tallyglass --help 列出所有选项)\n";
    return 2;
  }
  CHistoryApp app(p.settings);
  return app.InitInstance();
}
