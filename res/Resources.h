#pragma once

#include <QIcon>
#include <QString>
#include <vector>

// The program's resources as data: string table, menu, accelerators, toolbar
// and dialog templates.
namespace res {

// String table lookup; a missing string reads as empty.
QString LoadString(int id);
// Status-bar prompt (first line) and tooltip (second line) of a command.
QString CommandPrompt(int id);
QString CommandTooltip(int id);

struct MenuItem {
  QString text;                    // "&Open...\tCtrl+O"; empty text = separator
  int id = 0;                      // command id; 0 for separators and popups
  std::vector<MenuItem> children;  // a popup when not empty
};
// Menu 128: "&File", "&Edit", "&View", "&Help" with their items.
const std::vector<MenuItem>& MainMenu();

struct Accelerator {
  enum Kind { VirtualKeyWithCtrl, VirtualKeyWithCtrlShift, Character } kind;
  int key;  // Qt::Key for the virtual keys, the character for Character
  int id;
};
// Accelerator table 128.
const std::vector<Accelerator>& MainAccelerators();
// The command of a key press (its key, modifiers and typed text) in
// accelerator table 128; 0 when it is none.
int TranslateAccelerator(int key, Qt::KeyboardModifiers modifiers, const QString& text);

struct ToolbarButton {
  int id;  // 0 = separator
};
// Toolbar 128 in button order, separators included.
const std::vector<ToolbarButton>& MainToolbar();
// The 16 x 15 image of a toolbar command; null for commands without a button.
QIcon ToolbarImage(int id);
// Icon groups 128 (application) and 205 (resize dialog).
QIcon AppIcon(int id);

struct DialogControl {
  int id;  // -1 for controls without an id
  enum Kind {
    PushButton,
    DefPushButton,
    Edit,
    Static,
    StaticCentered,
    StaticRight,
    GroupBox,
    Icon,
    ProgressBar,
    UpDown
  } kind;
  QString text;      // for Icon: the icon group's id, "128" or "205"
  int x, y, cx, cy;  // dialog units
};

struct DialogTemplate {
  int id;
  QString title;
  int cx, cy;  // dialog units
  QString fontFace;
  int pointSize;
  bool closeBox;                        // system menu with close box
  std::vector<DialogControl> controls;  // template (tab) order
};
// Dialog templates 100, 201, 202, 203, 206.
const DialogTemplate& Dialog(int id);

}  // namespace res
