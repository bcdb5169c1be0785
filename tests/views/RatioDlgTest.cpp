// The zoom-to dialog's instant corrections, its arrows and its OK check.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "platform/CUpDown.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "views/CRatioDlg.h"

namespace {

class RatioDlgTest : public testing::Test {
 protected:
  RatioDlgTest()
      : responder([this](const platform::PromptRecord& record) {
          prompts.push_back(record);
          return platform::PromptAnswer{ids::IdOk, std::nullopt};
        }) {}

  void Open(int value) {
    dialog.m_value = value;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    ASSERT_NE(dialog.Edit(), nullptr);
    ASSERT_NE(dialog.Spin(), nullptr);
  }
  QString Text() const { return dialog.Edit()->text(); }
  bool AllSelected() const { return dialog.Edit()->selectedText() == Text(); }
  void Retype(const QString& text) {
    dialog.Edit()->selectAll();
    QTest::keyClicks(dialog.Edit(), text);
  }

  std::vector<platform::PromptRecord> prompts;
  platform::ScopedPromptResponder responder;
  CRatioDlg dialog;
};

TEST_F(RatioDlgTest, OpensWithTheValueFullySelected) {
  Open(37);
  EXPECT_EQ(Text(), "37");
  EXPECT_TRUE(AllSelected());
  EXPECT_EQ(dialog.windowTitle(), "Zoom to");
}

TEST_F(RatioDlgTest, TextThatIsNoNumberBecomesHundred) {
  Open(250);
  dialog.Edit()->selectAll();
  QTest::keyClick(dialog.Edit(), Qt::Key_Delete);
  EXPECT_EQ(Text(), "100");
  EXPECT_TRUE(AllSelected());
  // A minus sign first resets the box, so the next digit replaces it.
  Retype("-");
  EXPECT_EQ(Text(), "100");
  QTest::keyClick(dialog.Edit(), '5');
  EXPECT_EQ(Text(), "5");
  Retype("12x");
  EXPECT_EQ(Text(), "100");
  dialog.Edit()->setText("99999999999");  // beyond 32 bits
  EXPECT_EQ(Text(), "100");
  EXPECT_EQ(dialog.m_value, 100);
}

TEST_F(RatioDlgTest, NumbersOutsideTheRangeAreCorrectedAtOnce) {
  Open(100);
  Retype("250");
  EXPECT_EQ(Text(), "250");
  QTest::keyClick(dialog.Edit(), '0');
  EXPECT_EQ(Text(), "2000");
  EXPECT_TRUE(AllSelected());
  dialog.Edit()->selectAll();
  dialog.Edit()->insert("-3");  // as pasted
  EXPECT_EQ(Text(), "1");
  Retype("0");
  EXPECT_EQ(Text(), "1");
}

TEST_F(RatioDlgTest, ArrowsStepByOneWithinTenToTwoThousand) {
  Open(2000);
  dialog.Spin()->UpButton()->click();
  EXPECT_EQ(Text(), "2000");
  dialog.Spin()->DownButton()->click();
  EXPECT_EQ(Text(), "1999");
  Retype("10");
  QTest::keyClick(dialog.Edit(), Qt::Key_Down);
  EXPECT_EQ(Text(), "10");
  Retype("5");
  QTest::keyClick(dialog.Edit(), Qt::Key_Up);
  EXPECT_EQ(Text(), "10");
  QTest::keyClick(dialog.Edit(), Qt::Key_Up);
  EXPECT_EQ(Text(), "11");
}

TEST_F(RatioDlgTest, OkWarnsBelowTenAndKeepsTheDialogOpen) {
  Open(100);
  Retype("5");
  dialog.accept();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, "Value must be from 10 to 2000");
  EXPECT_EQ(prompts[0].caption, "Warning");
  EXPECT_EQ(prompts[0].icon, platform::MbIcon::Information);
  EXPECT_EQ(prompts[0].buttons, platform::MbButtons::Ok);
  EXPECT_EQ(prompts[0].owner, &dialog);
  EXPECT_EQ(Text(), "10");
  EXPECT_TRUE(dialog.isVisible());
  dialog.accept();
  EXPECT_EQ(prompts.size(), 1u);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.m_value, 10);
}

TEST_F(RatioDlgTest, EnterAcceptsAndEscapeCancels) {
  Open(100);
  Retype("350");
  QTest::keyClick(dialog.Edit(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.m_value, 350);

  CRatioDlg second;
  second.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
  QTest::keyClick(&second, Qt::Key_Escape);
  EXPECT_EQ(second.result(), QDialog::Rejected);
  EXPECT_FALSE(second.isVisible());
}

}  // namespace
