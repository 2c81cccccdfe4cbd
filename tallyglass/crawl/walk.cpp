#include "tallyglass/crawl/walk.h"

#include <algorithm>
#include <limits>
#include <thread>

#include "platform/text/gbk.h"
#include "site/cut.h"
#include "site/fetch.h"
#include "site/paths.h"

namespace tallyglass::crawl {

using ::site::CutAfter;
using ::site::ParseLong;
using ::site::ReadNumber;
using ::site::TextBefore;

namespace {

// The first 10 bytes of a time written in milliseconds are its seconds.
std::int64_t LeadingSeconds(std::string_view w) {
  return ParseLong(w.substr(0, std::min<std::size_t>(10, w.size())));
}

// The integer before `delimiter` at full width (no delimiter: 0, as
// ReadNumber).
std::int64_t PriceBefore(std::string_view w, std::string_view delimiter) {
  if (w.find(delimiter) == std::string_view::npos) return 0;
  return ParseLong(TextBefore(w, delimiter));
}

QString ToStored(std::string_view gbk) {
  return QString::fromStdString(DecodeEntities(platform::text::GbkToUtf8(gbk)));
}

bool Wait(const CrawlContext& c, std::chrono::milliseconds pause) {
  if (c.wait) return c.wait(pause);
  std::this_thread::sleep_for(pause);
  return true;
}

// One GET with the context's retries. An unreachable site is only tried
// once when `onceIfUnreachable`: nobody is there to answer a second time.
::site::PageResult FetchWithRetries(const CrawlContext& c, const std::string& url,
                                    std::chrono::milliseconds deadline, bool onceIfUnreachable = false) {
  std::chrono::milliseconds pause = c.backoff;
  for (int attempt = 0;; ++attempt) {
    ::site::PageResult r = ::site::FetchUrlTextChecked(*c.transport, url, deadline);
    if (!r.failed || r.cancelled || attempt >= c.retries || (onceIfUnreachable && r.unreachable)) {
      if (r.failed) r.error += " (" + url + ")";
      return r;
    }
    if (!Wait(c, pause)) {
      r.cancelled = true;
      return r;
    }
    pause *= 2;
  }
}

AuctionOutcome FailedWith(const ::site::PageResult& r) {
  AuctionOutcome out;
  out.kind = AuctionOutcome::Failed;
  out.error = r.error;
  return out;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The character an entity at the start of `w` (just after '&') stands for,
// and the entity's length after the '&'; 0 when it is none we decode.
std::size_t Entity(std::string_view w, std::string& out) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"quot;", '"'}, {"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}};
  for (const auto& [name, c] : kNamed) {
    if (w.substr(0, name.size()) == name) {
      out += c;
      return name.size();
    }
  }
  if (w.empty() || w[0] != '#') return 0;
  const bool hex = w.size() > 1 && (w[1] == 'x' || w[1] == 'X');
  std::size_t i = hex ? 2 : 1;
  const std::size_t first = i;
  std::uint32_t cp = 0;
  for (; i < w.size() && i < first + 8; ++i) {
    const char ch = w[i];
    int digit = -1;
    if (ch >= '0' && ch <= '9') digit = ch - '0';
    if (hex && ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
    if (hex && ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
    if (digit < 0) break;
    cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (i == first || i >= w.size() || w[i] != ';') return 0;
  // No NUL, no surrogate halves, nothing past Unicode: those stay as written.
  if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  AppendUtf8(out, cp);
  return i + 1;
}

}  // namespace

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (std::size_t n = Entity(text.substr(i + 1), out)) {
        i += n;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

bool Plausible(std::int64_t trxPrice, std::int32_t listPrice, std::int32_t endDay, std::int32_t today) {
  if (trxPrice < 1 || trxPrice > std::numeric_limits<std::int32_t>::max()) return false;
  if (listPrice > 0 && trxPrice > std::int64_t{100} * listPrice) return false;
  if (today > 0 && endDay > today) return false;
  return true;
}

std::int32_t DayOf(std::int64_t seconds) { return static_cast<std::int32_t>(seconds / 86400); }

std::int32_t ReadToday(std::string_view homePage) {
  if (homePage.find("nowMil") == std::string_view::npos) return 0;
  std::string_view w = homePage;
  CutAfter(w, "nowMil", 7);
  return DayOf(LeadingSeconds(w));
}

DetailRead ReadDetail(std::string_view page) {
  DetailRead d;
  std::string_view w = page;
  CutAfter(w, "title", 7);
  std::size_t next = w.find("title");
  if (next != std::string_view::npos && next > 35) d.title = std::string(w.substr(0, next - 35));

  if (page.find("endTimeMili") != std::string_view::npos) {
    w = page;
    CutAfter(w, "endTimeMili", 12);
    d.hasEnd = true;
    d.endDay = DayOf(LeadingSeconds(w));
  }
  w = page;
  CutAfter(w, "auctionStatus", 16);
  d.status = ReadNumber(w, ";");
  w = page;
  CutAfter(w, "parseInt", 10);
  d.listPrice = ReadNumber(w, ".");
  return d;
}

BidRecordsRead ReadBidRecords(std::string_view text) {
  BidRecordsRead b;
  std::string clean(text);
  std::erase(clean, '\r');
  // Without the key the cut would make a buyer out of whatever stands at the
  // start of the text: a failed request would be stored as a sale at 0.
  if (clean.find("trxBuyerName") == std::string::npos) return b;
  std::string_view w = clean;
  CutAfter(w, "trxBuyerName", 14);
  std::string_view name = TextBefore(w, ",");
  if (name == "null") return b;
  b.buyer = std::string(name);
  std::erase(b.buyer, '"');
  if (b.buyer.empty()) return b;
  b.sold = true;
  CutAfter(w, ":", 1);
  b.trxPrice = PriceBefore(w, ".");
  return b;
}

std::int64_t ReadTrxPriceAgain(std::string_view text) {
  std::string_view w = text;
  if (w.find("trxPrice") != std::string_view::npos) {
    CutAfter(w, "trxPrice", 10);
  } else {
    CutAfter(w, ":", 1);
  }
  return PriceBefore(w, ".");
}

bool NeedsSecondRead(std::int32_t listPrice, std::int64_t trxPrice) {
  return listPrice > 0 && trxPrice * 10 < listPrice;
}

AuctionOutcome CrawlAuction(platform::http::Transport& transport, const std::string& siteUrl, std::int32_t id,
                            std::int32_t today) {
  CrawlContext c;
  c.transport = &transport;
  c.siteUrl = siteUrl;
  c.today = today;
  return CrawlAuction(c, id);
}

AuctionOutcome CrawlAuction(const CrawlContext& c, std::int32_t id) {
  AuctionOutcome out;
  const ::site::PageResult page =
      FetchWithRetries(c, c.siteUrl + ::site::DetailPath(id), ::site::PageDeadline());
  if (page.failed) return FailedWith(page);
  const std::string& detail = page.text;
  const std::int32_t today = c.today;
  if (detail.size() < ::site::kMinDetailPage) return out;
  DetailRead d = ReadDetail(detail);
  if (!d.hasEnd) return out;
  if (d.endDay == today && d.status == 0) {
    out.kind = AuctionOutcome::EndOfWalk;
    return out;
  }
  const std::string recordsUrl = c.siteUrl + ::site::BidRecordsPath(id);
  const ::site::PageResult records = FetchWithRetries(c, recordsUrl, ::site::RequestDeadline());
  if (records.failed) return FailedWith(records);
  BidRecordsRead b = ReadBidRecords(records.text);
  if (!b.sold) return out;
  // A deal price below a tenth of the list price is read once more; the
  // second answer stands.
  if (NeedsSecondRead(d.listPrice, b.trxPrice)) {
    const ::site::PageResult again = FetchWithRetries(c, recordsUrl, ::site::RequestDeadline());
    if (again.failed) return FailedWith(again);
    b.trxPrice = ReadTrxPriceAgain(again.text);
  }

  out.kind = Plausible(b.trxPrice, d.listPrice, d.endDay, today) ? AuctionOutcome::Sold
                                                                 : AuctionOutcome::Implausible;
  out.record.nProductId = id;
  out.record.strTitle = ToStored(d.title);
  out.record.nTrxPrice = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      b.trxPrice, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  out.record.strBuyerName = ToStored(b.buyer);
  out.record.nPrice = d.listPrice;
  out.record.nBidTime = d.endDay;
  return out;
}

std::int32_t FetchToday(platform::http::Transport& transport, const std::string& siteUrl) {
  return ReadToday(::site::FetchUrlText(transport, siteUrl + ::site::kHomePath));
}

TodayRead FetchTodayChecked(const CrawlContext& c) {
  TodayRead t;
  t.fetch =
      FetchWithRetries(c, c.siteUrl + ::site::kHomePath, ::site::PageDeadline(), /*onceIfUnreachable=*/true);
  if (!t.fetch.failed) t.today = ReadToday(t.fetch.text);
  return t;
}

}  // namespace tallyglass::crawl
