#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

// What the program remembers between runs: the recent pictures and the
// folders its file dialogs were last left in. Kept in the user's settings
// file, written at each change so that a later run sees it. UI thread only.
namespace files {

constexpr int kRecentPictures = 8;

// The user's settings file of Magnova (~/.config/Magnova/Magnova.ini), the
// one place all that is remembered is kept.
QSettings UserSettings();

// list with path put first, an earlier mention of it dropped, and no more
// than kRecentPictures long.
QStringList WithRecent(QStringList list, const QString& path);

// The File menu's text for the recent picture at index (0 = most recent):
// "&1 name.jpg", a "&" in the name shown as itself.
QString RecentMenuText(int index, const QString& path);

QStringList RecentPictures();
void StoreRecentPictures(const QStringList& paths);

enum class FileDialogKind { Open, Save };
// The folder the dialog of that kind was last left in; empty when none, or
// when it no longer exists.
QString LastFolder(FileDialogKind kind);
void RememberFolder(FileDialogKind kind, const QString& folder);

}  // namespace files
