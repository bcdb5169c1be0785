#include "app/CMainFrame.h"

#include <QCloseEvent>

#include "platform/FrameMessages.h"
#include "res/CommandIds.h"

namespace {
std::vector<platform::CUpdateUI::Entry> UpdateUIMap() {
  using namespace platform;
  return {{ids::SyncScroll, UIMenuPopup | UIToolBar}, {ids::SyncZoom, UIMenuPopup | UIToolBar},
          {ids::ViewToolBar, UIMenuPopup},            {ids::ViewStatusBar, UIMenuPopup},
          {ids::FileSaveResizedAs, UIMenuPopup | UIToolBar},
          {ids::Resize, UIMenuPopup | UIToolBar},     {ids::ZoomIn, UIMenuPopup | UIToolBar},
          {ids::ZoomOut, UIMenuPopup | UIToolBar},    {ids::ZoomToFit, UIMenuPopup | UIToolBar},
          {ids::ZoomTo100, UIToolBar}};
}
}  // namespace

CMainFrame::CMainFrame() : platform::CUpdateUI(UpdateUIMap()) {}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::event(QEvent* e) {
  if (e->type() == platform::FrameMessageEvent::kType) {
    auto* m = static_cast<platform::FrameMessageEvent*>(e);
    OnFrameMessage(m->message, m->wParam, m->lParam, m->job);
    return true;
  }
  return QMainWindow::event(e);
}

intptr_t CMainFrame::OnFrameMessage(unsigned, uintptr_t, intptr_t,
                                    const std::shared_ptr<platform::CJob>&) {
  return 0;
}
void CMainFrame::OnCommand(int) {}
void CMainFrame::OnClose() {}
void CMainFrame::OnDestroy() {}
void CMainFrame::OnActivate(bool) {}
void CMainFrame::AbandonWorker() {}
void CMainFrame::EndWorker() {}
void CMainFrame::closeEvent(QCloseEvent* e) { QMainWindow::closeEvent(e); }
void CMainFrame::changeEvent(QEvent* e) { QMainWindow::changeEvent(e); }
void CMainFrame::resizeEvent(QResizeEvent* e) { QMainWindow::resizeEvent(e); }
void CMainFrame::timerEvent(QTimerEvent* e) { QMainWindow::timerEvent(e); }
