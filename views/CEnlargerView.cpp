#include "views/CEnlargerView.h"

#include <QApplication>
#include <cmath>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QStyleHints>

#include "app/CMainFrame.h"
#include "platform/NoThrow.h"
#include "views/DisplayBitmap.h"
#include "views/ViewMath.h"

namespace {

const QColor kBackground(192, 192, 192);

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

CEnlargerView::CEnlargerView(QWidget* parent) : QAbstractScrollArea(parent) {
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

CEnlargerView::~CEnlargerView() { DropDisplayCopies(); }

void CEnlargerView::SetImage(FIBITMAP* image) {
  DropDisplayCopies();
  m_image = image;
}

void CEnlargerView::DropDisplayCopies() {
  m_fullDrawable = QImage();
  m_window = QImage();
  m_reducedImage = QImage();
  m_reducedFailed = false;
  if (m_standardOwned && m_standard) FreeImage_Unload(m_standard);
  m_standard = nullptr;
  m_standardOwned = false;
  m_standardTried = false;
}

FIBITMAP* CEnlargerView::Standard() {
  if (!m_standardTried) {
    m_standardTried = true;
    m_standard = platform::NoThrow([&] { return views::StandardBitmap(m_image, m_standardOwned); });
  }
  return m_standard;
}

const QImage& CEnlargerView::FullDrawable() {
  if (m_fullDrawable.isNull() && m_image) m_fullDrawable = views::DrawableImage(Standard());
  return m_fullDrawable;
}

void CEnlargerView::MakeReducedImage() {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const QRect size = GetImageRect();
  FIBITMAP* standard = Standard();
  FIBITMAP* reduced = standard ? platform::NoThrow([&] {
    return FreeImage_Rescale(standard, size.width(), size.height(), FILTER_BOX);
  })
                               : nullptr;
  if (reduced) {
    // Stored top row first in the painter's fastest format, so that each
    // paint is a plain copy.
    const QImage bottomUp = views::DrawableImage(reduced);
    if (!bottomUp.isNull()) views::CopyTopDown(bottomUp, bottomUp.rect(), m_reducedImage);
    FreeImage_Unload(reduced);
  }
  m_reducedFailed = m_reducedImage.isNull();
  QGuiApplication::restoreOverrideCursor();
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
  bool refused = false;
  if (m_frame && m_frame->m_syncZoom) {
    const double other = MapZoomToOther(zoom);
    refused = other < viewmath::kMinZoom || other > viewmath::kMaxZoom;
  }
  if (!refused) {
    m_reducedImage = QImage();
    m_reducedFailed = false;
    m_zoom = zoom;
    if (zoom < 1.0 && m_image) MakeReducedImage();
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
    } else {
      viewport()->update();
    }
    if (m_frame && m_frame->m_syncZoom) PropagateZoom(m_zoom);
  }
  if (parentWidget()) parentWidget()->update();
}

void CEnlargerView::UpdateScrollSize(bool redraw) {
  const QRect image = GetImageRect();
  if (m_fitToWindow) {
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
  // Below and at 100 % the picture moves pixel for pixel, so what is on
  // screen can be shifted; a stretched window is drawn afresh, since its
  // pixel grid does not follow a shift exactly.
  if (m_zoom <= 1.0) {
    viewport()->scroll(horizontal ? old - value : 0, horizontal ? 0 : old - value);
  } else {
    viewport()->update();
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
  if (m_index != 0) {
    m_frame->ActivateView(0);
  } else if (m_frame->m_percentEdit) {
    m_frame->m_percentEdit->setFocus(Qt::TabFocusReason);
  }
}

void CEnlargerView::keyPressEvent(QKeyEvent* e) {
  using namespace viewmath;
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
  const viewmath::WheelSteps wheel =
      viewmath::Wheel(m_wheelRemainder, e->angleDelta().y(), m_wheelLines, m_scrollSize.height(),
                      m_clientSize.height());
  for (int i = 0; i < wheel.steps; ++i) {
    DoScroll(wheel.vertical ? Qt::Vertical : Qt::Horizontal, wheel.code);
  }
  m_wheelRemainder = wheel.remainder;
  SyncScroll();
  e->accept();
}

void CEnlargerView::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && m_frame && m_image) m_frame->ActivateView(m_index);
  QAbstractScrollArea::mousePressEvent(e);
}

void CEnlargerView::paintEvent(QPaintEvent* e) {
  QPainter painter(viewport());
  Render(painter, e->rect());
}

void CEnlargerView::Render(QPainter& painter, const QRect& exposed) {
  const QRect client(QPoint(0, 0), viewport()->size());
  if (!m_image) {
    painter.fillRect(exposed, kBackground);
    return;
  }
  const int ox = m_scrollOffset.x();
  const int oy = m_scrollOffset.y();
  if (m_zoom < 1.0) {
    if (m_reducedImage.isNull() && !m_reducedFailed) MakeReducedImage();
    const QRect target(QPoint(-ox, -oy), GetImageRect().size());
    // Whatever the picture does not cover opaquely stays light grey; without
    // a reduced copy (out of memory) there is nothing to draw from.
    if (m_reducedImage.isNull() || m_reducedImage.hasAlphaChannel()) {
      painter.fillRect(exposed, kBackground);
    } else {
      for (const QRect& strip : QRegion(exposed).subtracted(QRegion(target))) {
        painter.fillRect(strip, kBackground);
      }
    }
    if (!m_reducedImage.isNull()) painter.drawImage(target.topLeft(), m_reducedImage);
    return;
  }
  const QImage& full = FullDrawable();
  const viewmath::SourceWindow window =
      viewmath::VisibleSource(ox, oy, client.width(), client.height(), m_zoom);
  const double sx = static_cast<double>(client.width()) / window.width;
  const double sy = static_cast<double>(client.height()) / window.height;
  // Only the source pixels under the exposed part, and only those on the picture.
  const QRect under(window.left + static_cast<int>(exposed.left() / sx),
                    window.top + static_cast<int>(exposed.top() / sy),
                    static_cast<int>(std::ceil((exposed.right() + 1) / sx)) -
                        static_cast<int>(exposed.left() / sx),
                    static_cast<int>(std::ceil((exposed.bottom() + 1) / sy)) -
                        static_cast<int>(exposed.top() / sy));
  const QRect source =
      under.intersected(QRect(window.left, window.top, window.width, window.height))
          .intersected(full.rect());
  const QRectF target((source.x() - window.left) * sx, (source.y() - window.top) * sy,
                      source.width() * sx, source.height() * sy);
  if (full.isNull() || full.hasAlphaChannel() || source.isEmpty() ||
      !target.contains(QRectF(exposed))) {
    painter.fillRect(exposed, kBackground);
  }
  if (full.isNull() || source.isEmpty()) return;
  // The picture's rows are stored bottom-up; the visible pixels are turned
  // top row first for this paint: a few hundred thousand at most, where a
  // flipped or 24-bit draw of the stored rows costs several times more.
  views::CopyTopDown(full, source, m_window);
  if (!m_window.isNull()) painter.drawImage(target, m_window);
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
