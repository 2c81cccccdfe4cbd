// Placeholder until the snipe handlers land; replaced by their owner.
#include "gavelhawk/ui/MainDlg.h"

void CMainDlg::OnAutoBid() {}
CMainDlg::AddResult CMainDlg::AddSnipe() { return AddResult::Refused; }
void CMainDlg::OnModifySnipe() {}
void CMainDlg::OnDeleteSnipe() {}
void CMainDlg::OnClearSnipes() {}
void CMainDlg::ArmSnipe(int) {}
void CMainDlg::OnTimer(int) {}
void CMainDlg::OnOpenSnipe() {}
void CMainDlg::OnCancelOpenSnipe() {}
