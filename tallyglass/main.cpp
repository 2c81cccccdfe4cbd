#include <QApplication>
#include <QStyleFactory>
#include <cstdlib>
#include <iostream>

#include "tallyglass/gui/App.h"
#include "tallyglass/settings.h"

namespace {

std::vector<std::string> ArgsOf(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

int Parsed(const tallyglass::ui::ParsedSettings& p) {
  if (!p.error.empty()) {
    std::cerr << "tallyglass: " << p.error << "\n\n" << tallyglass::ui::HelpText();
    return 2;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  // --help, --version and a wrong option need no display: they are answered
  // before Qt looks for one.
  const auto early =
      tallyglass::ui::ParseSettings(tallyglass::ui::OwnOptions(ArgsOf(argc, argv)), std::getenv);
  if (const int rc = Parsed(early); rc >= 0) return rc;
  if (early.settings.help) {
    std::cout << tallyglass::ui::HelpText();
    return 0;
  }
  if (early.settings.version) {
    std::cout << "tallyglass " << tallyglass::ui::kVersion << "\n";
    return 0;
  }
  QApplication qapp(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("tallyglass"));
  QApplication::setApplicationVersion(QString::fromLatin1(tallyglass::ui::kVersion));
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
  const auto p = tallyglass::ui::ParseSettings(ArgsOf(argc, argv), std::getenv);
  if (const int rc = Parsed(p); rc >= 0) return rc;
  CHistoryApp app(p.settings);
  return app.InitInstance();
}
