#pragma once

#include <FreeImage.h>

#include <QColor>
#include <memory>
#include <string>

// Small bitmaps made with FreeImage for the view tests.
namespace testimages {

struct BitmapDeleter {
  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

// Every kind of bitmap a view must show.
enum class Kind {
  Rgb24,
  Bgra32Opaque,
  Bgra32Translucent,  // the top-left quadrant fully transparent
  Bgra32AlphaUnused,  // alpha all 0, as in many 32-bit BMP files
  Palette8,
  Palette4,
  Palette1,  // two colours: left half and right half
  Rgb565,
  Grey16,
  Rgb48,
  Rgba64,
  RgbFloat,
};
std::string KindName(Kind kind);

// A width x height picture in four quadrants of different colours (top-left,
// top-right, bottom-left, bottom-right as seen on screen).
Bitmap Quadrants(Kind kind, int width, int height);
// The colour a view must show for quadrant 0..3 (over light grey where the
// picture is transparent).
QColor ExpectedQuadrant(Kind kind, int quadrant);
// The same at view pixel (x, y), where a transparent quadrant shows the
// checkerboard: 8-pixel squares, light grey (204) where the square's column
// and row add up to an even number, white elsewhere.
QColor ExpectedQuadrantAt(Kind kind, int quadrant, int x, int y);
// How far a shown colour may be from the expected one for this kind.
int Tolerance(Kind kind);

// A 24-bit picture whose colour says where a pixel lies: red = x % 256,
// green = y % 256, blue = 16 * (x / 256) + y / 256.
Bitmap Coordinates(int width, int height);
QColor CoordinateColour(int x, int y);

}  // namespace testimages
