#include "gavelhawk/log/event_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace gavelhawk::log {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string FormatDateTime(std::int64_t wallMs) {
  const std::time_t secs = static_cast<std::time_t>(wallMs / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(wallMs % 1000));
  return buf;
}

std::mutex g_notifyMu;
std::function<void(const std::string&, const std::string&)> g_notifier;

}  // namespace

std::string FormatTime(std::int64_t wallMs) { return FormatDateTime(wallMs).substr(11); }

std::string StripCookies(std::string_view text) {
  static constexpr std::string_view kKey = "cookie";
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + kKey.size() <= text.size();
    for (std::size_t k = 0; match && k < kKey.size(); ++k) match = Lower(text[i + k]) == kKey[k];
    if (!match) {
      out += text[i++];
      continue;
    }
    std::size_t j = i + kKey.size();
    if (j < text.size() && Lower(text[j]) == 's') ++j;  // cookies
    while (j < text.size() && (text[j] == ' ' || text[j] == '"' || text[j] == '\'')) ++j;
    if (j < text.size() && (text[j] == ':' || text[j] == '=')) {
      out.append(text.substr(i, j + 1 - i));
      out += " [已隐去]";
      while (j < text.size() && text[j] != '\n') ++j;
      i = j;
    } else {
      out.append(text.substr(i, j - i));
      i = j;
    }
  }
  return out;
}

std::string DefaultLogPath(const std::function<const char*(const char*)>& getenv) {
  std::string base;
  if (const char* s = getenv("XDG_STATE_HOME"); s && *s == '/') {
    base = s;
  } else if (const char* home = getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/state";
  } else {
    base = "/tmp";
  }
  return base + "/Gavelhawk/gavelhawk.log";
}

EventLog::EventLog(std::string filePath, std::size_t rotateBytes)
    : path_(std::move(filePath)), rotateBytes_(rotateBytes) {}

void EventLog::Log(std::string_view text) {
  Event e{NowMs(), StripCookies(text)};
  std::function<void(const Event&)> listener;
  {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back(e);
    if (events_.size() > kKeptInMemory) events_.pop_front();
    if (!path_.empty()) Append(FormatDateTime(e.wallMs) + "  " + e.text + "\n");
    listener = listener_;
  }
  if (listener) listener(e);
}

void EventLog::Append(const std::string& line) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path file(path_);
  fs::create_directories(file.parent_path(), ec);
  const auto size = fs::file_size(file, ec);
  if (!ec && size + line.size() > rotateBytes_) {
    fs::rename(file, fs::path(path_ + ".1"), ec);  // replaces the older .1
  }
  std::ofstream out(file, std::ios::app | std::ios::binary);
  out << line;
  out.flush();
  if (!out && fileError_.empty()) fileError_ = "无法写入日志文件 " + path_;
}

std::vector<Event> EventLog::Events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {events_.begin(), events_.end()};
}

void EventLog::SetListener(std::function<void(const Event&)> listener) {
  std::lock_guard<std::mutex> lock(mu_);
  listener_ = std::move(listener);
}

std::string EventLog::FileError() const {
  std::lock_guard<std::mutex> lock(mu_);
  return fileError_;
}

std::string EventLog::FilePath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return path_;
}

void EventLog::SetFile(std::string filePath) {
  std::lock_guard<std::mutex> lock(mu_);
  path_ = std::move(filePath);
  fileError_.clear();
}

EventLog& Journal() {
  static EventLog journal;
  return journal;
}

void Install(std::string filePath) { Journal().SetFile(std::move(filePath)); }

void Log(std::string_view text) { Journal().Log(text); }

void Notify(std::string_view title, std::string_view body) {
  Log(std::string(title) + "：" + std::string(body));
  std::function<void(const std::string&, const std::string&)> notifier;
  {
    std::lock_guard<std::mutex> lock(g_notifyMu);
    notifier = g_notifier;
  }
  if (notifier) notifier(StripCookies(title), StripCookies(body));
}

void SetNotifier(std::function<void(const std::string&, const std::string&)> notifier) {
  std::lock_guard<std::mutex> lock(g_notifyMu);
  g_notifier = std::move(notifier);
}

}  // namespace gavelhawk::log
