#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// The transparency of an enlargement. The engine enlarges colour only, so
// the alpha of the engine's 32-bit source buffer (its fourth byte) is
// enlarged by a run of its own through the engine, as a grey picture, and put
// back beside the colour result. Made, used and destroyed by the resize
// worker thread.
namespace resize {

// True when the fourth bytes of the w x h source buffer carry an alpha: they
// are neither all 255 (opaque) nor all 0 (a fourth byte left unused).
bool HasAlpha(const uint8_t* source, uint64_t w, uint64_t h);

// The colour under a fully transparent pixel is never seen, but the engine
// would blend it into the visible edge beside it, as a dark or light fringe.
// Each transparent pixel within reach of the engine's filters takes the
// alpha-weighted colour of its visible neighbours instead.
void BleedColourUnderTransparency(uint8_t* source, uint64_t w, uint64_t h);

// The step value shown while the alpha is enlarged: the engine's stages
// 2..14 and their values 0..255 mapped onto 0..254, never falling, so that
// the whole run stays within the progress dialog's first stage.
int AlphaRunReport(int stage, int value);

class CAlphaEnlarger {
 public:
  // A step value to show; true once the job is abandoned.
  using Report = std::function<bool(int value)>;

  // Enlarges the alpha of the w x h source buffer to W x H through the
  // engine, with dest (room for the engine, as for the colour run) as its
  // working memory, before the colour run uses it. False when memory fails
  // or the job was abandoned.
  bool Enlarge(const uint8_t* source, int w, int h, uint8_t* dest, int W, int H,
               const Report& report);

  bool HasResult() const { return m_alpha != nullptr; }

  // Puts the enlarged alpha into the fourth bytes of row `row` (top row
  // first) of the engine's W x H colour result.
  void PutRow(uint8_t* dest, uint64_t row) const;

 private:
  std::unique_ptr<uint8_t[]> m_alpha;  // W x H, top row first
  uint64_t m_width = 0;
};

}  // namespace resize
