#pragma once
// Handing work to other programs: browsers, documents, the companion
// program. Nothing is waited for; a launch that fails is reported through
// `onFailure`, later, on the caller's thread.
#include <QString>
#include <QStringList>
#include <functional>
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

  // Told when an address, document or program could not be opened: what it
  // was and why (UTF-8). Empty: nobody is told.
  std::function<void(const std::string& what, const std::string& why)> onFailure;

 protected:
  void Fail(const std::string& what, const std::string& why) const {
    if (onFailure) onFailure(what, why);
  }
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
  // xdg-open, whose exit code says whether a program took the address.
  void XdgOpen(const QString& target, const std::string& what);
  void Detached(const QString& program, const QStringList& args, const std::string& what);
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
