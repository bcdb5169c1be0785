// The clipboard: Paste opens the picture on it as Open opens a file; Copy
// Result puts the result on it.
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryFile>
#include <QUrl>
#include <atomic>

#include "app/CMainFrame.h"
#include "platform/PathBytes.h"
#include "platform/Prompts.h"
#include "views/DisplayBitmap.h"

namespace {

// What the clipboard offers, read before any question can let it change.
struct ClipboardPicture {
  QString file;      // a copied file
  QByteArray bytes;  // an image file's contents, for the decoder
  QImage image;      // plain image data, as this program puts it there
};

ClipboardPicture ReadClipboard() {
  ClipboardPicture picture;
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data) return picture;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) {
      picture.file = url.toLocalFile();
      return picture;
    }
  }
  // Lossless kinds first, where a program offers several.
  QStringList kinds = data->formats().filter(QRegularExpression(QStringLiteral("^image/")));
  for (const char* preferred : {"image/tiff", "image/bmp", "image/png"}) {
    if (kinds.removeAll(QString::fromLatin1(preferred)))
      kinds.prepend(QString::fromLatin1(preferred));
  }
  for (const QString& kind : kinds) {
    picture.bytes = data->data(kind);
    if (!picture.bytes.isEmpty()) return picture;
  }
  if (data->hasImage()) picture.image = qvariant_cast<QImage>(data->imageData());
  return picture;
}

// The result as the views draw it, any kind of bitmap included; null when
// memory is short.
QImage ResultImage(FIBITMAP* bitmap) {
  std::shared_ptr<views::DisplayBitmap> display = views::DisplayBitmap::Of(bitmap);
  if (!display) return {};
  if (!display->Surveyed()) {
    const std::atomic<bool> never{false};
    const std::optional<views::Survey> survey = display->RunSurvey(never);
    if (!survey) return {};
    display->Apply(*survey);
  }
  QImage image(display->Width(), display->Height(),
               display->Translucent() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  if (image.isNull()) return {};
  for (int y = 0; y < image.height(); ++y)
    display->ConvertRow(y, 0, image.width(), reinterpret_cast<uint32_t*>(image.scanLine(y)));
  return image;
}

}  // namespace

void CMainFrame::OnEditPaste() {
  ClipboardPicture picture = ReadClipboard();
  if (picture.file.isEmpty() && picture.bytes.isEmpty() && picture.image.isNull()) {
    m_readyLabel->setText(QStringLiteral("The clipboard holds no picture."));
    return;
  }
  if (!SettleUnsavedResult()) return;
  if (!picture.file.isEmpty()) {
    OpenFile(platform::PathBytes(picture.file));
    return;
  }
  // Image data is read by the decoder process from a file of its own, as
  // any file is; the file goes with the next load or the frame.
  auto file = std::make_unique<QTemporaryFile>(
      QDir::temp().filePath(QStringLiteral("magnova-paste-XXXXXX")));
  bool written = file->open();
  if (written && !picture.bytes.isEmpty()) {
    written = file->write(picture.bytes) == picture.bytes.size();
  } else if (written) {
    // Stored, not compressed: the picture is written and read back at once.
    QImageWriter writer(file.get(), "png");
    writer.setCompression(0);
    written = writer.write(picture.image);
  }
  if (!written || !file->flush()) {
    platform::MessageBox(this, QStringLiteral("Can't paste the picture: no room for it."),
                         QStringLiteral("Error"), platform::MbIcon::Error, platform::MbButtons::Ok);
    return;
  }
  file->close();
  const std::string path = platform::PathBytes(file->fileName());
  OpenFile(path, std::move(file));
}

void CMainFrame::OnEditCopyResult() {
  if (!m_result) return;
  const QImage image = ResultImage(m_result);
  if (image.isNull()) {
    platform::MessageBox(this, QStringLiteral("Can't copy the resized image."),
                         QStringLiteral("Error"), platform::MbIcon::Error, platform::MbButtons::Ok);
    return;
  }
  QGuiApplication::clipboard()->setImage(image);
}
