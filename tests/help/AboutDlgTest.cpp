// The about box: its product line, and how it ends.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/CMainFrame.h"
#include "frame/CAboutDlg.h"

namespace {

QStringList LabelTexts(const QWidget& dialog) {
  QStringList texts;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
  return texts;
}

QPushButton* OkButton(const QWidget& dialog) {
  for (QPushButton* button : dialog.findChildren<QPushButton*>())
    if (button->text() == QStringLiteral("OK")) return button;
  return nullptr;
}

TEST(AboutDlg, ShowsTheProductAndVersionFromTheStringTable) {
  CAboutDlg dlg(nullptr);
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About"));
  EXPECT_TRUE(LabelTexts(dlg).contains(QStringLiteral("Magnova 1.00")))
      << LabelTexts(dlg).join(QLatin1Char('|')).toStdString();
  ASSERT_TRUE(OkButton(dlg));
  EXPECT_TRUE(OkButton(dlg)->isDefault());
}

TEST(AboutDlg, EndsWithTheIdOfTheCommandThatClosedIt) {
  {
    CAboutDlg dlg(nullptr);
    ASSERT_TRUE(OkButton(dlg));
    QTimer::singleShot(0, &dlg, [&dlg] { OkButton(dlg)->click(); });
    EXPECT_EQ(dlg.exec(), 1);
  }
  {
    CAboutDlg dlg(nullptr);
    QTimer::singleShot(0, &dlg, [&dlg] { QTest::keyClick(&dlg, Qt::Key_Escape); });
    EXPECT_EQ(dlg.exec(), 2);
  }
  {
    CAboutDlg dlg(nullptr);
    QTimer::singleShot(0, &dlg, [&dlg] { dlg.close(); });
    EXPECT_EQ(dlg.exec(), 2);
  }
}

TEST(AboutDlg, TheAboutCommandShowsItModallyOverTheFrame) {
  CMainFrame frame;
  frame.show();
  QStringList seen;
  QWidget* parent = nullptr;
  // Closes the box once it is up; gives up after a bounded number of tries.
  int tries = 0;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
    if (dlg) {
      seen = LabelTexts(*dlg);
      parent = dlg->parentWidget();
      dlg->accept();
    }
    if (dlg || ++tries > 300) poll.stop();
  });
  poll.start();
  frame.OnAbout();
  EXPECT_TRUE(seen.contains(QStringLiteral("Magnova 1.00")));
  EXPECT_EQ(parent, &frame);
}

}  // namespace
