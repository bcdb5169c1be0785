#include "views/ViewMath.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace viewmath {

// The allowance keeps a zoom typed as a whole percent (0.29 is 28.999... in
// binary) from showing as one less; it is far below any zoom's real fraction.
int ZoomPercent(double zoom) { return static_cast<int>(zoom * 100.0 + 1e-9); }

ISize DisplayedSize(int width, int height, double zoom) {
  if (width <= 0 || height <= 0) return {1, 1};
  ISize size{width, height};
  if (zoom != 1.0) {
    size.cx = static_cast<int>(width * zoom);
    size.cy = static_cast<int>(height * zoom);
  }
  if (size.cx <= 0 || size.cy <= 0) return {1, 1};
  return size;
}

double ClampZoom(double zoom, bool fitToWindow) {
  zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
  if (fitToWindow && zoom > 1.0) zoom = 1.0;
  return zoom;
}

int LineStep(int size) { return std::max(1, size / 100); }
int PageStep(int size) { return std::max(1, size / 10); }

int ClampOffset(int offset, int size, int client) {
  if (offset > size - client) return std::max(size - client, 0);
  if (offset < 0) return 0;
  return offset;
}

std::optional<int> ScrollOffset(int code, int offset, int size, int client, int line, int page,
                                int trackPosition) {
  const int max = size - client;
  if (max < 0) return std::nullopt;
  switch (code) {
    case SbTop:
      return 0;
    case SbBottom:
      return max;
    case SbLineUp:
      return offset < line ? 0 : offset - line;
    case SbLineDown:
      return offset < max - line ? offset + line : max;
    case SbPageUp:
      return offset < page ? 0 : offset - page;
    case SbPageDown:
      return offset < max - page ? offset + page : max;
    case SbThumbPosition:
    case SbThumbTrack:
      return trackPosition;
    default:
      return std::nullopt;
  }
}

int ScrollToViewOffset(int offset, int client, int low, int high) {
  if (low < offset) return low;
  if (high > offset + client) return high - client;
  return offset;
}

WheelSteps Wheel(int remainder, int delta, int wheelLines, int scrollHeight, int clientHeight) {
  const bool pages = wheelLines == kWheelPageScroll;
  const int perNotch = pages ? 1 : std::max(wheelLines, 0);
  WheelSteps result;
  // Whole steps only: a high-resolution wheel sends small deltas whose sum,
  // not their count, decides how far the view moves.
  const long total = long{remainder} + long{delta} * perNotch;
  result.steps = static_cast<int>(std::labs(total) / kWheelDelta);
  result.remainder = static_cast<int>(total % kWheelDelta);
  const bool up = total > 0 || (total == 0 && delta > 0);
  result.code = pages ? (up ? SbPageUp : SbPageDown) : (up ? SbLineUp : SbLineDown);
  result.vertical = scrollHeight > clientHeight;
  return result;
}

IRect ZoomCentreTarget(int centreX, int centreY, double oldZoom, double newZoom, int width,
                       int height) {
  const double r = oldZoom / newZoom;
  const int nx = static_cast<int>(centreX / r);
  const int ny = static_cast<int>(centreY / r);
  const int left = nx - width / 2;
  const int top = ny - height / 2;
  return {left, top, left + width, top + height};
}

double NextZoomStep(std::span<const double> table, double x, bool up) {
  if (table.empty()) return x;
  double best = 1000.0;
  size_t c = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    const double distance = std::fabs(table[i] - x);
    if (distance < best) {
      best = distance;
      c = i;
    }
  }
  if (up) {
    if (table[c] > x) return table[c];
    return c + 1 < table.size() ? table[c + 1] : table.back();
  }
  if (table[c] < x) return table[c];
  return c > 0 ? table[c - 1] : table.front();
}

int ZoomTableIndex(std::span<const double> table, int percent) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (std::lround(table[i] * 100.0) == percent) return static_cast<int>(i);
  }
  return static_cast<int>(table.size());
}

double MapZoomToOther(double zoom, int index, double scale) {
  return index == 0 ? zoom / scale : zoom * scale;
}

IRect SyncScrollTarget(int offsetX, int offsetY, int width, int height, double zoom,
                       double otherZoom, int index, double scale) {
  const int cx = (2 * offsetX + width) / 2;
  const int cy = (2 * offsetY + height) / 2;
  const double f = (zoom / otherZoom) * (index == 1 ? scale : 1.0 / scale);
  const int nx = static_cast<int>(cx / f);
  const int ny = static_cast<int>(cy / f);
  return {nx - width / 2, ny - height / 2, nx + width / 2, ny + height / 2};
}

double FitZoom(double zoom, int clientWidth, int clientHeight, int imageWidth, int imageHeight) {
  const double r = std::min(static_cast<double>(clientWidth) / imageWidth,
                            static_cast<double>(clientHeight) / imageHeight);
  return zoom * r;
}

}  // namespace viewmath
