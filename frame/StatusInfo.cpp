// The status bar's right part: which picture is open, and how large the
// source and the result are.
#include <QLabel>

#include "app/CMainFrame.h"

namespace {

QString SizeText(FIBITMAP* bitmap) {
  return QStringLiteral("%1 \u00d7 %2")
      .arg(FreeImage_GetWidth(bitmap))
      .arg(FreeImage_GetHeight(bitmap));
}

}  // namespace

void CMainFrame::UpdateImageInfo() {
  if (!m_imageInfoLabel) return;
  QString text;
  if (m_source) {
    text = SourceName() + QStringLiteral("  ") + SizeText(m_source);
    // Only the first picture of an animation or a multi-page file is opened.
    if (m_sourceFrames > 1) text += QStringLiteral(", first frame of %1").arg(m_sourceFrames);
    if (m_result) text += QStringLiteral("  \u2192  ") + SizeText(m_result);
  }
  m_imageInfoLabel->setText(text);
}
