// Help requests as the user makes them: the viewer found beside the program in a
// folder whose path has blanks, the command line it gets, and the error boxes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CMainFrame.h"
#include "frame/CHelpLauncher.h"
#include "platform/Prompts.h"
#include "res/CommandIds.h"
#include "resize/CResizeDlg.h"

namespace {

// A folder "…/my programs/bin dir" holding help.chm and a recorder in place of
// the viewer; each start of the recorder appends "pid|argument count|argument|
// the window to keep visible".
class HelpLauncherTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.isValid());
    m_folder = m_root.path() + QStringLiteral("/my programs/bin dir");
    ASSERT_TRUE(QDir().mkpath(m_folder));
    m_helpPath = m_folder + QStringLiteral("/help.chm");
    m_log = m_folder + QStringLiteral("/calls.log");
    QFile help(m_helpPath);
    ASSERT_TRUE(help.open(QIODevice::WriteOnly));
    help.write("help");
    help.close();
    WriteViewer(QStringLiteral("#!/bin/sh\nprintf '%s|%s|%s|%s\\n' \"$$\" \"$#\" \"$1\" "
                               "\"$MAGNOVA_HELP_KEEP_VISIBLE\" >> \"") +
                    m_log + QStringLiteral("\"\n"),
                QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Only the program's folder may provide the viewer in these tests.
    const char* path = std::getenv("PATH");
    m_savedPath = path ? path : "";
    ::setenv("PATH", QFile::encodeName(m_root.path()).constData(), 1);
  }
  void TearDown() override { ::setenv("PATH", m_savedPath.c_str(), 1); }

  void WriteViewer(const QString& text, QFile::Permissions permissions) {
    QFile viewer(m_folder + QStringLiteral("/hh"));
    ASSERT_TRUE(viewer.open(QIODevice::WriteOnly | QIODevice::Truncate));
    viewer.write(text.toUtf8());
    viewer.close();
    viewer.setPermissions(permissions);
  }

  // The recorded calls once count of them have arrived (bounded wait).
  QStringList Calls(int count) const {
    QElapsedTimer clock;
    clock.start();
    QStringList lines;
    while (clock.elapsed() < 5000) {
      QFile log(m_log);
      if (log.open(QIODevice::ReadOnly)) {
        lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (lines.size() >= count) break;
      }
      QThread::msleep(20);
    }
    return lines;
  }

  // Runs one request and returns the message boxes it showed.
  std::vector<platform::PromptRecord> Request(int id) const {
    std::vector<platform::PromptRecord> boxes;
    platform::ScopedPromptResponder responder([&](const platform::PromptRecord& r) {
      boxes.push_back(r);
      return platform::PromptAnswer{ids::IdOk, std::nullopt};
    });
    CHelpLauncher(m_helpPath, m_folder).Open(nullptr, id);
    return boxes;
  }

  QTemporaryDir m_root;
  QString m_folder, m_helpPath, m_log;
  std::string m_savedPath;
};

TEST_F(HelpLauncherTest, EachRequestStartsTheViewerWithTheQuotedPathAsOneArgument) {
  EXPECT_EQ(CHelpLauncher(m_helpPath, m_folder).CommandLine(ids::HelpContents),
            QStringLiteral("hh \"%1\"").arg(m_helpPath));
  EXPECT_EQ(CHelpLauncher(m_helpPath, m_folder).CommandLine(ids::HelpGettingStarted),
            QStringLiteral("hh \"%1::/_GettingStarted.html\"").arg(m_helpPath));

  for (int id : {ids::HelpContents, 0, ids::HelpGettingStarted, ids::HelpTechSupport})
    EXPECT_TRUE(Request(id).empty()) << id;
  const QStringList calls = Calls(4);
  ASSERT_EQ(calls.size(), 4);
  QStringList arguments, pids;
  for (const QString& call : calls) {
    pids << call.section(QLatin1Char('|'), 0, 0);
    arguments << call.section(QLatin1Char('|'), 1, 2);
  }
  arguments.sort();  // the viewers run side by side; their order is theirs
  EXPECT_EQ(arguments,
            (QStringList{QStringLiteral("1|") + m_helpPath, QStringLiteral("1|") + m_helpPath,
                         QStringLiteral("1|") + m_helpPath + "::/_GettingStarted.html",
                         QStringLiteral("1|") + m_helpPath + "::/_TechSupp.html"}));
  // Every request got a viewer of its own.
  pids.removeDuplicates();
  EXPECT_EQ(pids.size(), 4);
}

TEST_F(HelpLauncherTest, AHelpFileRemovedAfterStartUpIsMissedOnTheNextRequest) {
  EXPECT_TRUE(Request(ids::HelpContents).empty());
  ASSERT_EQ(Calls(1).size(), 1);
  ASSERT_TRUE(QFile::remove(m_helpPath));
  const auto boxes = Request(ids::HelpContents);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, QStringLiteral("Can't find help file."));
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);
  EXPECT_EQ(boxes[0].buttons, platform::MbButtons::Ok);
  QThread::msleep(200);
  EXPECT_EQ(Calls(1).size(), 1);  // nothing was started
}

TEST_F(HelpLauncherTest, AViewerThatCannotStartShowsThePlatformsErrorText) {
  WriteViewer(QStringLiteral("#!/bin/sh\n"), QFile::ReadOwner | QFile::WriteOwner);
  auto boxes = Request(ids::HelpTechSupport);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, QString::fromLocal8Bit(std::strerror(EACCES)));
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);

  ASSERT_TRUE(QFile::remove(m_folder + QStringLiteral("/hh")));
  boxes = Request(0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, QString::fromLocal8Bit(std::strerror(ENOENT)));
}

TEST_F(HelpLauncherTest, TheViewerIsFoundOnThePathWhenTheProgramsFolderHasNone) {
  const QString elsewhere = m_root.path() + QStringLiteral("/other bin");
  ASSERT_TRUE(QDir().mkpath(elsewhere));
  ASSERT_TRUE(QFile::rename(m_folder + QStringLiteral("/hh"), elsewhere + QStringLiteral("/hh")));
  ::setenv("PATH", QFile::encodeName(elsewhere).constData(), 1);
  EXPECT_TRUE(Request(ids::HelpGettingStarted).empty());
  const QStringList calls = Calls(1);
  ASSERT_EQ(calls.size(), 1);
  EXPECT_EQ(calls[0].section(QLatin1Char('|'), 1, 2),
            QStringLiteral("1|") + m_helpPath + QStringLiteral("::/_GettingStarted.html"));
}

// The program's own help requests, made by a copy of this test placed in a
// folder whose path has blanks, beside a recorder viewer and a help file: the
// help path and the viewer both come from where the running program lies.
TEST_F(HelpLauncherTest, TheProgramOpensHelpBesideItselfForContentsF1AndTopics) {
  const QString copy = m_folder + QStringLiteral("/magnova probe");
  ASSERT_TRUE(QFile::copy(QStringLiteral("/proc/self/exe"), copy));
  ASSERT_TRUE(QFile(copy).setPermissions(QFile::ReadOwner | QFile::ExeOwner));
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(copy, {QStringLiteral("--gtest_filter=HelpInTheProgram.*"),
                     QStringLiteral("--gtest_also_run_disabled_tests")});
  ASSERT_TRUE(child.waitForFinished(60000));
  const QString output = QString::fromLocal8Bit(child.readAll());
  EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
  const QRegularExpressionMatch dialog =
      QRegularExpression(QStringLiteral("dialog at (\\S+)")).match(output);
  ASSERT_TRUE(dialog.hasMatch()) << output.toStdString();

  // Each request with the window it came from, the dialog for F1 in it and the
  // main window for the others; the offscreen platform frames every window
  // with 2 pixels a side.
  QStringList arguments = Calls(5);
  for (QString& call : arguments) {
    call = call.section(QLatin1Char('|'), 1);
    if (!call.contains(QStringLiteral("resizing.html")))
      call.replace(QRegularExpression(QStringLiteral("\\|\\d+,\\d+,\\d+,\\d+,2,2,2,2$")),
                   QStringLiteral("|the frame"));
  }
  arguments.sort();
  const QString path = QStringLiteral("1|") + m_helpPath;
  const QStringList expected = {path + "::/_GettingStarted.html|the frame",
                                path + "::/_TechSupp.html|the frame",
                                path + "::/resizing.html|" + dialog.captured(1) + ",2,2,2,2",
                                path + "|the frame", path + "|the frame"};
  EXPECT_EQ(arguments.join(QLatin1Char('\n')).toStdString(),
            expected.join(QLatin1Char('\n')).toStdString());
}

// Runs only inside the copy started above.
TEST(HelpInTheProgram, DISABLED_MenuCommandsAndF1) {
  CMainFrame frame;
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  frame.activateWindow();
  std::vector<platform::PromptRecord> boxes;
  platform::ScopedPromptResponder responder([&](const platform::PromptRecord& r) {
    boxes.push_back(r);
    return platform::PromptAnswer{ids::IdOk, std::nullopt};
  });
  frame.OnCommand(ids::HelpContents);
  frame.OnCommand(ids::HelpGettingStarted);
  frame.OnCommand(ids::HelpTechSupport);
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &frame, Qt::Key_F1);
  // F1 in the resize dialog, placed where the viewer is told to stay clear of.
  CResizeDlg dialog(&frame);
  dialog.m_srcWidth = dialog.m_maxWidth = 640;
  dialog.m_srcHeight = dialog.m_maxHeight = 480;
  QTimer::singleShot(0, &dialog, [&dialog] {
    dialog.move(123, 45);
    QTest::keyClick(dialog.Box(1002), Qt::Key_F1);
    const QRect frame = dialog.frameGeometry();
    std::printf("dialog at %d,%d,%d,%d\n", frame.x(), frame.y(), frame.width(), frame.height());
    dialog.reject();
  });
  dialog.DoModal();
  for (const auto& box : boxes) ADD_FAILURE() << box.text.toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests at build time needs no display.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
