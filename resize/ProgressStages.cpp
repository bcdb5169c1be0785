#include "resize/ProgressStages.h"

namespace resize {

void ProgressStages::Open() {
  m_stage = 1;
  m_lastValue = 0;
}

void ProgressStages::Update(int stage, int value, ProgressBars& bars) {
  if (!bars.HasBars()) return;
  if (stage > m_stage) {
    // The value of a stage report is not shown.
    for (int s = m_stage; s < stage && bars.HasBars(); ++s) {
      bars.SetOverall(s);
      bars.Pump();
    }
    if (bars.HasBars()) bars.SetStep(0);
    m_stage = stage;
    m_lastValue = 0;
  } else {
    if (value < m_lastValue) {
      bars.SetStep(0);
      bars.SetOverall(m_stage);
      ++m_stage;
    } else {
      bars.SetStep(value);
    }
    bars.Pump();
    m_lastValue = value;
  }
  if (bars.HasBars()) bars.Pump();
  if (bars.HasBars()) bars.Pump();
}

}  // namespace resize
