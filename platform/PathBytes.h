#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>
#include <string_view>

// The one conversion between the paths that widgets show and the bytes that
// the file system takes: file names are byte strings, shown as text in the
// file system's encoding. Any thread.
namespace platform {

inline std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

inline QString PathText(std::string_view bytes) {
  return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

}  // namespace platform
