#pragma once
// A scripted Transport: answers by address, records what was asked.
#include <map>
#include <string>
#include <vector>

#include "platform/http/http.h"

namespace sitetest {

class FakeTransport : public platform::http::Transport {
 public:
  // Answers `url` with a completed 200 transfer of `body`.
  void Serve(const std::string& url, std::string body) {
    platform::http::Response r;
    r.ok = true;
    r.status = 200;
    r.body = std::move(body);
    answers_[url] = r;
  }
  void Answer(const std::string& url, platform::http::Response r) { answers_[url] = std::move(r); }

  platform::http::Response Get(const std::string& url) override {
    requests.push_back(url);
    auto it = answers_.find(url);
    if (it != answers_.end()) return it->second;
    platform::http::Response r;
    r.error = "Couldn't connect to server";
    return r;
  }

  std::vector<std::string> requests;

 private:
  std::map<std::string, platform::http::Response> answers_;
};

}  // namespace sitetest
