#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

struct chmFile;

// One compiled help file opened for reading. Not shared between threads.
class CChmArchive {
 public:
  // Opens path; on failure returns null and puts a message for the user into
  // error.
  static std::unique_ptr<CChmArchive> Open(const QString& path, QString& error);
  ~CChmArchive();
  CChmArchive(const CChmArchive&) = delete;
  CChmArchive& operator=(const CChmArchive&) = delete;

  // The contents of an object such as "/index.html"; nullopt when the file
  // has no such object or it cannot be read whole.
  std::optional<QByteArray> Read(const QString& objectPath) const;
  bool Contains(const QString& objectPath) const;

  const QString& Path() const { return m_path; }
  QString Title() const { return m_title; }
  // The page shown when no topic is asked for.
  QString StartPage() const { return m_startPage; }
  // The table of contents' object path, or empty when there is none.
  QString ContentsFile() const { return m_contentsFile; }

 private:
  CChmArchive(chmFile* file, QString path);
  QString FirstPage() const;

  chmFile* m_file;
  QString m_path;
  QString m_title;
  QString m_startPage;
  QString m_contentsFile;
};
