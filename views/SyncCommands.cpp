// The two coupling modes of the views: Sync Scroll and Sync Zoom.
#include "app/CMainFrame.h"
#include "res/CommandIds.h"
#include "views/CEnlargerView.h"

namespace {

// Zoom To Fit makes no sense while either coupling holds the zooms.
void UpdateFitEnabled(CMainFrame& frame) {
  frame.UIEnable(ids::ZoomToFit, !frame.m_syncScroll && !frame.m_syncZoom);
}

// Coupled views show the whole picture side by side: no fit mode, equal halves.
void LeaveFitModes(CMainFrame& frame) {
  frame.m_rightView->m_fitToWindow = false;
  frame.m_leftView->m_fitToWindow = false;
  frame.m_rightView->UpdateScrollSize(true);
  frame.m_leftView->UpdateScrollSize(true);
  frame.CentreSplitter();
}

}  // namespace

void CMainFrame::OnSyncScroll() {
  if (!m_source || !m_result || !m_leftView || !m_rightView) return;
  m_syncScroll = !m_syncScroll;
  UISetCheck(ids::SyncScroll, m_syncScroll);
  UpdateFitEnabled(*this);
  if (!m_syncScroll) return;
  LeaveFitModes(*this);
  if (m_activeView) m_activeView->SyncScroll();
}

void CMainFrame::OnSyncZoom() {
  if (!m_source || !m_result || !m_leftView || !m_rightView) return;
  m_syncZoom = !m_syncZoom;
  UISetCheck(ids::SyncZoom, m_syncZoom);
  UpdateFitEnabled(*this);
  if (m_syncZoom) {
    m_savedRightZoom = m_rightView->GetZoom();
    m_savedLeftZoom = m_leftView->GetZoom();
    LeaveFitModes(*this);
    m_zoomSyncBusy = true;
    m_leftView->SetZoom(m_scale);
    m_rightView->SetZoom(1.0);
    m_zoomSyncBusy = false;
    if (m_activeView) m_activeView->SyncScroll();
  } else {
    m_rightView->SetZoom(m_savedRightZoom);
    m_leftView->SetZoom(m_savedLeftZoom);
  }
}
