// The manual bid (手动出价): the window reads the fields, hands them to the
// manual bid controller (gavelhawk/site/manual_bid.h) and shows its answer.
#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/site/bid.h"
#include "platform/shell/shell.h"

void CMainDlg::OnManualBid() {
  namespace site = gavelhawk::site;
  // One bid at a time: a press while one is under way does nothing.
  if (m_bid->Busy()) return;
  // A field that is not a number has had its message; nothing is sent.
  if (!UpdateData(true)) return;
  site::ManualBidRequest request;
  request.siteUrl = m_services.siteUrl;
  request.dealId = m_nDealId;
  request.ceiling = m_nMaxPrice;
  request.increment = m_nIncrement;
  request.sendBid = m_bIEMode;
  request.localTime = [clock = m_services.localTime] {
    const LocalTime t = clock ? clock() : LocalTime{};
    return site::ClockReading{t.second, t.millisecond};
  };
  request.beforeBid = m_services.beforeBid;
  const std::string refused =
      m_bid->Start(std::move(request), [this](const site::ManualBidOutcome& out) { ShowManualBid(out); });
  if (!refused.empty()) Message(QString::fromUtf8(refused));
}

void CMainDlg::ShowManualBid(const gavelhawk::site::ManualBidOutcome& out) {
  // The members take what was read; only an auction that can be bid on
  // shows it in the fields.
  if (out.detailRead) {
    m_strTitle = out.title;
    m_nIncrement = out.increment;
  }
  const gavelhawk::site::ManualBidAnswer a = gavelhawk::site::AnswerOf(out);
  if (a.prepTime) m_nPrepTime = *a.prepTime;
  if (a.showFields) UpdateData(false);
  if (!a.browserUrl.empty() && m_services.opener) m_services.opener->OpenUrl(a.browserUrl);
  if (!a.message.empty()) Message(QString::fromUtf8(a.message));
  if (a.openLogin && m_services.opener) m_services.opener->OpenInLoginBrowser(m_services.homeUrl);
}
