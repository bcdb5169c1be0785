#pragma once

#include <QTextBrowser>
#include <QUrl>

class CChmArchive;

// Shows the pages of one help file, with their links, pictures and style
// sheets read from the file. A page that the file does not hold shows a page
// saying so. UI thread only.
class CChmBrowser : public QTextBrowser {
 public:
  CChmBrowser(const CChmArchive& archive, QWidget* parent);

  // The address under which an object of the help file is shown.
  static QUrl TopicUrl(const QString& objectPath);

  QVariant loadResource(int type, const QUrl& name) override;

 private:
  QString MissingTopicPage(const QUrl& url) const;

  const CChmArchive& m_archive;
  QUrl m_page;  // the page being shown: relative addresses resolve against it
};
