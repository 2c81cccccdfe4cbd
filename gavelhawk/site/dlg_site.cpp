// Placeholder until the site handlers land; replaced by their owner.
#include "gavelhawk/ui/MainDlg.h"

bool CMainDlg::LoadAuctionDetail() { return false; }
std::int64_t CMainDlg::ReadEndTime(std::int32_t) { return 0; }
std::int64_t CMainDlg::SiteClock() { return 0; }
void CMainDlg::OnManualBid() {}
