#include "hh/HelpTopics.h"

#include <QRegularExpression>

HelpArgument ParseHelpArgument(const QString& argument,
                               const std::function<bool(const QString&)>& isFile) {
  const qsizetype separator = argument.lastIndexOf(QLatin1String("::"));
  if (separator < 0 || isFile(argument)) return {argument, {}};
  return {argument.left(separator), ObjectPath(argument.mid(separator + 2))};
}

QString ObjectPath(const QString& topic) {
  if (topic.isEmpty() || topic.startsWith(QLatin1Char('/'))) return topic;
  return QLatin1Char('/') + topic;
}

namespace {
// Little-endian 16-bit value at offset; the caller checks the bounds.
int Word(const QByteArray& data, qsizetype offset) {
  return static_cast<unsigned char>(data[offset]) |
         (static_cast<unsigned char>(data[offset + 1]) << 8);
}

QString Text(const QByteArray& data, qsizetype offset, int length) {
  QByteArray bytes = data.mid(offset, length);
  const qsizetype end = bytes.indexOf('\0');
  if (end >= 0) bytes.truncate(end);
  return QString::fromUtf8(bytes);
}
}  // namespace

SystemInfo ParseSystemFile(const QByteArray& data) {
  // A 32-bit version, then records of (16-bit code, 16-bit length, data).
  enum { kContentsFile = 0, kDefaultTopic = 2, kTitle = 3 };
  SystemInfo info;
  qsizetype offset = 4;
  while (offset + 4 <= data.size()) {
    const int code = Word(data, offset);
    const int length = Word(data, offset + 2);
    offset += 4;
    if (offset + length > data.size()) break;  // a damaged table ends here
    if (code == kContentsFile) info.contentsFile = ObjectPath(Text(data, offset, length));
    if (code == kDefaultTopic) info.defaultTopic = ObjectPath(Text(data, offset, length));
    if (code == kTitle) info.title = Text(data, offset, length);
    offset += length;
  }
  return info;
}

namespace {
// The character references that appear in attribute values.
QString Unescape(QString text) {
  static const QRegularExpression numeric(QStringLiteral("&#(x?)([0-9a-fA-F]+);"));
  QString out;
  qsizetype last = 0;
  for (const QRegularExpressionMatch& m : numeric.globalMatch(text)) {
    out += QStringView(text).mid(last, m.capturedStart() - last);
    bool ok = false;
    const char32_t code = m.captured(2).toUInt(&ok, m.captured(1).isEmpty() ? 10 : 16);
    out += ok && code > 0 && code <= 0x10FFFF ? QString::fromUcs4(&code, 1) : m.captured(0);
    last = m.capturedEnd();
  }
  out += QStringView(text).mid(last);
  out.replace(QLatin1String("&lt;"), QLatin1String("<"));
  out.replace(QLatin1String("&gt;"), QLatin1String(">"));
  out.replace(QLatin1String("&quot;"), QLatin1String("\""));
  out.replace(QLatin1String("&amp;"), QLatin1String("&"));
  return out;
}
}  // namespace

std::vector<ContentsEntry> ParseSitemap(const QByteArray& html) {
  static const QRegularExpression token(
      QStringLiteral("<ul\\b[^>]*>|</ul\\s*>|<object\\b[^>]*text/sitemap[^>]*>(.*?)</object\\s*>"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression param(
      QStringLiteral("<param\\s+name\\s*=\\s*\"([^\"]*)\"\\s+value\\s*=\\s*\"([^\"]*)\""),
      QRegularExpression::CaseInsensitiveOption);
  std::vector<ContentsEntry> entries;
  int lists = 0;  // open <ul> elements; the outermost holds the top level
  for (const QRegularExpressionMatch& m : token.globalMatch(QString::fromUtf8(html))) {
    const QString whole = m.captured(0);
    if (whole.startsWith(QLatin1String("</"))) {
      lists = std::max(0, lists - 1);
    } else if (whole.startsWith(QLatin1String("<ul"), Qt::CaseInsensitive)) {
      ++lists;
    } else {
      ContentsEntry entry{{}, {}, std::max(0, lists - 1)};
      for (const QRegularExpressionMatch& p : param.globalMatch(m.captured(1))) {
        const QString name = p.captured(1);
        if (name.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0)
          entry.name = Unescape(p.captured(2));
        if (name.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0)
          entry.local = ObjectPath(Unescape(p.captured(2)));
      }
      if (!entry.name.isEmpty()) entries.push_back(entry);
    }
  }
  return entries;
}
