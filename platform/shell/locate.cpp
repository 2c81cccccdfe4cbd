#include "platform/shell/locate.h"

#include <unistd.h>

#include <filesystem>

#ifndef GH_INSTALL_PREFIX
#define GH_INSTALL_PREFIX "/usr/local"
#endif
#ifndef GH_INSTALL_BINDIR
#define GH_INSTALL_BINDIR "bin"
#endif
#ifndef GH_INSTALL_DATADIR
#define GH_INSTALL_DATADIR "share"
#endif

namespace platform::shell {

namespace {

std::string Under(const std::string& base, const std::string& dir) {
  // An absolute install folder (-DCMAKE_INSTALL_BINDIR=/usr/games) stands alone.
  return !dir.empty() && dir.front() == '/' ? dir : base + "/" + dir;
}

}  // namespace

std::vector<std::string> CompanionCandidates(const std::string& appDir, Companion kind,
                                             const std::string& name) {
  std::string dir = appDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::string up = dir + "/..";
  std::vector<std::string> out{dir + "/" + name};
  if (kind == Companion::Program) {
    out.push_back(Under(up, GH_INSTALL_BINDIR) + "/" + name);
    out.push_back(Under(GH_INSTALL_PREFIX, GH_INSTALL_BINDIR) + "/" + name);
  } else {
    out.push_back(Under(up, GH_INSTALL_DATADIR) + "/gavelhawk/" + name);
    out.push_back(Under(GH_INSTALL_PREFIX, GH_INSTALL_DATADIR) + "/gavelhawk/" + name);
  }
  for (std::string& p : out) p = std::filesystem::path(p).lexically_normal().string();
  return out;
}

std::string FindCompanion(const std::string& appDir, Companion kind, const std::string& name) {
  const std::vector<std::string> candidates = CompanionCandidates(appDir, kind, name);
  for (const std::string& p : candidates) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec)) continue;
    if (kind == Companion::Program && ::access(p.c_str(), X_OK) != 0) continue;
    return p;
  }
  return candidates.front();
}

}  // namespace platform::shell
