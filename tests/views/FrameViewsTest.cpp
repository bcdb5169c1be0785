// The two views in the running frame: zoom commands, fit mode, coupling,
// keys and focus.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <utility>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"
#include "res/CommandIds.h"
#include "views/CEnlargerView.h"
#include "views/CRatioDlg.h"

namespace {

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

class FrameViewsTest : public testing::Test {
 protected:
  FrameViewsTest() {
    frame.resize(1400, 800);
    frame.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&frame));
    frame.activateWindow();
    Settle();
  }

  CEnlargerView& Left() { return *frame.m_leftView; }
  CEnlargerView& Right() { return *frame.m_rightView; }

  // Gives a view a blank picture of width x height at 100 %, as opening and
  // resizing do; the frame frees it.
  void Show(int index, int width, int height) {
    FIBITMAP* image = FreeImage_Allocate(width, height, 24);
    (index == 0 ? frame.m_source : frame.m_result) = image;
    CEnlargerView& view = *frame.View(index);
    view.SetImage(image);
    view.m_scrollOffset = QPoint(0, 0);
    view.SetZoom(1.0);
    frame.m_percentCombo->setEnabled(true);  // as after a load
    frame.ActivateView(index);
    Settle();
  }

  // Sizes the frame and the splitter until the left view is size (without
  // scroll bars).
  void SizeLeftView(QSize size) {
    // Views this small lie below the window's own minimum.
    frame.setMinimumSize(0, 0);
    for (int i = 0; i < 10 && Left().size() != size; ++i) {
      const QSize diff = size - Left().size();
      QList<int> sizes = frame.m_splitter->sizes();
      sizes[0] += diff.width();
      sizes[1] -= diff.width();
      frame.m_splitter->setSizes(sizes);
      frame.resize(frame.width(), frame.height() + diff.height());
      Settle();
    }
    ASSERT_EQ(Left().size(), size);
  }

  int Mark() const { return frame.m_zoomToMark; }
  int CheckedZoomToItems() const {
    int checked = 0;
    for (QAction* action : frame.m_zoomToGroup->actions()) checked += action->isChecked();
    return checked;
  }

  CMainFrame frame;
};

constexpr int kMark10 = ids::ZoomToFirst;
constexpr int kMark25 = ids::ZoomToFirst + 1;
constexpr int kMark150 = ids::ZoomToFirst + 5;
constexpr int kMark200 = ids::ZoomToFirst + 6;

TEST_F(FrameViewsTest, ZoomInAndOutStepThroughTheLevels) {
  Show(0, 400, 300);
  frame.OnZoomIn();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 1.5);
  EXPECT_EQ(Mark(), kMark150);
  EXPECT_FALSE(frame.UIIsChecked(ids::ZoomToFit));
  frame.OnZoomOut();
  frame.OnZoomOut();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 0.75);
  EXPECT_EQ(Left().GetImageRect(), QRect(0, 0, 300, 225));
}

TEST_F(FrameViewsTest, ZoomToLevelsLeaveExactlyOneMark) {
  Show(0, 400, 300);
  frame.OnZoomTo(ids::ZoomToFirst);
  frame.OnZoomTo(ids::ZoomToFirst + 1);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 0.25);
  EXPECT_EQ(Mark(), kMark25);
  EXPECT_EQ(CheckedZoomToItems(), 1);
  frame.OnZoomTo(ids::ZoomToLast);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 20.0);
}

TEST_F(FrameViewsTest, FitShrinksALargeImageAndHoldsASmallOneAtFullSize) {
  SizeLeftView({800, 600});
  Show(0, 4000, 3000);
  frame.OnZoomToFit();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 0.2);
  EXPECT_TRUE(Left().m_fitToWindow);
  EXPECT_TRUE(frame.UIIsChecked(ids::ZoomToFit));
  EXPECT_EQ(Left().m_scrollSize, QSize(1, 1));
  EXPECT_EQ(Mark(), ids::ZoomToOther);  // 20 % is no level

  frame.OnZoomToFit();  // off again: the fitted zoom stays
  EXPECT_FALSE(Left().m_fitToWindow);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 0.2);
}

TEST_F(FrameViewsTest, FitOfASmallImageStaysAtHundredAndMarksOther) {
  SizeLeftView({800, 600});
  Show(0, 300, 200);
  frame.OnZoomToFit();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 1.0);
  EXPECT_EQ(Mark(), ids::ZoomToOther);  // the computed 266 % is no level
  // From fit mode the first step up ticks 150 % but the view stays at 100 %.
  frame.OnZoomIn();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 1.0);
  EXPECT_EQ(Mark(), kMark150);
  EXPECT_FALSE(Left().m_fitToWindow);
  frame.OnZoomIn();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 1.5);
}

TEST_F(FrameViewsTest, ResizingTheFrameRefitsOnlyViewsInFitMode) {
  Show(0, 4000, 3000);
  Show(1, 500, 400);
  frame.ActivateView(0);
  frame.OnZoomToFit();
  const double fitted = Left().GetZoom();
  frame.resize(frame.width() - 400, frame.height() - 200);
  Settle();
  EXPECT_LT(Left().GetZoom(), fitted);
  EXPECT_DOUBLE_EQ(Right().GetZoom(), 1.0);
  EXPECT_EQ(frame.m_activeView, &Left());
}

TEST_F(FrameViewsTest, ANewPictureIsFittedInFitModeAndStartsAtItsCorner) {
  SizeLeftView({800, 600});
  Show(0, 4000, 3000);
  frame.OnZoomToFit();
  // Another picture comes in as opening gives it: from the corner, at 100 %.
  FIBITMAP* old = frame.m_source;
  Left().SetImage(nullptr);
  FreeImage_Unload(old);
  Show(0, 6000, 2000);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 800.0 / 6000.0);
  EXPECT_EQ(Left().m_scrollSize, QSize(1, 1));
  EXPECT_TRUE(frame.UIIsChecked(ids::ZoomToFit));

  frame.OnZoomToFit();  // off: a scrolled picture at 200 %
  frame.OnZoomTo(ids::ZoomToFirst + 6);
  Left().SetScrollOffset(3000, 1000, false);
  ASSERT_NE(Left().m_scrollOffset, QPoint(0, 0));
  old = frame.m_source;
  Left().SetImage(nullptr);
  FreeImage_Unload(old);
  Show(0, 5000, 4000);
  EXPECT_EQ(Left().m_scrollOffset, QPoint(0, 0));
}

TEST_F(FrameViewsTest, APictureTooLargeToFitScrollsAtTheSmallestZoom) {
  SizeLeftView({300, 200});
  Show(0, 4000, 3000);
  frame.OnZoomToFit();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 0.1);
  EXPECT_EQ(Left().m_scrollSize, QSize(400, 300));
  EXPECT_TRUE(Left().horizontalScrollBar()->isVisible());
  QTest::keyClick(&Left(), Qt::Key_End);
  QTest::keyClick(&Left(), Qt::Key_Right);
  EXPECT_EQ(Left().m_scrollOffset.y(), 300 - Left().viewport()->height());
  EXPECT_EQ(Left().m_scrollOffset.x(), 4);
  Left().horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(Left().m_scrollOffset.x(), 400 - Left().viewport()->width());
}

TEST_F(FrameViewsTest, DraggingTheSplitterBarRefitsToTheNewPaneSize) {
  Show(0, 4000, 3000);
  frame.OnZoomToFit();
  const double before = Left().GetZoom();
  QSplitterHandle* handle = frame.m_splitter->handle(1);
  const QPoint grip(handle->width() / 2, handle->height() / 2);
  QTest::mousePress(handle, Qt::LeftButton, {}, grip);
  QTest::mouseMove(handle, grip - QPoint(150, 0));
  QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(150, 0));
  Settle();
  const QSize client = Left().viewport()->size();
  EXPECT_LT(Left().GetZoom(), before);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), std::min(client.width() / 4000.0, client.height() / 3000.0));
  EXPECT_LE(Left().GetImageRect().width(), client.width());
}

TEST_F(FrameViewsTest, CtrlWheelZoomsByStepsAboutThePointUnderTheCursor) {
  Show(0, 3000, 2000);
  Left().SetScrollOffset(300, 200, false);
  const QPoint at(100, 80);
  for (auto [delta, zoom] : {std::pair{120, 1.5}, std::pair{120, 2.0}, std::pair{-120, 1.5}}) {
    const QPointF picture((Left().m_scrollOffset + at).toPointF() / Left().GetZoom());
    QWheelEvent wheel(at, Left().viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Left().viewport(), &wheel);
    EXPECT_DOUBLE_EQ(Left().GetZoom(), zoom);
    const QPointF after((Left().m_scrollOffset + at).toPointF() / zoom);
    EXPECT_NEAR(after.x(), picture.x(), 1.0);
    EXPECT_NEAR(after.y(), picture.y(), 1.0);
  }
  EXPECT_EQ(Mark(), kMark150);
}

TEST_F(FrameViewsTest, OtherAsksForAPercent) {
  Show(0, 400, 300);
  auto answer = [](const QString& text) {
    QTimer::singleShot(0, [text] {
      auto* dialog = dynamic_cast<CRatioDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->Edit()->text(), "100");
      dialog->Edit()->setText(text);
      dialog->accept();
    });
  };
  answer("30");
  frame.OnZoomTo(ids::ZoomToOther);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 0.3);
  EXPECT_EQ(Mark(), ids::ZoomToOther);
  frame.OnZoomTo(ids::ZoomToFirst + 4);  // back to 100 %
  answer("200");
  frame.OnZoomTo(ids::ZoomToOther);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 2.0);
  EXPECT_EQ(Mark(), kMark200);

  QTimer::singleShot(0, [] {
    if (QWidget* dialog = QApplication::activeModalWidget())
      QTest::keyClick(dialog, Qt::Key_Escape);
  });
  frame.OnZoomTo(ids::ZoomToOther);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 2.0);
}

class CoupledViewsTest : public FrameViewsTest {
 protected:
  // A source and a result twice its size, coupled as after a resize.
  void Couple(int width, int height) {
    frame.m_scale = 2.0;
    Show(0, width, height);
    Show(1, 2 * width, 2 * height);
    frame.OnSyncScroll();
    frame.OnSyncZoom();
    Settle();
  }
};

TEST_F(CoupledViewsTest, SyncZoomShowsBothAtTheSameSizeAndFollowsTheActiveView) {
  Couple(400, 300);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 2.0);
  EXPECT_DOUBLE_EQ(Right().GetZoom(), 1.0);
  EXPECT_FALSE(frame.UIIsEnabled(ids::ZoomToFit));
  EXPECT_TRUE(frame.UIIsChecked(ids::SyncZoom));
  const QList<int> sizes = frame.m_splitter->sizes();
  EXPECT_LE(std::abs(sizes[0] - sizes[1]), 1);

  frame.OnZoomIn();  // on the right view, the active one
  EXPECT_DOUBLE_EQ(Right().GetZoom(), 1.5);
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 3.0);
  QTest::mouseClick(Left().viewport(), Qt::LeftButton);
  EXPECT_EQ(frame.m_activeView, &Left());
  EXPECT_TRUE(frame.Pane(0)->m_active);
  EXPECT_FALSE(frame.Pane(1)->m_active);
  frame.OnZoomIn();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 3.5);
  EXPECT_DOUBLE_EQ(Right().GetZoom(), 1.75);
}

TEST_F(CoupledViewsTest, AZoomTheOtherViewCannotFollowIsRefused) {
  Couple(400, 300);
  frame.ActivateView(0);
  frame.OnZoomTo(kMark25);
  ASSERT_DOUBLE_EQ(Left().GetZoom(), 0.25);
  ASSERT_DOUBLE_EQ(Right().GetZoom(), 0.125);
  frame.OnZoomOut();  // the result would need 5 %
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 0.25);
  EXPECT_DOUBLE_EQ(Right().GetZoom(), 0.125);
  EXPECT_EQ(Mark(), kMark10);  // the mark follows the request
}

TEST_F(CoupledViewsTest, SwitchingSyncZoomOffRestoresBothZooms) {
  frame.m_scale = 2.0;
  Show(0, 400, 300);
  Show(1, 800, 600);
  Left().SetZoom(0.5);
  Right().SetZoom(0.75);
  frame.OnSyncZoom();
  frame.OnZoomIn();
  frame.OnZoomIn();
  ASSERT_NE(Right().GetZoom(), 0.75);
  frame.OnSyncZoom();
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 0.5);
  EXPECT_DOUBLE_EQ(Right().GetZoom(), 0.75);
  EXPECT_TRUE(frame.UIIsEnabled(ids::ZoomToFit));
}

TEST_F(CoupledViewsTest, DraggingTheResultsBarMovesTheSourceByHalf) {
  frame.m_scale = 2.0;
  Show(0, 2000, 1500);
  Show(1, 4000, 3000);
  frame.OnSyncScroll();  // both at 100 %
  Settle();
  QScrollBar* bar = Right().horizontalScrollBar();
  auto leftCentre = [this] { return Left().m_scrollOffset.x() + Left().viewport()->width() / 2; };
  bar->setSliderDown(true);
  bar->setSliderPosition(1000);
  const int before = leftCentre();
  bar->setSliderPosition(1100);
  bar->setSliderDown(false);
  EXPECT_EQ(Right().m_scrollOffset.x(), 1100);
  EXPECT_EQ(leftCentre() - before, 50);
}

TEST_F(CoupledViewsTest, DraggingWithTheLeftButtonPansBothViews) {
  Couple(1000, 800);
  QWidget* port = Right().viewport();
  const QPoint start = Right().m_scrollOffset;
  const QPoint leftStart = Left().m_scrollOffset;
  QTest::mousePress(port, Qt::LeftButton, {}, QPoint(300, 300));
  QTest::mouseMove(port, QPoint(200, 250));
  EXPECT_EQ(port->cursor().shape(), Qt::ClosedHandCursor);
  QTest::mouseRelease(port, Qt::LeftButton, {}, QPoint(200, 250));
  EXPECT_EQ(Right().m_scrollOffset, start + QPoint(100, 50));
  EXPECT_NE(port->cursor().shape(), Qt::ClosedHandCursor);
  // Both at the same on-screen size: the source moves by as many pixels, give
  // or take the rounding of the centres.
  EXPECT_NEAR(Left().m_scrollOffset.x(), leftStart.x() + 100, 1);
  EXPECT_NEAR(Left().m_scrollOffset.y(), leftStart.y() + 50, 1);
}

TEST_F(CoupledViewsTest, ScrollKeysStepBothViewsByTheirOwnSteps) {
  Couple(1000, 800);  // source shown 2000 x 1600, result 2000 x 1600
  frame.ActivateView(0);
  Left().SetZoom(1.0);  // the result follows at 50 %: 1000 x 800
  Left().SetScrollOffset(0, 0, true);
  Right().SetScrollOffset(0, 0, true);
  QTest::keyClick(&Left(), Qt::Key_PageDown);
  EXPECT_EQ(Left().m_scrollOffset.y(), 80);   // a tenth of 800
  EXPECT_EQ(Right().m_scrollOffset.y(), 80);  // a tenth of its own 800
  Right().SetZoom(1.0);                       // result 2000 x 1600, source 1000 x ...
  Left().SetScrollOffset(0, 0, true);
  Right().SetScrollOffset(0, 0, true);
  QTest::keyClick(&Left(), Qt::Key_Down);
  EXPECT_EQ(Left().m_scrollOffset.y(), 16);   // 1 % of the source at 200 %: 1600
  EXPECT_EQ(Right().m_scrollOffset.y(), 16);  // 1 % of the result at 100 %: 1600
}

TEST_F(FrameViewsTest, AcceleratorsReachEveryZoomCommand) {
  Show(0, 400, 300);
  QWidget* target = &Left();
  QTest::keyClick(target, '+');
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 1.5);
  QTest::keyClick(target, '-');
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 1.0);
  QTest::keyClick(target, '-');
  QTest::keyClick(target, '*');
  EXPECT_DOUBLE_EQ(Left().GetZoom(), 1.0);
  EXPECT_EQ(Mark(), ids::ZoomTo100);
  QTest::keyClick(target, '/');
  EXPECT_TRUE(Left().m_fitToWindow);
  QTest::keyClick(target, '/');
  EXPECT_FALSE(Left().m_fitToWindow);

  Show(1, 800, 600);
  QTest::keyClick(&Right(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(frame.m_syncScroll);
  QTest::keyClick(&Right(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(frame.m_syncZoom);
}

TEST_F(FrameViewsTest, TabCyclesPercentBoxRightViewLeftView) {
  Show(0, 400, 300);
  Show(1, 800, 600);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  frame.m_percentEdit->setFocus();
  Settle();
  // The box's edit hands its focus to the combo box that holds it.
  auto percentBoxHasFocus = [this] {
    QWidget* focus = QApplication::focusWidget();
    return focus == frame.m_percentEdit || focus == frame.m_percentCombo;
  };
  ASSERT_TRUE(percentBoxHasFocus());
  QTest::keyClick(frame.m_percentEdit, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), &Right());
  EXPECT_EQ(frame.m_activeView, &Right());
  QTest::keyClick(&Right(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), &Left());
  EXPECT_EQ(frame.m_activeView, &Left());
  QTest::keyClick(&Left(), Qt::Key_Tab);
  EXPECT_TRUE(percentBoxHasFocus());
}

TEST_F(FrameViewsTest, ActivatingAViewWithoutAnImageDoesNothing) {
  Show(0, 400, 300);
  frame.ActivateView(1);
  EXPECT_EQ(frame.m_activeView, &Left());
  QTest::mouseClick(Right().viewport(), Qt::LeftButton);
  EXPECT_EQ(frame.m_activeView, &Left());
  frame.OnSyncScroll();  // needs both pictures
  EXPECT_FALSE(frame.m_syncScroll);
}

}  // namespace
