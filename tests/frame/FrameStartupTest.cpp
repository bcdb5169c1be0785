#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"
#include "platform/CJob.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "views/CEnlargerView.h"

namespace {

QAction* ToolbarAction(CMainFrame& frame, int id) {
  for (QAction* action : frame.m_toolBar->actions())
    if (action->data().toInt() == id) return action;
  return nullptr;
}

QStringList Texts(const QMenu* menu) {
  QStringList texts;
  for (QAction* action : menu->actions())
    if (action->isVisible()) texts << (action->isSeparator() ? "-" : action->text());
  return texts;
}

class FrameStartupTest : public ::testing::Test {
 protected:
  FrameStartupTest() {
    frame.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&frame));
    frame.OnIdle();
  }
  CMainFrame frame;
};

}  // namespace

TEST_F(FrameStartupTest, TheStateIsAtItsDefaults) {
  EXPECT_EQ(frame.windowTitle(), "Magnova");
  EXPECT_EQ(frame.m_source, nullptr);
  EXPECT_EQ(frame.m_result, nullptr);
  EXPECT_EQ(frame.m_worker, nullptr);
  EXPECT_DOUBLE_EQ(frame.m_scale, 2.0);
  EXPECT_FALSE(frame.m_syncScroll);
  EXPECT_FALSE(frame.m_syncZoom);
  EXPECT_TRUE(frame.m_resultSaved);
  EXPECT_EQ(frame.m_activePane, 0);
  EXPECT_EQ(frame.m_timerId, 12321);
  EXPECT_EQ(frame.m_zoomCount, 15);
  EXPECT_EQ(frame.m_zoomTable.front(), 0.1);
  EXPECT_EQ(frame.m_zoomTable.back(), 20.0);
  EXPECT_TRUE(frame.m_percentText.isEmpty());
  EXPECT_EQ(frame.m_helpPath, QCoreApplication::applicationDirPath() + "/help.chm");
}

TEST_F(FrameStartupTest, ThePercentBoxIsEmptyDisabledAndHoldsFifteenChoices) {
  QComboBox* box = frame.m_percentCombo;
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(frame.m_percentEdit, box->lineEdit());
  EXPECT_FALSE(box->isEnabled());
  EXPECT_EQ(box->currentIndex(), -1);
  EXPECT_TRUE(box->currentText().isEmpty());
  EXPECT_EQ(box->width(), 64);
  EXPECT_EQ(box->font().pointSize(), 8);
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  EXPECT_EQ(items, (QStringList{"25%", "50%", "75%", "200%", "300%", "400%", "500%", "600%", "700%",
                                "800%", "900%", "1000%", "1500%", "2000%", "Other..."}));
  // Every percent up to four digits shows whole: with the cursor at its end,
  // the first character is still at the left edge, not scrolled away.
  box->setEnabled(true);
  QLineEdit* edit = frame.m_percentEdit;
  for (const QString& text : {QStringLiteral("1500%"), QStringLiteral("2000%"),
                              QStringLiteral("1888%"), QStringLiteral("200%")}) {
    edit->setText(text);
    edit->end(false);
    const int middle = edit->height() / 2;
    EXPECT_EQ(edit->cursorPositionAt(QPoint(0, middle)), 0) << text.toStdString();
    EXPECT_LE(edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().right(), edit->width())
        << text.toStdString();
  }
  // The open list shows each entry at full length.
  box->showPopup();
  QAbstractItemView* list = box->view();
  QTRY_VERIFY_WITH_TIMEOUT(list->isVisible(), 2000);
  const QFontMetrics metrics(list->font());
  for (int i = 0; i < box->count(); ++i) {
    const QRect cell = list->visualRect(box->model()->index(i, 0));
    EXPECT_GE(std::min(cell.right(), list->viewport()->width()) - cell.left(),
              metrics.horizontalAdvance(box->itemText(i)))
        << box->itemText(i).toStdString();
    // The whole list is open: "Other..." is reached without scrolling.
    EXPECT_TRUE(list->viewport()->rect().contains(cell)) << box->itemText(i).toStdString();
  }
  box->hidePopup();
  edit->clear();
  box->setEnabled(false);
  // It sits in the toolbar just before the Resize button.
  const QList<QAction*> actions = frame.m_toolBar->actions();
  const qsizetype resize = actions.indexOf(ToolbarAction(frame, ids::Resize));
  ASSERT_GT(resize, 0);
  EXPECT_EQ(frame.m_toolBar->widgetForAction(actions[resize - 1]), box);
}

TEST_F(FrameStartupTest, CommandsWithoutAnImageAreDisabledAndTheTogglesChecked) {
  for (int id : {ids::SyncScroll, ids::SyncZoom, ids::FileSaveResizedAs, ids::Resize, ids::ZoomIn,
                 ids::ZoomOut, ids::ZoomToFit, ids::ZoomTo100}) {
    EXPECT_FALSE(frame.UIIsEnabled(id)) << id;
    QAction* button = ToolbarAction(frame, id);
    ASSERT_NE(button, nullptr) << id;
    EXPECT_FALSE(button->isEnabled()) << id;
    EXPECT_FALSE(button->isChecked()) << id;
  }
  for (int id : {ids::FileOpen, ids::HelpContents})
    EXPECT_TRUE(ToolbarAction(frame, id)->isEnabled());
  EXPECT_TRUE(frame.UIIsChecked(ids::ViewToolBar));
  EXPECT_TRUE(frame.UIIsChecked(ids::ViewStatusBar));

  // Menus take the same states as they open.
  frame.UIUpdateMenu();
  for (QAction* action : frame.m_viewMenu->actions()) {
    if (action->text() == "Sync Scroll\tCtrl+C" || action->text() == "Zoom In\t+") {
      EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    }
    if (action->text() == "&Toolbar" || action->text() == "&Status Bar") {
      EXPECT_TRUE(action->isChecked()) << action->text().toStdString();
    }
  }
  // The "Zoom To ..." submenu is gray as a whole, and nothing in it is marked.
  ASSERT_EQ(frame.m_viewMenu->actions().at(6)->menu(), frame.m_zoomToMenu);
  EXPECT_FALSE(frame.m_zoomToMenu->menuAction()->isEnabled());
  EXPECT_EQ(frame.m_zoomToGroup->checkedAction(), nullptr);
  // Its 100% item is governed on the toolbar only.
  for (QAction* action : frame.m_zoomToMenu->actions()) {
    if (action->text() == "100%\t*") {
      EXPECT_TRUE(action->isEnabled());
    }
  }
}

TEST_F(FrameStartupTest, TheMenusReadAsDesigned) {
  const QList<QAction*> bar = frame.menuBar()->actions();
  ASSERT_EQ(bar.size(), 4);
  // No recent pictures yet: only "Clear Recent" stands where they go.
  EXPECT_EQ(Texts(bar[0]->menu()),
            (QStringList{"&Open...\tCtrl+O", "&Save Resized As...\tCtrl+S", "&Resize\tCtrl+R", "-",
                         "Clear Recent", "-", "E&xit"}));
  EXPECT_EQ(Texts(bar[1]->menu()), (QStringList{"&Paste\tCtrl+V", "Copy &Result\tCtrl+Shift+C"}));
  EXPECT_EQ(Texts(bar[2]->menu()),
            (QStringList{"Sync Scroll\tCtrl+C", "Sync Zoom\tCtrl+Z", "-", "Zoom In\t+",
                         "Zoom Out\t-", "Zoom To Fit\t/", "Zoom To ...", "-", "Compare in One Pane",
                         "-", "&Toolbar", "&Status Bar"}));
  EXPECT_EQ(Texts(frame.m_zoomToMenu),
            (QStringList{"10%", "25%", "50%", "75%", "100%\t*", "150%", "200%", "250%", "300%",
                         "350%", "400%", "450%", "500%", "1000%", "2000%", "-", "Other..."}));
  EXPECT_EQ(Texts(bar[3]->menu()), (QStringList{"Contents\tF1", "-", "Getting Started",
                                                "Technical Support", "-", "&About..."}));
  // No item carries a real shortcut: keys go through the accelerator table.
  for (QAction* action : frame.findChildren<QAction*>())
    EXPECT_TRUE(action->shortcut().isEmpty()) << action->text().toStdString();
}

TEST_F(FrameStartupTest, TheToolbarHasTenButtonsInFiveGroupsWithTheirTips) {
  QList<int> order;
  for (QAction* action : frame.m_toolBar->actions())
    order << (action->isSeparator() ? 0 : action->data().toInt());
  order.removeAll(0);  // separators and the percent box's place
  EXPECT_EQ(order, (QList<int>{ids::FileOpen, ids::FileSaveResizedAs, ids::ZoomOut, ids::ZoomIn,
                               ids::ZoomToFit, ids::ZoomTo100, ids::Resize, ids::SyncScroll,
                               ids::SyncZoom, ids::HelpContents}));
  EXPECT_EQ(ToolbarAction(frame, ids::SyncScroll)->toolTip(), " Toggle synchronous scroll mode");
  // The prompts belong to the menu items: hovering a button leaves the status bar alone.
  for (int id : {ids::Resize, ids::FileOpen, ids::HelpContents}) {
    EXPECT_EQ(ToolbarAction(frame, id)->toolTip(), res::CommandTooltip(id)) << id;
    frame.statusBar()->clearMessage();
    ToolbarAction(frame, id)->hover();
    EXPECT_TRUE(frame.statusBar()->currentMessage().isEmpty()) << id;
  }
  QMenu* fileMenu = frame.menuBar()->actions().at(0)->menu();
  frame.menuBar()->setActiveAction(frame.menuBar()->actions().at(0));
  QTRY_VERIFY_WITH_TIMEOUT(fileMenu->isVisible(), 2000);
  fileMenu->setActiveAction(fileMenu->actions().at(0));
  EXPECT_EQ(frame.statusBar()->currentMessage(), "Open an image");
  fileMenu->hide();
  int separators = 0;
  for (QAction* action : frame.m_toolBar->actions()) separators += action->isSeparator();
  EXPECT_EQ(separators, 4);
}

TEST_F(FrameStartupTest, TheStatusBarSaysReadyAndTheSplitterIsCentred) {
  EXPECT_TRUE(frame.statusBar()->isVisible());
  EXPECT_EQ(frame.m_readyLabel->text(), "Ready");
  EXPECT_TRUE(frame.m_readyLabel->isVisible());
  EXPECT_EQ(frame.centralWidget(), frame.m_splitter);
  const QList<int> sizes = frame.m_splitter->sizes();
  ASSERT_EQ(sizes.size(), 2);
  EXPECT_GT(sizes[0], 0);
  EXPECT_LE(std::abs(sizes[0] - sizes[1]), 1);
  // The menu bar and the toolbar make two rows.
  EXPECT_LE(frame.menuBar()->geometry().bottom(), frame.m_toolBar->geometry().top());
}

TEST_F(FrameStartupTest, BothPanesAreInactiveAndHostTheirViews) {
  EXPECT_FALSE(frame.m_leftPane->m_active);
  EXPECT_FALSE(frame.m_rightPane->m_active);
  EXPECT_EQ(frame.m_leftPane->CaptionText(), "Original image - Zoom 100%");
  EXPECT_EQ(frame.m_rightPane->CaptionText(), "Enlarged image - Zoom 100%");
  EXPECT_EQ(frame.m_leftPane->Client(), frame.m_leftView);
  EXPECT_EQ(frame.m_rightPane->Client(), frame.m_rightView);
  EXPECT_EQ(frame.m_leftView->m_index, 0);
  EXPECT_EQ(frame.m_rightView->m_index, 1);
  EXPECT_EQ(frame.m_leftView->m_frame, &frame);
  EXPECT_EQ(frame.m_leftPane->m_frame, &frame);
  EXPECT_EQ(frame.m_leftView->geometry(),
            QRect(0, 20, frame.m_leftPane->width(), frame.m_leftPane->height() - 20));
}

TEST_F(FrameStartupTest, TheSplitterKeepsItsProportionWhenTheFrameIsResized) {
  frame.resize(800, 500);
  QTRY_COMPARE_WITH_TIMEOUT(frame.width(), 800, 2000);
  const QList<int> before = frame.m_splitter->sizes();
  frame.m_splitter->setSizes({before[0] / 2, before[1] + before[0] - before[0] / 2});
  const QList<int> moved = frame.m_splitter->sizes();
  const double share = double(moved[0]) / (moved[0] + moved[1]);
  frame.resize(1000, 500);
  QTRY_COMPARE_WITH_TIMEOUT(frame.width(), 1000, 2000);
  const QList<int> after = frame.m_splitter->sizes();
  EXPECT_NEAR(double(after[0]) / (after[0] + after[1]), share, 0.01);
}
