// Painting and zooming an 8000 x 6000 picture, each against the bare library
// call it rests on, measured in the same run. Prints ratios (lower is better).
#include <FreeImage.h>

#include <QApplication>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "views/CEnlargerView.h"
#include "views/DisplayBitmap.h"
#include "views/ViewMath.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Median of interleaved runs, so that both sides see the same machine load.
std::pair<double, double> Compare(int runs, const std::function<void()>& subject,
                                  const std::function<void()>& baseline) {
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    a.push_back(Seconds(subject));
    b.push_back(Seconds(baseline));
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return {a[a.size() / 2], b[b.size() / 2]};
}

FIBITMAP* MakePicture(int width, int height) {
  FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
  for (int y = 0; y < height; ++y) {
    BYTE* p = FreeImage_GetScanLine(bitmap, y);
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = static_cast<BYTE>(x * 7 + y);
      p[1] = static_cast<BYTE>(y * 3);
      p[2] = static_cast<BYTE>(x ^ y);
    }
  }
  return bitmap;
}

// A top-down RGB32 copy: the format a painter draws fastest.
QImage TopDownCopy(FIBITMAP* bitmap) {
  FIBITMAP* b32 = FreeImage_ConvertTo32Bits(bitmap);
  const int w = static_cast<int>(FreeImage_GetWidth(b32));
  const int h = static_cast<int>(FreeImage_GetHeight(b32));
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    std::copy_n(FreeImage_GetScanLine(b32, h - 1 - y), w * 4, image.scanLine(y));
  }
  FreeImage_Unload(b32);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  FreeImage_Initialise(TRUE);
  const int kWidth = 8000, kHeight = 6000;
  FIBITMAP* picture = MakePicture(kWidth, kHeight);

  CEnlargerView view;
  view.resize(1200, 800);
  view.show();
  QApplication::processEvents();
  view.SetImage(picture);
  view.SetZoom(1.0);
  // Grow the widget by the scroll bars so that the client area is 1200 x 800.
  for (int i = 0; i < 3; ++i) {
    QApplication::processEvents();
    view.resize(view.size() + QSize(1200, 800) - view.viewport()->size());
  }
  QApplication::processEvents();
  const QSize client = view.viewport()->size();
  std::printf("view client %d x %d, picture %d x %d (24-bit)\n", client.width(), client.height(),
              kWidth, kHeight);

  QImage canvas(client, QImage::Format_RGB32);
  const QRect all(QPoint(0, 0), client);
  const QImage topDown = TopDownCopy(picture);
  bool allMet = true;

  // "paint" or "zoom" runs one half only.
  const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  if (only != "zoom") {
    std::printf("\npaint, ratio to a bare drawImage of the same visible area:\n");
    for (double zoom : {0.1, 1.0, 20.0}) {
      view.SetZoom(zoom);
      view.SetScrollOffset(view.m_scrollSize.width() / 3, view.m_scrollSize.height() / 3, false);
      // The same visible area, (a) as a top-down RGB32 picture, the fastest a
      // painter draws, with the grey margins a view fills where the picture
      // ends, and (b) straight from FreeImage's bottom-up 24-bit rows through
      // a flipping transform.
      FIBITMAP* bits = picture;
      if (zoom < 1.0) {
        const QSize size = view.GetImageRect().size();
        bits = FreeImage_Rescale(picture, size.width(), size.height(), FILTER_BOX);
      }
      const QImage fast = zoom < 1.0 ? TopDownCopy(bits) : topDown;
      const QImage direct = views::DrawableImage(bits);
      QRect sourceRect;
      if (zoom < 1.0) {
        sourceRect = QRect(view.m_scrollOffset, client).intersected(fast.rect());
      } else {
        const viewmath::SourceWindow w =
            viewmath::VisibleSource(view.m_scrollOffset.x(), view.m_scrollOffset.y(),
                                    client.width(), client.height(), zoom);
        sourceRect = QRect(w.left, w.top, w.width, w.height);
      }
      const QRect target = zoom < 1.0 ? QRect(QPoint(0, 0), sourceRect.size()) : all;
      const QRect stored(sourceRect.x(), direct.height() - 1 - sourceRect.bottom(),
                         sourceRect.width(), sourceRect.height());
      const int repeat = 20;
      auto paintView = [&] {
        for (int i = 0; i < repeat; ++i) {
          QPainter painter(&canvas);
          view.Render(painter, all);
        }
      };
      const auto [mine, bare] = Compare(15, paintView, [&] {
        for (int i = 0; i < repeat; ++i) {
          QPainter painter(&canvas);
          // What the picture leaves of the client area is grey in both.
          if (target.right() < all.right()) {
            painter.fillRect(
                QRect(target.right() + 1, 0, all.right() - target.right(), all.height()),
                QColor(192, 192, 192));
          }
          if (target.bottom() < all.bottom()) {
            painter.fillRect(
                QRect(0, target.bottom() + 1, target.width(), all.bottom() - target.bottom()),
                QColor(192, 192, 192));
          }
          painter.drawImage(target, fast, sourceRect);
        }
      });
      const auto [mine2, flipped] = Compare(5, paintView, [&] {
        for (int i = 0; i < repeat; ++i) {
          QPainter painter(&canvas);
          painter.setTransform(QTransform(1, 0, 0, -1, 0, target.top() + target.bottom() + 1));
          painter.drawImage(target, direct, stored);
        }
      });
      if (bits != picture) FreeImage_Unload(bits);
      const double ratio = mine / bare;
      allMet = allMet && ratio <= 1.5;
      std::printf(
          "  zoom %5d %%: view %.3f ms; bare top-down RGB32 %.3f ms, ratio %.2f (goal <= 1.5);"
          " bare flipped 24-bit %.3f ms, ratio %.2f\n",
          viewmath::ZoomPercent(zoom), 1000 * mine / repeat, 1000 * bare / repeat, ratio,
          1000 * flipped / repeat, mine2 / flipped);
    }
  }

  if (only != "paint") {
    std::printf("\nzoom change below 100 %%, ratio to one FreeImage_Rescale box filter:\n");
    for (double zoom : {0.75, 0.5, 0.25, 0.1}) {
      const viewmath::ISize size = viewmath::DisplayedSize(kWidth, kHeight, zoom);
      const auto [mine, bare] = Compare(
          3,
          [&] {
            view.SetZoom(1.0);
            view.SetZoom(zoom);
          },
          [&] { FreeImage_Unload(FreeImage_Rescale(picture, size.cx, size.cy, FILTER_BOX)); });
      const double ratio = mine / bare;
      allMet = allMet && ratio <= 1.2;
      std::printf("  100 %% -> %3d %%: view %.1f ms, rescale %.1f ms, ratio %.2f (goal <= 1.2)\n",
                  viewmath::ZoomPercent(zoom), 1000 * mine, 1000 * bare, ratio);
    }
  }
  std::printf("\n%s\n", allMet ? "all goals met" : "some goals missed");

  view.SetImage(nullptr);
  FreeImage_Unload(picture);
  FreeImage_DeInitialise();
  return 0;
}
