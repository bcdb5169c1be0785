// One view on its own, without a frame: what it paints and how it scrolls.
#include <gtest/gtest.h>

#include <QApplication>
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
  Settle();
  ASSERT_EQ(f.view.viewport()->size(), QSize(200, 160));
  const QRect shown = f.view.GetImageRect();
  const QImage shot = f.Shot();
  const int tolerance = testimages::Tolerance(c.kind);
  for (int q = 0; q < 4; ++q) {
    // The outer corner pixel of each quadrant is never blended with another.
    const int x = (q & 1) ? shown.width() - 1 : 0;
    const int y = (q & 2) ? shown.height() - 1 : 0;
    EXPECT_TRUE(Near(f.At(shot, x, y), testimages::ExpectedQuadrant(c.kind, q), tolerance))
        << "quadrant " << q << " at " << x << "," << y;
  }
  EXPECT_EQ(f.At(shot, shown.width() + 2, 3), kGrey);
  EXPECT_EQ(f.At(shot, 3, shown.height() + 2), kGrey);
  EXPECT_EQ(f.At(shot, 199, 159), kGrey);
  if (c.zoom >= 1.0) {
    // Whole source pixels, no smoothing: the quadrant edge is sharp.
    const int edge = static_cast<int>(20 * c.zoom);
    EXPECT_TRUE(Near(f.At(shot, edge - 1, 1), testimages::ExpectedQuadrant(c.kind, 0), tolerance));
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

  // At 300 % the corner pixels come from the window of source pixels that
  // starts at offset / zoom.
  f.view.SetZoom(3.0);
  f.view.SetScrollOffset(300, 150, true);
  Settle();
  shot = f.Shot();
  const viewmath::SourceWindow window =
      viewmath::VisibleSource(300, 150, client.width(), client.height(), 3.0);
  EXPECT_EQ(f.At(shot, 0, 0), testimages::CoordinateColour(window.left, window.top));
  EXPECT_EQ(f.At(shot, client.width() - 1, client.height() - 1),
            testimages::CoordinateColour(window.left + window.width - 1, window.bottom - 1));
}

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
