// Placeholders until the views, zoom and synchronisation land.
#include "app/CMainFrame.h"
#include "views/CEnlargerView.h"

CEnlargerView::CEnlargerView(QWidget* parent) : QAbstractScrollArea(parent) {}
CEnlargerView::~CEnlargerView() = default;
void CEnlargerView::SetImage(FIBITMAP* image) { m_image = image; }
void CEnlargerView::SetZoom(double zoom) { m_zoom = zoom; }
QRect CEnlargerView::GetImageRect() const { return {0, 0, 1, 1}; }
void CEnlargerView::UpdateScrollSize(bool) {}
void CEnlargerView::ScrollToView(const QRect&) {}
void CEnlargerView::SetScrollOffset(int, int, bool) {}
double CEnlargerView::MapZoomToOther(double) const { return 0.0; }
void CEnlargerView::PropagateZoom(double) {}
void CEnlargerView::SyncScroll() {}
CEnlargerView* CEnlargerView::OtherView() const { return nullptr; }

void CMainFrame::ActivateView(int) {}
double CMainFrame::NextZoomStep(double x, bool) const { return x; }
void CMainFrame::CheckZoomMenuItem(int) {}
void CMainFrame::ZoomActiveViewToFit() {}
void CMainFrame::OnZoomIn() {}
void CMainFrame::OnZoomOut() {}
void CMainFrame::OnZoomToFit() {}
void CMainFrame::OnZoomTo(int) {}
void CMainFrame::OnSyncScroll() {}
void CMainFrame::OnSyncZoom() {}
void CMainFrame::RefitViews() {}
void CMainFrame::CentreSplitter() {}
