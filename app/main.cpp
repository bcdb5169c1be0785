#include <QApplication>

#include "app/CMainFrame.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

// The program takes no file or switch from its command line and always ends with 0.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(res::LoadString(ids::StrAppName));
  QApplication::setWindowIcon(res::AppIcon(ids::IconApp));
  CMainFrame frame;
  frame.show();
  QApplication::exec();
  return 0;
}
