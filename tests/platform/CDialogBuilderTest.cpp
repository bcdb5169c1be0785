#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "platform/CDialogBuilder.h"
#include "platform/CUpDown.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

using namespace platform;

TEST(DialogBuilderTest, DialogUnitsComeFromTheFontsAverageWidthAndHeight) {
  QFont font = QApplication::font();
  font.setPixelSize(13);
  const QFontMetrics metrics(font);
  const int width =
      metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int baseX = (width / 26 + 1) / 2;
  const int baseY = metrics.height();
  const QRect r = DialogUnitsToPixels(font, 4, 8, 100, 80);
  EXPECT_EQ(r.x(), baseX);
  EXPECT_EQ(r.y(), baseY);
  EXPECT_EQ(r.width(), (100 * baseX * 2 + 4) / 8);
  EXPECT_EQ(r.height(), baseY * 10);
  // A bigger font gives a bigger dialog.
  font.setPixelSize(26);
  EXPECT_GT(DialogUnitsToPixels(font, 0, 0, 100, 80).width(), r.width());
}

TEST(DialogBuilderTest, ControlsArePlacedByTheirTemplate) {
  QDialog dialog;
  const res::DialogTemplate& tmpl = res::Dialog(ids::DlgResize);
  const QHash<int, QWidget*> controls = BuildDialog(dialog, tmpl);
  EXPECT_EQ(dialog.windowTitle(), "Resize parameters");
  EXPECT_EQ(dialog.font(), QApplication::font()) << "the classic dialog face maps to the desktop's";
  EXPECT_EQ(dialog.size(), DialogUnitsToPixels(dialog.font(), 0, 0, 223, 92).size());
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());

  // Controls with an id are returned; ten without one are created all the same.
  EXPECT_EQ(controls.size(), 6);
  EXPECT_EQ(dialog.findChildren<QLabel*>().size(), 6);
  auto* percent = qobject_cast<QLineEdit*>(controls.value(1002));
  ASSERT_NE(percent, nullptr);
  EXPECT_EQ(percent->geometry(), DialogUnitsToPixels(dialog.font(), 15, 36, 32, 14));
  auto* ok = qobject_cast<QPushButton*>(controls.value(ids::IdOk));
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->text(), "OK");
  auto* cancel = qobject_cast<QPushButton*>(controls.value(ids::IdCancel));
  ASSERT_NE(cancel, nullptr);
  EXPECT_FALSE(cancel->isDefault());
  EXPECT_NE(dynamic_cast<CUpDown*>(controls.value(1006)), nullptr);

  // The group box frames the edits without covering them.
  auto* group = dialog.findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), "Resize to");
  dialog.show();
  const QPoint insideEdit = controls.value(1000)->geometry().center();
  EXPECT_EQ(dialog.childAt(insideEdit), controls.value(1000));
}

TEST(DialogBuilderTest, TheTabChainFollowsTheTemplateOrder) {
  QDialog dialog;
  const QHash<int, QWidget*> controls = BuildDialog(dialog, res::Dialog(ids::DlgProgress));
  ASSERT_TRUE(qobject_cast<QProgressBar*>(controls.value(1003)));
  ASSERT_TRUE(qobject_cast<QProgressBar*>(controls.value(1004)));
  EXPECT_EQ(controls.value(1003)->focusPolicy(), Qt::NoFocus);
  QList<QWidget*> chain;
  QWidget* w = controls.value(1002);
  do {
    if (w->focusPolicy() & Qt::TabFocus) chain << w;
    w = w->nextInFocusChain();
  } while (w != controls.value(1002));
  EXPECT_EQ(chain,
            (QList<QWidget*>{controls.value(1002), controls.value(1005), controls.value(1007)}));
  EXPECT_EQ(static_cast<QPushButton*>(controls.value(1007))->text(), "Resume");
  EXPECT_TRUE(static_cast<QPushButton*>(controls.value(1005))->isDefault());
}

TEST(DialogBuilderTest, OnlyTemplatesWithACloseBoxGetOne) {
  for (int id : {ids::DlgWait, ids::DlgProgress}) {
    QDialog dialog;
    BuildDialog(dialog, res::Dialog(id));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint) << id;
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowTitleHint) << id;
  }
  for (int id : {ids::DlgAbout, ids::DlgZoomTo, ids::DlgResize}) {
    QDialog dialog;
    BuildDialog(dialog, res::Dialog(id));
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint) << id;
  }
}

TEST(DialogBuilderTest, TheIconControlShowsItsIconGroup) {
  QDialog dialog;
  BuildDialog(dialog, res::Dialog(ids::DlgAbout));
  QLabel* icon = nullptr;
  for (QLabel* label : dialog.findChildren<QLabel*>())
    if (!label->pixmap().isNull()) icon = label;
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(icon->pos(), DialogUnitsToPixels(dialog.font(), 61, 13, 0, 0).topLeft());
}

TEST(DialogBuilderTest, TheArrowsReportStepsFromClicksAndFromTheBuddysKeys) {
  QDialog dialog;
  const QHash<int, QWidget*> controls = BuildDialog(dialog, res::Dialog(ids::DlgZoomTo));
  auto* arrows = dynamic_cast<CUpDown*>(controls.value(1006));
  auto* edit = qobject_cast<QLineEdit*>(controls.value(1000));
  ASSERT_TRUE(arrows && edit);
  arrows->SetBuddy(edit);
  QSignalSpy steps(arrows, &CUpDown::stepped);
  dialog.show();
  arrows->UpButton()->click();
  arrows->DownButton()->click();
  edit->setText("100");
  QTest::keyClick(edit, Qt::Key_Up);
  QTest::keyClick(edit, Qt::Key_Down);
  ASSERT_EQ(steps.size(), 4);
  EXPECT_EQ(steps[0][0].toInt(), 1);
  EXPECT_EQ(steps[1][0].toInt(), -1);
  EXPECT_EQ(steps[2][0].toInt(), 1);
  EXPECT_EQ(steps[3][0].toInt(), -1);
  EXPECT_EQ(edit->text(), "100") << "the arrows write nothing into their buddy";
}

TEST(DialogBuilderTest, ADialogIsCentredOverItsOwnerOrTheScreen) {
  QWidget owner;
  owner.setGeometry(100, 120, 600, 400);
  owner.show();
  QDialog dialog(&owner);
  BuildDialog(dialog, res::Dialog(ids::DlgWait));
  CentreOverOwner(dialog);
  EXPECT_LE((dialog.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(),
            2);

  QDialog lone;
  BuildDialog(lone, res::Dialog(ids::DlgWait));
  CentreOverOwner(lone);
  const QRect work = lone.screen()->availableGeometry();
  EXPECT_LE((lone.frameGeometry().center() - work.center()).manhattanLength(), 2);

  // An owner partly off the screen does not push the dialog off it.
  owner.move(work.right() - 50, work.bottom() - 50);
  CentreOverOwner(dialog);
  EXPECT_TRUE(work.contains(dialog.frameGeometry()));
}
