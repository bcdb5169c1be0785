#pragma once

#include <QString>
#include <QWidget>

class CMainFrame;
class QPainter;

// A pane with a one-line gradient caption over the view it hosts. UI thread only.
class CMyPaneContainer : public QWidget {
 public:
  explicit CMyPaneContainer(QWidget* parent = nullptr);

  void SetTitle(const QString& title);  // at most 79 characters are kept
  QString Title() const { return m_title; }
  void SetClient(QWidget* client);
  QWidget* Client() const { return m_client; }
  void SetCaptionHeight(int height);
  int CaptionHeight() const { return m_captionHeight; }
  // The caption's text as drawn (before any ellipsis).
  QString CaptionText() const;
  // The caption's gradient colours (start, end) and text colour, from the
  // palette as it is now.
  struct CaptionColours {
    QColor start, end, text;
  };
  CaptionColours Colours() const;

  bool m_active = false;
  CMainFrame* m_frame = nullptr;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

 private:
  void DrawCaption(QPainter& painter);

  QString m_title;
  QWidget* m_client = nullptr;
  int m_captionHeight = 22;
};
