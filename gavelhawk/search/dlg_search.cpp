// Placeholder until the search handlers land; replaced by their owner.
#include "gavelhawk/ui/MainDlg.h"

void CMainDlg::OnRefreshItems() {}
void CMainDlg::OnClearInclude() {}
void CMainDlg::OnClearExclude() {}
