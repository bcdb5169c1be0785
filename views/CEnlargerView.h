#pragma once

#include <FreeImage.h>

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

class CMainFrame;

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
  void ScrollToView(const QRect& rect);
  void SetScrollOffset(int x, int y, bool redraw);

  // Synchronisation with the other view.
  double MapZoomToOther(double zoom) const;
  void PropagateZoom(double zoom);
  void SyncScroll();

  CEnlargerView* OtherView() const;

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

 private:
  FIBITMAP* m_image = nullptr;
  FIBITMAP* m_reducedImage = nullptr;
};
