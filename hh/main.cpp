// The help viewer: hh "file.chm" or hh "file.chm::/topic.html".
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include "frame/HelpCommand.h"
#include "hh/CChmArchive.h"
#include "hh/CHelpViewer.h"
#include "hh/HelpTopics.h"
#include "platform/PathBytes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString caption = QStringLiteral("Help Viewer");
  // The whole command line names one file and topic; a path with blanks that
  // arrives unquoted is put back together.
  QStringList words;
  for (int i = 1; i < argc; ++i) words << platform::PathText(argv[i]);
  if (words.isEmpty()) {
    QMessageBox::information(
        nullptr, caption, QStringLiteral("Usage: hh \"file.chm\" or hh \"file.chm::/topic.html\""));
    return 2;
  }
  const HelpArgument argument = ParseHelpArgument(
      words.join(QLatin1Char(' ')), [](const QString& path) { return QFileInfo(path).isFile(); });
  QString error;
  std::unique_ptr<CChmArchive> archive = CChmArchive::Open(argument.file, error);
  if (!archive) {
    QMessageBox::critical(nullptr, caption, error);
    return 1;
  }
  CHelpViewer viewer(std::move(archive), argument.topic);
  if (const auto asking =
          ParseKeepVisible(qEnvironmentVariable(std::string(help::kKeepVisibleVariable).c_str())))
    viewer.MoveBeside(*asking);
  viewer.show();
  return app.exec();
}
