#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"
#include "views/CEnlargerView.h"

namespace {

class PaneTest : public ::testing::Test {
 protected:
  PaneTest() {
    frame.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&frame));
  }
  // A pixel of the caption strip, well to the right of its text.
  QColor CaptionPixel(CMyPaneContainer* pane, int x) {
    return pane->grab().toImage().pixelColor(x, pane->CaptionHeight() / 2);
  }
  CMainFrame frame;
};

}  // namespace

TEST_F(PaneTest, TheRightCaptionShowsTheResizePercentRounded) {
  CMyPaneContainer* right = frame.m_rightPane;
  EXPECT_EQ(right->CaptionText(), "Enlarged image - Zoom 100%");
  frame.m_result = FreeImage_Allocate(4, 4, 24);
  frame.m_rightView->SetImage(frame.m_result);
  for (auto [scale, shown] : {std::pair{4.0, "400"}, {0.29, "29"}, {0.57, "57"}, {1.13, "113"}}) {
    frame.m_scale = scale;
    EXPECT_EQ(right->CaptionText(), QString("Enlarged image  (%1%) - Zoom 100%").arg(shown));
  }
  // The left caption never carries the percent.
  EXPECT_EQ(frame.m_leftPane->CaptionText(), "Original image - Zoom 100%");
}

TEST_F(PaneTest, TheCaptionShowsItsOwnViewsZoom) {
  frame.m_leftView->m_zoom = 0.25;
  frame.m_rightView->m_zoom = 20.0;
  EXPECT_EQ(frame.m_leftPane->CaptionText(), "Original image - Zoom 25%");
  EXPECT_EQ(frame.m_rightPane->CaptionText(), "Enlarged image - Zoom 2000%");
  frame.m_leftView->m_zoom = 0.375;
  EXPECT_EQ(frame.m_leftPane->CaptionText(), "Original image - Zoom 37%");
}

TEST_F(PaneTest, ActiveAndInactiveCaptionsTakeTheirColoursFromThePaletteAtEachDrawing) {
  CMyPaneContainer* pane = frame.m_leftPane;
  const int x = pane->width() - 12;
  pane->m_active = false;
  const QColor inactive = CaptionPixel(pane, x);
  pane->m_active = true;
  const QColor active = CaptionPixel(pane, x);
  EXPECT_NE(active, inactive);
  EXPECT_EQ(pane->Colours().start, pane->palette().color(QPalette::Highlight));

  QPalette palette = pane->palette();
  palette.setColor(QPalette::Highlight, QColor(200, 0, 0));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  pane->setPalette(palette);
  EXPECT_EQ(pane->Colours().start, QColor(200, 0, 0));
  const QColor start = CaptionPixel(pane, 4);
  EXPECT_GT(start.red(), 150);
  EXPECT_LT(start.green(), 60);
}

TEST_F(PaneTest, TheViewLiesBelowTheCaptionAndTheTitleIsCut) {
  CMyPaneContainer* pane = frame.m_rightPane;
  pane->SetCaptionHeight(30);
  EXPECT_EQ(frame.m_rightView->geometry(), QRect(0, 30, pane->width(), pane->height() - 30));
  pane->SetTitle(QString(100, 'x'));
  EXPECT_EQ(pane->Title().size(), 79);
}

TEST_F(PaneTest, AClickOnTheInactiveCaptionActivatesThatPane) {
  frame.m_source = FreeImage_Allocate(32, 32, 24);
  frame.m_result = FreeImage_Allocate(64, 64, 24);
  frame.m_leftView->SetImage(frame.m_source);
  frame.m_rightView->SetImage(frame.m_result);
  frame.activateWindow();
  frame.ActivateView(1);
  ASSERT_TRUE(frame.m_rightPane->m_active);
  ASSERT_TRUE(frame.m_rightView->hasFocus());

  // The active caption ignores the click.
  QTest::mouseClick(frame.m_rightPane, Qt::LeftButton, {}, QPoint(30, 10));
  EXPECT_TRUE(frame.m_rightPane->m_active);
  EXPECT_EQ(frame.m_activePane, 1);

  // Only the left button counts.
  QTest::mouseClick(frame.m_leftPane, Qt::RightButton, {}, QPoint(30, 10));
  EXPECT_EQ(frame.m_activePane, 1);

  QTest::mouseClick(frame.m_leftPane, Qt::LeftButton, {}, QPoint(30, 10));
  EXPECT_TRUE(frame.m_leftPane->m_active);
  EXPECT_FALSE(frame.m_rightPane->m_active);
  EXPECT_EQ(frame.m_activePane, 0);
  EXPECT_EQ(frame.m_activeView, frame.m_leftView);

  QTest::mouseClick(frame.m_rightPane, Qt::LeftButton, {}, QPoint(30, 10));
  EXPECT_EQ(frame.m_activePane, 1);
}

TEST_F(PaneTest, AClickOnAnInactiveCaptionActivatesThatPaneWhereverTheFocusIs) {
  frame.m_source = FreeImage_Allocate(32, 32, 24);
  frame.m_result = FreeImage_Allocate(64, 64, 24);
  frame.m_leftView->SetImage(frame.m_source);
  frame.m_rightView->SetImage(frame.m_result);
  frame.activateWindow();
  frame.m_percentCombo->setEnabled(true);
  // For each pane clicked: the focus first sits in the percent box (neither
  // pane), then in the other pane.
  for (int clicked : {0, 1}) {
    for (bool focusInOtherPane : {false, true}) {
      frame.ActivateView(1 - clicked);
      if (!focusInOtherPane) frame.m_percentEdit->setFocus();
      ASSERT_EQ(frame.m_activePane, 1 - clicked);
      QTest::mouseClick(frame.Pane(clicked), Qt::LeftButton, {}, QPoint(30, 10));
      EXPECT_EQ(frame.m_activePane, clicked) << clicked << focusInOtherPane;
      EXPECT_TRUE(frame.Pane(clicked)->m_active);
      EXPECT_FALSE(frame.Pane(1 - clicked)->m_active);
    }
  }
}
