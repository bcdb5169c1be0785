#include "files/CJpegOptionsDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "files/Remembered.h"

namespace {

const QString kQualityKey = QStringLiteral("jpeg/quality");
const QString kSubsamplingKey = QStringLiteral("jpeg/subsampling");

}  // namespace

CJpegOptionsDlg::CJpegOptionsDlg(const files::JpegChoices& choices, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("JPEG Options"));
  m_quality = new QSpinBox(this);
  m_quality->setRange(1, 100);
  m_quality->setValue(choices.quality);
  m_slider = new QSlider(Qt::Horizontal, this);
  m_slider->setRange(1, 100);
  m_slider->setValue(choices.quality);
  connect(m_slider, &QSlider::valueChanged, m_quality, &QSpinBox::setValue);
  connect(m_quality, &QSpinBox::valueChanged, m_slider, &QSlider::setValue);
  auto* qualityRow = new QHBoxLayout;
  qualityRow->addWidget(m_slider, 1);
  qualityRow->addWidget(m_quality);

  m_subsampling = new QComboBox(this);
  m_subsampling->addItem(QStringLiteral("4:2:0 (smaller, for photographs)"));
  m_subsampling->addItem(QStringLiteral("4:4:4 (whole colour, for graphics and text)"));
  m_subsampling->setCurrentIndex(choices.fullColour ? 1 : 0);

  auto* form = new QFormLayout;
  auto* qualityLabel = new QLabel(QStringLiteral("&Quality:"), this);
  qualityLabel->setBuddy(m_quality);
  form->addRow(qualityLabel, qualityRow);
  form->addRow(QStringLiteral("&Colour subsampling:"), m_subsampling);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  m_quality->setFocus();
}

files::JpegChoices CJpegOptionsDlg::Choices() const {
  return {m_quality->value(), m_subsampling->currentIndex() == 1};
}

namespace files {

JpegChoices ReadJpegChoices() {
  const QSettings settings = UserSettings();
  JpegChoices choices;
  bool ok = false;
  const int quality = settings.value(kQualityKey).toInt(&ok);
  if (ok && quality >= 1 && quality <= 100) choices.quality = quality;
  const std::optional<bool> full =
      ParseSubsampling(settings.value(kSubsamplingKey).toString().toStdString());
  if (full) choices.fullColour = *full;
  return choices;
}

void WriteJpegChoices(const JpegChoices& choices) {
  QSettings settings = UserSettings();
  settings.setValue(kQualityKey, choices.quality);
  settings.setValue(kSubsamplingKey,
                    choices.fullColour ? QStringLiteral("4:4:4") : QStringLiteral("4:2:0"));
}

}  // namespace files
