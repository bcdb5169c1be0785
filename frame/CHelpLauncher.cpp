#include "frame/CHelpLauncher.h"

#include <cerrno>
#include <cstdlib>

#include <QWidget>

#include "frame/HelpCommand.h"
#include "platform/PathBytes.h"
#include "platform/Prompts.h"

namespace {
// Where the viewer is searched after the program's folder when PATH is unset,
// as the C library's own program search does.
constexpr const char* kDefaultSearchPath = "/bin:/usr/bin";

// Tells the viewer the window that asked for help, so that it opens beside it
// rather than over it: the page explains a dialog the user still needs to see.
std::vector<std::string> KeepVisibleSettings(const QWidget* asking) {
  if (!asking || !asking->isVisible()) return {};
  const QRect frame = asking->frameGeometry();
  const QRect inner = asking->geometry();
  const QString value = QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8")
                            .arg(frame.x())
                            .arg(frame.y())
                            .arg(frame.width())
                            .arg(frame.height())
                            .arg(inner.left() - frame.left())
                            .arg(inner.top() - frame.top())
                            .arg(frame.right() - inner.right())
                            .arg(frame.bottom() - inner.bottom());
  return {std::string(help::kKeepVisibleVariable) + '=' + value.toStdString()};
}
}  // namespace

CHelpLauncher::CHelpLauncher(QString helpPath, QString viewerFolder)
    : m_helpPath(std::move(helpPath)), m_viewerFolder(std::move(viewerFolder)) {}

QString CHelpLauncher::CommandLine(int id) const {
  return platform::PathText(
      help::HelpCommandLine(platform::PathBytes(m_helpPath), help::TopicFor(id)));
}

void CHelpLauncher::Open(QWidget* owner, int id, const QWidget* asking) const {
  const std::string helpPath = platform::PathBytes(m_helpPath);
  // Checked at every request: the file may have gone since the last one.
  if (!help::HelpFileExists(helpPath)) {
    platform::MessageBox(owner, QStringLiteral("Can't find help file."), QStringLiteral("Error"),
                         platform::MbIcon::Error, platform::MbButtons::Ok);
    return;
  }
  const std::vector<std::string> args =
      help::SplitCommandLine(help::HelpCommandLine(helpPath, help::TopicFor(id)));
  const char* searchPath = std::getenv("PATH");
  const std::string program = help::FindProgram(args.front(), platform::PathBytes(m_viewerFolder),
                                                searchPath ? searchPath : kDefaultSearchPath);
  const int error =
      program.empty() ? ENOENT : help::StartDetached(program, args, KeepVisibleSettings(asking));
  if (error != 0) {
    platform::MessageBox(owner, QString::fromLocal8Bit(help::ErrorText(error)),
                         QStringLiteral("Error"), platform::MbIcon::Error, platform::MbButtons::Ok);
  }
}
