#include "gavelhawk/app/settings.h"

#include "gavelhawk/app/exchange.h"
#include "platform/shell/qt_args.h"

namespace gavelhawk::ui {

ParsedSettings ParseSettings(const std::vector<std::string>& args,
                             const std::function<const char*(const char*)>& getenv) {
  ParsedSettings out;
  AppSettings& s = out.settings;
  ::site::ReadSiteEnvironment(s, getenv);
  if (const char* v = getenv ? getenv("GAVELHAWK_UPDATE_URL") : nullptr; v && *v) {
    s.updateUrl = v;
    s.updateUrlGiven = true;
  }

  ::site::OptionWalk walk(args);
  while (walk.Next()) {
    const std::string& name = walk.name();
    const auto value = [&](std::string& into) {
      if (walk.Value(into)) return true;
      out.error = "选项 " + name + " 需要一个值";
      return false;
    };
    if (::site::TakeSiteOption(s, name, value, out.error)) {
      if (!out.error.empty()) return out;
    } else if (name == "--help" || name == "-h") {
      s.help = true;
    } else if (name == "--version") {
      s.version = true;
    } else if (name == "--demo") {
      s.demo = true;
    } else if (name == "--update-url") {
      if (!value(s.updateUrl)) return out;
      s.updateUrlGiven = true;
    } else if (name == "--probe") {
      std::string id;
      if (!value(id)) return out;
      const auto n = ParseWholeNumber(id);
      if (!n || *n <= 0) {
        out.error = "--probe 需要一个夺宝编号（正整数）：" + id;
        return out;
      }
      s.probeId = *n;
    } else {
      out.error = "未知的选项：" + walk.written();
      return out;
    }
  }
  out.error = ::site::CheckSite(s);
  if (out.error.empty() && !s.updateUrl.empty() && !::site::IsWebAddress(s.updateUrl)) {
    out.error = "更新页地址必须以 http:// 或 https:// 开头：" + s.updateUrl;
  }
  return out;
}

std::vector<std::string> OwnOptions(const std::vector<std::string>& args) {
  return platform::shell::WithoutQtOptions(args);
}

std::string HelpText() {
  return "用法: gavelhawk [选项]\n"
         "      gavelhawk snipe [--increment N] [--prep MS] [--group G] ID MAX [ID MAX]...\n"
         "                                    不开窗口抢拍（--group G：其后的商品为一组，只买一件；\n"
         "                                    gavelhawk snipe --help 详述）\n"
         "京东夺宝岛抢拍工具。\n"
         "\n"
         "选项:\n"
         "  --demo                  启动本机模拟站点 auction-sim，并在其上运行本程序\n"
         "  --site-url URL          拍卖站点的协议和主机，末尾不带斜杠（AUCTION_SITE_URL）\n"
         "  --cookies SOURCE        登录信息来源：auto、firefox、firefox:配置目录、chromium、chrome、\n"
         "                          cookies.txt 文件路径或 none（AUCTION_COOKIES，默认 auto）\n"
         "  --login-browser CMD     “IE模式”用来打开网页的浏览器命令（AUCTION_LOGIN_BROWSER，\n"
         "                          默认：登录信息所在的浏览器，否则 firefox）\n"
         "  --update-url URL        更新页地址（GAVELHAWK_UPDATE_URL）\n"
         "  --probe ID              不开窗口，打印读取夺宝编号 ID 所得的信息后退出\n"
         "  --request-deadline-ms MS  读取站点时间、出价记录和出价的请求最长用时，超时即算请求失败\n"
         "                          （AUCTION_REQUEST_DEADLINE_MS，默认 3000）\n"
         "  --page-deadline-ms MS   读取一个网页的请求最长用时（AUCTION_PAGE_DEADLINE_MS，默认 15000）\n"
         "  --version               显示版本号\n"
         "  -h, --help              显示本说明\n"
         "\n"
         "环境变量（选项优先）:\n"
         "  AUCTION_SITE_URL        默认 " +
         std::string(::site::kDefaultSiteUrl) +
         "\n"
         "  AUCTION_COOKIES         默认 auto：Firefox、Chrome、Chromium 中第一个有本站 cookie 的\n"
         "  AUCTION_LOGIN_BROWSER   默认：登录信息所在的浏览器，否则 firefox\n"
         "  GAVELHAWK_UPDATE_URL    默认 " +
         std::string(kDefaultUpdateUrl) +
         "\n"
         "  AUCTION_REQUEST_DEADLINE_MS  默认 3000\n"
         "  AUCTION_PAGE_DEADLINE_MS     默认 15000\n"
         "  QT_QPA_PLATFORM         Qt 的显示平台，例如 offscreen\n"
         "\n"
         "程序保存的文件:\n"
         "  $XDG_DATA_HOME/Gavelhawk/snipes.json    抢拍列表（窗口运行时锁定；--demo 用 Gavelhawk-demo）\n"
         "  $XDG_STATE_HOME/Gavelhawk/gavelhawk.log 日志（满 1 MB 轮换为 gavelhawk.log.1）\n";
}

}  // namespace gavelhawk::ui
