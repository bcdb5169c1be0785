#include "files/Remembered.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace files {

namespace {

QString FolderKey(FileDialogKind kind) {
  return kind == FileDialogKind::Open ? QStringLiteral("folders/open")
                                      : QStringLiteral("folders/save");
}

}  // namespace

// One settings file of our own, whatever the application object is named.
QSettings UserSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Magnova"),
                   QStringLiteral("Magnova"));
}

QStringList WithRecent(QStringList list, const QString& path) {
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kRecentPictures) list.removeLast();
  return list;
}

QString RecentMenuText(int index, const QString& path) {
  QString name = QFileInfo(path).fileName();
  name.replace(u'&', QStringLiteral("&&"));
  return QStringLiteral("&%1 %2").arg(index + 1).arg(name);
}

QStringList RecentPictures() {
  QStringList paths = UserSettings().value(QStringLiteral("recent/pictures")).toStringList();
  paths.removeAll(QString());
  paths.removeDuplicates();
  return paths.mid(0, kRecentPictures);
}

void StoreRecentPictures(const QStringList& paths) {
  UserSettings().setValue(QStringLiteral("recent/pictures"), paths);
}

QString LastFolder(FileDialogKind kind) {
  const QString folder = UserSettings().value(FolderKey(kind)).toString();
  return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

void RememberFolder(FileDialogKind kind, const QString& folder) {
  UserSettings().setValue(FolderKey(kind), folder);
}

}  // namespace files
