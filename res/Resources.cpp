#include "res/Resources.h"

#include <QHash>
#include <QKeySequence>

#include "res/CommandIds.h"

namespace res {

namespace {

const QHash<int, QString>& StringTable() {
  static const QHash<int, QString> table{
      {ids::StrAppName, QStringLiteral("Magnova")},
      {ids::StrVersion, QStringLiteral("1.00")},
      {ids::Resize, QStringLiteral("Resize the image\nResize")},
      {ids::ZoomIn, QStringLiteral("Zoom an image in\nZoom in")},
      {ids::ZoomOut, QStringLiteral("Zoom an image out\nZoom out")},
      {ids::ZoomToFit, QStringLiteral("Zoom the image to fit in the window\nZoom to fit")},
      {ids::ZoomTo100, QStringLiteral("Zoom to original size\nZoom to original size")},
      {ids::ZoomToOther, QStringLiteral("Select other zoom")},
      {ids::SyncScroll,
       QStringLiteral("Switch on or off synchronous scroll mode\n Toggle synchronous scroll mode")},
      {ids::SyncZoom,
       QStringLiteral("Switch on or off synchronous zoom mode\n Toggle synchronous zoom mode")},
      {ids::HelpContents, QStringLiteral("Display program help file\nHelp")},
      {ids::StrReady, QStringLiteral("Ready")},
      {ids::FileOpen, QStringLiteral("Open an image\nOpen an image")},
      {ids::FileSaveResizedAs,
       QStringLiteral("Save resized image as...\nSave resized image as...")},
      {ids::AppAbout,
       QStringLiteral("Display program information, version number and copyright\nAbout")},
      {ids::FileExit, QStringLiteral("Quit the application\nExit")},
      {ids::ViewToolBar, QStringLiteral("Show or hide the toolbar\nToggle ToolBar")},
      {ids::ViewStatusBar, QStringLiteral("Show or hide the status bar\nToggle StatusBar")},
      {ids::FileClearRecent, QStringLiteral("Empty the list of recent pictures\nClear Recent")},
      {ids::EditPaste, QStringLiteral("Open the picture on the clipboard\nPaste")},
      {ids::EditCopyResult, QStringLiteral("Put the resized image on the clipboard\nCopy Result")},
      {ids::CompareInOnePane,
       QStringLiteral("Show the original and the resized image in one pane, either side of a "
                      "divider\nCompare in One Pane")},
  };
  return table;
}

MenuItem Item(const char* text, int id) { return MenuItem{QString::fromLatin1(text), id, {}}; }
MenuItem Separator() { return MenuItem{}; }
MenuItem Popup(const char* text, std::vector<MenuItem> children) {
  return MenuItem{QString::fromLatin1(text), 0, std::move(children)};
}

}  // namespace

QString LoadString(int id) { return StringTable().value(id); }

QString CommandPrompt(int id) { return LoadString(id).section(u'\n', 0, 0); }

QString CommandTooltip(int id) {
  const QString text = LoadString(id);
  return text.contains(u'\n') ? text.section(u'\n', 1) : QString();
}

const std::vector<MenuItem>& MainMenu() {
  static const std::vector<MenuItem> menu{
      Popup("&File", {Item("&Open...\tCtrl+O", ids::FileOpen),
                      Item("&Save Resized As...\tCtrl+S", ids::FileSaveResizedAs),
                      Item("&Resize\tCtrl+R", ids::Resize), Separator(),
                      // Stands for the recent pictures, which the frame puts in its place.
                      Item("Recent Pictures", ids::FileRecentFirst),
                      Item("Clear Recent", ids::FileClearRecent), Separator(),
                      Item("E&xit", ids::FileExit)}),
      Popup("&Edit", {Item("&Paste\tCtrl+V", ids::EditPaste),
                      Item("Copy &Result\tCtrl+Shift+C", ids::EditCopyResult)}),
      Popup("&View",
            {Item("Sync Scroll\tCtrl+C", ids::SyncScroll), Item("Sync Zoom\tCtrl+Z", ids::SyncZoom),
             Separator(), Item("Zoom In\t+", ids::ZoomIn), Item("Zoom Out\t-", ids::ZoomOut),
             Item("Zoom To Fit\t/", ids::ZoomToFit),
             Popup("Zoom To ...",
                   {Item("10%", 32797), Item("25%", 32798), Item("50%", 32799), Item("75%", 32800),
                    Item("100%\t*", ids::ZoomTo100), Item("150%", 32802), Item("200%", 32803),
                    Item("250%", 32804), Item("300%", 32805), Item("350%", 32806),
                    Item("400%", 32807), Item("450%", 32808), Item("500%", 32809),
                    Item("1000%", 32810), Item("2000%", ids::ZoomToLast), Separator(),
                    Item("Other...", ids::ZoomToOther)}),
             Separator(), Item("Compare in One Pane", ids::CompareInOnePane), Separator(),
             Item("&Toolbar", ids::ViewToolBar), Item("&Status Bar", ids::ViewStatusBar)}),
      Popup("&Help", {Item("Contents\tF1", ids::HelpContents), Separator(),
                      Item("Getting Started", ids::HelpGettingStarted),
                      Item("Technical Support", ids::HelpTechSupport), Separator(),
                      Item("&About...", ids::AppAbout)}),
  };
  return menu;
}

const std::vector<Accelerator>& MainAccelerators() {
  static const std::vector<Accelerator> table{
      {Accelerator::VirtualKeyWithCtrl, Qt::Key_R, ids::Resize},
      {Accelerator::VirtualKeyWithCtrl, Qt::Key_O, ids::FileOpen},
      {Accelerator::VirtualKeyWithCtrl, Qt::Key_S, ids::FileSaveResizedAs},
      {Accelerator::VirtualKeyWithCtrl, Qt::Key_C, ids::SyncScroll},
      {Accelerator::VirtualKeyWithCtrl, Qt::Key_Z, ids::SyncZoom},
      {Accelerator::VirtualKeyWithCtrl, Qt::Key_V, ids::EditPaste},
      {Accelerator::VirtualKeyWithCtrlShift, Qt::Key_C, ids::EditCopyResult},
      {Accelerator::Character, '/', ids::ZoomToFit},
      {Accelerator::Character, '+', ids::ZoomIn},
      {Accelerator::Character, '-', ids::ZoomOut},
      {Accelerator::Character, '*', ids::ZoomTo100},
  };
  return table;
}

int TranslateAccelerator(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
  const Qt::KeyboardModifiers held =
      modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
  for (const Accelerator& accelerator : MainAccelerators()) {
    if (accelerator.kind == Accelerator::VirtualKeyWithCtrl) {
      if (key == accelerator.key && held == Qt::ControlModifier) return accelerator.id;
    } else if (accelerator.kind == Accelerator::VirtualKeyWithCtrlShift) {
      if (key == accelerator.key && held == (Qt::ControlModifier | Qt::ShiftModifier))
        return accelerator.id;
    } else if (text.size() == 1 && text.at(0) == QChar(accelerator.key) &&
               !(held & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
      // The typed character counts, from whichever key and shift state made it.
      return accelerator.id;
    }
  }
  return 0;
}

const std::vector<ToolbarButton>& MainToolbar() {
  static const std::vector<ToolbarButton> buttons{
      {ids::FileOpen},   {ids::FileSaveResizedAs}, {0}, {ids::ZoomOut},      {ids::ZoomIn},
      {ids::ZoomToFit},  {ids::ZoomTo100},         {0}, {ids::Resize},       {0},
      {ids::SyncScroll}, {ids::SyncZoom},          {0}, {ids::HelpContents},
  };
  return buttons;
}

}  // namespace res
