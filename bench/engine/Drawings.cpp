#include "bench/engine/Drawings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace enginebench {
namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 360;
constexpr int kSuper = 4;  // samples per pixel along each axis
// The line art that enlargements are scored on against its own rendering at 4x.
constexpr int kLineArtWidth = 400;
constexpr int kLineArtHeight = 300;

struct Rgb {
  double r, g, b;
};

// A picture drawn at kSuper times the size, shape by shape, then averaged
// down. Shapes are given in the coordinates of a width x height drawing and
// rendered `scale` times as large, so that one drawing renders at two sizes.
class Canvas {
 public:
  explicit Canvas(Rgb paper, int width = kWidth, int height = kHeight, int scale = 1)
      : m_width(width * scale),
        m_height(height * scale),
        m_step(kSuper * scale),
        m_samples(static_cast<std::size_t>(m_width) * m_height * kSuper * kSuper, Bytes(paper)) {}

  // Paints every sample inside the shape; `inside` takes drawing coordinates.
  void Fill(double x0, double y0, double x1, double y1, Rgb colour,
            const std::function<bool(double, double)>& inside) {
    const int sx0 = std::max(0, static_cast<int>(x0 * m_step) - 1);
    const int sy0 = std::max(0, static_cast<int>(y0 * m_step) - 1);
    const int sx1 = std::min(m_width * kSuper, static_cast<int>(x1 * m_step) + 2);
    const int sy1 = std::min(m_height * kSuper, static_cast<int>(y1 * m_step) + 2);
    for (int sy = sy0; sy < sy1; ++sy) {
      for (int sx = sx0; sx < sx1; ++sx) {
        if (inside((sx + 0.5) / m_step, (sy + 0.5) / m_step))
          m_samples[static_cast<std::size_t>(sy) * m_width * kSuper + sx] = Bytes(colour);
      }
    }
  }

  void Stroke(double ax, double ay, double bx, double by, double width, Rgb colour) {
    const double r = width / 2;
    Fill(std::min(ax, bx) - r, std::min(ay, by) - r, std::max(ax, bx) + r, std::max(ay, by) + r,
         colour, [=](double x, double y) {
           const double dx = bx - ax, dy = by - ay;
           const double len = dx * dx + dy * dy;
           const double t =
               len > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / len, 0.0, 1.0) : 0;
           const double ex = x - ax - t * dx, ey = y - ay - t * dy;
           return ex * ex + ey * ey <= r * r;
         });
  }

  void Ellipse(double cx, double cy, double rx, double ry, Rgb colour) {
    Fill(cx - rx, cy - ry, cx + rx, cy + ry, colour, [=](double x, double y) {
      const double u = (x - cx) / rx, v = (y - cy) / ry;
      return u * u + v * v <= 1;
    });
  }

  void Ring(double cx, double cy, double radius, double width, Rgb colour) {
    const double outer = radius + width / 2, inner = radius - width / 2;
    Fill(cx - outer, cy - outer, cx + outer, cy + outer, colour, [=](double x, double y) {
      const double d = std::hypot(x - cx, y - cy);
      return d <= outer && d >= inner;
    });
  }

  FIBITMAP* Bitmap() const {
    FIBITMAP* dib = FreeImage_Allocate(m_width, m_height, 24);
    for (int y = 0; y < m_height; ++y) {
      BYTE* p = FreeImage_GetScanLine(dib, m_height - 1 - y);
      for (int x = 0; x < m_width; ++x, p += 3) {
        Rgb sum{0, 0, 0};
        for (int j = 0; j < kSuper; ++j) {
          for (int i = 0; i < kSuper; ++i) {
            const Sample& s =
                m_samples[(static_cast<std::size_t>(y) * kSuper + j) * m_width * kSuper +
                          x * kSuper + i];
            sum.r += s.r;
            sum.g += s.g;
            sum.b += s.b;
          }
        }
        const double n = kSuper * kSuper;
        p[FI_RGBA_RED] = static_cast<BYTE>(std::lround(sum.r / n));
        p[FI_RGBA_GREEN] = static_cast<BYTE>(std::lround(sum.g / n));
        p[FI_RGBA_BLUE] = static_cast<BYTE>(std::lround(sum.b / n));
      }
    }
    return dib;
  }

 private:
  // A sample as bytes: every colour drawn is whole levels, and a drawing at
  // four times the size has 16 times the samples.
  struct Sample {
    BYTE r, g, b;
  };
  static Sample Bytes(Rgb c) {
    return {static_cast<BYTE>(c.r), static_cast<BYTE>(c.g), static_cast<BYTE>(c.b)};
  }

  int m_width, m_height;
  int m_step;  // samples per unit of the drawing's coordinates
  std::vector<Sample> m_samples;
};

constexpr Rgb kInk{20, 20, 28};
constexpr Rgb kPaper{250, 248, 240};
constexpr Rgb kLineArtPaper{255, 255, 255};

FIBITMAP* Cartoon() {
  Canvas c(Rgb{170, 210, 240});
  c.Ellipse(240, 420, 400, 150, kInk);  // the hill, outlined by drawing it larger first
  c.Ellipse(240, 420, 396, 146, Rgb{110, 180, 80});
  c.Ellipse(380, 70, 44, 44, kInk);
  c.Ellipse(380, 70, 41, 41, Rgb{250, 210, 60});
  for (int k = 0; k < 3; ++k) {  // three round figures with faces
    const double x = 110 + 130 * k, y = 215 - 12 * k, r = 48 - 6 * k;
    const Rgb skin[3] = {{240, 120, 110}, {130, 120, 220}, {250, 170, 70}};
    c.Ellipse(x, y, r + 3, r + 3, kInk);
    c.Ellipse(x, y, r, r, skin[k]);
    c.Ellipse(x - r / 3, y - r / 4, r / 6, r / 5, Rgb{255, 255, 255});
    c.Ellipse(x + r / 3, y - r / 4, r / 6, r / 5, Rgb{255, 255, 255});
    c.Ellipse(x - r / 3, y - r / 5, r / 12, r / 10, kInk);
    c.Ellipse(x + r / 3, y - r / 5, r / 12, r / 10, kInk);
    for (int s = 0; s < 8; ++s) {  // the smile as a chain of strokes
      const double a0 = 0.6 + 0.25 * s, a1 = a0 + 0.25;
      c.Stroke(x + r / 2 * std::cos(a0), y + r / 2 * std::sin(a0), x + r / 2 * std::cos(a1),
               y + r / 2 * std::sin(a1), 2.5, kInk);
    }
  }
  return c.Bitmap();
}

// 5 x 7 dot-matrix letters, top row first, most significant of 5 bits leftmost.
struct Glyph {
  char c;
  unsigned char rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'C', {14, 17, 16, 16, 16, 17, 14}},
    {'D', {30, 17, 17, 17, 17, 17, 30}}, {'E', {31, 16, 16, 30, 16, 16, 31}},
    {'G', {14, 17, 16, 23, 17, 17, 15}}, {'I', {14, 4, 4, 4, 4, 4, 14}},
    {'L', {16, 16, 16, 16, 16, 16, 31}}, {'M', {17, 27, 21, 21, 17, 17, 17}},
    {'N', {17, 25, 21, 19, 17, 17, 17}}, {'O', {14, 17, 17, 17, 17, 17, 14}},
    {'R', {30, 17, 17, 30, 20, 18, 17}}, {'S', {15, 16, 16, 14, 1, 1, 30}},
    {'T', {31, 4, 4, 4, 4, 4, 4}},       {'V', {17, 17, 17, 17, 17, 10, 4}},
    {'X', {17, 17, 10, 4, 10, 17, 17}},  {'2', {14, 17, 1, 2, 4, 8, 31}},
    {'0', {14, 17, 19, 21, 25, 17, 14}}, {'4', {2, 6, 10, 18, 31, 2, 2}},
};

bool Dot(const Glyph& g, int col, int row) {
  return col >= 0 && col < 5 && row >= 0 && row < 7 && (g.rows[row] >> (4 - col)) & 1;
}

// Lettering: every dot of a glyph joined to its neighbours by strokes.
void Text(Canvas& c, const char* text, double x, double y, double cell, Rgb colour) {
  for (const char* t = text; *t; ++t, x += 6 * cell) {
    const Glyph* g = std::find_if(std::begin(kGlyphs), std::end(kGlyphs),
                                  [&](const Glyph& k) { return k.c == *t; });
    if (g == std::end(kGlyphs)) continue;
    const double width = 0.9 * cell;
    for (int row = 0; row < 7; ++row) {
      for (int col = 0; col < 5; ++col) {
        if (!Dot(*g, col, row)) continue;
        const double px = x + col * cell, py = y + row * cell;
        c.Stroke(px, py, px, py, width, colour);
        const int next[4][2] = {{1, 0}, {0, 1}, {1, 1}, {-1, 1}};
        for (int k = 0; k < 4; ++k) {
          const int nc = col + next[k][0], nr = row + next[k][1];
          // Diagonals only where no straight path joins the two dots.
          if (k >= 2 && (Dot(*g, nc, row) || Dot(*g, col, nr))) continue;
          if (Dot(*g, nc, nr))
            c.Stroke(px, py, px + next[k][0] * cell, py + next[k][1] * cell, width, colour);
        }
      }
    }
  }
}

FIBITMAP* Lettering() {
  Canvas c(kPaper);
  Text(c, "MAGNOVA", 16, 14, 8, kInk);
  Text(c, "ENLARGES LINE ART", 16, 90, 3.6, Rgb{150, 30, 40});
  Text(c, "AND TEXT 2024", 16, 130, 2.6, kInk);
  Text(c, "SMALL LETTERS DO MATTER", 16, 160, 1.8, Rgb{30, 60, 150});
  Text(c, "CLEAR EDGES ON 0 2 4", 16, 190, 1.5, kInk);
  Text(c, "DOTS", 250, 230, 11, Rgb{20, 110, 60});
  return c.Bitmap();
}

FIBITMAP* Lines() {
  Canvas c(kPaper);
  for (int k = 0; k < 12; ++k) {  // a fan of thin lines
    const double a = k * 3.14159265 / 24;
    c.Stroke(20, 340, 20 + 300 * std::cos(a), 340 - 300 * std::sin(a), 1.0 + 0.25 * (k % 3), kInk);
  }
  for (int k = 1; k <= 6; ++k) c.Ring(360, 110, 14.0 * k, 1.6, Rgb{180, 40, 40});
  for (int k = 0; k < 16; ++k)  // hatching
    c.Stroke(250 + 13 * k, 250, 230 + 13 * k, 340, 1.3, Rgb{40, 40, 160});
  c.Stroke(20, 20, 220, 20, 2, kInk);  // a small technical frame
  c.Stroke(20, 20, 20, 140, 2, kInk);
  c.Stroke(220, 20, 220, 140, 2, kInk);
  c.Stroke(20, 140, 220, 140, 2, kInk);
  c.Stroke(20, 20, 220, 140, 1, kInk);
  return c.Bitmap();
}

// Thin black lines at several angles, a red circle and small text, as a
// diagram or a screenshot has them.
FIBITMAP* RenderLineArt(int scale) {
  Canvas c(kLineArtPaper, kLineArtWidth, kLineArtHeight, scale);
  for (int k = 0; k < 9; ++k) {
    const double a = k * 3.14159265 / 16, length = 150;
    c.Stroke(30, 280, 30 + length * std::cos(a), 280 - length * std::sin(a), k % 2 ? 2.0 : 1.0,
             kInk);
  }
  c.Ring(290, 90, 60, 1.5, Rgb{220, 30, 30});
  c.Ring(290, 90, 30, 2.0, Rgb{220, 30, 30});
  c.Stroke(200, 200, 390, 200, 1, kInk);
  c.Stroke(200, 210, 390, 290, 1, kInk);
  Text(c, "LINE ART 2024", 200, 230, 1.6, kInk);
  Text(c, "CLEAR TEXT", 200, 260, 2.2, kInk);
  return c.Bitmap();
}

}  // namespace

std::vector<Drawing> MakeDrawings() {
  return {{"cartoon", Cartoon()}, {"lettering", Lettering()}, {"lines", Lines()}};
}

LineArt MakeLineArt() {
  const auto level = [](double v) { return static_cast<int>(v); };
  return {"line art",
          RenderLineArt(1),
          RenderLineArt(4),
          {level(kLineArtPaper.r), level(kLineArtPaper.g), level(kLineArtPaper.b)}};
}

}  // namespace enginebench
