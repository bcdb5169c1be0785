#include "hh/CChmArchive.h"

#include <chm_lib.h>

#include <QFile>
#include <QFileInfo>

#include "hh/HelpTopics.h"
#include "platform/PathBytes.h"

namespace {
// No page or picture of a help file comes near this; a larger length means a
// damaged directory entry, which must not turn into a huge allocation.
constexpr LONGUINT64 kLargestObject = 256u * 1024 * 1024;
}  // namespace

std::unique_ptr<CChmArchive> CChmArchive::Open(const QString& path, QString& error) {
  const QString shown = QFileInfo(path).absoluteFilePath();
  QFile probe(path);
  if (QFileInfo(path).isDir()) {
    error = QStringLiteral("Cannot open the help file \"%1\": it is a folder.").arg(shown);
    return nullptr;
  }
  if (!probe.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("Cannot open the help file \"%1\": %2.").arg(shown, probe.errorString());
    return nullptr;
  }
  probe.close();
  chmFile* file = chm_open(platform::PathBytes(path).c_str());
  if (!file) {
    error = QStringLiteral("\"%1\" is not a compiled help file, or it is damaged.").arg(shown);
    return nullptr;
  }
  std::unique_ptr<CChmArchive> archive(new CChmArchive(file, shown));
  if (archive->m_startPage.isEmpty()) {
    error = QStringLiteral("The help file \"%1\" contains no pages.").arg(shown);
    return nullptr;
  }
  return archive;
}

CChmArchive::CChmArchive(chmFile* file, QString path) : m_file(file), m_path(std::move(path)) {
  const SystemInfo info = ParseSystemFile(Read(QStringLiteral("/#SYSTEM")).value_or(QByteArray()));
  m_title = info.title.isEmpty() ? QFileInfo(m_path).fileName() : info.title;
  m_contentsFile = Contains(info.contentsFile) ? info.contentsFile : QString();
  m_startPage = Contains(info.defaultTopic) ? info.defaultTopic : FirstPage();
}

CChmArchive::~CChmArchive() { chm_close(m_file); }

bool CChmArchive::Contains(const QString& objectPath) const {
  chmUnitInfo unit;
  return !objectPath.isEmpty() &&
         chm_resolve_object(m_file, objectPath.toUtf8().constData(), &unit) == CHM_RESOLVE_SUCCESS;
}

std::optional<QByteArray> CChmArchive::Read(const QString& objectPath) const {
  chmUnitInfo unit;
  if (objectPath.isEmpty() ||
      chm_resolve_object(m_file, objectPath.toUtf8().constData(), &unit) != CHM_RESOLVE_SUCCESS ||
      unit.length > kLargestObject) {
    return std::nullopt;
  }
  QByteArray data(static_cast<qsizetype>(unit.length), Qt::Uninitialized);
  if (unit.length == 0) return data;
  const LONGINT64 read = chm_retrieve_object(
      m_file, &unit, reinterpret_cast<unsigned char*>(data.data()), 0, unit.length);
  if (read != static_cast<LONGINT64>(unit.length)) return std::nullopt;
  return data;
}

namespace {
int CollectPage(chmFile*, chmUnitInfo* unit, void* context) {
  const QString path = QString::fromUtf8(unit->path);
  if (path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) ||
      path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive)) {
    *static_cast<QString*>(context) = path;
    return CHM_ENUMERATOR_SUCCESS;
  }
  return CHM_ENUMERATOR_CONTINUE;
}
}  // namespace

QString CChmArchive::FirstPage() const {
  for (const char* usual : {"/index.html", "/index.htm", "/default.html", "/default.htm"}) {
    if (Contains(QLatin1String(usual))) return QLatin1String(usual);
  }
  QString page;
  chm_enumerate(m_file, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, CollectPage, &page);
  return page;
}
