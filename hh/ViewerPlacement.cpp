#include "hh/ViewerPlacement.h"

#include <QStringList>
#include <algorithm>
#include <array>

std::optional<KeepVisible> ParseKeepVisible(const QString& text) {
  const QStringList words = text.split(QLatin1Char(','));
  if (words.size() != 8) return std::nullopt;
  std::array<int, 8> n{};
  for (int i = 0; i < 8; ++i) {
    bool ok = false;
    n[i] = words[i].trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
  }
  if (n[2] <= 0 || n[3] <= 0 || std::any_of(n.begin() + 4, n.end(), [](int m) { return m < 0; }))
    return std::nullopt;
  return KeepVisible{QRect(n[0], n[1], n[2], n[3]), QMargins(n[4], n[5], n[6], n[7])};
}

std::optional<QRect> PlaceBeside(const QRect& available, const QSize& frameSize, const QRect& keep,
                                 const QSize& minimum) {
  if (!available.intersects(keep)) return std::nullopt;
  // The free band on each side of keep, in order of preference.
  const std::array<QRect, 4> sides = {
      QRect(QPoint(keep.right() + 1, available.top()), available.bottomRight()),
      QRect(available.topLeft(), QPoint(keep.left() - 1, available.bottom())),
      QRect(QPoint(available.left(), keep.bottom() + 1), available.bottomRight()),
      QRect(available.topLeft(), QPoint(available.right(), keep.top() - 1)),
  };
  // A frame of size in side, next to keep and as level with it as the side allows.
  auto placeIn = [&](int side, QSize size) {
    const QRect& band = sides[side];
    const int x = side == 0 ? band.left()
                  : side == 1
                      ? band.right() + 1 - size.width()
                      : std::clamp(keep.left(), band.left(), band.right() + 1 - size.width());
    const int y = side == 2 ? band.top()
                  : side == 3
                      ? band.bottom() + 1 - size.height()
                      : std::clamp(keep.top(), band.top(), band.bottom() + 1 - size.height());
    return QRect(QPoint(x, y), size);
  };
  int roomiest = -1;
  QSize roomiestSize;
  for (int side = 0; side < 4; ++side) {
    const QSize fits = frameSize.boundedTo(sides[side].size());
    if (fits == frameSize) return placeIn(side, fits);
    if (fits.width() >= minimum.width() && fits.height() >= minimum.height() &&
        (roomiest < 0 ||
         fits.width() * fits.height() > roomiestSize.width() * roomiestSize.height())) {
      roomiest = side;
      roomiestSize = fits;
    }
  }
  if (roomiest < 0) return std::nullopt;
  return placeIn(roomiest, roomiestSize);
}
