#include <QApplication>

#include "app/CMainFrame.h"
#include "platform/CMessageLoopHooks.h"
#include "platform/TerminationSignals.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

// The program takes no file or switch from its command line and always ends with 0.
int main(int, char** argv) {
  // The toolkit sees only the program's name, so that none of its own
  // switches (-reverse, -style, -stylesheet ...) can act either.
  int toolkitArgc = 1;
  char* toolkitArgv[] = {argv[0], nullptr};
  QApplication app(toolkitArgc, toolkitArgv);
  QApplication::setApplicationName(res::LoadString(ids::StrAppName));
  QApplication::setWindowIcon(res::AppIcon(ids::IconApp));
  CMainFrame frame;
  frame.show();
  // A termination signal is a close request like any other, prompt included.
  platform::RouteTerminationSignals([&frame] { frame.close(); });
  platform::RunMessageLoop();
  return 0;
}
