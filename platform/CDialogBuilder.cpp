#include "platform/CDialogBuilder.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "platform/CUpDown.h"

namespace platform {

namespace {

// The classic dialog faces stand for the desktop's own dialog font.
QFont TemplateFont(const res::DialogTemplate& tmpl) {
  if (tmpl.fontFace == QLatin1String("MS Shell Dlg") ||
      tmpl.fontFace == QLatin1String("MS Sans Serif") || tmpl.fontFace.isEmpty())
    return QApplication::font();
  return QFont(tmpl.fontFace, tmpl.pointSize);
}

constexpr int kIconSize = 32;

QWidget* MakeControl(const res::DialogControl& control, QWidget* parent) {
  using Kind = res::DialogControl::Kind;
  switch (control.kind) {
    case Kind::PushButton:
    case Kind::DefPushButton: {
      auto* button = new QPushButton(control.text, parent);
      button->setAutoDefault(true);
      button->setDefault(control.kind == Kind::DefPushButton);
      return button;
    }
    case Kind::Edit:
      return new QLineEdit(control.text, parent);
    case Kind::Static:
    case Kind::StaticCentered:
    case Kind::StaticRight: {
      auto* label = new QLabel(control.text, parent);
      const Qt::Alignment horizontal = control.kind == Kind::StaticCentered ? Qt::AlignHCenter
                                       : control.kind == Kind::StaticRight  ? Qt::AlignRight
                                                                            : Qt::AlignLeft;
      label->setAlignment(horizontal | Qt::AlignTop);
      return label;
    }
    case Kind::GroupBox: {
      auto* box = new QGroupBox(control.text, parent);
      // It only frames its neighbours: clicks and focus pass through to them.
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      box->setFocusPolicy(Qt::NoFocus);
      return box;
    }
    case Kind::Icon: {
      auto* label = new QLabel(parent);
      label->setPixmap(res::AppIcon(control.text.toInt()).pixmap(kIconSize, kIconSize));
      return label;
    }
    case Kind::ProgressBar: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      return bar;
    }
    case Kind::UpDown:
      return new CUpDown(parent);
  }
  return nullptr;
}

}  // namespace

QRect DialogUnitsToPixels(const QFont& font, int x, int y, int cx, int cy) {
  const QFontMetrics metrics(font);
  // The average width of the Latin letters, rounded, as dialog units define it.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int baseX = (letters / 26 + 1) / 2;
  const int baseY = metrics.height();
  auto scale = [](int value, int base, int divisor) {
    return static_cast<int>((static_cast<long long>(value) * base * 2 + divisor) / (2 * divisor));
  };
  return QRect(scale(x, baseX, 4), scale(y, baseY, 8), scale(cx, baseX, 4), scale(cy, baseY, 8));
}

QHash<int, QWidget*> BuildDialog(QDialog& dialog, const res::DialogTemplate& tmpl) {
  const QFont font = TemplateFont(tmpl);
  dialog.setFont(font);
  dialog.setWindowTitle(tmpl.title);
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (tmpl.closeBox) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  dialog.setWindowFlags(flags);
  dialog.setFixedSize(DialogUnitsToPixels(font, 0, 0, tmpl.cx, tmpl.cy).size());

  QHash<int, QWidget*> controls;
  QList<QWidget*> frames;
  // Created in template order, which is also the order of the tab chain.
  for (const res::DialogControl& control : tmpl.controls) {
    QWidget* widget = MakeControl(control, &dialog);
    QRect place = DialogUnitsToPixels(font, control.x, control.y, control.cx, control.cy);
    if (control.kind == res::DialogControl::Icon) place.setSize({kIconSize, kIconSize});
    widget->setGeometry(place);
    if (control.kind == res::DialogControl::GroupBox) frames << widget;
    if (control.id >= 0) controls.insert(control.id, widget);
  }
  for (QWidget* frame : frames) frame->lower();
  return controls;
}

void CentreOverOwner(QWidget& dialog) {
  QWidget* owner = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
  QScreen* screen = owner ? owner->screen() : dialog.screen();
  const QRect work = screen ? screen->availableGeometry() : QRect();
  const bool overOwner = owner && owner->isVisible() && !owner->isMinimized();
  const QRect area = overOwner ? owner->frameGeometry() : work;
  QRect frame = dialog.frameGeometry();
  frame.moveCenter(area.center());
  if (work.isValid()) {
    frame.moveLeft(std::max(work.left(), std::min(frame.left(), work.right() - frame.width() + 1)));
    frame.moveTop(std::max(work.top(), std::min(frame.top(), work.bottom() - frame.height() + 1)));
  }
  dialog.move(frame.topLeft());
}

}  // namespace platform
