// Building the main window: menu bar, toolbar with the percent box, status
// bar, and the splitter with the two captioned panes and their views.
#include <QAbstractItemView>
#include <algorithm>
#include <QActionGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include "app/CMainFrame.h"
#include "frame/CMyPaneContainer.h"
#include "platform/ExecutableFolder.h"
#include "platform/PathBytes.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "views/CEnlargerView.h"

namespace {

constexpr int kMinimumPaneWidth = 240;
constexpr int kMinimumFrameHeight = 360;

bool IsToggle(int id) {
  return id == ids::SyncScroll || id == ids::SyncZoom || id == ids::ViewToolBar ||
         id == ids::ViewStatusBar || id == ids::CompareInOnePane;
}

}  // namespace

void CMainFrame::OnCreate() {
  FreeImage_Initialise(TRUE);
  m_source = nullptr;
  m_result = nullptr;

  CreateMenuBar();
  CreateToolBar();
  CreatePercentBox();

  m_readyLabel = new QLabel(res::LoadString(ids::StrReady));
  statusBar()->addWidget(m_readyLabel, 1);
  m_imageInfoLabel = new QLabel(this);
  m_imageInfoLabel->setObjectName(QStringLiteral("imageInfo"));
  statusBar()->addPermanentWidget(m_imageInfoLabel);
  statusBar()->setSizeGripEnabled(true);

  CreatePanes();
  ActivateView(0);
  m_leftPane->m_active = false;  // no pane is active until an image is shown
  setCentralWidget(m_splitter);

  UISetCheck(ids::ViewToolBar, true);
  UISetCheck(ids::ViewStatusBar, true);
  UISetCheck(ids::SyncScroll, false);
  UISetCheck(ids::SyncZoom, false);
  for (int id : ids::ImageCommands) UIEnable(id, false);
  EnableZoomToMenu(false);
  UpdateRecentMenu();
  // Smaller, the window would lose toolbar buttons behind its edge and the
  // panes to nothing: the whole toolbar, and panes that still show a picture.
  setMinimumSize(std::max(m_toolBar->sizeHint().width(), 2 * kMinimumPaneWidth),
                 kMinimumFrameHeight);

  platform::RegisterMessageLoopHooks(this, this);

  // The frame's first size is a share of the screen, as a new window gets on
  // the desktop; the splitter bar starts in the middle.
  if (QScreen* screen = this->screen()) resize(screen->availableGeometry().size() * 3 / 4);
  CentreSplitter();

  m_resultSaved = true;
  m_worker = nullptr;
  // The help file lives beside the executable.
  m_helpPath = platform::PathText(platform::ExecutableFolder() + "help.chm");
  m_timerId = 12321;
  setWindowTitle(res::LoadString(ids::StrAppName));
  setWindowIcon(res::AppIcon(ids::IconApp));
  // The bars are fixed: no context menu that could hide them behind the toggles' back.
  setContextMenuPolicy(Qt::NoContextMenu);
  setAcceptDrops(true);
}

void CMainFrame::CreateMenuBar() {
  const std::vector<res::MenuItem>& popups = res::MainMenu();
  for (size_t index = 0; index < popups.size(); ++index) {
    QMenu* menu = menuBar()->addMenu(popups[index].text);
    // Governed items take their states from the table as their popup opens.
    connect(menu, &QMenu::aboutToShow, this, [this] { UIUpdateMenu(); });
    if (popups[index].text == QStringLiteral("&View")) m_viewMenu = menu;
    for (const res::MenuItem& item : popups[index].children) {
      if (item.text.isEmpty()) {
        menu->addSeparator();
        continue;
      }
      if (!item.children.empty()) {
        m_zoomToMenu = menu->addMenu(item.text);
        m_zoomToGroup = new QActionGroup(this);
        m_zoomToGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        for (const res::MenuItem& level : item.children) {
          if (level.text.isEmpty()) {
            m_zoomToMenu->addSeparator();
            continue;
          }
          QAction* action = m_zoomToMenu->addAction(res::ToolbarImage(level.id), level.text);
          action->setCheckable(true);
          action->setData(level.id);
          action->setStatusTip(res::CommandPrompt(level.id));
          m_zoomToGroup->addAction(action);
          connect(action, &QAction::triggered, this, [this, id = level.id] { RouteAction(id); });
        }
        continue;
      }
      if (item.id == ids::FileRecentFirst) {
        // Shown as the list fills (UpdateRecentMenu).
        for (int recent = 0; recent < ids::FileRecentCount; ++recent) {
          QAction* action = menu->addAction(QString());
          action->setVisible(false);
          const int id = ids::FileRecentFirst + recent;
          connect(action, &QAction::triggered, this, [this, id] { RouteAction(id); });
          m_recentActions.append(action);
        }
        continue;
      }
      QAction* action = menu->addAction(res::ToolbarImage(item.id), item.text);
      action->setCheckable(IsToggle(item.id));
      action->setStatusTip(res::CommandPrompt(item.id));
      connect(action, &QAction::triggered, this, [this, id = item.id] { RouteAction(id); });
      UIAddMenuAction(item.id, action);
    }
  }
}

void CMainFrame::CreateToolBar() {
  m_toolBar = new QToolBar(this);
  m_toolBar->setObjectName(QStringLiteral("toolbar"));
  m_toolBar->setMovable(false);
  m_toolBar->setFloatable(false);
  m_toolBar->setIconSize(QSize(16, 15));
  m_toolBar->toggleViewAction()->setVisible(false);
  addToolBar(Qt::TopToolBarArea, m_toolBar);
  for (const res::ToolbarButton& button : res::MainToolbar()) {
    if (button.id == 0) {
      m_toolBar->addSeparator();
      continue;
    }
    auto* action = new QAction(res::ToolbarImage(button.id), res::CommandTooltip(button.id), this);
    // The tooltip only: the status-bar prompt belongs to the highlighted menu item.
    action->setToolTip(res::CommandTooltip(button.id));
    action->setCheckable(IsToggle(button.id));
    action->setData(button.id);
    connect(action, &QAction::triggered, this, [this, id = button.id] { RouteAction(id); });
    m_toolBar->addAction(action);
    UIAddToolBarAction(button.id, action);
  }
}

void CMainFrame::CreatePercentBox() {
  m_percentCombo = new QComboBox(m_toolBar);
  m_percentCombo->setObjectName(QStringLiteral("percentCombo"));
  m_percentCombo->setEditable(true);
  // A plain drop-down: no completion while typing, and Enter adds nothing to the list.
  m_percentCombo->setCompleter(nullptr);
  m_percentCombo->setInsertPolicy(QComboBox::NoInsert);
  // The toolbar's small font, narrowed a little so that "2000%" and the
  // cursor after it fit beside the arrow.
  QFont small = m_percentCombo->font();
  small.setPointSize(8);
  small.setStretch(QFont::SemiCondensed);
  m_percentCombo->setFont(small);
  m_percentCombo->setFixedWidth(64);
  m_percentCombo->addItems({QStringLiteral("25%"), QStringLiteral("50%"), QStringLiteral("75%"),
                            QStringLiteral("200%"), QStringLiteral("300%"), QStringLiteral("400%"),
                            QStringLiteral("500%"), QStringLiteral("600%"), QStringLiteral("700%"),
                            QStringLiteral("800%"), QStringLiteral("900%"), QStringLiteral("1000%"),
                            QStringLiteral("1500%"), QStringLiteral("2000%"),
                            QStringLiteral("Other...")});
  // The drop-down list is as wide as its longest entry, scroll bar included,
  // even where that is wider than the box.
  // The whole list opens at once, "Other..." included.
  m_percentCombo->setMaxVisibleItems(m_percentCombo->count());
  QAbstractItemView* list = m_percentCombo->view();
  list->setFont(small);
  list->setTextElideMode(Qt::ElideNone);
  list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                        list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list));
  m_percentCombo->setCurrentIndex(-1);
  m_percentCombo->setEditText(QString());
  m_percentCombo->setEnabled(false);
  m_percentEdit = m_percentCombo->lineEdit();
  // The box sits just before the Resize button.
  for (QAction* action : m_toolBar->actions()) {
    if (action->data().toInt() == ids::Resize) {
      m_toolBar->insertWidget(action, m_percentCombo);
      break;
    }
  }
  constexpr int kSelectionChange = 1;
  connect(m_percentCombo, &QComboBox::activated, this,
          [this](int index) { OnPercentComboCommand(kSelectionChange, index); });
  connect(m_percentEdit, &QLineEdit::textChanged, this, &CMainFrame::OnPercentTextChanged);
}

void CMainFrame::CreatePanes() {
  m_splitter = new QSplitter(Qt::Horizontal, this);
  m_splitter->setObjectName(QStringLiteral("splitter"));
  m_splitter->setOpaqueResize(true);
  m_splitter->setChildrenCollapsible(false);
  m_splitter->setFrameShape(QFrame::StyledPanel);
  m_splitter->setFrameShadow(QFrame::Sunken);
  const QString titles[2] = {QStringLiteral("Original image"), QStringLiteral("Enlarged image")};
  for (int index = 0; index < 2; ++index) {
    auto* pane = new CMyPaneContainer(m_splitter);
    pane->SetTitle(titles[index]);
    pane->SetCaptionHeight(20);
    pane->m_frame = this;
    auto* view = new CEnlargerView(pane);
    view->m_frame = this;
    view->m_index = index;
    pane->SetClient(view);
    m_splitter->addWidget(pane);
    (index == 0 ? m_leftPane : m_rightPane) = pane;
    (index == 0 ? m_leftView : m_rightView) = view;
  }
  m_splitter->installEventFilter(this);
  // Dragging the bar resizes the panes, not the frame: views in fit mode are
  // refitted to the size the bar has just given them.
  connect(m_splitter, &QSplitter::splitterMoved, this, [this] { RefitViews(); });
  // Moves over the bar arrive even without a button held, as the bar rule needs.
  m_splitter->handle(1)->setMouseTracking(true);
}
