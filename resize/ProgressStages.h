#pragma once

// How progress reports drive the progress dialog's two bars. No widgets: the
// dialog supplies the bars through a ProgressBars. UI thread.
namespace resize {

// Overall bar 0..15 (stages and steps completed); step bar 0..256 so that a
// step value of 255 leaves it just short of full.
constexpr int kOverallUpper = 15;
constexpr int kStepUpper = 256;

class ProgressBars {
 public:
  virtual ~ProgressBars() = default;
  // False once the bars are gone (the dialog closed), also in mid-report.
  virtual bool HasBars() const = 0;
  virtual void SetOverall(int position) = 0;
  virtual void SetStep(int position) = 0;
  // Lets the UI thread handle what is waiting.
  virtual void Pump() = 0;
};

// The stage counter behind the overall bar. Stage reports move the bar to
// the reported stage minus one; each fall of the step value moves it on by one.
class ProgressStages {
 public:
  // The state of a freshly opened dialog: stage 1, last value 0.
  void Open();
  // A report: stage 1..15 starts that stage, 0 keeps the current one; value 0..255.
  void Update(int stage, int value, ProgressBars& bars);

  int Stage() const { return m_stage; }
  int LastValue() const { return m_lastValue; }

 private:
  int m_stage = 1;
  int m_lastValue = 0;
};

}  // namespace resize
