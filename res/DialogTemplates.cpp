#include <QHash>

#include "res/CommandIds.h"
#include "res/Resources.h"

namespace res {

namespace {

using C = DialogControl;

QHash<int, DialogTemplate> MakeTemplates() {
  const QString shellDlg = QStringLiteral("MS Shell Dlg");
  QHash<int, DialogTemplate> templates;
  templates.insert(ids::DlgAbout,
                   {ids::DlgAbout,
                    QStringLiteral("About"),
                    143,
                    89,
                    QStringLiteral("MS Sans Serif"),
                    8,
                    true,
                    {{ids::IdOk, C::DefPushButton, QStringLiteral("OK"), 46, 68, 50, 14},
                     {-1, C::GroupBox, QString(), 7, 7, 129, 58},
                     {-1, C::Icon, QString::number(ids::IconApp), 61, 13, 20, 20},
                     {1001, C::StaticCentered, QString(), 14, 37, 115, 8}}});
  templates.insert(ids::DlgZoomTo,
                   {ids::DlgZoomTo,
                    QStringLiteral("Zoom to"),
                    117,
                    47,
                    shellDlg,
                    8,
                    true,
                    {{ids::IdOk, C::DefPushButton, QStringLiteral("OK"), 7, 26, 50, 14},
                     {ids::IdCancel, C::PushButton, QStringLiteral("Cancel"), 59, 26, 50, 14},
                     {1000, C::Edit, QString(), 56, 7, 30, 14},
                     {-1, C::StaticRight, QStringLiteral("Zoom to:"), 20, 9, 32, 8},
                     {1006, C::UpDown, QString(), 87, 7, 11, 14}}});
  templates.insert(ids::DlgWait,
                   {ids::DlgWait,
                    QStringLiteral("Please wait"),
                    137,
                    42,
                    shellDlg,
                    8,
                    false,
                    {{1001, C::StaticCentered, QStringLiteral("Static"), 7, 7, 123, 9},
                     {1002, C::PushButton, QStringLiteral("Abort"), 44, 21, 50, 14}}});
  templates.insert(ids::DlgResize,
                   {ids::DlgResize,
                    QStringLiteral("Resize parameters"),
                    223,
                    92,
                    shellDlg,
                    8,
                    true,
                    {{1002, C::Edit, QString(), 15, 36, 32, 14},
                     {1000, C::Edit, QString(), 151, 28, 40, 14},
                     {1001, C::Edit, QString(), 151, 44, 40, 14},
                     {ids::IdOk, C::DefPushButton, QStringLiteral("OK"), 58, 71, 50, 14},
                     {ids::IdCancel, C::PushButton, QStringLiteral("Cancel"), 111, 71, 50, 14},
                     {-1, C::StaticRight, QStringLiteral("Width:"), 119, 31, 28, 8},
                     {-1, C::StaticRight, QStringLiteral("Height:"), 119, 47, 28, 8},
                     {-1, C::Static, QStringLiteral("percent"), 64, 39, 26, 8},
                     {-1, C::Static, QStringLiteral("OR"), 98, 39, 11, 8},
                     {-1, C::GroupBox, QStringLiteral("Resize to"), 7, 17, 209, 48},
                     {-1, C::Icon, QString::number(ids::IconResize), 194, 34, 20, 20},
                     {-1, C::StaticCentered, QStringLiteral("Enter percent value from 101 to 2000"),
                      7, 7, 209, 8},
                     {1006, C::UpDown, QString(), 48, 36, 11, 14}}});
  templates.insert(
      ids::DlgProgress,
      {ids::DlgProgress,
       QStringLiteral("Resizing progress"),
       204,
       94,
       shellDlg,
       8,
       false,
       {{1002, C::PushButton, QStringLiteral("Abort"), 57, 73, 50, 14},
        {1003, C::ProgressBar, QString(), 7, 17, 190, 14},
        {1004, C::ProgressBar, QString(), 7, 50, 190, 14},
        {-1, C::Static, QStringLiteral("Overall progress:"), 7, 7, 190, 8},
        {-1, C::Static, QStringLiteral("Current step progress:"), 7, 40, 190, 8},
        {1005, C::DefPushButton, QStringLiteral("Work in background"), 123, 73, 74, 14},
        {1007, C::PushButton, QStringLiteral("Resume"), 7, 73, 50, 14}}});
  return templates;
}

}  // namespace

const DialogTemplate& Dialog(int id) {
  static const QHash<int, DialogTemplate> templates = MakeTemplates();
  static const DialogTemplate none{0, QString(), 0, 0, QString(), 8, true, {}};
  auto it = templates.constFind(id);
  return it == templates.constEnd() ? none : *it;
}

}  // namespace res
