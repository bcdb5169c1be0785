#include "hh/CHelpViewer.h"

#include <QAction>
#include <QDockWidget>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>

#include "hh/CChmArchive.h"
#include "hh/CChmBrowser.h"
#include "hh/HelpTopics.h"

namespace {
constexpr int kLocalRole = Qt::UserRole;
}  // namespace

CHelpViewer::CHelpViewer(std::unique_ptr<CChmArchive> archive, const QString& topic)
    : m_archive(std::move(archive)),
      m_browser(new CChmBrowser(*m_archive, this)),
      m_contents(new QTreeWidget) {
  setCentralWidget(m_browser);
  resize(860, 620);
  // The viewer opens in the middle of the screen, not where the window
  // manager puts a window without a place.
  if (QScreen* screen = this->screen()) {
    QRect place(QPoint(), size());
    place.moveCenter(screen->availableGeometry().center());
    move(place.topLeft());
  }

  QToolBar* bar = addToolBar(QStringLiteral("Navigation"));
  bar->setMovable(false);
  QAction* back =
      bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"));
  QAction* forward =
      bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Forward"));
  QAction* home =
      bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Home"));
  back->setShortcut(QKeySequence::Back);
  forward->setShortcut(QKeySequence::Forward);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(back, &QAction::triggered, m_browser, &QTextBrowser::backward);
  connect(forward, &QAction::triggered, m_browser, &QTextBrowser::forward);
  connect(home, &QAction::triggered, this, &CHelpViewer::OnHome);
  connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
  connect(m_browser, &QTextBrowser::sourceChanged, this, &CHelpViewer::OnSourceChanged);
  connect(m_browser, qOverload<const QUrl&>(&QTextBrowser::highlighted), this,
          [this](const QUrl& url) { statusBar()->showMessage(url.path().mid(1)); });

  // Closed from the keyboard, as desktop help windows are.
  auto* close = new QAction(this);
  close->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)});
  close->setShortcutContext(Qt::WindowShortcut);
  connect(close, &QAction::triggered, this, &QWidget::close);
  addAction(close);

  BuildContents();
  m_browser->setSource(CChmBrowser::TopicUrl(topic.isEmpty() ? m_archive->StartPage() : topic));
}

CHelpViewer::~CHelpViewer() = default;

void CHelpViewer::MoveBeside(const KeepVisible& asking) {
  QScreen* screen = QGuiApplication::screenAt(asking.frame.center());
  if (!screen) screen = this->screen();
  if (!screen) return;
  // The window manager will likely frame the viewer as it framed the asking window.
  const QSize margins(asking.margins.left() + asking.margins.right(),
                      asking.margins.top() + asking.margins.bottom());
  const std::optional<QRect> frame =
      PlaceBeside(screen->availableGeometry(), size() + margins, asking.frame,
                  minimumSizeHint().expandedTo(QSize(480, 360)) + margins);
  if (!frame) return;
  resize(frame->size() - margins);
  move(frame->topLeft());
}

void CHelpViewer::BuildContents() {
  m_contents->setHeaderHidden(true);
  m_contents->header()->setStretchLastSection(true);
  std::vector<QTreeWidgetItem*> parents;  // the last item at each depth
  for (const ContentsEntry& entry :
       ParseSitemap(m_archive->Read(m_archive->ContentsFile()).value_or(QByteArray()))) {
    const size_t depth = std::min<size_t>(entry.depth, parents.size());
    parents.resize(depth);
    auto* item = depth == 0 ? new QTreeWidgetItem(m_contents) : new QTreeWidgetItem(parents.back());
    item->setText(0, entry.name);
    item->setData(0, kLocalRole, entry.local);
    parents.push_back(item);
  }
  m_contents->expandAll();
  connect(m_contents, &QTreeWidget::itemClicked, this, &CHelpViewer::OnContentsItem);
  connect(m_contents, &QTreeWidget::itemActivated, this, &CHelpViewer::OnContentsItem);
  if (m_contents->topLevelItemCount() == 0) return;  // no table: the page alone
  auto* dock = new QDockWidget(QStringLiteral("Contents"), this);
  dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
  dock->setWidget(m_contents);
  addDockWidget(Qt::LeftDockWidgetArea, dock);
  resizeDocks({dock}, {220}, Qt::Horizontal);
}

void CHelpViewer::OnSourceChanged(const QUrl& url) {
  const QString title = m_browser->documentTitle();
  setWindowTitle(title.isEmpty() || title == m_archive->Title()
                     ? m_archive->Title()
                     : title + QStringLiteral(" - ") + m_archive->Title());
  // Follow the page in the table without sending the browser there again.
  const QList<QTreeWidgetItem*> items =
      m_contents->findItems(QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive);
  for (QTreeWidgetItem* item : items) {
    if (item->data(0, kLocalRole).toString() == url.path()) {
      const QSignalBlocker block(m_contents);
      m_contents->setCurrentItem(item);
      return;
    }
  }
  m_contents->clearSelection();
}

void CHelpViewer::OnContentsItem(QTreeWidgetItem* item) {
  const QString local = item->data(0, kLocalRole).toString();
  if (!local.isEmpty() && local != m_browser->source().path())
    m_browser->setSource(CChmBrowser::TopicUrl(local));
}

void CHelpViewer::OnHome() { m_browser->setSource(CChmBrowser::TopicUrl(m_archive->StartPage())); }
