// One view on its own, without a frame: what it paints and how it scrolls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <cmath>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "TestImages.h"
#include "views/CEnlargerView.h"
#include "views/ViewMath.h"

namespace {

using testimages::Kind;

const QColor kGrey(192, 192, 192);

// Lets queued layout work (scroll bars showing or hiding) finish.
void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

::testing::AssertionResult Near(const QColor& got, const QColor& want, int tolerance) {
  if (std::abs(got.red() - want.red()) <= tolerance &&
      std::abs(got.green() - want.green()) <= tolerance &&
      std::abs(got.blue() - want.blue()) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "got " << got.name().toStdString() << ", want " << want.name().toStdString();
}

class ViewFixture {
 public:
  explicit ViewFixture(QSize client = {200, 160}) {
    view.resize(client);
    view.show();
    Settle();
  }
  QImage Shot() { return view.viewport()->grab().toImage(); }
  QColor At(const QImage& shot, int x, int y) { return QColor(shot.pixel(x, y)); }

  CEnlargerView view;
};

struct PaintCase {
  Kind kind;
  double zoom;
  friend void PrintTo(const PaintCase& c, std::ostream* os) {
    *os << testimages::KindName(c.kind) << " at " << viewmath::ZoomPercent(c.zoom) << " %";
  }
};

class PaintsEveryBitmap : public testing::TestWithParam<PaintCase> {};

// A 40 x 32 picture of four colours in a 200 x 160 view: each quadrant shows
// its colour where it should be, top side up, and the rest stays grey.
TEST_P(PaintsEveryBitmap, QuadrantsLandWhereTheyBelong) {
  const PaintCase& c = GetParam();
  testimages::Bitmap image = testimages::Quadrants(c.kind, 40, 32);
  ASSERT_TRUE(image);
  ViewFixture f;
  f.view.SetImage(image.get());
  f.view.SetZoom(c.zoom);
  for (int i = 0; i < 400 && !f.view.DisplayReady(); ++i) QTest::qWait(25);
  Settle();
  ASSERT_EQ(f.view.viewport()->size(), QSize(200, 160));
  const QRect shown = f.view.GetImageRect();
  const QImage shot = f.Shot();
  const int tolerance = testimages::Tolerance(c.kind);
  for (int q = 0; q < 4; ++q) {
    // The outer corner pixel of each quadrant is never blended with another.
    const int x = (q & 1) ? shown.width() - 1 : 0;
    const int y = (q & 2) ? shown.height() - 1 : 0;
    EXPECT_TRUE(Near(f.At(shot, x, y), testimages::ExpectedQuadrantAt(c.kind, q, x, y), tolerance))
        << "quadrant " << q << " at " << x << "," << y;
  }
  EXPECT_EQ(f.At(shot, shown.width() + 2, 3), kGrey);
  EXPECT_EQ(f.At(shot, 3, shown.height() + 2), kGrey);
  EXPECT_EQ(f.At(shot, 199, 159), kGrey);
  if (c.zoom >= 1.0) {
    // Whole source pixels, no smoothing: the quadrant edge is sharp.
    const int edge = static_cast<int>(20 * c.zoom);
    EXPECT_TRUE(Near(f.At(shot, edge - 1, 1),
                     testimages::ExpectedQuadrantAt(c.kind, 0, edge - 1, 1), tolerance));
    EXPECT_TRUE(Near(f.At(shot, edge, 1), testimages::ExpectedQuadrant(c.kind, 1), tolerance));
  }
}

std::vector<PaintCase> AllPaintCases() {
  std::vector<PaintCase> cases;
  for (Kind kind : {Kind::Rgb24, Kind::Bgra32Opaque, Kind::Bgra32Translucent,
                    Kind::Bgra32AlphaUnused, Kind::Palette8, Kind::Palette4, Kind::Palette1,
                    Kind::Rgb565, Kind::Grey16, Kind::Rgb48, Kind::Rgba64, Kind::RgbFloat}) {
    for (double zoom : {0.1, 1.0, 4.0}) cases.push_back({kind, zoom});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Kinds, PaintsEveryBitmap, testing::ValuesIn(AllPaintCases()),
                         [](const auto& info) {
                           return testimages::KindName(info.param.kind) + "_" +
                                  std::to_string(viewmath::ZoomPercent(info.param.zoom));
                         });

TEST(ViewPainting, WithoutAnImageEverythingIsGrey) {
  ViewFixture f;
  const QImage shot = f.Shot();
  EXPECT_EQ(f.At(shot, 0, 0), kGrey);
  EXPECT_EQ(f.At(shot, 100, 80), kGrey);
  EXPECT_EQ(f.view.GetImageRect(), QRect(0, 0, 1, 1));
}

TEST(ViewPainting, ScrolledWindowShowsTheRightPart) {
  testimages::Bitmap image = testimages::Coordinates(600, 500);
  ViewFixture f;
  f.view.SetImage(image.get());
  f.view.SetZoom(1.0);
  f.view.SetScrollOffset(100, 50, true);
  Settle();
  QImage shot = f.Shot();
  const QSize client = f.view.viewport()->size();
  EXPECT_EQ(f.At(shot, 0, 0), testimages::CoordinateColour(100, 50));
  EXPECT_EQ(f.At(shot, client.width() - 1, client.height() - 1),
            testimages::CoordinateColour(100 + client.width() - 1, 50 + client.height() - 1));
}

// Which source pixel screen pixel p of the displayed picture shows at zoom
// z: the one its centre falls on; -1 beyond the picture.
int SourceOf(int p, double zoom, int extent) {
  const int s = static_cast<int>(std::floor((p + 0.5) / zoom));
  return s < extent ? s : -1;
}

struct ReachCase {
  double zoom;
  int width;  // of the view, scroll bars included
  friend void PrintTo(const ReachCase& c, std::ostream* os) {
    *os << viewmath::ZoomPercent(c.zoom) << " % in " << c.width << " px";
  }
};

class EveryPixelReachable : public testing::TestWithParam<ReachCase> {
 protected:
  static void SetUpTestSuite() { picture = testimages::Coordinates(4000, 3000).release(); }
  static void TearDownTestSuite() { FreeImage_Unload(picture); }
  static FIBITMAP* picture;
};
FIBITMAP* EveryPixelReachable::picture = nullptr;

// A 4000 x 3000 picture whose colour names its column and row, shown at top
// left, in the middle and scrolled to the far corner: every screen pixel
// shows the source pixel its centre falls on, the far corner shows pixel
// (3999, 2999), and painting in odd tiles gives the same pixels.
TEST_P(EveryPixelReachable, CornersAndTilesShowTheRightSourcePixels) {
  const ReachCase& c = GetParam();
  ViewFixture f(QSize(c.width, 3 * c.width / 4));
  f.view.SetImage(picture);
  f.view.SetZoom(c.zoom);
  Settle();
  const QSize client = f.view.viewport()->size();
  const QSize range = f.view.m_scrollSize - client;
  ASSERT_GT(range.width(), 0);
  for (QPoint offset : {QPoint(0, 0), QPoint(range.width() / 2, range.height() / 3),
                        QPoint(range.width(), range.height())}) {
    f.view.SetScrollOffset(offset.x(), offset.y(), true);
    ASSERT_EQ(f.view.m_scrollOffset, offset);
    const QImage shot = f.Shot().convertToFormat(QImage::Format_RGB32);
    int wrong = 0;
    for (int y = 0; y < client.height(); ++y) {
      const int row = SourceOf(offset.y() + y, c.zoom, 3000);
      for (int x = 0; x < client.width(); ++x) {
        const int column = SourceOf(offset.x() + x, c.zoom, 4000);
        const QColor want =
            row < 0 || column < 0 ? kGrey : testimages::CoordinateColour(column, row);
        if (QColor(shot.pixel(x, y)) != want && wrong++ < 3) {
          ADD_FAILURE() << "at " << x << "," << y << " offset " << offset.x() << "," << offset.y()
                        << ": " << Near(QColor(shot.pixel(x, y)), want, 0).message();
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    if (offset == QPoint(range.width(), range.height())) {
      EXPECT_EQ(QColor(shot.pixel(client.width() - 1, client.height() - 1)),
                testimages::CoordinateColour(3999, 2999));
    }
    QImage tiled(client, QImage::Format_RGB32);
    tiled.fill(Qt::black);
    {
      QPainter painter(&tiled);
      for (int y = 0; y < client.height(); y += 61) {
        for (int x = 0; x < client.width(); x += 97) f.view.Render(painter, QRect(x, y, 97, 61));
      }
    }
    EXPECT_EQ(tiled, shot) << "tiles differ from a full paint at offset " << offset.x() << ","
                           << offset.y();
  }
}

std::vector<ReachCase> ReachCases() {
  std::vector<ReachCase> cases;
  for (double zoom : {1.5, 3.33, 10.0, 20.0}) {
    for (int width : {286, 531, 800, 1200}) cases.push_back({zoom, width});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(ZoomsAndWidths, EveryPixelReachable, testing::ValuesIn(ReachCases()),
                         [](const auto& info) {
                           return std::to_string(viewmath::ZoomPercent(info.param.zoom)) + "_in_" +
                                  std::to_string(info.param.width);
                         });

TEST(ViewPainting, ReducedCopyFollowsTheScrollOffset) {
  testimages::Bitmap image = testimages::Quadrants(Kind::Rgb24, 1000, 800);
  ViewFixture f;
  f.view.SetImage(image.get());
  f.view.SetZoom(0.5);  // 500 x 400 shown in about 200 x 160
  f.view.SetScrollOffset(300, 240, true);
  Settle();
  const QImage shot = f.Shot();
  // The window now starts inside the bottom-right quadrant.
  EXPECT_TRUE(Near(f.At(shot, 10, 10), testimages::ExpectedQuadrant(Kind::Rgb24, 3), 2));
}

// Waits, with the view answering, until the reduced copy for its zoom is shown.
bool WaitForReducedCopy(CEnlargerView& view) {
  for (int i = 0; i < 400 && !view.DisplayReady(); ++i) QTest::qWait(25);
  Settle();
  return view.DisplayReady();
}

// A picture of single black and white pixels: any area average over whole
// pairs of pixels is mid grey, any single pixel black or white.
TEST(ReducedCopies, AreMadeOnAWorkerAndTheLastOfQuickZoomsWins) {
  testimages::Bitmap image(FreeImage_Allocate(400, 300, 24));
  for (int y = 0; y < 300; ++y) {
    BYTE* p = FreeImage_GetScanLine(image.get(), 299 - y);  // rows are stored bottom-up
    for (int x = 0; x < 400; ++x, p += 3) p[0] = p[1] = p[2] = (x + y) % 2 ? 255 : 0;
  }
  ViewFixture f;
  f.view.SetImage(image.get());
  for (double zoom : {0.75, 0.5, 0.25}) f.view.SetZoom(zoom);
  ASSERT_TRUE(WaitForReducedCopy(f.view));
  EXPECT_DOUBLE_EQ(f.view.GetZoom(), 0.25);
  const QImage shot = f.Shot();
  for (QPoint p : {QPoint(0, 0), QPoint(57, 33), QPoint(99, 74)}) {
    EXPECT_TRUE(Near(QColor(shot.pixel(p)), QColor(128, 128, 128), 1)) << p.x() << "," << p.y();
  }
  EXPECT_EQ(QColor(shot.pixel(100, 10)), kGrey);  // right of the 100 x 75 picture
  // Back at 100 % the pixels themselves show again.
  f.view.SetZoom(1.0);
  const QImage full = f.Shot();
  EXPECT_EQ(QColor(full.pixel(0, 0)), QColor(0, 0, 0));
  EXPECT_EQ(QColor(full.pixel(1, 0)), QColor(255, 255, 255));
}

class ScrollingView : public testing::Test {
 protected:
  void SetUp() override {
    image = testimages::Coordinates(1000, 1000);
    f.view.SetImage(image.get());
    f.view.SetZoom(1.0);
    Settle();
    client = f.view.viewport()->size();
  }
  int X() const { return f.view.m_scrollOffset.x(); }
  int Y() const { return f.view.m_scrollOffset.y(); }

  testimages::Bitmap image;
  ViewFixture f;
  QSize client;
};

TEST_F(ScrollingView, ScrollBarArrowsAndPagesStepByTheImageSize) {
  // Showing the picture brought the bars; it still starts at its top-left.
  EXPECT_EQ(f.view.m_scrollOffset, QPoint(0, 0));
  QScrollBar* bar = f.view.horizontalScrollBar();
  ASSERT_TRUE(bar->isVisible());
  EXPECT_EQ(client, QSize(200, 160) - QSize(f.view.verticalScrollBar()->width(), bar->height()));
  EXPECT_EQ(bar->maximum(), 1000 - client.width());
  EXPECT_EQ(bar->pageStep(), client.width());
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(X(), 10);
  EXPECT_EQ(bar->value(), 10);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(X(), 110);  // a tenth of the image, not a window
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(X(), 0);
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(X(), 1000 - client.width());
  EXPECT_EQ(bar->value(), X());
}

TEST_F(ScrollingView, DraggingTheThumbTracksItsPosition) {
  QScrollBar* bar = f.view.verticalScrollBar();
  bar->setSliderDown(true);
  bar->setSliderPosition(250);
  EXPECT_EQ(Y(), 250);
  bar->setSliderPosition(260);
  bar->setSliderDown(false);
  EXPECT_EQ(Y(), 260);
}

TEST_F(ScrollingView, TheEightScrollKeys) {
  const int maxY = 1000 - client.height();
  QTest::keyClick(&f.view, Qt::Key_PageDown);
  EXPECT_EQ(Y(), 100);
  QTest::keyClick(&f.view, Qt::Key_Down);
  EXPECT_EQ(Y(), 110);
  QTest::keyClick(&f.view, Qt::Key_Up);
  QTest::keyClick(&f.view, Qt::Key_PageUp);
  EXPECT_EQ(Y(), 0);
  QTest::keyClick(&f.view, Qt::Key_End);
  EXPECT_EQ(Y(), maxY);
  QTest::keyClick(&f.view, Qt::Key_Home);
  EXPECT_EQ(Y(), 0);
  QTest::keyClick(&f.view, Qt::Key_Right);
  QTest::keyClick(&f.view, Qt::Key_Right);
  EXPECT_EQ(X(), 20);
  QTest::keyClick(&f.view, Qt::Key_Left);
  EXPECT_EQ(X(), 10);
  QTest::keyClick(&f.view, Qt::Key_A);  // not a scroll key
  EXPECT_EQ(X(), 10);
  EXPECT_EQ(Y(), 0);
}

void Wheel(QWidget* target, int delta) {
  QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

TEST_F(ScrollingView, AWheelNotchMovesTheDesktopsLinesPerNotch) {
  f.view.m_wheelLines = 3;
  Wheel(f.view.viewport(), -120);
  EXPECT_EQ(Y(), 30);
  Wheel(f.view.viewport(), 120);
  EXPECT_EQ(Y(), 0);
  // Small deltas of a fine wheel add up to whole lines.
  for (int i = 0; i < 8; ++i) Wheel(f.view.viewport(), -15);
  EXPECT_EQ(Y(), 30);
}

TEST(ViewWheel, ScrollsSidewaysWhenTheImageFitsVertically) {
  testimages::Bitmap image = testimages::Coordinates(1000, 100);
  ViewFixture f;
  f.view.SetImage(image.get());
  f.view.SetZoom(1.0);
  Settle();
  f.view.m_wheelLines = 3;
  Wheel(f.view.viewport(), -120);
  EXPECT_EQ(f.view.m_scrollOffset, QPoint(30, 0));
}

TEST_F(ScrollingView, ZoomingKeepsThePictureUnderTheCentre) {
  f.view.SetScrollOffset(300, 300, false);
  const QPointF before((300 + client.width() / 2) / 1.0, (300 + client.height() / 2) / 1.0);
  f.view.SetZoom(2.0);
  Settle();
  const QSize now = f.view.viewport()->size();
  const QPointF after((X() + now.width() / 2) / 2.0, (Y() + now.height() / 2) / 2.0);
  EXPECT_NEAR(after.x(), before.x(), 1.0);
  EXPECT_NEAR(after.y(), before.y(), 1.0);
  EXPECT_EQ(f.view.m_scrollSize, QSize(2000, 2000));
  EXPECT_EQ(f.view.m_lineSize, QSize(20, 20));
  EXPECT_EQ(f.view.m_pageSize, QSize(200, 200));
}

TEST_F(ScrollingView, ZoomIsClampedAndHeldInFitMode) {
  f.view.SetZoom(0.05);
  EXPECT_DOUBLE_EQ(f.view.GetZoom(), 0.1);
  EXPECT_EQ(f.view.GetImageRect(), QRect(0, 0, 100, 100));
  f.view.SetZoom(25.0);
  EXPECT_DOUBLE_EQ(f.view.GetZoom(), 20.0);
  f.view.m_fitToWindow = true;
  f.view.SetZoom(1.5);
  EXPECT_DOUBLE_EQ(f.view.GetZoom(), 1.0);
  EXPECT_EQ(f.view.m_scrollSize, QSize(1, 1));
  EXPECT_EQ(f.view.m_scrollOffset, QPoint(0, 0));
}

TEST_F(ScrollingView, ShrinkingTheWindowPastTheEndKeepsTheOffsetInRange) {
  f.view.SetScrollOffset(800, 800, false);
  f.view.resize(600, 600);
  Settle();
  const QSize now = f.view.viewport()->size();
  EXPECT_EQ(X(), 1000 - now.width());
  EXPECT_EQ(Y(), 1000 - now.height());
}

TEST_F(ScrollingView, ANewImageDropsTheOldDisplayCopies) {
  f.view.SetZoom(0.5);
  testimages::Bitmap other = testimages::Quadrants(Kind::Palette8, 40, 32);
  f.view.SetImage(other.get());
  image.reset();  // the old picture is gone; the view must not draw from it
  f.view.SetScrollOffset(0, 0, true);
  Settle();
  const QImage shot = f.Shot();
  EXPECT_TRUE(Near(QColor(shot.pixel(0, 0)), testimages::ExpectedQuadrant(Kind::Palette8, 0), 2));
  EXPECT_EQ(f.view.GetImageRect(), QRect(0, 0, 20, 16));
}

}  // namespace
