#pragma once
// Handing work to other programs: browsers, documents, the companion
// program. Fire-and-forget: nothing is waited for or reported.
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

namespace platform::shell {

class Opener {
 public:
  virtual ~Opener() = default;
  // The user's default browser (or the program associated with the address).
  virtual void OpenUrl(const std::string& url) = 0;
  // The login browser (AUCTION_LOGIN_BROWSER), where the user is logged in.
  virtual void OpenInLoginBrowser(const std::string& url) = 0;
  // A local document with its associated program.
  virtual void OpenDocument(const std::string& path) = 0;
  // Starts a program detached, with the environment passed on.
  virtual void StartProgram(const std::string& path, const QStringList& args) = 0;
};

// The desktop's own: xdg-open through QDesktopServices, QProcess::startDetached.
class SystemOpener : public Opener {
 public:
  explicit SystemOpener(std::string loginBrowserCommand);
  void OpenUrl(const std::string& url) override;
  void OpenInLoginBrowser(const std::string& url) override;
  void OpenDocument(const std::string& path) override;
  void StartProgram(const std::string& path, const QStringList& args) override;

 private:
  std::string loginBrowser_;
};

// One running copy per name. The lock lives in the runtime folder; a stale
// lock left by a crashed copy is taken over.
class SingleInstance {
 public:
  explicit SingleInstance(const QString& name);
  ~SingleInstance();
  bool IsFirst() const { return first_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool first_ = false;
};

// Applies the programs' own look once. A failure changes nothing.
void SkinH_Attach();

}  // namespace platform::shell
