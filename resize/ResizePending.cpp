// Placeholders until the resize job lands.
#include "app/CMainFrame.h"

void CMainFrame::OnResize() {}
void CMainFrame::OnJobTimer(int) {}
void CMainFrame::OnResizeDone(uintptr_t, intptr_t, const std::shared_ptr<platform::CJob>&) {}
void CMainFrame::OnResizeProgress(uintptr_t, intptr_t) {}
void CMainFrame::OnPercentCommit(intptr_t) {}
void CMainFrame::OnPercentComboCommand(int, int) {}
