// Compare in One Pane: the result's view shows the original, enlarged to the
// result's size at the same zoom and scroll, left of a divider that the mouse
// and the arrow keys move, and the result right of it.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSplitter>
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"
#include "res/CommandIds.h"
#include "views/CEnlargerView.h"
#include "views/DisplayBitmap.h"

namespace {

// How near the divider the mouse takes hold of it, and an arrow key's step.
constexpr int kDividerReach = 4;
constexpr int kDividerStep = 16;

}  // namespace

void CMainFrame::OnCompareInOnePane() {
  if (m_compare) {
    EndCompare();
    return;
  }
  if (!m_source || !m_result) return;
  m_compare = true;
  m_compareZoom = m_rightView->GetZoom();
  m_compareOffsets[0] = m_rightView->m_scrollOffset;
  m_compareLeftOffset = m_leftView->m_scrollOffset;
  m_leftPane->hide();
  // The splitter's layout follows at once, not at its next layout request.
  m_splitter->refresh();
  m_rightView->SetCompare(true);
  ActivateView(1);
  UISetCheck(ids::CompareInOnePane, true);
  RefitViews();
  m_compareOffsets[1] = m_rightView->m_scrollOffset;
}

void CMainFrame::EndCompare() {
  if (!m_compare) return;
  m_compare = false;
  m_rightView->SetCompare(false);
  m_leftPane->show();
  m_splitter->refresh();
  ApplySplitterRatio();
  UISetCheck(ids::CompareInOnePane, false);
  RefitViews();
  // Unmoved, both panes come back exactly as they were; scrolled meanwhile,
  // the result's pane moves by as much from where it was, and the original's
  // follows it as usual. At another zoom the result's stays where it is.
  if (m_rightView->GetZoom() != m_compareZoom) {
    m_rightView->SyncScroll();
    return;
  }
  const QPoint moved = m_rightView->m_scrollOffset - m_compareOffsets[1];
  const QPoint back = m_compareOffsets[0] + moved;
  m_rightView->SetScrollOffset(back.x(), back.y(), true);
  if (moved.isNull())
    m_leftView->SetScrollOffset(m_compareLeftOffset.x(), m_compareLeftOffset.y(), true);
  else
    m_rightView->SyncScroll();
}

void CEnlargerView::SetCompare(bool on) {
  m_compare = on;
  m_dividerShare = 0.5;
  m_draggingDivider = false;
  viewport()->setMouseTracking(on);
  viewport()->unsetCursor();
  viewport()->update();
}

int CEnlargerView::DividerX() const {
  return static_cast<int>(std::lround(m_dividerShare * viewport()->width()));
}

void CEnlargerView::MoveDivider(int x) {
  const int width = std::max(1, viewport()->width());
  m_dividerShare = std::clamp(x, 0, width) / static_cast<double>(width);
  viewport()->update();
}

bool CEnlargerView::DividerKey(const QKeyEvent* e) {
  if (!m_compare || (e->key() != Qt::Key_Left && e->key() != Qt::Key_Right)) return false;
  MoveDivider(DividerX() + (e->key() == Qt::Key_Left ? -kDividerStep : kDividerStep));
  return true;
}

bool CEnlargerView::DividerMouse(const QMouseEvent* e) {
  if (!m_compare) return false;
  const int x = e->position().toPoint().x();
  const bool near = std::abs(x - DividerX()) <= kDividerReach;
  switch (e->type()) {
    case QEvent::MouseButtonPress:
      if (e->button() != Qt::LeftButton || !near) return false;
      m_draggingDivider = true;
      return true;
    case QEvent::MouseMove:
      if (m_draggingDivider) {
        MoveDivider(x);
        return true;
      }
      if (!(e->buttons() & Qt::LeftButton)) {
        if (near)
          viewport()->setCursor(Qt::SplitHCursor);
        else
          viewport()->unsetCursor();
      }
      return false;
    case QEvent::MouseButtonRelease:
      if (!m_draggingDivider || e->button() != Qt::LeftButton) return false;
      m_draggingDivider = false;
      return true;
    default:
      return false;
  }
}

void CEnlargerView::RenderOriginal(QPainter& painter, const QRect& target) {
  CEnlargerView* other = OtherView();
  const std::shared_ptr<views::DisplayBitmap> original = other ? other->m_display : nullptr;
  const int divider = DividerX();
  const QRect left = target.intersected(QRect(0, 0, divider - 1, viewport()->height()));
  if (original && original->Surveyed() && m_display && !left.isEmpty()) {
    // Screen pixel p shows the result's pixel its centre falls on, and that
    // one the original's pixel its own centre falls on.
    const auto map = [&](int p, int resultExtent, int originalExtent) {
      const double result = std::floor((p + 0.5) / m_zoom);
      const int s = static_cast<int>((result + 0.5) * originalExtent / resultExtent);
      return std::min(s, originalExtent - 1);
    };
    std::vector<int> columns, rows;
    for (int x = left.left(); x <= left.right(); ++x)
      columns.push_back(map(m_scrollOffset.x() + x, m_display->Width(), original->Width()));
    for (int y = left.top(); y <= left.bottom(); ++y)
      rows.push_back(map(m_scrollOffset.y() + y, m_display->Height(), original->Height()));
    PaintSamples(painter, *original, columns, rows, left.topLeft());
  }
  // The divider: a light line between dark ones, seen on any picture.
  painter.fillRect(QRect(divider - 1, 0, 3, viewport()->height()), Qt::black);
  painter.fillRect(QRect(divider, 0, 1, viewport()->height()), Qt::white);
}
