// Placeholders until opening and saving land.
#include <QCoreApplication>

#include "app/CMainFrame.h"

void CMainFrame::OnFileOpen() {}
void CMainFrame::OnLoadDone(uintptr_t, intptr_t, const std::shared_ptr<platform::CJob>&) {}
void CMainFrame::OnSaveResizedAs() {}
void CMainFrame::OnSaveDone(uintptr_t, intptr_t, const std::shared_ptr<platform::CJob>&) {}
bool CMainFrame::PromptToSaveResult() { return true; }
void CMainFrame::PumpMessages() { QCoreApplication::processEvents(); }
