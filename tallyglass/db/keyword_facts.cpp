#include "tallyglass/db/keyword_facts.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

namespace tallyglass::db {

namespace {

// Widths, flags, row count, smallest price, smallest day.
constexpr std::size_t kHeader = 3 + 1 + 4 + 8 + 8;
constexpr unsigned kPriceNulls = 1, kDayNulls = 2;

// A field of `width` bytes; `p` has 8 readable bytes past every field (a
// pack is read from a padded copy).
std::uint64_t Get(const unsigned char* p, int width, std::size_t i) {
  std::uint64_t v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p + i * static_cast<std::size_t>(width), sizeof v);
  } else {
    p += i * static_cast<std::size_t>(width);
    for (int b = 7; b >= 0; --b) v = (v << 8) | p[b];
  }
  return width == 8 ? v : v & ((std::uint64_t{1} << (8 * width)) - 1);
}

constexpr std::size_t kPad = 8;

void Put(std::string* out, std::uint64_t v, int width) {
  for (int b = 0; b < width; ++b) {
    out->push_back(static_cast<char>(v & 0xFF));
    v >>= 8;
  }
}

int WidthOf(std::uint64_t largest) {
  int w = 1;
  while (w < 8 && (largest >> (8 * w)) != 0) ++w;
  return w;
}

std::size_t BitmapBytes(std::size_t n) { return (n + 7) / 8; }

}  // namespace

// A pack as stored, read in place.
struct PackView {
  std::int64_t first = 0;
  std::size_t n = 0;
  int wi = 1, wp = 1, wd = 1;
  unsigned flags = 0;
  std::int64_t priceBase = 0, dayBase = 0;
  const unsigned char *ids = nullptr, *prices = nullptr, *days = nullptr;
  const unsigned char *priceNulls = nullptr, *dayNulls = nullptr;

  // False when `data` is no pack (a damaged file).
  bool Read(std::int64_t key, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    if (size < kHeader) return false;
    first = key;
    wi = p[0];
    wp = p[1];
    wd = p[2];
    flags = p[3];
    if (wi < 1 || wi > 8 || wp < 1 || wp > 8 || wd < 1 || wd > 8) return false;
    n = static_cast<std::size_t>(Get(p + 4, 4, 0));
    priceBase = static_cast<std::int64_t>(Get(p + 8, 8, 0));
    dayBase = static_cast<std::int64_t>(Get(p + 16, 8, 0));
    const std::size_t want = kHeader + n * static_cast<std::size_t>(wi + wp + wd) +
                             ((flags & kPriceNulls) ? BitmapBytes(n) : 0) +
                             ((flags & kDayNulls) ? BitmapBytes(n) : 0);
    if (n == 0 || want != size) return false;
    ids = p + kHeader;
    prices = ids + n * static_cast<std::size_t>(wi);
    days = prices + n * static_cast<std::size_t>(wp);
    const unsigned char* bits = days + n * static_cast<std::size_t>(wd);
    priceNulls = (flags & kPriceNulls) ? bits : nullptr;
    if (priceNulls) bits += BitmapBytes(n);
    dayNulls = (flags & kDayNulls) ? bits : nullptr;
    return true;
  }
  std::int64_t Id(std::size_t i) const {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(first) + Get(ids, wi, i));
  }
  std::int64_t Last() const { return Id(n - 1); }
  static bool Bit(const unsigned char* bits, std::size_t i) { return bits && (bits[i / 8] >> (i % 8)) & 1; }
  KeywordFact At(std::size_t i) const {
    KeywordFact f;
    f.id = Id(i);
    if (!Bit(priceNulls, i))
      f.price = static_cast<std::int64_t>(static_cast<std::uint64_t>(priceBase) + Get(prices, wp, i));
    if (!Bit(dayNulls, i))
      f.day = static_cast<std::int64_t>(static_cast<std::uint64_t>(dayBase) + Get(days, wd, i));
    return f;
  }
  // The row of `id`, by halving.
  bool Find(std::int64_t id, KeywordFact* out) const {
    std::size_t lo = 0, hi = n;
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (Id(mid) < id) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (lo == n || Id(lo) != id) return false;
    *out = At(lo);
    return true;
  }
};

namespace {

// The extent of a pack being filled, row by row.
struct PackExtent {
  std::size_t n = 0;
  std::int64_t first = 0, lastId = 0;
  std::optional<std::int64_t> minPrice, maxPrice, minDay, maxDay;
  bool priceNulls = false, dayNulls = false;

  static void Widen(std::optional<std::int64_t>* lo, std::optional<std::int64_t>* hi,
                    const std::optional<std::int64_t>& v) {
    if (!v) return;
    if (!*lo || *v < **lo) *lo = v;
    if (!*hi || *v > **hi) *hi = v;
  }
  static int Width(const std::optional<std::int64_t>& lo, const std::optional<std::int64_t>& hi) {
    return lo ? WidthOf(static_cast<std::uint64_t>(*hi) - static_cast<std::uint64_t>(*lo)) : 1;
  }
  void Add(const KeywordFact& f) {
    if (n++ == 0) first = f.id;
    lastId = f.id;
    Widen(&minPrice, &maxPrice, f.price);
    Widen(&minDay, &maxDay, f.day);
    priceNulls = priceNulls || !f.price;
    dayNulls = dayNulls || !f.day;
  }
  int IdWidth() const {
    return WidthOf(static_cast<std::uint64_t>(lastId) - static_cast<std::uint64_t>(first));
  }
  std::size_t Bytes() const {
    return kHeader +
           n * static_cast<std::size_t>(IdWidth() + Width(minPrice, maxPrice) + Width(minDay, maxDay)) +
           (priceNulls ? BitmapBytes(n) : 0) + (dayNulls ? BitmapBytes(n) : 0);
  }
};

// The pack of facts [begin, end), ascending ids.
std::string Encode(std::vector<KeywordFact>::const_iterator begin,
                   std::vector<KeywordFact>::const_iterator end) {
  PackExtent e;
  for (auto it = begin; it != end; ++it) e.Add(*it);
  const int wi = e.IdWidth(), wp = PackExtent::Width(e.minPrice, e.maxPrice),
            wd = PackExtent::Width(e.minDay, e.maxDay);
  const std::uint64_t priceBase = static_cast<std::uint64_t>(e.minPrice.value_or(0));
  const std::uint64_t dayBase = static_cast<std::uint64_t>(e.minDay.value_or(0));
  std::string out;
  out.reserve(e.Bytes());
  out.push_back(static_cast<char>(wi));
  out.push_back(static_cast<char>(wp));
  out.push_back(static_cast<char>(wd));
  out.push_back(static_cast<char>((e.priceNulls ? kPriceNulls : 0) | (e.dayNulls ? kDayNulls : 0)));
  Put(&out, e.n, 4);
  Put(&out, priceBase, 8);
  Put(&out, dayBase, 8);
  for (auto it = begin; it != end; ++it)
    Put(&out, static_cast<std::uint64_t>(it->id) - static_cast<std::uint64_t>(e.first), wi);
  for (auto it = begin; it != end; ++it)
    Put(&out, it->price ? static_cast<std::uint64_t>(*it->price) - priceBase : 0, wp);
  for (auto it = begin; it != end; ++it)
    Put(&out, it->day ? static_cast<std::uint64_t>(*it->day) - dayBase : 0, wd);
  auto bitmap = [&](auto isNull) {
    std::string bits(BitmapBytes(e.n), '\0');
    std::size_t i = 0;
    for (auto it = begin; it != end; ++it, ++i)
      if (isNull(*it)) bits[i / 8] = static_cast<char>(bits[i / 8] | (1 << (i % 8)));
    out += bits;
  };
  if (e.priceNulls) bitmap([](const KeywordFact& f) { return !f.price; });
  if (e.dayNulls) bitmap([](const KeywordFact& f) { return !f.day; });
  return out;
}

// A prepared statement, finalized when it goes.
class Stmt {
 public:
  Stmt(sqlite3* h, const char* sql) : rc_(sqlite3_prepare_v2(h, sql, -1, &st_, nullptr)) {}
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return rc_ == SQLITE_OK; }
  sqlite3_stmt* get() const { return st_; }
  // Steps once after binding `key` to ?1: SQLITE_ROW, SQLITE_DONE or an
  // error.
  int Step(std::int64_t key) {
    sqlite3_reset(st_);
    sqlite3_bind_int64(st_, 1, key);
    return sqlite3_step(st_);
  }

 private:
  sqlite3_stmt* st_ = nullptr;
  int rc_;
};

constexpr char kSeekSql[] =
    "SELECT first, data FROM HistoryKeywordPacks WHERE first <= ?1 ORDER BY first DESC LIMIT 1";
constexpr char kAfterSql[] = "SELECT first, data FROM HistoryKeywordPacks WHERE first > ?1 ORDER BY first";

// The current row's pack, copied into `buf` with the padding Get needs.
bool ViewOf(sqlite3_stmt* st, std::string* buf, PackView* view) {
  const void* data = sqlite3_column_blob(st, 1);
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(st, 1));
  if (!data) return false;
  buf->assign(static_cast<const char*>(data), size);
  buf->append(kPad, '\0');
  return view->Read(sqlite3_column_int64(st, 0), buf->data(), size);
}

KeywordFact FactOf(sqlite3_stmt* st) {
  KeywordFact f;
  f.id = sqlite3_column_int64(st, 0);
  if (sqlite3_column_type(st, 1) != SQLITE_NULL) f.price = sqlite3_column_int64(st, 1);
  switch (sqlite3_column_type(st, 2)) {
    case SQLITE_NULL:
      break;
    case SQLITE_INTEGER:
      f.day = sqlite3_column_int64(st, 2);
      break;
    case SQLITE_FLOAT: {
      // r > day exactly when ceil(r) > day, for a whole day.
      const double r = std::ceil(sqlite3_column_double(st, 2));
      constexpr double kTop = 9223372036854775807.0;
      f.day = r >= kTop    ? std::numeric_limits<std::int64_t>::max()
              : r <= -kTop ? std::numeric_limits<std::int64_t>::min()
                           : static_cast<std::int64_t>(r);
      break;
    }
    default:  // text and blobs sort after every number
      f.day = std::numeric_limits<std::int64_t>::max();
  }
  return f;
}

}  // namespace

bool ReadFacts(sqlite3* handle, const std::string& tail, std::vector<KeywordFact>* out, std::string* error) {
  const std::string sql = "SELECT ProductID, trxPrice, bidTime FROM History " + tail;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(handle, sql.c_str(), -1, &st, nullptr);
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) out->push_back(FactOf(st));
  }
  if (rc != SQLITE_DONE) *error = sqlite3_errmsg(handle);
  sqlite3_finalize(st);
  return rc == SQLITE_DONE;
}

std::vector<std::pair<std::int64_t, std::string>> PackFacts(const std::vector<KeywordFact>& all) {
  std::vector<std::pair<std::int64_t, std::string>> out;
  for (std::size_t b = 0; b < all.size();) {
    PackExtent e;
    std::size_t end = b;
    while (end < all.size()) {
      PackExtent grown = e;
      grown.Add(all[end]);
      if (grown.Bytes() > static_cast<std::size_t>(kPackBytes) && e.n > 0) break;
      e = grown;
      ++end;
    }
    out.emplace_back(all[b].id, Encode(all.begin() + static_cast<std::ptrdiff_t>(b),
                                       all.begin() + static_cast<std::ptrdiff_t>(end)));
    b = end;
  }
  return out;
}

FactsPack::FactsPack() : view_(std::make_unique<PackView>()) {}
FactsPack::~FactsPack() = default;

bool FactsPack::Read(std::int64_t first, const void* data, std::size_t size) {
  data_.assign(static_cast<const char*>(data), size);
  data_.append(kPad, '\0');
  if (view_->Read(first, data_.data(), size)) return true;
  view_->n = 0;
  return false;
}

std::size_t FactsPack::Size() const { return view_->n; }
std::int64_t FactsPack::Last() const { return view_->Last(); }
KeywordFact FactsPack::At(std::size_t i) const { return view_->At(i); }
bool FactsPack::Find(std::int64_t id, KeywordFact* out) const { return view_->n > 0 && view_->Find(id, out); }

bool AddFacts(sqlite3* handle, const std::vector<KeywordFact>& facts, std::string* error) {
  Stmt seek(handle, kSeekSql);
  Stmt after(handle, "SELECT first FROM HistoryKeywordPacks WHERE first > ?1 ORDER BY first LIMIT 1");
  Stmt put(handle, "INSERT OR REPLACE INTO HistoryKeywordPacks(first, data) VALUES (?1, ?2)");
  auto fail = [&] {
    *error = sqlite3_errmsg(handle);
    return false;
  };
  if (!seek.ok() || !after.ok() || !put.ok()) return fail();
  std::vector<KeywordFact> stored;
  std::string buf;
  for (std::size_t i = 0; i < facts.size();) {
    // The pack the next fact falls in (none before it: a new one), and the
    // first id of the pack after it, which bounds what this one takes.
    stored.clear();
    int rc = seek.Step(facts[i].id);
    if (rc == SQLITE_ROW) {
      PackView view;
      if (!ViewOf(seek.get(), &buf, &view)) {
        *error = "a damaged keyword pack";
        return false;
      }
      for (std::size_t k = 0; k < view.n; ++k) stored.push_back(view.At(k));
    } else if (rc != SQLITE_DONE) {
      return fail();
    }
    std::optional<std::int64_t> bound;
    rc = after.Step(facts[i].id);
    if (rc == SQLITE_ROW) {
      bound = sqlite3_column_int64(after.get(), 0);
    } else if (rc != SQLITE_DONE) {
      return fail();
    }
    sqlite3_reset(seek.get());
    sqlite3_reset(after.get());
    std::size_t j = i;
    while (j < facts.size() && (!bound || facts[j].id < *bound)) ++j;
    // Stored facts stay as they are: std::merge puts the stored fact of an
    // id before an added one, and unique keeps the first.
    std::vector<KeywordFact> all;
    all.reserve(stored.size() + (j - i));
    auto byId = [](const KeywordFact& a, const KeywordFact& b) { return a.id < b.id; };
    std::merge(stored.begin(), stored.end(), facts.begin() + static_cast<std::ptrdiff_t>(i),
               facts.begin() + static_cast<std::ptrdiff_t>(j), std::back_inserter(all), byId);
    all.erase(std::unique(all.begin(), all.end(),
                          [](const KeywordFact& a, const KeywordFact& b) { return a.id == b.id; }),
              all.end());
    // Written back in packs of at most kPackBytes, each under its first id.
    for (const auto& [first, data] : PackFacts(all)) {
      sqlite3_reset(put.get());
      sqlite3_bind_int64(put.get(), 1, first);
      sqlite3_bind_blob(put.get(), 2, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
      if (sqlite3_step(put.get()) != SQLITE_DONE) return fail();
    }
    i = j;
  }
  return true;
}

FactsReader::FactsReader(sqlite3* handle) : handle_(handle), view_(std::make_unique<PackView>()) {
  rc_ = sqlite3_prepare_v2(handle, kSeekSql, -1, &seek_, nullptr);
  if (rc_ == SQLITE_OK) rc_ = sqlite3_prepare_v2(handle, kAfterSql, -1, &next_, nullptr);
}

FactsReader::~FactsReader() {
  sqlite3_finalize(seek_);
  sqlite3_finalize(next_);
}

bool FactsReader::Load(sqlite3_stmt* st) {
  if (!ViewOf(st, &data_, view_.get())) {
    rc_ = SQLITE_CORRUPT;
    have_ = false;
    return false;
  }
  first_ = view_->first;
  last_ = view_->Last();
  have_ = true;
  return true;
}

bool FactsReader::Seek(std::int64_t id) {
  nextActive_ = false;
  sqlite3_reset(seek_);
  sqlite3_bind_int64(seek_, 1, id);
  const int rc = sqlite3_step(seek_);
  if (rc == SQLITE_DONE) {
    have_ = false;
    return false;
  }
  if (rc != SQLITE_ROW) {
    rc_ = rc;
    have_ = false;
    return false;
  }
  return Load(seek_);
}

bool FactsReader::Find(std::int64_t id, KeywordFact* out) {
  if (rc_ != SQLITE_OK) return false;
  if (have_ && id >= first_ && id <= last_) return view_->Find(id, out);
  // The next packs in order when the id is a few packs' spans away (a
  // common keyword's ids); else one look-up.
  if (have_ && id > last_ &&
      static_cast<std::uint64_t>(id) - static_cast<std::uint64_t>(last_) <=
          4 * (static_cast<std::uint64_t>(last_) - static_cast<std::uint64_t>(first_) + 1)) {
    for (int step = 0; step < 4; ++step) {
      if (!nextActive_) {
        sqlite3_reset(next_);
        sqlite3_bind_int64(next_, 1, first_);
        nextActive_ = true;
      }
      const int rc = sqlite3_step(next_);
      if (rc == SQLITE_DONE) {
        nextActive_ = false;
        return false;  // past the last pack
      }
      if (rc != SQLITE_ROW) {
        rc_ = rc;
        return false;
      }
      if (!Load(next_)) return false;
      if (id < first_) return false;  // between two packs
      if (id <= last_) return view_->Find(id, out);
    }
  }
  return Seek(id) && id <= last_ && view_->Find(id, out);
}

}  // namespace tallyglass::db
