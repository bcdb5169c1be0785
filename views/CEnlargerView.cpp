#include "views/CEnlargerView.h"

#include <QApplication>
#include <utility>
#include <vector>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <QScrollBar>
#include <QStyleHints>

#include "app/CMainFrame.h"
#include "platform/NoThrow.h"
#include "views/DisplayBitmap.h"
#include "views/ViewMath.h"

namespace {

const QColor kBackground(192, 192, 192);

// Two squares of light greys in each direction, 8 pixels a side.
const QPixmap& Checkerboard() {
  static const QPixmap tile = [] {
    QPixmap pixmap(16, 16);
    pixmap.fill(QColor(255, 255, 255));
    QPainter painter(&pixmap);
    painter.fillRect(0, 0, 8, 8, QColor(204, 204, 204));
    painter.fillRect(8, 8, 8, 8, QColor(204, 204, 204));
    return pixmap;
  }();
  return tile;
}
// Shown until a picture's pixels have been surveyed.
constexpr char kPreparingText[] = "Preparing view...";

int ScrollCodeOfAction(int action) {
  using namespace viewmath;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      return SbLineDown;
    case QAbstractSlider::SliderSingleStepSub:
      return SbLineUp;
    case QAbstractSlider::SliderPageStepAdd:
      return SbPageDown;
    case QAbstractSlider::SliderPageStepSub:
      return SbPageUp;
    case QAbstractSlider::SliderToMinimum:
      return SbTop;
    case QAbstractSlider::SliderToMaximum:
      return SbBottom;
    case QAbstractSlider::SliderMove:
      return SbThumbTrack;
    default:
      return -1;
  }
}

}  // namespace

CEnlargerView::CEnlargerView(QWidget* parent)
    : QAbstractScrollArea(parent),
      m_maker(
          this,
          [this](double zoom, CReducedCopyMaker::Picture copy) {
            OnReducedCopy(zoom, std::move(copy));
          },
          [this](const views::Survey& survey) { OnSurvey(survey); }) {
  setFrameShape(QFrame::NoFrame);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  m_wheelLines = QApplication::wheelScrollLines();
  connect(QGuiApplication::styleHints(), &QStyleHints::wheelScrollLinesChanged, this,
          [this](int lines) { m_wheelLines = lines; });
  for (Qt::Orientation axis : {Qt::Horizontal, Qt::Vertical}) {
    QScrollBar* bar = axis == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
    connect(bar, &QAbstractSlider::actionTriggered, this,
            [this, axis](int action) { OnScrollBarAction(axis, action); });
    connect(bar, &QAbstractSlider::valueChanged, this,
            [this, axis](int value) { OnScrollBarValue(axis, value); });
  }
}

CEnlargerView::~CEnlargerView() { m_maker.Stop(); }

void CEnlargerView::SetImage(FIBITMAP* image) {
  DropDisplayCopies();
  m_image = image;
  m_display = image ? platform::NoThrow([&] { return views::DisplayBitmap::Of(image); }) : nullptr;
  if (m_display && !m_display->Surveyed()) m_maker.Survey(m_display);
  m_scrollOffset = QPoint(0, 0);
  m_fitPending = image && m_fitToWindow;
}

void CEnlargerView::DropDisplayCopies() {
  m_maker.Stop();
  m_display.reset();
  m_maker.Release(std::exchange(m_reduced, nullptr));
  m_reducedZoom = 0.0;
  m_failedZoom = 0.0;
  m_samples = QImage();
}

bool CEnlargerView::DisplayReady() const {
  if (!m_display) return true;  // nothing more is coming
  if (!m_display->Surveyed()) return false;
  return m_zoom >= 1.0 || m_reducedZoom == m_zoom || m_failedZoom == m_zoom;
}

void CEnlargerView::OnSurvey(const views::Survey& survey) {
  if (!m_display) return;
  m_display->Apply(survey);
  RequestReducedCopy();
  viewport()->update();
}

void CEnlargerView::RequestReducedCopy() {
  if (!m_display || !m_display->Surveyed() || m_zoom >= 1.0) return;
  if (m_reducedZoom == m_zoom || m_maker.Pending() == m_zoom || m_failedZoom == m_zoom) return;
  // m_image's own bits are read no more once DropDisplayCopies has stopped
  // the workers.
  m_maker.Start(m_display, GetImageRect().size(), m_zoom);
}

void CEnlargerView::OnReducedCopy(double zoom, CReducedCopyMaker::Picture copy) {
  if (zoom != m_zoom) {  // the zoom has moved on meanwhile
    m_maker.Release(std::move(copy));
    return;
  }
  if (!copy) {
    m_failedZoom = zoom;
  } else {
    m_maker.Release(std::exchange(m_reduced, std::move(copy)));
    m_reducedZoom = zoom;
  }
  viewport()->update();
}

double CEnlargerView::FittedZoom() const {
  const QSize client = maximumViewportSize();
  const int w = static_cast<int>(FreeImage_GetWidth(m_image));
  const int h = static_cast<int>(FreeImage_GetHeight(m_image));
  return viewmath::ClampZoom(viewmath::FitZoom(1.0, client.width(), client.height(), w, h), true);
}

QRect CEnlargerView::GetImageRect() const {
  const viewmath::ISize size =
      m_image ? viewmath::DisplayedSize(static_cast<int>(FreeImage_GetWidth(m_image)),
                                        static_cast<int>(FreeImage_GetHeight(m_image)), m_zoom)
              : viewmath::ISize{1, 1};
  return {0, 0, size.cx, size.cy};
}

void CEnlargerView::SetZoom(double zoom) {
  const double old = m_zoom;
  zoom = viewmath::ClampZoom(zoom, m_fitToWindow);
  // A new picture in fit mode is fitted, whatever zoom it is first given.
  if (m_fitPending && m_fitToWindow && m_image) zoom = FittedZoom();
  m_fitPending = false;
  bool refused = false;
  if (m_frame && m_frame->m_syncZoom) {
    const double other = MapZoomToOther(zoom);
    refused = other < viewmath::kMinZoom || other > viewmath::kMaxZoom;
  }
  if (!refused) {
    m_zoom = zoom;
    if (zoom >= 1.0) {
      m_maker.Release(std::exchange(m_reduced, nullptr));
      m_reducedZoom = 0.0;
    }
    RequestReducedCopy();
    const QSize before = viewport()->size();
    const int centreX = m_scrollOffset.x() + before.width() / 2;
    const int centreY = m_scrollOffset.y() + before.height() / 2;
    UpdateScrollSize(true);
    // Scroll bars may have come or gone: the centre is kept in the client
    // area as it is now. An unchanged zoom keeps the offset, so that a new
    // image shown at its old zoom starts where it was put.
    if (zoom != old) {
      const QSize after = viewport()->size();
      const viewmath::IRect target =
          viewmath::ZoomCentreTarget(centreX, centreY, old, zoom, after.width(), after.height());
      ScrollToView(
          QRect(target.left, target.top, target.right - target.left, target.bottom - target.top));
    }
    if (m_frame && m_frame->m_syncZoom) PropagateZoom(m_zoom);
  }
  if (parentWidget()) parentWidget()->update();
}

void CEnlargerView::UpdateScrollSize(bool redraw) {
  const QRect image = GetImageRect();
  // A picture too large to fit even at the smallest zoom scrolls as usual.
  if (m_fitToWindow && m_zoom > viewmath::kMinZoom) {
    SetScrollSize(1, 1, redraw);
  } else {
    SetScrollSize(image.width(), image.height(), redraw);
  }
}

void CEnlargerView::SetScrollSize(int cx, int cy, bool redraw) {
  m_scrollSize = QSize(cx, cy);
  ShowNeededBars();
  m_scrollOffset = QPoint(viewmath::ClampOffset(m_scrollOffset.x(), cx, m_clientSize.width()),
                          viewmath::ClampOffset(m_scrollOffset.y(), cy, m_clientSize.height()));
  ResetScrollBars();
  m_lineSize = QSize(viewmath::LineStep(cx), viewmath::LineStep(cy));
  m_pageSize = QSize(viewmath::PageStep(cx), viewmath::PageStep(cy));
  if (redraw) viewport()->update();
}

void CEnlargerView::ShowNeededBars() {
  // A bar shows exactly while the image is larger than the client area along
  // its axis, decided here at once rather than by the toolkit later, so that
  // the client size is right as soon as the scroll size is set.
  const QSize full = maximumViewportSize();
  const int barWidth = verticalScrollBar()->sizeHint().width();
  const int barHeight = horizontalScrollBar()->sizeHint().height();
  bool horizontal = m_scrollSize.width() > full.width();
  bool vertical = m_scrollSize.height() > full.height();
  for (int pass = 0; pass < 2; ++pass) {
    horizontal = m_scrollSize.width() > full.width() - (vertical ? barWidth : 0);
    vertical = m_scrollSize.height() > full.height() - (horizontal ? barHeight : 0);
  }
  setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  m_clientSize = viewport()->size();
}

void CEnlargerView::ResetScrollBars() {
  // The bar's value is the offset itself: it runs from 0 to size - client,
  // and a page of the bar is the client extent.
  m_syncingBars = true;
  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, std::max(0, m_scrollSize.width() - m_clientSize.width()));
  h->setPageStep(std::max(1, m_clientSize.width()));
  h->setValue(m_scrollOffset.x());
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, std::max(0, m_scrollSize.height() - m_clientSize.height()));
  v->setPageStep(std::max(1, m_clientSize.height()));
  v->setValue(m_scrollOffset.y());
  m_syncingBars = false;
}

void CEnlargerView::SetScrollOffset(int x, int y, bool redraw) {
  m_scrollOffset = QPoint(viewmath::ClampOffset(x, m_scrollSize.width(), m_clientSize.width()),
                          viewmath::ClampOffset(y, m_scrollSize.height(), m_clientSize.height()));
  m_syncingBars = true;
  horizontalScrollBar()->setValue(m_scrollOffset.x());
  verticalScrollBar()->setValue(m_scrollOffset.y());
  m_syncingBars = false;
  if (redraw) viewport()->update();
}

void CEnlargerView::ScrollToView(const QRect& rect) {
  const QSize client = viewport()->size();
  const int x = viewmath::ScrollToViewOffset(m_scrollOffset.x(), client.width(), rect.x(),
                                             rect.x() + rect.width());
  const int y = viewmath::ScrollToViewOffset(m_scrollOffset.y(), client.height(), rect.y(),
                                             rect.y() + rect.height());
  SetScrollOffset(x, y, true);
}

void CEnlargerView::DoScroll(Qt::Orientation axis, int code) {
  const bool horizontal = axis == Qt::Horizontal;
  const QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
  const std::optional<int> offset = viewmath::ScrollOffset(
      code, horizontal ? m_scrollOffset.x() : m_scrollOffset.y(),
      horizontal ? m_scrollSize.width() : m_scrollSize.height(),
      horizontal ? viewport()->width() : viewport()->height(),
      horizontal ? m_lineSize.width() : m_lineSize.height(),
      horizontal ? m_pageSize.width() : m_pageSize.height(), bar->sliderPosition());
  if (offset) MoveOffset(axis, *offset);
}

void CEnlargerView::MoveOffset(Qt::Orientation axis, int value) {
  const bool horizontal = axis == Qt::Horizontal;
  const int old = horizontal ? m_scrollOffset.x() : m_scrollOffset.y();
  if (value == old) return;
  (horizontal ? m_scrollOffset.rx() : m_scrollOffset.ry()) = value;
  m_syncingBars = true;
  (horizontal ? horizontalScrollBar() : verticalScrollBar())->setValue(value);
  m_syncingBars = false;
  // Each screen pixel shows what its place in the displayed picture shows,
  // at any zoom: what is on screen can be shifted; the text shown while
  // the picture is prepared stays in the middle.
  if (m_display && !m_display->Surveyed()) {
    viewport()->update();
  } else {
    viewport()->scroll(horizontal ? old - value : 0, horizontal ? 0 : old - value);
  }
}

void CEnlargerView::OnScrollBarAction(Qt::Orientation axis, int action) {
  const int code = ScrollCodeOfAction(action);
  if (code < 0) return;
  DoScroll(axis, code);
  // The bar shows the offset the view chose, not its own step.
  QScrollBar* bar = axis == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
  const int offset = axis == Qt::Horizontal ? m_scrollOffset.x() : m_scrollOffset.y();
  m_syncingBars = true;
  bar->setSliderPosition(offset);
  m_syncingBars = false;
  SyncScroll();
}

void CEnlargerView::OnScrollBarValue(Qt::Orientation axis, int value) {
  // Moves the view did not ask for itself (a bar's context menu, a wheel
  // turned over the bar) count as a thumb position.
  if (m_syncingBars) return;
  if (value == (axis == Qt::Horizontal ? m_scrollOffset.x() : m_scrollOffset.y())) return;
  DoScroll(axis, viewmath::SbThumbPosition);
  SyncScroll();
}

void CEnlargerView::scrollContentsBy(int, int) {
  // The view moves its contents itself when its offset changes.
}

void CEnlargerView::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  m_clientSize = viewport()->size();
  const QPoint before = m_scrollOffset;
  UpdateScrollSize(false);
  if (m_scrollOffset != before) viewport()->update();
}

bool CEnlargerView::event(QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
      OnTab();
      return true;
    }
  }
  return QAbstractScrollArea::event(e);
}

void CEnlargerView::OnTab() {
  if (!m_frame) return;
  // The key came to this view, so its pane is the one holding the focus.
  if (m_index != 0 && !m_frame->m_compare) {
    m_frame->ActivateView(0);
  } else if (m_frame->m_percentEdit) {
    m_frame->m_percentEdit->setFocus(Qt::TabFocusReason);
  }
}

void CEnlargerView::keyPressEvent(QKeyEvent* e) {
  using namespace viewmath;
  if (DividerKey(e)) return;
  Qt::Orientation axis = Qt::Vertical;
  int code = -1;
  switch (e->key()) {
    case Qt::Key_PageUp:
      code = SbPageUp;
      break;
    case Qt::Key_PageDown:
      code = SbPageDown;
      break;
    case Qt::Key_End:
      code = SbBottom;
      break;
    case Qt::Key_Home:
      code = SbTop;
      break;
    case Qt::Key_Up:
      code = SbLineUp;
      break;
    case Qt::Key_Down:
      code = SbLineDown;
      break;
    case Qt::Key_Left:
      axis = Qt::Horizontal;
      code = SbLineUp;
      break;
    case Qt::Key_Right:
      axis = Qt::Horizontal;
      code = SbLineDown;
      break;
    default:
      e->ignore();
      return;
  }
  DoScroll(axis, code);
  // Coupled views take the same step, each by its own line or page.
  if (m_frame && m_frame->m_syncScroll) {
    if (CEnlargerView* other = OtherView()) other->DoScroll(axis, code);
  }
}

void CEnlargerView::wheelEvent(QWheelEvent* e) {
  e->accept();
  if (e->modifiers() & Qt::ControlModifier) {
    if (e->angleDelta().y() != 0) ZoomAtPoint(e->angleDelta().y() > 0, e->position().toPoint());
    return;
  }
  const viewmath::WheelSteps wheel =
      viewmath::Wheel(m_wheelRemainder, e->angleDelta().y(), m_wheelLines, m_scrollSize.height(),
                      m_clientSize.height());
  for (int i = 0; i < wheel.steps; ++i) {
    DoScroll(wheel.vertical ? Qt::Vertical : Qt::Horizontal, wheel.code);
  }
  m_wheelRemainder = wheel.remainder;
  SyncScroll();
}

void CEnlargerView::ZoomAtPoint(bool in, QPoint at) {
  if (!m_frame || !m_image) return;
  const double old = m_zoom;
  const QPointF picture((m_scrollOffset.x() + at.x()) / old, (m_scrollOffset.y() + at.y()) / old);
  m_frame->ActivateView(m_index);
  if (in) {
    m_frame->OnZoomIn();
  } else {
    m_frame->OnZoomOut();
  }
  if (m_zoom == old) return;
  SetScrollOffset(static_cast<int>(picture.x() * m_zoom) - at.x(),
                  static_cast<int>(picture.y() * m_zoom) - at.y(), true);
  SyncScroll();
}

void CEnlargerView::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && m_frame && m_image) m_frame->ActivateView(m_index);
  if (DividerMouse(e)) return;
  if (e->button() == Qt::LeftButton && m_image) {
    // Taken here, so that the moves of this drag come to the view.
    m_dragging = true;
    m_dragStart = e->position().toPoint();
    m_dragOffset = m_scrollOffset;
    viewport()->setCursor(Qt::ClosedHandCursor);
    e->accept();
    return;
  }
  QAbstractScrollArea::mousePressEvent(e);
}

void CEnlargerView::mouseMoveEvent(QMouseEvent* e) {
  if (DividerMouse(e)) return;
  if (!m_dragging) return QAbstractScrollArea::mouseMoveEvent(e);
  // The picture follows the hand: the offset moves against the mouse.
  const QPoint target = m_dragOffset - (e->position().toPoint() - m_dragStart);
  MoveOffset(Qt::Horizontal,
             viewmath::ClampOffset(target.x(), m_scrollSize.width(), m_clientSize.width()));
  MoveOffset(Qt::Vertical,
             viewmath::ClampOffset(target.y(), m_scrollSize.height(), m_clientSize.height()));
  SyncScroll();
}

void CEnlargerView::mouseReleaseEvent(QMouseEvent* e) {
  if (DividerMouse(e)) return;
  if (m_dragging && e->button() == Qt::LeftButton) {
    m_dragging = false;
    viewport()->unsetCursor();
  }
  QAbstractScrollArea::mouseReleaseEvent(e);
}

void CEnlargerView::paintEvent(QPaintEvent* e) {
  QPainter painter(viewport());
  Render(painter, e->rect());
}

void CEnlargerView::Render(QPainter& painter, const QRect& area) {
  const QRect exposed = area.intersected(QRect(QPoint(0, 0), viewport()->size()));
  if (!m_display || exposed.isEmpty()) {
    painter.fillRect(exposed, kBackground);
    return;
  }
  if (!m_display->Surveyed()) {
    painter.fillRect(exposed, kBackground);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(0, 0), viewport()->size()), Qt::AlignCenter,
                     QString::fromUtf8(kPreparingText));
    return;
  }
  RequestReducedCopy();
  // The picture drawn from: the reduced copy for this zoom, else the latest
  // copy scaled until that one is ready, else the picture itself. Screen
  // pixel p (counted from the displayed picture's edge) shows the source
  // pixel its centre falls on, so any part of the screen paints the same
  // wherever a paint starts, and the last pixel is always reached.
  const bool reduced = m_zoom < 1.0 && m_reduced;
  const views::DisplayBitmap& source = reduced ? *m_reduced : *m_display;
  const double sourceZoom = reduced ? m_reducedZoom : 1.0;
  const bool exact = sourceZoom == m_zoom;
  const QRect shown = GetImageRect();
  const auto map = [&](int p, int displayed, int sourceExtent) {
    if (m_zoom < 1.0 && p >= displayed) return -1;
    const int s = exact ? p : static_cast<int>((p + 0.5) * sourceZoom / m_zoom);
    return s < sourceExtent ? s : -1;
  };
  std::vector<int> columns, rows;
  for (int x = exposed.left(); x <= exposed.right(); ++x) {
    const int s = map(m_scrollOffset.x() + x, shown.width(), source.Width());
    if (s < 0) break;
    columns.push_back(s);
  }
  for (int y = exposed.top(); y <= exposed.bottom(); ++y) {
    const int s = map(m_scrollOffset.y() + y, shown.height(), source.Height());
    if (s < 0) break;
    rows.push_back(s);
  }
  const QRect target(exposed.topLeft(),
                     QSize(static_cast<int>(columns.size()), static_cast<int>(rows.size())));
  // What the picture leaves uncovered is light grey.
  for (const QRect& strip : QRegion(exposed).subtracted(QRegion(target)))
    painter.fillRect(strip, kBackground);
  if (target.isEmpty()) return;
  PaintSamples(painter, source, columns, rows, target.topLeft());
  if (m_compare) RenderOriginal(painter, target);
}

void CEnlargerView::PaintSamples(QPainter& painter, const views::DisplayBitmap& picture,
                                 const std::vector<int>& columns, const std::vector<int>& rows,
                                 QPoint at) {
  const QRect target(at, QSize(static_cast<int>(columns.size()), static_cast<int>(rows.size())));
  if (picture.Translucent()) {
    // Transparency is seen as such: a light checkerboard fixed to the
    // picture, so that it scrolls with it.
    painter.setBrushOrigin(-m_scrollOffset);
    painter.fillRect(target, QBrush(Checkerboard()));
  }
  views::Sample(picture, columns, rows, m_samples);
  if (m_samples.isNull()) {
    painter.fillRect(target, kBackground);  // out of memory: nothing to draw
    return;
  }
  painter.drawImage(at, m_samples);
}

double CEnlargerView::MapZoomToOther(double zoom) const {
  const CEnlargerView* other = OtherView();
  if (!other || !other->Image()) return 0.0;
  return viewmath::MapZoomToOther(zoom, m_index, m_frame->m_scale);
}

void CEnlargerView::PropagateZoom(double zoom) {
  if (!m_frame || !m_frame->m_syncZoom || m_frame->m_zoomSyncBusy) return;
  m_frame->m_zoomSyncBusy = true;
  CEnlargerView* other = OtherView();
  if (other && other->Image()) other->SetZoom(MapZoomToOther(zoom));
  m_frame->m_zoomSyncBusy = false;
}

void CEnlargerView::SyncScroll() {
  if (!m_frame || !m_frame->m_syncScroll) return;
  CEnlargerView* other = OtherView();
  if (!other || !other->Image()) return;
  const QSize client = viewport()->size();
  const viewmath::IRect target = viewmath::SyncScrollTarget(
      m_scrollOffset.x(), m_scrollOffset.y(), client.width(), client.height(), m_zoom,
      other->GetZoom(), m_index, m_frame->m_scale);
  other->ScrollToView(
      QRect(target.left, target.top, target.right - target.left, target.bottom - target.top));
  UpdateScrollSize(true);
  other->UpdateScrollSize(true);
}

CEnlargerView* CEnlargerView::OtherView() const {
  return m_frame ? m_frame->View(1 - m_index) : nullptr;
}
