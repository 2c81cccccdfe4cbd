#include <QApplication>
#include <QStyleFactory>
#include <cstdlib>
#include <iostream>

#include "gavelhawk/app/settings.h"
#include "gavelhawk/gui/App.h"
#include "gavelhawk/snipe/cli.h"

namespace {

std::vector<std::string> ArgsOf(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

int Parsed(const gavelhawk::ui::ParsedSettings& p) {
  if (!p.error.empty()) {
    std::cerr << "gavelhawk: " << p.error << "\n\n" << gavelhawk::ui::HelpText();
    return 2;
  }
  return -1;
}

// `gavelhawk snipe ...`: no display, no Qt application.
int SnipeCommand(const std::vector<std::string>& args) {
  const gavelhawk::snipe::CliParse cli = gavelhawk::snipe::ParseSnipeArgs(args);
  for (const std::string& a : cli.args.rest) {
    if (a == "--help" || a == "-h") {
      std::cout << gavelhawk::snipe::SnipeUsage();
      return 0;
    }
  }
  if (!cli.error.empty()) {
    std::cerr << "gavelhawk snipe: " << cli.error << "\n" << gavelhawk::snipe::SnipeUsage();
    return 2;
  }
  const auto p = gavelhawk::ui::ParseSettings(cli.args.rest, std::getenv);
  if (!p.error.empty()) {
    std::cerr << "gavelhawk snipe: " << p.error << "\n" << gavelhawk::snipe::SnipeUsage();
    return 2;
  }
  CGavelhawkApp app(p.settings);
  return app.RunSnipe(cli.args, std::cout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "snipe") {
    std::vector<std::string> rest = ArgsOf(argc, argv);
    rest.erase(rest.begin());
    return SnipeCommand(rest);
  }
  // --help, --version, --probe and a wrong option need no display: they are answered
  // before Qt looks for one.
  const auto early = gavelhawk::ui::ParseSettings(gavelhawk::ui::OwnOptions(ArgsOf(argc, argv)), std::getenv);
  if (const int rc = Parsed(early); rc >= 0) return rc;
  if (early.settings.help) {
    std::cout << gavelhawk::ui::HelpText();
    return 0;
  }
  if (early.settings.version) {
    std::cout << "gavelhawk " << gavelhawk::ui::kVersion << "\n";
    return 0;
  }
  if (early.settings.probeId) {
    CGavelhawkApp app(early.settings);
    return app.RunProbe(std::cout);
  }

  QApplication qapp(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("gavelhawk"));
  QApplication::setApplicationVersion(QString::fromLatin1(gavelhawk::ui::kVersion));
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
  const auto p = gavelhawk::ui::ParseSettings(ArgsOf(argc, argv), std::getenv);
  if (const int rc = Parsed(p); rc >= 0) return rc;
  CGavelhawkApp app(p.settings);
  return app.InitInstance();
}
