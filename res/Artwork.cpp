// The toolbar pictures and the application icons, drawn rather than stored.
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "res/CommandIds.h"
#include "res/Resources.h"

namespace res {

namespace {

constexpr int kImageWidth = 16;
constexpr int kImageHeight = 15;

const QColor kInk(40, 40, 40);
const QColor kBlue(40, 90, 190);
const QColor kGlass(200, 225, 250);

void DrawMagnifier(QPainter& p, QPointF centre, qreal radius) {
  p.setPen(QPen(kInk, 1.4));
  p.setBrush(kGlass);
  p.drawEllipse(centre, radius, radius);
  p.setPen(QPen(kInk, 2.4, Qt::SolidLine, Qt::RoundCap));
  const qreal d = radius * 0.72;
  p.drawLine(QPointF(centre.x() + d, centre.y() + d), QPointF(15, 14));
}

void DrawSign(QPainter& p, QPointF centre, bool plus) {
  p.setPen(QPen(kInk, 1.5));
  p.drawLine(QPointF(centre.x() - 2.5, centre.y()), QPointF(centre.x() + 2.5, centre.y()));
  if (plus)
    p.drawLine(QPointF(centre.x(), centre.y() - 2.5), QPointF(centre.x(), centre.y() + 2.5));
}

void DrawPanes(QPainter& p) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(0.5, 1.5, 6, 8));
  p.drawRect(QRectF(8.5, 1.5, 6, 8));
  p.fillRect(QRectF(1, 2, 6, 2), kBlue);
  p.fillRect(QRectF(9, 2, 6, 2), kBlue);
}

void DrawDoubleArrow(QPainter& p, qreal y) {
  p.setPen(QPen(kBlue, 1.5));
  p.drawLine(QPointF(2, y), QPointF(14, y));
  p.drawLine(QPointF(2, y), QPointF(4.5, y - 2.5));
  p.drawLine(QPointF(2, y), QPointF(4.5, y + 2.5));
  p.drawLine(QPointF(14, y), QPointF(11.5, y - 2.5));
  p.drawLine(QPointF(14, y), QPointF(11.5, y + 2.5));
}

void DrawToolbarImage(QPainter& p, int id) {
  switch (id) {
    case ids::FileOpen: {
      QPainterPath folder;
      folder.moveTo(1, 3);
      folder.lineTo(6, 3);
      folder.lineTo(7, 5);
      folder.lineTo(13, 5);
      folder.lineTo(13, 13);
      folder.lineTo(1, 13);
      folder.closeSubpath();
      p.setPen(QPen(QColor(150, 110, 20), 1));
      p.setBrush(QColor(245, 205, 80));
      p.drawPath(folder);
      p.setBrush(QColor(255, 228, 130));
      p.drawPolygon(QPolygonF({{3, 7}, {15, 7}, {13, 13}, {1, 13}}));
      break;
    }
    case ids::FileSaveResizedAs:
      p.setPen(QPen(QColor(20, 40, 100), 1));
      p.setBrush(kBlue);
      p.drawRect(QRectF(1.5, 1.5, 12, 12));
      p.fillRect(QRectF(4, 2, 7, 4), Qt::white);
      p.fillRect(QRectF(4, 9, 7, 4), QColor(220, 220, 220));
      break;
    case ids::ZoomOut:
      DrawMagnifier(p, {6, 6}, 4.5);
      DrawSign(p, {6, 6}, false);
      break;
    case ids::ZoomIn:
      DrawMagnifier(p, {6, 6}, 4.5);
      DrawSign(p, {6, 6}, true);
      break;
    case ids::ZoomToFit:
      p.setPen(QPen(kInk, 1.4));
      p.drawPolyline(QPolygonF({{1, 5}, {1, 1}, {5, 1}}));
      p.drawPolyline(QPolygonF({{11, 1}, {15, 1}, {15, 5}}));
      p.drawPolyline(QPolygonF({{1, 10}, {1, 14}, {5, 14}}));
      p.drawPolyline(QPolygonF({{11, 14}, {15, 14}, {15, 10}}));
      p.fillRect(QRectF(4, 4, 8, 7), kGlass);
      p.setPen(QPen(kBlue, 1));
      p.drawRect(QRectF(4.5, 4.5, 7, 6));
      break;
    case ids::ZoomTo100: {
      QFont font;
      font.setPixelSize(9);
      font.setBold(true);
      p.setFont(font);
      p.setPen(kInk);
      p.drawText(QRectF(0, 0, kImageWidth, kImageHeight), Qt::AlignCenter, QStringLiteral("1:1"));
      break;
    }
    case ids::Resize:
      p.setPen(QPen(kInk, 1, Qt::DashLine));
      p.drawRect(QRectF(0.5, 0.5, 14, 13));
      p.setPen(QPen(kInk, 1));
      p.setBrush(kGlass);
      p.drawRect(QRectF(0.5, 8.5, 5, 5));
      p.setPen(QPen(QColor(200, 40, 40), 1.6));
      p.drawLine(QPointF(5, 9), QPointF(12, 3));
      p.drawLine(QPointF(12, 3), QPointF(8, 3));
      p.drawLine(QPointF(12, 3), QPointF(12, 7));
      break;
    case ids::SyncScroll:
      DrawPanes(p);
      DrawDoubleArrow(p, 12.5);
      break;
    case ids::SyncZoom:
      DrawPanes(p);
      DrawSign(p, {3.5, 6.5}, true);
      DrawSign(p, {11.5, 6.5}, true);
      DrawDoubleArrow(p, 12.5);
      break;
    case ids::HelpContents: {
      p.setPen(Qt::NoPen);
      p.setBrush(kBlue);
      p.drawEllipse(QRectF(1, 0.5, 14, 14));
      QFont font;
      font.setPixelSize(12);
      font.setBold(true);
      p.setFont(font);
      p.setPen(Qt::white);
      p.drawText(QRectF(1, 0.5, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    default:
      break;
  }
}

// The application: a small picture growing into a large one.
void DrawAppIcon(QPainter& p, int size) {
  const qreal s = size / 32.0;
  p.scale(s, s);
  p.setPen(QPen(QColor(30, 50, 110), 1.5));
  p.setBrush(QColor(235, 242, 255));
  p.drawRoundedRect(QRectF(8, 2, 22, 22), 2, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(90, 160, 70));
  p.drawPolygon(QPolygonF({{9, 23}, {17, 12}, {22, 18}, {25, 15}, {29, 23}}));
  p.setBrush(QColor(250, 200, 50));
  p.drawEllipse(QPointF(24, 8), 2.5, 2.5);
  p.setPen(QPen(QColor(30, 50, 110), 1.5));
  p.setBrush(QColor(255, 255, 255));
  p.drawRect(QRectF(2, 20, 10, 10));
  p.setPen(QPen(QColor(200, 40, 40), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9, 23), QPointF(16, 16));
  p.drawLine(QPointF(16, 16), QPointF(11, 16));
  p.drawLine(QPointF(16, 16), QPointF(16, 21));
}

// The resize dialog: four arrows pointing out of a frame.
void DrawResizeIcon(QPainter& p, int size) {
  const qreal s = size / 32.0;
  p.scale(s, s);
  p.setPen(QPen(QColor(30, 50, 110), 1.5));
  p.setBrush(QColor(235, 242, 255));
  p.drawRect(QRectF(9, 9, 14, 14));
  p.setPen(QPen(QColor(200, 40, 40), 2.2, Qt::SolidLine, Qt::RoundCap));
  const QPointF corners[4] = {{3, 3}, {29, 3}, {3, 29}, {29, 29}};
  for (const QPointF& corner : corners) {
    const QPointF inner(corner.x() < 16 ? 9 : 23, corner.y() < 16 ? 9 : 23);
    p.drawLine(inner, corner);
    const qreal dx = corner.x() < 16 ? 5 : -5;
    const qreal dy = corner.y() < 16 ? 5 : -5;
    p.drawLine(corner, corner + QPointF(dx, 0));
    p.drawLine(corner, corner + QPointF(0, dy));
  }
}

}  // namespace

QIcon ToolbarImage(int id) {
  bool known = false;
  for (const ToolbarButton& button : MainToolbar())
    known = known || (button.id != 0 && button.id == id);
  if (!known) return {};
  QPixmap pixmap(kImageWidth, kImageHeight);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawToolbarImage(painter, id);
  painter.end();
  return QIcon(pixmap);
}

QIcon AppIcon(int id) {
  if (id != ids::IconApp && id != ids::IconResize) return {};
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (id == ids::IconApp)
      DrawAppIcon(painter, size);
    else
      DrawResizeIcon(painter, size);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace res
