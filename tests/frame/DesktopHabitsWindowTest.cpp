// The real program on a virtual X display, driven as a user drives it: a
// picture opened in one run is offered again in the File menu of the next,
// a picture copied by another program (xclip) opens with Ctrl+V at its size,
// and Compare in One Pane shows the original left of its divider and the
// result right of it, the divider dragged with the mouse and moved with an
// arrow key.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <optional>
#include <string>

#include "VirtualDisplay.h"
#include "XTools.h"

namespace {

// The picture opened from a file: one colour, 120 x 90.
constexpr QRgb kRecentColour = 0xff1478dc;
constexpr int kRecentWidth = 120, kRecentHeight = 90;

// The picture pasted: 4 x 3 blocks of 40 pixels, each of its own colour.
constexpr int kBlock = 40, kColumns = 4, kRows = 3;
QRgb BlockColour(int column, int row) {
  return qRgb(250 - 60 * column, 10 + 70 * row, 10 + 60 * column);
}

QImage BlocksPicture() {
  QImage picture(kBlock * kColumns, kBlock * kRows, QImage::Format_RGB32);
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      picture.setPixel(x, y, BlockColour(x / kBlock, y / kBlock));
  return picture;
}

int CountColour(const QImage& screen, QRgb colour) {
  int count = 0;
  for (int y = 0; y < screen.height(); ++y)
    for (int x = 0; x < screen.width(); ++x) count += (screen.pixel(x, y) | 0xff000000) == colour;
  return count;
}

// The top left pixel of a colour on the screen.
std::optional<QPoint> FirstOf(const QImage& screen, QRgb colour) {
  std::optional<QPoint> first;
  for (int y = 0; y < screen.height() && !first; ++y)
    for (int x = 0; x < screen.width(); ++x)
      if ((screen.pixel(x, y) | 0xff000000) == colour) {
        first = QPoint(x, y);
        break;
      }
  if (!first) return first;
  for (int x = 0; x < first->x(); ++x)
    for (int y = first->y(); y < screen.height(); ++y)
      if ((screen.pixel(x, y) | 0xff000000) == colour) {
        first->setX(x);
        break;
      }
  return first;
}

// The divider's light middle column in row y, right of from: white between black.
std::optional<int> DividerIn(const QImage& screen, int y, int from) {
  for (int x = std::max(from, 1); x + 1 < screen.width(); ++x)
    if (screen.pixel(x, y) == 0xffffffff && screen.pixel(x - 1, y) == 0xff000000 &&
        screen.pixel(x + 1, y) == 0xff000000)
      return x;
  return std::nullopt;
}

struct Case {
  const char* name;
  bool windowManager;
};

class DesktopHabitsWindowTest : public testing::TestWithParam<Case> {};

TEST_P(DesktopHabitsWindowTest, RecentPictureAfterARestartPasteAndCompare) {
  for (const char* tool : {"xdotool", "xprop", "xwininfo", "openbox", "xclip"})
    ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
        << tool << " is missing: scripts/install-deps.sh scripts/deps-test.txt";
  VirtualDisplay display;
  if (!display.Start()) GTEST_SKIP() << "no virtual X server (Xvfb) could be started";
  const XQuery x(display.Environment());
  QProcess windowManager;
  if (GetParam().windowManager) {
    ASSERT_TRUE(StartWindowManager(windowManager, display.Environment(), x))
        << "openbox did not come up";
  }

  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString recent = folder.filePath("recent.bmp");
  QImage recentPicture(kRecentWidth, kRecentHeight, QImage::Format_RGB32);
  recentPicture.fill(kRecentColour);
  ASSERT_TRUE(recentPicture.save(recent, "BMP"));
  const QString blocks = folder.filePath("blocks.png");
  ASSERT_TRUE(BlocksPicture().save(blocks, "PNG"));
  QProcessEnvironment env = display.Environment();
  env.insert("XDG_CONFIG_HOME", folder.filePath("config"));
  const QString shotFile = QDir::current().filePath(
      QStringLiteral("magnova-desktop-habits-%1.png").arg(GetParam().name));
  const auto grab = [&] { return Grab(display.Environment(), shotFile); };
  const auto shows = [&](QRgb colour, int count) {
    return WaitUntil(
        [&] {
          const std::optional<QImage> shot = grab();
          return shot && CountColour(*shot, colour) == count;
        },
        30000);
  };

  QProcess program;
  program.setProcessEnvironment(env);
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  std::string frame;
  const auto ended = [&] { return program.state() != QProcess::Running; };
  const auto start = [&] {
    program.start(ProgramPath(), {});
    if (!program.waitForStarted(5000)) return false;
    return WaitUntil(
        [&] {
          frame = x.Run("xdotool search --onlyvisible --name '^Magnova$'");
          return !frame.empty() && frame.find('\n') == std::string::npos;
        },
        30000, ended);
  };
  // A click into the window gives it the focus, with or without a window manager.
  const auto focusFrame = [&] {
    return WaitUntil(
        [&] {
          x.Run("xdotool mousemove --window " + frame + " 600 300 click 1");
          return WaitUntil([&] { return x.FocusId() == frame; }, 2000, ended);
        },
        30000, ended);
  };

  // First run: the picture opened through Open, then File, Exit.
  ASSERT_TRUE(start()) << "no main window";
  ASSERT_TRUE(focusFrame());
  x.Keys("ctrl+o");
  ASSERT_TRUE(WaitUntil([&] { return x.FocusName() == "Open"; }, 30000, ended)) << "no Open dialog";
  x.Run("xdotool type --delay 20 '" + recent.toStdString() + "'");
  x.Keys("Return");
  ASSERT_TRUE(shows(kRecentColour, kRecentWidth * kRecentHeight)) << "the picture was not shown";
  ASSERT_TRUE(focusFrame());
  x.Keys("alt+f x");
  ASSERT_TRUE(program.waitForFinished(30000)) << "File, Exit did not end the program";

  // Second run: the File menu's first recent picture is the one opened before.
  ASSERT_TRUE(start()) << "no main window after the restart";
  ASSERT_TRUE(focusFrame());
  x.Keys("alt+f 1");
  ASSERT_TRUE(shows(kRecentColour, kRecentWidth * kRecentHeight))
      << "the recent picture did not open";

  // Another program copies a picture; Ctrl+V opens it, each block whole at 100 %.
  QProcess clipboard;
  clipboard.setProcessEnvironment(display.Environment());
  clipboard.start("xclip", {"-quiet", "-selection", "clipboard", "-t", "image/png", "-i", blocks});
  ASSERT_TRUE(WaitUntil(
      [&] {
        return x.Run("xclip -o -selection clipboard -t TARGETS").find("image/png") !=
               std::string::npos;
      },
      10000))
      << "xclip did not take the clipboard";
  ASSERT_TRUE(focusFrame());
  x.Keys("ctrl+v");
  ASSERT_TRUE(shows(BlockColour(0, 0), kBlock * kBlock)) << "the pasted picture was not shown";
  const std::optional<QImage> pasted = grab();
  ASSERT_TRUE(pasted);
  for (int row = 0; row < kRows; ++row)
    for (int column = 0; column < kColumns; ++column)
      EXPECT_EQ(CountColour(*pasted, BlockColour(column, row)), kBlock * kBlock)
          << "block " << column << ", " << row;
  EXPECT_EQ(CountColour(*pasted, kRecentColour), 0) << "the recent picture is still shown";

  // Resized to 200 % (the percent offered after a load), then compared.
  ASSERT_TRUE(focusFrame());
  x.Keys("ctrl+r");
  QThread::msleep(1000);
  ASSERT_TRUE(WaitUntil(
      [&] { return x.Run("xdotool search --onlyvisible --name 'Resizing progress'").empty(); },
      120000, ended))
      << "the resize did not end";
  ASSERT_TRUE(focusFrame());
  // View menu, the third item from its end.
  x.Keys("alt+v");
  x.Keys("Up Up Up Return");
  // The whole picture, 320 x 240, lies left of the divider in the middle of
  // the pane: the original, each block 80 pixels wide.
  std::optional<QPoint> origin;
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::optional<QImage> shot = grab();
        if (!shot || CountColour(*shot, BlockColour(0, 0)) != 4 * kBlock * kBlock) return false;
        origin = FirstOf(*shot, BlockColour(0, 0));
        return origin.has_value();
      },
      30000, ended))
      << "Compare in One Pane did not show the original enlarged";
  const int below = origin->y() + 2 * kBlock * kRows + 10;
  const std::optional<int> middle = DividerIn(*grab(), below, origin->x());
  ASSERT_TRUE(middle) << "no divider";

  // The divider dragged over the picture's third block, then one arrow step on.
  const auto drag = [&](int from, int to) {
    x.Run("xdotool mousemove " + std::to_string(from) + " " + std::to_string(below) +
          " mousedown 1 mousemove " + std::to_string((from + to) / 2) + " " +
          std::to_string(below) + " mousemove " + std::to_string(to) + " " + std::to_string(below) +
          " mouseup 1");
  };
  drag(*middle, origin->x() + 200);
  x.Keys("Right");
  const int divider = origin->x() + 216;  // one step is 16 pixels
  std::optional<QImage> compared;
  ASSERT_TRUE(WaitUntil(
      [&] {
        compared = grab();
        return compared && DividerIn(*compared, below, origin->x()) == divider;
      },
      10000))
      << "the divider is not where it was dragged and stepped";
  // Dragged to the pane's left edge, the divider leaves the result alone in view.
  drag(divider, std::max(0, origin->x() - 20));
  std::optional<QImage> result;
  ASSERT_TRUE(WaitUntil(
      [&] {
        result = grab();
        // Its dark left column lies beyond the pane's edge.
        return result && result->pixel(origin->x(), below) == 0xffffffff &&
               result->pixel(origin->x() + 1, below) == 0xff000000;
      },
      10000))
      << "the divider did not go to the pane's edge";

  // Left of the divider every pixel is the original's, enlarged by repeating
  // each pixel; right of it every pixel is the result's.
  int originalWrong = 0, resultWrong = 0, resultDiffersFromOriginal = 0;
  for (int y = 0; y < 2 * kBlock * kRows; ++y) {
    for (int column = 0; column < 2 * kBlock * kColumns; ++column) {
      const QPoint at = *origin + QPoint(column, y);
      const QRgb original = BlockColour(column / (2 * kBlock), y / (2 * kBlock));
      if (at.x() < divider - 1) originalWrong += compared->pixel(at) != original;
      if (at.x() > divider + 1) resultWrong += compared->pixel(at) != result->pixel(at);
      if (column > 1) resultDiffersFromOriginal += result->pixel(at) != original;
    }
  }
  EXPECT_EQ(originalWrong, 0) << "pixels left of the divider that are not the original's";
  EXPECT_EQ(resultWrong, 0) << "pixels right of the divider that are not the result's";
  EXPECT_GT(resultDiffersFromOriginal, 100) << "the result cannot be told from the original";

  program.kill();
  program.waitForFinished(5000);
  clipboard.kill();
  clipboard.waitForFinished(5000);
  if (windowManager.state() != QProcess::NotRunning) {
    windowManager.terminate();
    windowManager.waitForFinished(5000);
  }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutWindowManager, DesktopHabitsWindowTest,
                         testing::Values(Case{"openbox", true}, Case{"none", false}),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
