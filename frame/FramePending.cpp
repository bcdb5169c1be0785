// Placeholders until frame creation, routing and the panes land.
#include <QEvent>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"

void CMainFrame::OnCreate() {}
bool CMainFrame::PreTranslateMessage(QObject*, QEvent*) { return false; }
bool CMainFrame::OnIdle() { return false; }
void CMainFrame::OnViewToolBar() {}
void CMainFrame::OnViewStatusBar() {}
void CMainFrame::EnableZoomToMenu(bool) {}
void CMainFrame::SetZoomToMark(int) {}
void CMainFrame::RedrawCaptions() {}

CMyPaneContainer::CMyPaneContainer(QWidget* parent) : QWidget(parent) {}
void CMyPaneContainer::SetTitle(const QString& title) { m_title = title; }
void CMyPaneContainer::SetClient(QWidget* client) { m_client = client; }
void CMyPaneContainer::SetCaptionHeight(int height) { m_captionHeight = height; }
QString CMyPaneContainer::CaptionText() const { return m_title; }
void CMyPaneContainer::paintEvent(QPaintEvent*) {}
void CMyPaneContainer::resizeEvent(QResizeEvent*) {}
void CMyPaneContainer::mousePressEvent(QMouseEvent*) {}
