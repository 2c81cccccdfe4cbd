#include "gavelhawk/snipe/snipe_list.h"

#include "gavelhawk/snipe/engine.h"
#include "platform/text/gbk.h"

namespace gavelhawk::snipe {

int SnipeList::RowOfKey(std::uint64_t key) const {
  if (key == 0) return -1;
  for (int i = 0; i <= last && i < kListRows; ++i)
    if (Row(i).nKey == key) return i;
  return -1;
}

int SnipeList::WaitingCount() const {
  int n = 0;
  for (int i = 0; i <= last && i < kListRows; ++i) n += Row(i).Waiting() ? 1 : 0;
  return n;
}

int SnipeList::Apply(const RowEvent& e) {
  const int i = RowOfKey(e.key);
  if (i < 0) return -1;
  SnipeItem& row = rows[static_cast<std::size_t>(i)];
  using Kind = RowEvent::Kind;
  if (!e.state.empty()) row.strState = platform::text::Utf8ToGbk(e.state);
  if (e.kind != Kind::Result && e.kind != Kind::Price) row.nRemain = e.remain;
  switch (e.kind) {
    case Kind::Armed:
      row.nDueSite = e.dueSiteMs;
      row.ePhase = SnipePhase::Waiting;
      break;
    case Kind::NotArmed:
    case Kind::Result:
    case Kind::Skipped:
      row.ePhase = SnipePhase::Finished;
      break;
    case Kind::Bid:
      row.ePhase = e.success || !e.handOverUrl.empty() ? SnipePhase::BidSent : SnipePhase::Finished;
      break;
    case Kind::Price:
      break;
  }
  if ((e.kind == Kind::Price || e.kind == Kind::Bid) && e.currentPrice > 0) row.nCurPrice = e.currentPrice;
  if (e.kind == Kind::Result && e.finalPrice > 0 &&
      (e.outcome == Outcome::Won || e.outcome == Outcome::Lost)) {
    row.nCurPrice = e.finalPrice;
  }
  Touch(i);
  return i;
}

}  // namespace gavelhawk::snipe
