// The detail page, read for the window.
#include "gavelhawk/site/detail.h"
#include "gavelhawk/ui/MainDlg.h"

bool CMainDlg::LoadAuctionDetail() {
  namespace site = gavelhawk::site;
  UpdateData(true);
  std::string page = FetchPage(SiteUrl(site::DetailPath(m_nDealId)));
  if (!site::IsDetailPage(page)) return false;
  site::AuctionDetail d = site::ReadDetail(page);
  m_strTitle = d.title;
  m_nIncrement = site::BoundIncrement(m_nIncrement, d.lower, d.higher);
  // An ended auction leaves the fields as typed; the next read replaces the
  // members again.
  if (d.status == 2) return false;
  UpdateData(false);
  return true;
}
