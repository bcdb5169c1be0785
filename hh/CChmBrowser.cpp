#include "hh/CChmBrowser.h"

#include <QTextDocument>

#include "hh/CChmArchive.h"

namespace {
const QString kScheme = QStringLiteral("chm");
}  // namespace

CChmBrowser::CChmBrowser(const CChmArchive& archive, QWidget* parent)
    : QTextBrowser(parent), m_archive(archive) {
  setOpenLinks(true);
  setOpenExternalLinks(false);
}

QUrl CChmBrowser::TopicUrl(const QString& objectPath) {
  QUrl url;
  url.setScheme(kScheme);
  url.setPath(objectPath);
  return url;
}

QVariant CChmBrowser::loadResource(int type, const QUrl& name) {
  const QUrl url = name.isRelative() ? m_page.resolved(name) : name;
  const bool page = type == QTextDocument::HtmlResource;
  if (page) m_page = url;
  std::optional<QByteArray> data;
  if (url.scheme() == kScheme) data = m_archive.Read(url.path());
  if (!data) return page ? QVariant(MissingTopicPage(url)) : QVariant();
  if (type == QTextDocument::StyleSheetResource) return QString::fromUtf8(*data);
  return *data;
}

QString CChmBrowser::MissingTopicPage(const QUrl& url) const {
  const QString what =
      url.scheme() == kScheme
          ? QStringLiteral("The help file \"%1\" has no topic \"%2\".")
                .arg(m_archive.Path().toHtmlEscaped(), url.path().mid(1).toHtmlEscaped())
          : QStringLiteral(
                "Only pages of the help file can be shown here, "
                "not \"%1\".")
                .arg(url.toString().toHtmlEscaped());
  return QStringLiteral(
             "<html><head><title>Topic not found</title></head><body>"
             "<h1>Topic not found</h1><p>%1</p>"
             "<p><a href=\"%2\">Go to the start page</a></p></body></html>")
      .arg(what, TopicUrl(m_archive.StartPage()).toString().toHtmlEscaped());
}
