#pragma once

#include <FreeImage.h>

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <QTemporaryFile>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "files/DecoderProcess.h"
#include "files/JpegChoices.h"
#include "platform/CMessageLoopHooks.h"
#include "platform/CUpdateUI.h"

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSplitter;
class QToolBar;
class CEnlargerView;
class CMyPaneContainer;
class CWaitDlg;
class CProgressDlg;
namespace platform {
class CJob;
class FrameMessageEvent;
}  // namespace platform

// The one main window and the owner of all of the program's state. Runs on the
// UI thread; worker threads reach only the images, paths and resize parameters,
// under m_imageLock, and report with frame messages.
// Handlers are defined in the folder of the subsystem that owns them.
class CMainFrame : public QMainWindow,
                   public platform::CUpdateUI,
                   public platform::CMessageFilter,
                   public platform::CIdleHandler {
 public:
  CMainFrame();
  ~CMainFrame() override;

  // --- app/: shell, message map, shutdown ---
  bool event(QEvent* e) override;
  // The message map for the frame's private messages and commands.
  intptr_t OnFrameMessage(unsigned message, uintptr_t wParam, intptr_t lParam,
                          const std::shared_ptr<platform::CJob>& job);
  void OnCommand(int id);
  void OnClose();
  void OnDestroy();
  void OnActivate(bool active);
  // --- the one worker (load, resize or save) ---
  // Makes the worker thread for work, held at its start until the caller
  // lets it go, once a previous worker has ended: at most one exists. Null,
  // after an "Error" box, when no thread can be had; nothing has changed then.
  std::shared_ptr<platform::CJob> StartWorker(std::function<void(platform::CJob&)> work);
  // Gives up the worker: it stops at its next progress report, and whatever
  // it produces afterwards changes nothing. False when its done message is on
  // its way (the job completed). It stays in m_worker until it has ended.
  bool AbandonWorker();
  // Waits until the worker's thread has returned, then drops m_worker. Events
  // keep flowing meanwhile, and a wait that lasts is shown in the wait dialog.
  // The one wait for a worker; never gives up on one that runs.
  void EndWorker();
  // Brings the frame back, maximised or restored as it was when the job
  // started (m_showCmd).
  void RestoreFrame();
  // Before the images may be discarded (Open, closing, a dropped file): waits
  // for a worker that still runs, then asks about an unsaved result. True to
  // go on: nothing unsaved, No, or Yes and the result was really saved.
  bool SettleUnsavedResult();
  // The frame's timers, by the program's own ids (m_timerId); each tick
  // reaches the message map as WM_TIMER with the id as wParam.
  void SetTimer(int id, int milliseconds);
  void KillTimer(int id);

  // --- frame/: creation, layout, routing, UI state, panes, help ---
  void OnCreate();
  bool PreTranslateMessage(QObject* target, QEvent* event) override;
  bool OnIdle() override;
  void OnViewToolBar();
  void OnViewStatusBar();
  // asking: the window the request came from, when not this one.
  void OnHelp(int id, QWidget* asking = nullptr);
  void OnAbout();
  // Grays or enables the View menu's "Zoom To ..." submenu as a whole.
  void EnableZoomToMenu(bool enable);
  // Radio mark of the "Zoom To ..." submenu; one of its sixteen items.
  void SetZoomToMark(int commandId);
  // Repaints both pane captions at once.
  void RedrawCaptions();
  // The status bar's right part: the source's name and size, and the result's size.
  void UpdateImageInfo();
  // Puts m_metadataNotice, when there is one, in the status bar.
  void ShowMetadataNotice();
  // Called with every command id before it is routed, whatever raised it
  // (menu, toolbar, accelerator); lets tests watch the routing.
  std::function<void(int)> m_commandObserver;

  // --- files/: open, save, wait dialog ---
  void OnFileOpen();
  void OnLoadDone(uintptr_t wParam, intptr_t lParam, const std::shared_ptr<platform::CJob>& job);
  void OnSaveResizedAs();
  // Where the save dialog starts: the folder it was last left in, else the source's.
  QString SaveFolder() const;
  void OnSaveDone(uintptr_t wParam, intptr_t lParam, const std::shared_ptr<platform::CJob>& job);
  // Opens path as Open does once its dialog has given it: the images are
  // discarded and the load worker runs behind the wait dialog. pasted: the
  // file that holds the clipboard's picture (path), kept until the next load.
  void OpenFile(const std::string& path, std::unique_ptr<QTemporaryFile> pasted = nullptr);
  // The source's name as the status bar shows it.
  QString SourceName() const;
  // Edit menu: the clipboard.
  void OnEditPaste();
  void OnEditCopyResult();
  // The recent pictures of the File menu (m_recentActions) as remembered.
  void UpdateRecentMenu();
  void OnFileRecent(int index);
  void OnClearRecent();
  // After a load: its picture goes first in the recent pictures, or its name,
  // when it no longer opens, leaves them.
  void NoteRecentPicture();
  // A picture dropped on the window: the unsaved-result question, then OpenFile.
  void OnFileDropped(const std::string& path);
  static void PumpMessages();
  // The status bar's word on the last load: why it gave no picture, or that
  // its file was incomplete.
  void ShowLoadStatus();
  // The word on a failed load lasts until the next command.
  void EndLoadFailureWord();
  // Worker bodies of loading and saving; they run on the job's thread.
  void LoadWorker(platform::CJob& job);
  void SaveWorker(platform::CJob& job);
  // The JPEG options dialog after the save dialog; false when cancelled.
  bool ChooseJpegOptions();
  // Says once per result that an enlargement of a 16-bit picture was saved
  // with 8 bits a channel.
  void ShowDepthNotice();
  // Puts note (when not empty) in the status bar after what a save said there.
  void AddStatusNote(const std::string& note);
  // Puts "Cannot save <name>: <reason>." in the status bar.
  void ShowSaveFailure(const std::string& name, const std::string& reason);
  // The one wait dialog, made on first use.
  CWaitDlg& WaitDlg();
  // Owner of the file dialogs and the wait dialog: the active window.
  QWidget* DialogOwner();
  // Makes a load or save worker, held; null when none could be made.
  std::shared_ptr<platform::CJob> StartWaitJob(void (CMainFrame::*worker)(platform::CJob&));
  // Lets the held job go and shows the wait dialog until it ends.
  void RunWaitJob(const std::shared_ptr<platform::CJob>& job, unsigned doneMsg,
                  const QString& text);
  // How a load or save done message counts: the message of an abandoned job,
  // or an Abort after which the job's own done message still comes, is ignored.
  enum class WaitOutcome { Ignored, Completed, Aborted };
  WaitOutcome SettleWaitJob(uintptr_t wParam, const std::shared_ptr<platform::CJob>& job);

  // --- resize/: the resize job ---
  void OnResize();
  void OnJobTimer(int timerId);
  void OnResizeDone(uintptr_t wParam, intptr_t lParam, const std::shared_ptr<platform::CJob>& job);
  void OnResizeProgress(uintptr_t wParam, intptr_t lParam);
  void OnPercentCommit(intptr_t lParam);
  void OnPercentComboCommand(int notifyCode, int index);
  // Remembers the percent box's text unless it is the list's last item.
  void OnPercentTextChanged(const QString& text);
  // The job timer's title: the application's name, read on the first tick,
  // and the ticks counted over the whole run.
  QString m_jobTitleBase;
  uint64_t m_jobTicks = 0;
  // The memory status: bytes available, nullopt when unknown; null reads
  // /proc/meminfo. Tests put in their own figure.
  std::function<std::optional<uint64_t>()> m_memoryStatus;
  std::optional<uint64_t> AvailableMemory() const;
  // The status bar tells the largest percent that fits, after a refusal.
  bool m_memoryHintShown = false;
  // The percent box's text before "Other..." replaced it.
  QString m_percentTextShown;
  // A side typed in the resize-parameters dialog (0: none), made exactly by
  // the resize that its OK starts; any other start of Resize forgets it.
  int m_typedWidth = 0;
  int m_typedHeight = 0;

  // --- views/: zoom and synchronisation ---
  void ActivateView(int index);
  double NextZoomStep(double x, bool up) const;
  void CheckZoomMenuItem(int percent);
  void ZoomActiveViewToFit();
  void OnZoomIn();
  void OnZoomOut();
  void OnZoomToFit();
  void OnZoomTo(int id);
  void OnSyncScroll();
  void OnSyncZoom();
  // Re-fits views in fit mode after the frame or the splitter changed size.
  void RefitViews();
  // Puts the splitter bar in the middle.
  void CentreSplitter();
  // Puts the splitter bar where m_splitterRatio says.
  void ApplySplitterRatio();
  // View, Compare in One Pane: on, the result's pane alone shows both
  // pictures; off (EndCompare, also when the result goes), the two panes
  // come back as they were.
  void OnCompareInOnePane();
  void EndCompare();
  bool m_compare = false;
  // The result view's zoom and offsets as the panes became one: before and
  // just after; and the original's offset.
  double m_compareZoom = 1.0;
  std::array<QPoint, 2> m_compareOffsets;
  QPoint m_compareLeftOffset;

  CEnlargerView* View(int index) const { return index == 0 ? m_leftView : m_rightView; }
  CMyPaneContainer* Pane(int index) const { return index == 0 ? m_leftPane : m_rightPane; }

  // --- state, in the order of its description ---
  std::mutex m_imageLock;
  QString m_helpPath;
  QComboBox* m_percentCombo = nullptr;
  QLineEdit* m_percentEdit = nullptr;
  QString m_percentText;
  static constexpr int kShowMaximize = 3;
  static constexpr int kShowRestore = 9;
  int m_showCmd = kShowRestore;
  int m_timerId = 0;
  std::string m_sourcePath;  // UTF-8
  std::string m_savePath;    // UTF-8
  bool m_cropToBudget = false;
  uint64_t m_pixelBudget = 0;
  double m_scale = 2.0;
  bool m_syncScroll = false;
  bool m_syncZoom = false;
  bool m_zoomSyncBusy = false;
  double m_savedLeftZoom = 1.0;
  double m_savedRightZoom = 1.0;
  FIBITMAP* m_source = nullptr;
  bool m_sourceIncomplete = false;              // its file ended early: part of it is blank
  bool m_sourcePasted = false;                  // it came from the clipboard: it has no file
  uint32_t m_sourceFrames = 1;                  // the pictures its file holds; the first is shown
  std::unique_ptr<QTemporaryFile> m_pasteFile;  // what the clipboard gave, while it loads
  // Why the last load gave no picture; the declared size when too large.
  files::LoadFailure m_loadFailure = files::LoadFailure::None;
  uint32_t m_loadFailureWidth = 0, m_loadFailureHeight = 0;
  // What the last resize or save left out of the picture's metadata, for
  // the status bar; written by the worker through its job's Commit.
  std::string m_metadataNotice;
  // Handed to the decoder process as its fault to play; tests only.
  std::string m_decoderTestFault;
  FIBITMAP* m_result = nullptr;
  std::shared_ptr<platform::CJob> m_worker;
  CWaitDlg* m_waitDlg = nullptr;
  CProgressDlg* m_progressDlg = nullptr;
  int m_resultHeight = 0;
  int m_resultWidth = 0;
  int m_saveFormat = 1;
  // The JPEG options chosen last; read from the settings at the first save
  // as JPEG and kept there across runs.
  files::JpegChoices m_jpegChoices;
  bool m_jpegChoicesRead = false;
  // Why the last save failed and the file's name, for the status bar;
  // written by the worker through its job's Commit.
  std::string m_saveFailure;
  std::string m_saveFailedName;
  // What the last successful save put in the status bar.
  QString m_saveWords;
  // The result whose depth was last told about, so that it is told once.
  const FIBITMAP* m_depthNotedFor = nullptr;
  // The share of the running save written, in thousandths (-1 before the
  // writer tells any); the wait dialog's bar reads it.
  std::atomic<int> m_saveProgress{-1};
  bool m_resultSaved = true;
  int m_activePane = 0;
  const std::array<double, 15> m_zoomTable{0.1, 0.25, 0.5, 0.75, 1.0, 1.5,  2.0, 2.5,
                                           3.0, 3.5,  4.0, 4.5,  5.0, 10.0, 20.0};
  const int m_zoomCount = 15;
  QSplitter* m_splitter = nullptr;
  CMyPaneContainer* m_leftPane = nullptr;
  CMyPaneContainer* m_rightPane = nullptr;
  CEnlargerView* m_activeView = nullptr;
  CEnlargerView* m_leftView = nullptr;
  CEnlargerView* m_rightView = nullptr;
  QList<QAction*> m_recentActions;  // the File menu's recent pictures, in order
  QMenu* m_viewMenu = nullptr;      // "&View"
  QMenu* m_zoomToMenu = nullptr;    // its "Zoom To ..." submenu (position 6)
  QToolBar* m_toolBar = nullptr;
  bool m_toolBarVisible = true;
  QActionGroup* m_zoomToGroup = nullptr;  // the sixteen "Zoom To ..." items
  int m_zoomToMark = 0;                   // command id of the marked one; 0 = none
  QLabel* m_readyLabel = nullptr;         // the status bar's idle text
  QLabel* m_imageInfoLabel = nullptr;     // the status bar's right part
  double m_splitterRatio = 0.5;           // left pane's share, kept on resizing

 protected:
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  // frame/: building the bars and routing their actions.
  void CreateMenuBar();
  void CreateToolBar();
  void CreatePercentBox();
  void CreatePanes();
  void RouteAction(int id);
  bool SplitterMouse(QObject* target, QEvent* event);
  bool PercentBoxKey(int key);
  // app/: the teardown shared by OnDestroy and the destructor.
  void ReleaseResources();

  bool m_destroyed = false;
  QHash<int, int> m_timers;  // toolkit timer id -> program timer id
};
