#pragma once

#include <FreeImage.h>

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <memory>
#include <vector>

#include "views/CReducedCopyMaker.h"
#include "views/DisplayBitmap.h"

class CMainFrame;
class QPainter;

// The zoomable, scrollable view of one image. UI thread only; it borrows
// m_image from the frame and reads it in place, converting only what it
// draws; the survey of its pixels and its reduced copies are made on workers
// that end before the view lets go of m_image.
class CEnlargerView : public QAbstractScrollArea {
 public:
  explicit CEnlargerView(QWidget* parent = nullptr);
  ~CEnlargerView() override;

  // Shows image (borrowed; null clears the view) from its top-left corner.
  // Replaces m_image and drops the display copies made from the previous
  // one; no worker reads the previous one any more once this returns. In fit
  // mode the next SetZoom fits the new picture instead.
  void SetImage(FIBITMAP* image);
  FIBITMAP* Image() const { return m_image; }

  double GetZoom() const { return m_zoom; }
  // False while the view shows less than its picture at this zoom: before
  // its pixels have been surveyed, and below 100 % until the reduced copy for
  // this zoom is made (or has failed), meanwhile showing an older one scaled.
  bool DisplayReady() const;
  void SetZoom(double zoom);
  QRect GetImageRect() const;
  void UpdateScrollSize(bool redraw);
  // rect in displayed-image pixels; its far edges are x + width, y + height.
  void ScrollToView(const QRect& rect);
  void SetScrollOffset(int x, int y, bool redraw);
  void SetScrollSize(int cx, int cy, bool redraw);
  // One scroll request (viewmath::ScrollCode) along one axis.
  void DoScroll(Qt::Orientation axis, int code);

  // Synchronisation with the other view.
  double MapZoomToOther(double zoom) const;
  void PropagateZoom(double zoom);
  void SyncScroll();

  CEnlargerView* OtherView() const;

  // Paints what the view shows for the given client rectangle; the paint
  // handler and offscreen renderings share it.
  void Render(QPainter& painter, const QRect& exposed);

  // Compare in One Pane, in the result's view: the other view's picture,
  // enlarged to this one's size, left of the divider.
  void SetCompare(bool on);
  bool Comparing() const { return m_compare; }
  // The divider's column in the client area; moved to x, kept within it.
  int DividerX() const;
  void MoveDivider(int x);

  CMainFrame* m_frame = nullptr;
  int m_index = 0;
  QPoint m_scrollOffset{0, 0};
  QSize m_scrollSize{0, 0};
  QSize m_lineSize{0, 0};
  QSize m_pageSize{0, 0};
  QSize m_clientSize{0, 0};
  int m_wheelRemainder = 0;
  int m_wheelLines = 3;
  double m_zoom = 1.0;
  bool m_fitToWindow = false;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void OnScrollBarAction(Qt::Orientation axis, int action);
  void OnScrollBarValue(Qt::Orientation axis, int value);
  void OnTab();
  // Moves the offset along one axis to value and shifts what is on screen.
  void MoveOffset(Qt::Orientation axis, int value);
  void ShowNeededBars();
  void ResetScrollBars();
  // Starts a reduced copy for the zoom shown when one is needed.
  void RequestReducedCopy();
  void OnReducedCopy(double zoom, CReducedCopyMaker::Picture copy);
  void OnSurvey(const views::Survey& survey);
  // Ctrl + wheel: one zoom step, the picture point under at staying there.
  void ZoomAtPoint(bool in, QPoint at);
  void DropDisplayCopies();
  // The zoom at which the picture fits the client area, at most 100 %.
  double FittedZoom() const;
  // Draws picture pixels (columns x rows) with their top left at at; a
  // translucent picture over a checkerboard.
  void PaintSamples(QPainter& painter, const views::DisplayBitmap& picture,
                    const std::vector<int>& columns, const std::vector<int>& rows, QPoint at);
  // The original left of the divider, within target (where the result is
  // drawn), and the divider.
  void RenderOriginal(QPainter& painter, const QRect& target);
  // The divider's share of the keys and the mouse; true when it took the event.
  bool DividerKey(const QKeyEvent* e);
  bool DividerMouse(const QMouseEvent* e);

  FIBITMAP* m_image = nullptr;
  // m_image as the view reads it; null when it holds no pixels or nothing
  // can show its kind.
  std::shared_ptr<views::DisplayBitmap> m_display;
  // The latest reduced copy, made for m_reducedZoom: while a copy for a new
  // zoom is made, the previous one is shown scaled.
  CReducedCopyMaker::Picture m_reduced;
  double m_reducedZoom = 0.0;
  double m_failedZoom = 0.0;  // a zoom whose copy could not be made
  CReducedCopyMaker m_maker;
  bool m_fitPending = false;  // a new picture waits to be fitted
  bool m_dragging = false;
  QPoint m_dragStart;  // where the left button went down, with the offset then
  QPoint m_dragOffset;
  QImage m_samples;            // scratch for the pixels of one paint
  bool m_syncingBars = false;  // set while the view moves its own scroll bars
  bool m_compare = false;
  double m_dividerShare = 0.5;  // of the client width, left of the divider
  bool m_draggingDivider = false;
};
