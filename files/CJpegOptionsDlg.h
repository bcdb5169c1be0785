#pragma once

#include <QDialog>

#include "files/JpegChoices.h"

class QComboBox;
class QSlider;
class QSpinBox;

// The small "JPEG Options" dialog shown right after the save dialog when
// JPEG is the chosen type: quality and colour subsampling. UI thread only.
class CJpegOptionsDlg : public QDialog {
 public:
  explicit CJpegOptionsDlg(const files::JpegChoices& choices, QWidget* parent = nullptr);

  files::JpegChoices Choices() const;

  QSpinBox* QualityBox() const { return m_quality; }
  QComboBox* SubsamplingBox() const { return m_subsampling; }

 private:
  QSpinBox* m_quality = nullptr;
  QSlider* m_slider = nullptr;
  QComboBox* m_subsampling = nullptr;
};

// The JPEG options kept across runs in the user's settings.
namespace files {
JpegChoices ReadJpegChoices();
void WriteJpegChoices(const JpegChoices& choices);
}  // namespace files
