// The frame's active view and its zoom commands.
#include <QApplication>
#include <QSplitter>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"
#include "res/CommandIds.h"
#include "views/CEnlargerView.h"
#include "views/CRatioDlg.h"
#include "views/ViewMath.h"

void CMainFrame::ActivateView(int index) {
  if (index != 0 && index != 1) return;
  CEnlargerView* view = View(index);
  if (!view || !view->Image()) return;
  // While one pane shows both pictures, the original's is hidden.
  if (m_compare && index == 0) return;
  for (int i = 0; i < 2; ++i) {
    if (Pane(i)) Pane(i)->m_active = i == index;
  }
  m_activePane = index;
  view->setFocus(Qt::OtherFocusReason);
  m_activeView = view;
  RedrawCaptions();
  UISetCheck(ids::ZoomToFit, view->m_fitToWindow);
  CheckZoomMenuItem(viewmath::ZoomPercent(view->GetZoom()));
}

double CMainFrame::NextZoomStep(double x, bool up) const {
  return viewmath::NextZoomStep(m_zoomTable, x, up);
}

void CMainFrame::CheckZoomMenuItem(int percent) {
  const int index = viewmath::ZoomTableIndex(m_zoomTable, percent);
  SetZoomToMark(index < m_zoomCount ? ids::ZoomToFirst + index : ids::ZoomToOther);
}

void CMainFrame::ZoomActiveViewToFit() {
  CEnlargerView* view = m_activeView;
  if (!view) return;
  const QRect image = view->GetImageRect();
  const QSize client = view->viewport()->size();
  const double zoom = viewmath::FitZoom(view->GetZoom(), client.width(), client.height(),
                                        image.width(), image.height());
  view->SetZoom(zoom);
  CheckZoomMenuItem(viewmath::ZoomPercent(zoom));
}

namespace {

// Leaves fit mode after an explicit zoom, as every zoom command does.
void EndFitMode(CMainFrame& frame, CEnlargerView& view) {
  view.m_fitToWindow = false;
  view.UpdateScrollSize(true);
  frame.UISetCheck(ids::ZoomToFit, false);
}

}  // namespace

void CMainFrame::OnZoomIn() {
  if ((!m_source && !m_result) || !m_activeView) return;
  const double zoom = NextZoomStep(m_activeView->GetZoom(), true);
  m_activeView->SetZoom(zoom);
  CheckZoomMenuItem(viewmath::ZoomPercent(zoom));
  EndFitMode(*this, *m_activeView);
}

void CMainFrame::OnZoomOut() {
  if ((!m_source && !m_result) || !m_activeView) return;
  const double zoom = NextZoomStep(m_activeView->GetZoom(), false);
  m_activeView->SetZoom(zoom);
  CheckZoomMenuItem(viewmath::ZoomPercent(zoom));
  EndFitMode(*this, *m_activeView);
}

void CMainFrame::OnZoomToFit() {
  if ((!m_source && !m_result) || !m_activeView) return;
  m_activeView->m_fitToWindow = !m_activeView->m_fitToWindow;
  UISetCheck(ids::ZoomToFit, m_activeView->m_fitToWindow);
  if (m_activeView->m_fitToWindow) {
    m_activeView->UpdateScrollSize(true);
    ZoomActiveViewToFit();
  }
}

void CMainFrame::OnZoomTo(int id) {
  if ((!m_source && !m_result) || !m_activeView) return;
  if (id >= ids::ZoomToFirst && id <= ids::ZoomToLast) {
    m_activeView->SetZoom(m_zoomTable[id - ids::ZoomToFirst]);
  } else if (id == ids::ZoomToOther) {
    // Owned by the frame when no window is active, so that it still has an
    // owner for help requests.
    QWidget* active = QApplication::activeWindow();
    CRatioDlg dialog(active ? active : this);
    dialog.m_value = viewmath::ZoomPercent(m_activeView->GetZoom());
    if (dialog.exec() == QDialog::Accepted) m_activeView->SetZoom(dialog.m_value / 100.0);
  } else {
    return;
  }
  CheckZoomMenuItem(viewmath::ZoomPercent(m_activeView->GetZoom()));
  EndFitMode(*this, *m_activeView);
}

void CMainFrame::RefitViews() {
  CEnlargerView* const remembered = m_activeView;
  for (CEnlargerView* view : {m_leftView, m_rightView}) {
    if (!view || !view->m_fitToWindow) continue;
    m_activeView = view;
    if (view->Image()) ZoomActiveViewToFit();
  }
  if (m_syncScroll && m_activeView) m_activeView->SyncScroll();
  m_activeView = remembered;
}

void CMainFrame::CentreSplitter() {
  if (!m_splitter) return;
  const QList<int> sizes = m_splitter->sizes();
  int total = 0;
  for (int size : sizes) total += size;
  m_splitterRatio = 0.5;  // later resizes keep the bar in the middle
  if (sizes.size() != 2 || total <= 0) return;
  m_splitter->setSizes({total / 2, total - total / 2});
}
