#include "resize/CResizeDlg.h"

#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <limits>

#include "platform/CDialogBuilder.h"
#include "platform/CMessageLoopHooks.h"
#include "platform/CUpDown.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "resize/ResizeParams.h"
#include "resize/ResizeRules.h"

namespace {

// The sides a request makes of the source, as the resize will make them:
// the side shown beside a typed one is the result's.
struct Sides {
  int width, height;
};
Sides Target(int srcWidth, int srcHeight, const resize::TargetRequest& request) {
  const resize::Size64 target =
      resize::TargetFor(uint64_t(std::max(0, srcWidth)), uint64_t(std::max(0, srcHeight)), request);
  const auto side = [](int64_t s) {
    return int(std::clamp<int64_t>(s, 0, std::numeric_limits<int>::max()));
  };
  return {side(target.width), side(target.height)};
}

}  // namespace

namespace {
constexpr int kWidthBox = 1000;
constexpr int kHeightBox = 1001;
constexpr int kPercentBox = 1002;
constexpr int kUpDown = 1006;
}  // namespace

CResizeDlg::CResizeDlg(QWidget* owner) : QDialog(owner) {
  m_controls = platform::BuildDialog(*this, res::Dialog(ids::DlgResize));
  // F1 here opens the help's page on resizing.
  setProperty(platform::kHelpContextProperty, ids::HelpResizing);
  connect(Box(kPercentBox), &QLineEdit::textChanged, this, &CResizeDlg::OnPercentChange);
  connect(Box(kWidthBox), &QLineEdit::textChanged, this, &CResizeDlg::OnWidthChange);
  connect(Box(kHeightBox), &QLineEdit::textChanged, this, &CResizeDlg::OnHeightChange);
  connect(OkButton(), &QPushButton::clicked, this, &CResizeDlg::accept);
  connect(qobject_cast<QPushButton*>(m_controls.value(ids::IdCancel)), &QPushButton::clicked, this,
          &CResizeDlg::reject);
  connect(UpDown(), &platform::CUpDown::stepped, this, &CResizeDlg::OnUpDown);
  for (int id : {kPercentBox, kWidthBox, kHeightBox}) Box(id)->installEventFilter(this);
}

QLineEdit* CResizeDlg::Box(int id) const { return qobject_cast<QLineEdit*>(m_controls.value(id)); }

QPushButton* CResizeDlg::OkButton() const {
  return qobject_cast<QPushButton*>(m_controls.value(ids::IdOk));
}

platform::CUpDown* CResizeDlg::UpDown() const {
  return qobject_cast<platform::CUpDown*>(m_controls.value(kUpDown));
}

int CResizeDlg::DoModal() {
  OnInitDialog();
  return exec();
}

void CResizeDlg::OnInitDialog() {
  m_updating = false;
  m_width = resize::SideForPercent(m_percent, m_srcWidth);
  m_height = resize::SideForPercent(m_percent, m_srcHeight);
  // Each write runs that box's change handling, so a truncated side can
  // bring the percent shown below the one passed in.
  WriteBox(kPercentBox, m_percent);
  WriteBox(kWidthBox, m_width);
  WriteBox(kHeightBox, m_height);
  m_typed = Typed::Percent;
  platform::CentreOverOwner(*this);
  UpDown()->SetBuddy(Box(kPercentBox));
  Box(kPercentBox)->selectAll();
  Box(kPercentBox)->setFocus();
}

bool CResizeDlg::ReadBox(int id, int& member, int maximum) {
  const resize::BoxReading reading = resize::ReadBox(Box(id)->text().toStdString(), maximum);
  member = reading.value;
  if (reading.rewrite) WriteBox(id, reading.value);
  return !reading.rewrite;
}

// Like every write of a box's text, one that leaves the text as it was
// still runs the box's change handling.
void CResizeDlg::WriteBox(int id, int value) {
  const QString text = QString::number(value);
  if (Box(id)->text() != text) {
    Box(id)->setText(text);
  } else if (id == kPercentBox) {
    OnPercentChange();
  } else if (id == kWidthBox) {
    OnWidthChange();
  } else {
    OnHeightChange();
  }
}

void CResizeDlg::WriteGuarded(int firstId, int firstValue, int secondId, int secondValue) {
  m_updating = true;
  WriteBox(firstId, firstValue);
  WriteBox(secondId, secondValue);
  m_updating = false;
}

void CResizeDlg::UpdateOk() {
  OkButton()->setEnabled(resize::AcceptsPercent(m_percent) && !SideBoxEmptied());
}

bool CResizeDlg::SideBoxEmptied() const {
  return Box(kWidthBox)->text().isEmpty() || Box(kHeightBox)->text().isEmpty();
}

void CResizeDlg::OnPercentChange() {
  if (m_updating) return;
  m_typed = Typed::Percent;
  ReadBox(kPercentBox, m_percent, resize::kMaxPercent);
  m_width = resize::SideForPercent(m_percent, m_srcWidth);
  m_height = resize::SideForPercent(m_percent, m_srcHeight);
  WriteGuarded(kWidthBox, m_width, kHeightBox, m_height);
  UpdateOk();
}

void CResizeDlg::OnWidthChange() {
  if (m_updating) return;
  m_typed = Typed::Width;
  if (Box(kWidthBox)->text().isEmpty()) {
    // Emptied to type a new side: it stays empty, and OK waits for it.
    UpdateOk();
    return;
  }
  ReadBox(kWidthBox, m_width, m_maxWidth);
  m_percent = resize::PercentForSide(m_width, m_srcWidth);
  m_height = Target(m_srcWidth, m_srcHeight, {m_percent, m_width, 0}).height;
  WriteGuarded(kHeightBox, m_height, kPercentBox, m_percent);
  UpdateOk();
}

void CResizeDlg::OnHeightChange() {
  if (m_updating) return;
  m_typed = Typed::Height;
  if (Box(kHeightBox)->text().isEmpty()) {
    // Emptied to type a new side: it stays empty, and OK waits for it.
    UpdateOk();
    return;
  }
  ReadBox(kHeightBox, m_height, m_maxHeight);
  m_percent = resize::PercentForSide(m_height, m_srcHeight);
  m_width = Target(m_srcWidth, m_srcHeight, {m_percent, 0, m_height}).width;
  WriteGuarded(kWidthBox, m_width, kPercentBox, m_percent);
  UpdateOk();
}

// The up-down's range runs from 2000 down to 1: its up arrow proposes a
// change of -1, which raises the percent.
void CResizeDlg::OnUpDown(int step) {
  m_percent = resize::PercentAfterUpDown(m_percent, -step);
  WriteBox(kPercentBox, m_percent);
}

bool CResizeDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    if (auto* box = qobject_cast<QLineEdit*>(watched)) {
      // After the click that brought the focus has placed the cursor.
      QTimer::singleShot(0, box, &QLineEdit::selectAll);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CResizeDlg::accept() {
  if (SideBoxEmptied()) return;
  if (ReadBox(kPercentBox, m_percent, resize::kMaxPercent) &&
      ReadBox(kWidthBox, m_width, m_maxWidth))
    ReadBox(kHeightBox, m_height, m_maxHeight);
  done(ids::IdOk);
}

void CResizeDlg::reject() { done(ids::IdCancel); }
