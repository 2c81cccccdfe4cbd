// The manual bid (手动出价).
#include <QTime>

#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "gavelhawk/ui/MainDlg.h"
#include "platform/shell/shell.h"

namespace {

LocalTime Now(const MainDlgServices& s) {
  if (s.localTime) return s.localTime();
  QTime t = QTime::currentTime();
  return {t.second(), t.msec()};
}

}  // namespace

void CMainDlg::OnManualBid() {
  namespace site = gavelhawk::site;
  if (!LoadAuctionDetail()) {
    Message(QString::fromUtf8(site::kMsgNoSuchAuction));
    return;
  }
  // The span of the two requests is what a snipe needs before closing, so
  // it is measured from here to the answer.
  LocalTime t1 = Now(m_services);
  if (m_services.beforeBid) m_services.beforeBid();
  std::int32_t current = site::ReadCurrentPrice(FetchPage(SiteUrl(site::BidRecordsPath(m_nDealId))));
  if (current >= m_nMaxPrice) {
    Message(QString::fromUtf8(site::kMsgAlreadyTooHigh));
    return;
  }
  std::string url = SiteUrl(site::BidPath(m_nDealId, site::BidAmount(current, m_nIncrement, m_nMaxPrice)));
  if (!m_bIEMode) {
    if (m_services.opener) m_services.opener->OpenUrl(url);
    return;
  }
  std::string answer = FetchPage(url);
  if (site::IsBidSuccess(answer)) {
    LocalTime t2 = Now(m_services);
    m_nPrepTime = site::ElapsedMs(t1.second, t1.millisecond, t2.second, t2.millisecond);
    UpdateData(false);
    Message(QString::fromUtf8(site::kMsgBidPlaced));
    return;
  }
  std::int32_t code = site::ReadResultCode(answer);
  Message(QString::fromUtf8(site::ManualBidMessage(code)));
  // The login lives in the login browser; send the user there to log in.
  if (code == site::kCodeNotLoggedIn && m_services.opener)
    m_services.opener->OpenInLoginBrowser(m_services.homeUrl);
}
