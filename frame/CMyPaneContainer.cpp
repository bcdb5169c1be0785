#include "frame/CMyPaneContainer.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "app/CMainFrame.h"
#include "views/CEnlargerView.h"
#include "views/ViewMath.h"

namespace {

constexpr int kMaxTitle = 79;
constexpr int kTextMargin = 4;

}  // namespace

CMyPaneContainer::CMyPaneContainer(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::ArrowCursor);
}

void CMyPaneContainer::SetTitle(const QString& title) {
  m_title = title.left(kMaxTitle);
  update();
}

void CMyPaneContainer::SetClient(QWidget* client) {
  m_client = client;
  if (m_client) {
    m_client->setParent(this);
    // Focus given to the pane goes on to the view it hosts.
    setFocusProxy(m_client);
    m_client->setGeometry(0, m_captionHeight, width(), std::max(0, height() - m_captionHeight));
    m_client->show();
  }
}

void CMyPaneContainer::SetCaptionHeight(int height) {
  m_captionHeight = height;
  if (m_client) m_client->setGeometry(0, height, width(), std::max(0, this->height() - height));
  update();
}

QString CMyPaneContainer::CaptionText() const {
  if (!m_frame) return m_title;
  const bool right = m_client == m_frame->View(1);
  const CEnlargerView* view = m_frame->View(right ? 1 : 0);
  QString suffix;
  if (right && m_frame->m_result)
    suffix = QStringLiteral("  (%1%)").arg(std::lround(m_frame->m_scale * 100.0));
  return QStringLiteral("%1%2 - Zoom %3%")
      .arg(m_title, suffix)
      .arg(viewmath::ZoomPercent(view ? view->GetZoom() : 1.0));
}

CMyPaneContainer::CaptionColours CMyPaneContainer::Colours() const {
  const QPalette& p = palette();
  if (m_active)
    return {p.color(QPalette::Highlight), p.color(QPalette::Highlight).lighter(160),
            p.color(QPalette::HighlightedText)};
  return {p.color(QPalette::Mid), p.color(QPalette::Window), p.color(QPalette::WindowText)};
}

void CMyPaneContainer::DrawCaption(QPainter& painter) {
  QRect r(0, 0, width(), m_captionHeight);
  // An etched edge on the left, top and right, none at the bottom.
  const QColor dark = palette().color(QPalette::Dark);
  const QColor light = palette().color(QPalette::Light);
  painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), dark);
  painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), dark);
  painter.fillRect(QRect(r.left() + 1, r.top() + 1, 1, r.height() - 1), light);
  painter.fillRect(QRect(r.left() + 1, r.top() + 1, r.width() - 2, 1), light);
  painter.fillRect(QRect(r.right() - 1, r.top() + 1, 1, r.height() - 1), dark);
  painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), light);
  r.adjust(2, 2, -2, 0);

  const CaptionColours colours = Colours();
  QLinearGradient gradient(r.left(), 0, r.right() + 1, 0);
  gradient.setColorAt(0, colours.start);
  gradient.setColorAt(1, colours.end);
  painter.fillRect(r, gradient);

  QFont bold = font();
  bold.setBold(true);
  painter.setFont(bold);
  painter.setPen(colours.text);
  const QRect textRect = r.adjusted(kTextMargin, 0, -kTextMargin, 0);
  const QString text =
      painter.fontMetrics().elidedText(CaptionText(), Qt::ElideRight, textRect.width());
  painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void CMyPaneContainer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  DrawCaption(painter);
  if (!m_client)
    painter.fillRect(QRect(0, m_captionHeight, width(), height() - m_captionHeight),
                     palette().color(QPalette::Window));
}

void CMyPaneContainer::resizeEvent(QResizeEvent*) {
  if (m_client)
    m_client->setGeometry(0, m_captionHeight, width(), std::max(0, height() - m_captionHeight));
}

void CMyPaneContainer::mousePressEvent(QMouseEvent* e) {
  // The click stays with the caption: no drag, no capture, nothing passed on.
  e->accept();
  if (e->button() != Qt::LeftButton || !m_frame || m_active) return;
  // Wherever the focus is, the pane whose caption was clicked becomes active.
  m_frame->ActivateView(m_frame->Pane(0) == this ? 0 : 1);
}
