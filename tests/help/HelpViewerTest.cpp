// The help viewer on the program's own help file: topics, links, pictures,
// contents, and what it says about missing files and topics.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTreeWidget>

#include "hh/CChmArchive.h"
#include "hh/CChmBrowser.h"
#include "hh/CHelpViewer.h"
#include "hh/HelpTopics.h"
#include "hh/ViewerPlacement.h"

namespace {

const QString kHelpFile = QStringLiteral(MAGNOVA_HELP_CHM);

std::unique_ptr<CChmArchive> OpenHelp() {
  QString error;
  auto archive = CChmArchive::Open(kHelpFile, error);
  EXPECT_TRUE(archive) << error.toStdString();
  return archive;
}

QString PageText(const CHelpViewer& viewer) { return viewer.Browser()->toPlainText(); }

TEST(HelpArgument, SplitsFileAndTopic) {
  auto none = [](const QString&) { return false; };
  auto HelpArgumentIs = [](const HelpArgument& a, const QString& file, const QString& topic) {
    return a.file == file && a.topic == topic;
  };
  EXPECT_TRUE(HelpArgumentIs(ParseHelpArgument("/a b/help.chm", none), "/a b/help.chm", ""));
  EXPECT_TRUE(HelpArgumentIs(ParseHelpArgument("/a b/help.chm::/_TechSupp.html", none),
                             "/a b/help.chm", "/_TechSupp.html"));
  EXPECT_TRUE(HelpArgumentIs(ParseHelpArgument("help.chm::x.html", none), "help.chm", "/x.html"));
  // A file whose own name holds "::" is still a file.
  auto exists = [](const QString& p) { return p == "/odd::/help.chm"; };
  EXPECT_TRUE(HelpArgumentIs(ParseHelpArgument("/odd::/help.chm", exists), "/odd::/help.chm", ""));
  EXPECT_TRUE(HelpArgumentIs(ParseHelpArgument("/odd::/help.chm::/t.html", exists),
                             "/odd::/help.chm", "/t.html"));
}

TEST(ViewerPlacement, ReadsTheAskingWindowOrNothing) {
  const auto read = ParseKeepVisible(QStringLiteral("-10,20,300,200,1,28,2,3"));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->frame, QRect(-10, 20, 300, 200));
  EXPECT_EQ(read->margins, QMargins(1, 28, 2, 3));
  for (const char* bad : {"", "1,2,3,4", "1,2,3,4,0,0,0,0,0", "1,2,0,4,0,0,0,0", "1,2,3,4,0,-1,0,0",
                          "1,2,3,x,0,0,0,0"})
    EXPECT_FALSE(ParseKeepVisible(QString::fromLatin1(bad))) << bad;
}

TEST(ViewerPlacement, BesideTheAskingWindowWhereTheScreenHasRoom) {
  struct Case {
    const char* name;
    QRect available, keep;
    std::optional<QRect> expected;
  };
  const QSize wanted(870, 650), least(490, 370);
  const QRect wide(0, 0, 1920, 1050);
  const std::vector<Case> cases = {
      {"right, level with it", wide, QRect(400, 300, 400, 250), QRect(800, 300, 870, 650)},
      {"right, held on the screen", wide, QRect(400, 700, 400, 250), QRect(800, 400, 870, 650)},
      {"left", wide, QRect(1200, 300, 400, 250), QRect(330, 300, 870, 650)},
      {"below", wide, QRect(100, 50, 1700, 300), QRect(100, 350, 870, 650)},
      {"above", wide, QRect(100, 700, 1700, 300), QRect(100, 50, 870, 650)},
      // Right has 680 x 1024, below 1280 x 624: below is roomier.
      {"smaller, on the roomiest side", QRect(0, 0, 1280, 1024), QRect(100, 100, 500, 300),
       QRect(100, 400, 870, 624)},
      {"no side with room: centred", QRect(0, 0, 1024, 768), QRect(300, 250, 400, 250),
       std::nullopt},
      {"a maximised window: centred", wide, wide, std::nullopt},
      {"a window on another screen", wide, QRect(2000, 100, 400, 300), std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PlaceBeside(c.available, wanted, c.keep, least), c.expected) << c.name;
}

TEST(SystemFile, ReadsTopicsAndTitleAndStopsAtDamage) {
  QByteArray data("\x03\x00\x00\x00", 4);
  auto add = [&data](int code, const QByteArray& text) {
    data += char(code);
    data += char(0);
    data += char(text.size() + 1);
    data += char(0);
    data += text + '\0';
  };
  add(0, "toc.hhc");
  add(2, "index.html");
  add(3, "Some Help");
  SystemInfo info = ParseSystemFile(data);
  EXPECT_EQ(info.contentsFile, "/toc.hhc");
  EXPECT_EQ(info.defaultTopic, "/index.html");
  EXPECT_EQ(info.title, "Some Help");
  // A record that claims more bytes than there are ends the table.
  data += QByteArray(
      "\x03\x00\xff\x7f"
      "abc",
      7);
  EXPECT_EQ(ParseSystemFile(data).title, "Some Help");
  EXPECT_TRUE(ParseSystemFile(QByteArray("\x01\x02", 2)).title.isEmpty());
}

TEST(Sitemap, ReadsNamesPagesAndNesting) {
  const QByteArray hhc =
      "<ul><li><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"A &amp; B\">"
      "<param name=\"Local\" value=\"a.html\"></OBJECT>"
      "<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Inner&#39;s\">"
      "<param name=\"Local\" value=\"/b.html\"></object></ul>"
      "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Heading\"></object></ul>";
  const auto entries = ParseSitemap(hhc);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "A & B");
  EXPECT_EQ(entries[0].local, "/a.html");
  EXPECT_EQ(entries[0].depth, 0);
  EXPECT_EQ(entries[1].name, "Inner's");
  EXPECT_EQ(entries[1].depth, 1);
  EXPECT_EQ(entries[2].local, "");
  EXPECT_EQ(entries[2].depth, 0);
}

TEST(HelpArchive, ReportsFilesItCannotOpen) {
  QTemporaryDir dir;
  QString error;
  EXPECT_FALSE(CChmArchive::Open(dir.filePath("missing.chm"), error));
  EXPECT_TRUE(error.contains("missing.chm") && error.contains("No such file or directory"))
      << error.toStdString();
  EXPECT_FALSE(CChmArchive::Open(dir.path(), error));
  EXPECT_TRUE(error.contains("folder")) << error.toStdString();

  QFile garbage(dir.filePath("garbage.chm"));
  ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
  garbage.write(QByteArray(4096, 'x'));
  garbage.close();
  EXPECT_FALSE(CChmArchive::Open(garbage.fileName(), error));
  EXPECT_TRUE(error.contains("not a compiled help file")) << error.toStdString();

  // A help file cut short opens or is refused, but nothing is read past its end.
  QFile whole(kHelpFile);
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  const QByteArray bytes = whole.readAll();
  for (qsizetype size : {bytes.size() / 8, bytes.size() / 2, bytes.size() - 100}) {
    QFile cut(dir.filePath("cut.chm"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
    cut.write(bytes.left(size));
    cut.close();
    if (auto archive = CChmArchive::Open(cut.fileName(), error)) {
      CHelpViewer viewer(std::move(archive), QString());
      EXPECT_FALSE(PageText(viewer).isEmpty());
    } else {
      EXPECT_FALSE(error.isEmpty());
    }
  }
}

TEST(HelpViewer, OpensTheStartPageAndEachTopic) {
  struct Case {
    QString topic, heading, text;
  };
  for (const Case& c : {Case{"", "Magnova Help", "Magnova enlarges pictures."},
                        Case{"/_GettingStarted.html", "Getting Started", "Ctrl+O"},
                        Case{"/_TechSupp.html", "Technical Support", "How to report a problem"}}) {
    CHelpViewer viewer(OpenHelp(), c.topic);
    const QString text = PageText(viewer);
    EXPECT_TRUE(text.startsWith(c.heading)) << text.left(80).toStdString();
    EXPECT_TRUE(text.contains(c.text)) << c.topic.toStdString();
    EXPECT_EQ(viewer.windowTitle(),
              c.topic.isEmpty() ? QString("Magnova Help") : c.heading + " - Magnova Help");
  }
}

TEST(HelpViewer, EscapeAndCtrlWCloseIt) {
  for (const QKeyCombination key :
       {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
    CHelpViewer viewer(OpenHelp(), QString());
    viewer.show();
    viewer.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&viewer));
    // From the page, where the keyboard is after opening.
    QTest::keyClick(viewer.Browser(), key.key(), key.keyboardModifiers());
    EXPECT_FALSE(viewer.isVisible()) << QKeySequence(key).toString().toStdString();
  }
}

TEST(HelpViewer, AMissingTopicShowsItsOwnMessageWithAWayBack) {
  CHelpViewer viewer(OpenHelp(), "/_NoSuchTopic.html");
  const QString text = PageText(viewer);
  EXPECT_TRUE(text.contains("Topic not found"));
  EXPECT_TRUE(text.contains("has no topic \"_NoSuchTopic.html\"")) << text.toStdString();
  EXPECT_TRUE(viewer.Browser()->toHtml().contains("chm:/index.html"));
  viewer.Browser()->setSource(CChmBrowser::TopicUrl("/index.html"));
  EXPECT_TRUE(PageText(viewer).startsWith("Magnova Help"));
  viewer.Browser()->backward();
  EXPECT_TRUE(PageText(viewer).contains("Topic not found"));
}

TEST(HelpViewer, EveryLinkAndPictureOfEveryPageResolves) {
  auto archive = OpenHelp();
  const CChmArchive& help = *archive;
  CHelpViewer viewer(std::move(archive), QString());
  static const QRegularExpression reference("(?:href|src)=\"([^\"#]+)");
  int pages = 0, references = 0;
  for (int i = 0; i < viewer.Contents()->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = viewer.Contents()->topLevelItem(i);
    viewer.Contents()->setCurrentItem(item);
    emit viewer.Contents()->itemActivated(item, 0);
    const QUrl page = viewer.Browser()->source();
    EXPECT_EQ(page.path(), item->data(0, Qt::UserRole).toString());
    const std::optional<QByteArray> html = help.Read(page.path());
    ASSERT_TRUE(html) << page.path().toStdString();
    EXPECT_FALSE(PageText(viewer).contains("Topic not found")) << page.path().toStdString();
    ++pages;
    for (const auto& m : reference.globalMatch(QString::fromUtf8(*html))) {
      const QUrl target = page.resolved(QUrl(m.captured(1)));
      EXPECT_TRUE(help.Contains(target.path()))
          << page.path().toStdString() << " -> " << m.captured(1).toStdString();
      ++references;
    }
  }
  EXPECT_EQ(pages, 11);
  EXPECT_GT(references, 50);
  // The start page's picture reaches the page, found relative to the page.
  viewer.Browser()->setSource(CChmBrowser::TopicUrl("/index.html"));
  QImage image;
  ASSERT_TRUE(image.loadFromData(viewer.Browser()
                                     ->loadResource(QTextDocument::ImageResource, QUrl("panes.png"))
                                     .toByteArray()));
  EXPECT_EQ(image.size(), QSize(248, 128));
  // Laying the page out takes the picture's size from the picture itself.
  QTextDocument* doc = viewer.Browser()->document();
  doc->setTextWidth(600);
  EXPECT_GT(doc->size().height(), 128);
  const QVariant laidOut = doc->resource(QTextDocument::ImageResource, QUrl("panes.png"));
  image = laidOut.userType() == QMetaType::QPixmap ? laidOut.value<QPixmap>().toImage()
                                                   : laidOut.value<QImage>();
  EXPECT_EQ(image.size(), QSize(248, 128));
}

TEST(HelpViewer, LinksLeadToTheirPagesAndTheTableFollows) {
  CHelpViewer viewer(OpenHelp(), QString());
  viewer.Browser()->setSource(viewer.Browser()->source().resolved(QUrl("keyboard.html")));
  EXPECT_TRUE(PageText(viewer).startsWith("Keyboard shortcuts"));
  ASSERT_TRUE(viewer.Contents()->currentItem());
  EXPECT_EQ(viewer.Contents()->currentItem()->text(0), "Keyboard shortcuts");
  // The shortcut list matches the menu.
  for (const char* key : {"Ctrl+O", "Ctrl+S", "Ctrl+R", "Ctrl+C", "Ctrl+Z", "F1"})
    EXPECT_TRUE(PageText(viewer).contains(key)) << key;
  // Pages outside the help file are not fetched.
  viewer.Browser()->setSource(QUrl("http://example.com/"));
  EXPECT_TRUE(PageText(viewer).contains("Only pages of the help file"));
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests at build time needs no display.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
