#pragma once

#include <optional>
#include <span>

// The image views' arithmetic: displayed size, zoom steps, scrolling and the
// mapping between the two views. Plain functions on ints and doubles, any thread.
namespace viewmath {

struct ISize {
  int cx = 0;
  int cy = 0;
  bool operator==(const ISize&) const = default;
};

struct IRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const IRect&) const = default;
};

constexpr double kMinZoom = 0.1;
constexpr double kMaxZoom = 20.0;

// Scroll requests along one axis, numbered as the scroll-bar codes.
enum ScrollCode {
  SbLineUp = 0,
  SbLineDown = 1,
  SbPageUp = 2,
  SbPageDown = 3,
  SbThumbPosition = 4,
  SbThumbTrack = 5,
  SbTop = 6,
  SbBottom = 7,
};

// Lines per wheel notch that mean "scroll by pages".
constexpr int kWheelPageScroll = -1;
constexpr int kWheelDelta = 120;

// trunc(zoom * 100), exact for whole percents: how a zoom is shown and compared.
int ZoomPercent(double zoom);

// The image size at zoom: exact at 1.0, truncated otherwise; 1 x 1 without an
// image (width or height 0) or when a dimension comes out as 0.
ISize DisplayedSize(int width, int height, double zoom);

// The zoom a view accepts: within [0.1, 20]; at most 1.0 in fit mode.
double ClampZoom(double zoom, bool fitToWindow);

// Line step (1 %) and page step (10 %) of a scroll size, at least 1.
int LineStep(int size);
int PageStep(int size);

// An offset kept within [0, size - client] (0 when the image is smaller).
int ClampOffset(int offset, int size, int client);

// The new offset for a scroll request, or nullopt when nothing happens
// (the image fits along the axis, or the code is none of the eight).
std::optional<int> ScrollOffset(int code, int offset, int size, int client, int line, int page,
                                int trackPosition);

// The offset along one axis that brings [low, high) into a window of extent
// client showing from offset: unchanged when already inside.
int ScrollToViewOffset(int offset, int client, int low, int high);

// Wheel accumulation. remainder carries, in hundred-twentieths of a step,
// what has not been turned into steps yet.
struct WheelSteps {
  int steps = 0;  // how many steps to take
  int code = SbLineDown;
  bool vertical = true;
  int remainder = 0;  // what is left for the next notch
};
WheelSteps Wheel(int remainder, int delta, int wheelLines, int scrollHeight, int clientHeight);

// The window of width x height to scroll to after the zoom changed from
// oldZoom to newZoom, so that the picture point that was at (centreX,
// centreY) in displayed pixels lands in the middle of the window.
IRect ZoomCentreTarget(int centreX, int centreY, double oldZoom, double newZoom, int width,
                       int height);

// The table entry after x in the chosen direction; between two levels the
// next level, on a level its neighbour, held at the table's ends.
double NextZoomStep(std::span<const double> table, double x, bool up);

// Index of a zoom percent in the zoom table, or table.size() ("Other...").
int ZoomTableIndex(std::span<const double> table, int percent);

// The zoom at which the other view shows the picture at the same size.
// index is the calling view's (0 source, 1 result); scale = result / source.
double MapZoomToOther(double zoom, int index, double scale);

// The window of width x height in the other view that centres the same
// picture point as this view's window at (offsetX, offsetY).
IRect SyncScrollTarget(int offsetX, int offsetY, int width, int height, double zoom,
                       double otherZoom, int index, double scale);

// The zoom at which a displayed image of imageWidth x imageHeight fits a
// client area of clientWidth x clientHeight.
double FitZoom(double zoom, int clientWidth, int clientHeight, int imageWidth, int imageHeight);

}  // namespace viewmath
