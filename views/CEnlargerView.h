#pragma once

#include <FreeImage.h>

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

class CMainFrame;
class QPainter;

// The zoomable, scrollable view of one image. UI thread only; it borrows
// m_image from the frame and owns only its display copies.
class CEnlargerView : public QAbstractScrollArea {
 public:
  explicit CEnlargerView(QWidget* parent = nullptr);
  ~CEnlargerView() override;

  // Shows image (borrowed; null clears the view). Replaces m_image and drops
  // the display copies made from the previous one.
  void SetImage(FIBITMAP* image);
  FIBITMAP* Image() const { return m_image; }

  double GetZoom() const { return m_zoom; }
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
  void MakeReducedImage();
  void DropDisplayCopies();
  const QImage& FullDrawable();
  FIBITMAP* Standard();

  FIBITMAP* m_image = nullptr;
  // m_image reduced to the displayed size, top row first; only while m_zoom
  // is below 1.0.
  QImage m_reducedImage;
  // m_image as a 24- or 32-bit bitmap; a copy only for other formats.
  FIBITMAP* m_standard = nullptr;
  bool m_standardOwned = false;
  bool m_standardTried = false;
  bool m_reducedFailed = false;  // the reduced copy could not be made
  QImage m_fullDrawable;         // over m_standard, bottom-up rows
  QImage m_window;               // the visible source pixels of the last paint at zoom >= 1
  bool m_syncingBars = false;    // set while the view moves its own scroll bars
};
