#pragma once
// Reads of the site's listing pages and of the two pages behind each deal
// that only the search looks at, and the filters a deal must pass. Every
// function takes page text (GBK, as FetchPage returns it); all counts are
// bytes of that text.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gavelhawk::search {

constexpr int kCategoryCount = 7;
constexpr int kDealsPerPage = 16;
constexpr int kMinRemaining = 10;     // seconds; a deal closer to its end is skipped
constexpr int kMaxRemaining = 57600;  // seconds; a later deal ends the page
constexpr std::size_t kMaxConditionBytes = 8;

// Listing code of the category at combo index `index`; 0 for no selection
// or any index outside the table.
int CategoryCode(int index);

// One listing page, read front to back with one working text: the clock
// first, then deal after deal. Each key is looked for only behind the point
// where the previous cut left the text.
class ListingPage {
 public:
  explicit ListingPage(std::string_view page) : w_(page) {}
  // The reads are views into the page: it must outlive them.
  explicit ListingPage(std::string&&) = delete;

  // N: the site's time in seconds modulo 100000 ("nowMil", skip 12, the
  // text before ";" without its last 3 bytes). Not range-checked here.
  std::int64_t ReadClock();

  // Moves past the next "resultDeals" (skip 33) and reads E, the deal's
  // closing time in seconds modulo 100000, from the first 5 bytes. False,
  // with the text unchanged, when no marker is left.
  bool NextDeal(std::int32_t& closing);

  // The deal id: "|", skip 1, the first 7 bytes.
  std::int32_t ReadDealId();

  // The title: "title=", skip 7, up to the next double quote. The working
  // text stays at the start of the title.
  std::string_view ReadTitle();

 private:
  std::string_view w_;
};

// Seconds until the deal closes as this page sees it:
// ((E - N + 100000) mod 100000) + correction, with C's remainder.
std::int64_t RemainingSeconds(std::int32_t closing, std::int64_t clock, int correction);

// "%2d分%2d秒" for 60 seconds or more, "%2d秒" below; GBK.
std::string RemainText(std::int64_t remaining);
// The seconds a remaining-time text stands for (spaces ignored); none when
// the text is not of that form.
std::optional<std::int64_t> ParseRemainText(std::string_view gbk);

// Include and exclude keywords, as they stand after upper-casing. A title
// passes when every include keyword occurs in it (an empty one always
// does) and no non-empty exclude keyword does. Matches start on character
// boundaries only, so a keyword never matches across two GBK characters.
class KeywordFilter {
 public:
  KeywordFilter() = default;
  KeywordFilter(std::array<std::string, 4> include, std::array<std::string, 4> exclude)
      : include_(std::move(include)), exclude_(std::move(exclude)) {}
  bool Passes(std::string_view upperTitle) const;

 private:
  std::array<std::string, 4> include_;
  std::array<std::string, 4> exclude_;
};

// True when `needle` occurs in `gbk` starting at a character boundary. An
// empty needle always occurs.
bool ContainsGbk(std::string_view gbk, std::string_view needle);

// The two detail-page fields of the search, cut in order from one working
// text: the list price ("京东价", skip 15, to ".") and the condition text
// ("使用状态", skip 10, to "<"). `condition` is a view into `page`.
struct SearchDetail {
  std::int32_t listPrice = 0;
  std::string_view condition;
};
SearchDetail ReadSearchDetail(std::string_view page);
SearchDetail ReadSearchDetail(std::string&&) = delete;

// A condition text longer than 8 bytes rules the deal out.
inline bool ConditionAccepted(std::string_view condition) { return condition.size() <= kMaxConditionBytes; }

// Current price from the bid records: from the first "price", past the next
// ":", the integer before the next ".".
std::int32_t ReadCurrentPrice(std::string_view records);

// The C library's atof of the discount combo's text, independent of the
// process locale: a text that does not begin with a number is 0.
double ParseRatio(std::string_view text);

// With a list price, the deal passes only when maxRatio > current / list
// (double precision); without one (0) it always passes.
bool PassesDiscount(double maxRatio, std::int32_t currentPrice, std::int32_t listPrice);

// current / list as float, -1 when the list price is 0.
float DiscountOf(std::int32_t currentPrice, std::int32_t listPrice);

}  // namespace gavelhawk::search
