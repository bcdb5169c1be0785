#include <gtest/gtest.h>

#include <QImage>
#include <QSet>

#include "res/CommandIds.h"
#include "res/Resources.h"

namespace {

struct KeyCase {
  const char* name;
  int key;
  Qt::KeyboardModifiers modifiers;
  const char* text;
  int command;
};

class AcceleratorTest : public ::testing::TestWithParam<KeyCase> {};

}  // namespace

TEST_P(AcceleratorTest, TranslatesToItsCommand) {
  const KeyCase& c = GetParam();
  EXPECT_EQ(res::TranslateAccelerator(c.key, c.modifiers, QString::fromLatin1(c.text)), c.command);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AcceleratorTest,
    ::testing::Values(
        KeyCase{"CtrlR", Qt::Key_R, Qt::ControlModifier, "\x12", ids::Resize},
        KeyCase{"CtrlO", Qt::Key_O, Qt::ControlModifier, "\x0f", ids::FileOpen},
        KeyCase{"CtrlS", Qt::Key_S, Qt::ControlModifier, "\x13", ids::FileSaveResizedAs},
        KeyCase{"CtrlC", Qt::Key_C, Qt::ControlModifier, "\x03", ids::SyncScroll},
        KeyCase{"CtrlZ", Qt::Key_Z, Qt::ControlModifier, "\x1a", ids::SyncZoom},
        KeyCase{"CtrlV", Qt::Key_V, Qt::ControlModifier, "\x16", ids::EditPaste},
        KeyCase{"CtrlShiftC", Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "\x03",
                ids::EditCopyResult},
        KeyCase{"CtrlShiftV", Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier, "", 0},
        KeyCase{"CtrlAltC", Qt::Key_C, Qt::ControlModifier | Qt::AltModifier, "", 0},
        KeyCase{"CtrlShiftR", Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier, "", 0},
        KeyCase{"CtrlAltR", Qt::Key_R, Qt::ControlModifier | Qt::AltModifier, "", 0},
        KeyCase{"PlainR", Qt::Key_R, Qt::NoModifier, "r", 0},
        KeyCase{"PlusShifted", Qt::Key_Plus, Qt::ShiftModifier, "+", ids::ZoomIn},
        KeyCase{"PlusKeypad", Qt::Key_Plus, Qt::KeypadModifier, "+", ids::ZoomIn},
        KeyCase{"MinusMain", Qt::Key_Minus, Qt::NoModifier, "-", ids::ZoomOut},
        KeyCase{"MinusKeypad", Qt::Key_Minus, Qt::KeypadModifier, "-", ids::ZoomOut},
        KeyCase{"SlashKeypad", Qt::Key_Slash, Qt::KeypadModifier, "/", ids::ZoomToFit},
        KeyCase{"StarShifted", Qt::Key_Asterisk, Qt::ShiftModifier, "*", ids::ZoomTo100},
        KeyCase{"CtrlPlus", Qt::Key_Plus, Qt::ControlModifier, "", 0},
        KeyCase{"AltMinus", Qt::Key_Minus, Qt::AltModifier, "-", 0},
        KeyCase{"EqualsKey", Qt::Key_Equal, Qt::NoModifier, "=", 0},
        KeyCase{"F1", Qt::Key_F1, Qt::NoModifier, "", 0}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST(ResourcesTest, PromptAndTooltipAreTheTwoLinesOfACommandsString) {
  EXPECT_EQ(res::CommandPrompt(ids::SyncScroll), "Switch on or off synchronous scroll mode");
  EXPECT_EQ(res::CommandTooltip(ids::SyncScroll), " Toggle synchronous scroll mode");
  EXPECT_EQ(res::CommandPrompt(ids::ZoomToOther), "Select other zoom");
  EXPECT_TRUE(res::CommandTooltip(ids::ZoomToOther).isEmpty());
  EXPECT_TRUE(res::LoadString(4242).isEmpty()) << "a missing string reads as empty";
  EXPECT_EQ(res::LoadString(ids::StrReady), "Ready");
  // Every toolbar button has both lines.
  for (const res::ToolbarButton& button : res::MainToolbar()) {
    if (button.id == 0) continue;
    EXPECT_FALSE(res::CommandPrompt(button.id).isEmpty()) << button.id;
    EXPECT_FALSE(res::CommandTooltip(button.id).isEmpty()) << button.id;
  }
}

TEST(ResourcesTest, TheToolbarHasTenDistinctPicturesOfSixteenByFifteen) {
  QSet<QByteArray> pictures;
  int buttons = 0;
  for (const res::ToolbarButton& button : res::MainToolbar()) {
    if (button.id == 0) continue;
    ++buttons;
    const QIcon icon = res::ToolbarImage(button.id);
    ASSERT_FALSE(icon.isNull()) << button.id;
    const QImage image =
        icon.pixmap(QSize(16, 15)).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(image.size(), QSize(16, 15));
    int painted = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) painted += qAlpha(image.pixel(x, y)) > 0;
    EXPECT_GT(painted, 20) << "picture " << button.id << " is nearly empty";
    pictures.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()),
                               static_cast<qsizetype>(image.sizeInBytes())));
  }
  EXPECT_EQ(buttons, 10);
  EXPECT_EQ(pictures.size(), 10);
  EXPECT_TRUE(res::ToolbarImage(ids::FileExit).isNull());
}

TEST(ResourcesTest, BothIconGroupsExistInTheUsualSizes) {
  for (int id : {ids::IconApp, ids::IconResize}) {
    const QIcon icon = res::AppIcon(id);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes().size(), 3);
  }
  EXPECT_NE(res::AppIcon(ids::IconApp).pixmap(32).toImage(),
            res::AppIcon(ids::IconResize).pixmap(32).toImage());
  EXPECT_TRUE(res::AppIcon(999).isNull());
}

TEST(ResourcesTest, EveryDialogTemplateIsThere) {
  for (int id : {ids::DlgAbout, ids::DlgZoomTo, ids::DlgWait, ids::DlgResize, ids::DlgProgress}) {
    const res::DialogTemplate& tmpl = res::Dialog(id);
    EXPECT_EQ(tmpl.id, id);
    EXPECT_FALSE(tmpl.controls.empty());
    // Every control lies inside its dialog.
    for (const res::DialogControl& c : tmpl.controls) {
      EXPECT_LE(c.x + c.cx, tmpl.cx) << id << " " << c.text.toStdString();
      EXPECT_LE(c.y + c.cy, tmpl.cy) << id << " " << c.text.toStdString();
    }
  }
  EXPECT_TRUE(res::Dialog(4242).controls.empty());
}
