#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

// What the help viewer reads from its command line and from a help file's
// internal tables. Plain parsing, any thread.

// The viewer's argument: the help file, and the topic in it (an object path
// such as "/index.html"; empty for the start page).
struct HelpArgument {
  QString file;
  QString topic;
};

// Splits "file.chm" or "file.chm::/topic.html". A whole argument that names
// an existing file is a file even when it contains "::".
HelpArgument ParseHelpArgument(const QString& argument,
                               const std::function<bool(const QString&)>& isFile);

// "topic.html" and "/topic.html" both name the object "/topic.html".
QString ObjectPath(const QString& topic);

// The entries of a help file's #SYSTEM table that the viewer uses.
struct SystemInfo {
  QString contentsFile;  // object path of the table of contents, or empty
  QString defaultTopic;  // object path of the start page, or empty
  QString title;
};
SystemInfo ParseSystemFile(const QByteArray& data);

// One line of a table of contents (.hhc sitemap).
struct ContentsEntry {
  QString name;
  QString local;  // object path, or empty for a heading without a page
  int depth;      // 0 for top-level entries
};
std::vector<ContentsEntry> ParseSitemap(const QByteArray& html);
