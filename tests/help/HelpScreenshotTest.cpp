// Checks the screenshots that hh_screenshots.sh took of the viewer on a real X
// server: each shows its own page with text on it, and the start page its picture.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <cstdlib>

namespace {

QImage Shot(const char* name) {
  return QImage(QStringLiteral(MAGNOVA_HELP_SHOTS "/%1.png").arg(QLatin1String(name)));
}

// The viewer's window: everything that is not the black X root.
QRect WindowArea(const QImage& shot) {
  QRect area;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x)
      if (shot.pixel(x, y) != qRgb(0, 0, 0)) area |= QRect(x, y, 1, 1);
  return area;
}

// The part of the window where the page is drawn: right of the contents and
// below the toolbar.
QImage PageArea(const QImage& shot) {
  const QPoint origin = WindowArea(shot).topLeft();
  return shot.copy(origin.x() + 230, origin.y() + 45, 620, 560);
}

int DarkPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 128) ++count;
  return count;
}

TEST(HelpScreenshots, EachTopicShowsTextOfItsOwn) {
  const char* names[] = {"start", "getting-started", "tech-support", "missing-topic"};
  std::vector<QImage> pages;
  for (const char* name : names) {
    const QImage shot = Shot(name);
    ASSERT_FALSE(shot.isNull()) << name;
    pages.push_back(PageArea(shot));
    EXPECT_GT(DarkPixels(pages.back()), 1500) << name << ": no text on the page";
  }
  for (size_t i = 0; i < pages.size(); ++i)
    for (size_t j = i + 1; j < pages.size(); ++j)
      EXPECT_NE(pages[i], pages[j]) << names[i] << " and " << names[j] << " look the same";
}

TEST(HelpScreenshots, TheStartPageShowsItsPicture) {
  // The picture's sun is a yellow that nothing else on the page uses.
  auto sunPixels = [](const QImage& page) {
    int count = 0;
    for (int y = 0; y < page.height(); ++y)
      for (int x = 0; x < page.width(); ++x)
        if (page.pixel(x, y) == qRgb(250, 210, 60)) ++count;
    return count;
  };
  EXPECT_GT(sunPixels(PageArea(Shot("start"))), 100);
  EXPECT_EQ(sunPixels(PageArea(Shot("missing-topic"))), 0);
}

TEST(HelpScreenshots, TheViewerOpensCentredOnTheScreen) {
  const QImage shot = Shot("start");
  ASSERT_FALSE(shot.isNull());
  const QRect window = WindowArea(shot);
  // 860 x 620 on the 1024 x 768 screen, without a window manager's frame.
  EXPECT_EQ(window.size(), QSize(860, 620));
  EXPECT_LE(std::abs(window.center().x() - shot.width() / 2), 2) << window.x();
  EXPECT_LE(std::abs(window.center().y() - shot.height() / 2), 2) << window.y();
}

}  // namespace
