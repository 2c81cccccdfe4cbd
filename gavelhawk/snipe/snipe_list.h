#pragma once
// The snipe list: one row type shared by the window, the saved list and the
// engine, and the list of rows that takes the engine's events and says which
// row changed.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace gavelhawk::snipe {

struct RowEvent;

inline constexpr int kListRows = 10;

// Where a row stands. Arming and Waiting rows wait for their bid (the saved
// list, the sleep inhibitor, the quit question count them).
enum class SnipePhase : std::int8_t {
  Arming,    // its closing time or the site clock is being read
  Waiting,   // armed: its bid is still to come
  BidSent,   // its bid went out (or was handed over): the outcome is to come
  Finished,  // outcome known, not armed, or removed from the engine
};

}  // namespace gavelhawk::snipe

// Text members hold GBK bytes, as the site's text does; they become UTF-16
// only in the fields and in snipes.json.
struct SnipeItem {
  std::int32_t nDealId = 0;
  std::string strTitle;
  std::string strState;
  std::int32_t nMaxPrice = 0;
  std::int32_t nIncrement = 0;
  std::int32_t nPrepTime = 0;
  std::int64_t nEndTime = 0;  // site ms, full width
  std::int64_t nRemain = 0;   // ms to closing at arming; -1 once bid
  std::int32_t nGroup = 0;    // 抢拍组: rows of one group buy one; 0: none
  gavelhawk::snipe::SnipePhase ePhase = gavelhawk::snipe::SnipePhase::Finished;
  std::uint64_t nKey = 0;      // the snipe engine's name for this arming of the row
  std::int64_t nDueSite = 0;   // site ms the bid is due, once the engine armed the row
  std::int64_t nCurPrice = 0;  // current price last read, the final price after closing; 0: unknown
  // Kept in snipes.json: its bid may have left, so a restart only reads the
  // outcome.
  bool bBidSent = false;
  bool Waiting() const {
    return ePhase == gavelhawk::snipe::SnipePhase::Arming || ePhase == gavelhawk::snipe::SnipePhase::Waiting;
  }
};

namespace gavelhawk::snipe {

// The rows 0..last; the window shows them, the engine fills them in.
class SnipeList {
 public:
  using Rows = std::array<SnipeItem, kListRows>;
  Rows rows{};
  int last = -1;
  // Told the index of a row whose cells changed; -1: rows came or went.
  std::function<void(int)> changed;

  const SnipeItem& Row(int i) const { return rows[static_cast<std::size_t>(i)]; }
  // The row armed as `key`, -1 when none is.
  int RowOfKey(std::uint64_t key) const;
  int WaitingCount() const;
  // Takes an engine event into its row; the row's index, or -1 when no row
  // is armed as e.key.
  int Apply(const RowEvent& e);
  void Touch(int i) const {
    if (changed) changed(i);
  }
};

}  // namespace gavelhawk::snipe
