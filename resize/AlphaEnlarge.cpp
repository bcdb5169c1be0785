#include "resize/AlphaEnlarge.h"

#include <algorithm>
#include <new>

#include "engine/ampliscale.h"

namespace resize {

namespace {

// Transparent pixels this far from a visible one take its colour: beyond the
// reach of the engine's filters at the source's scale.
constexpr int kBleedRadius = 8;

// Weights of the bleeding: 0 not yet coloured, 1..255 a visible pixel's
// alpha, then pixels coloured in an earlier pass and in the current one.
constexpr uint16_t kColoured = 256;
constexpr uint16_t kColouredNow = 257;

constexpr int kFirstEngineStage = 2;
constexpr int kLastEngineStage = 14;

// The engine's window during the alpha run: its reports become step values
// of the first stage, and its early stop follows the job.
struct AlphaLink {
  AmpliscaleWindow window;
  const CAlphaEnlarger::Report* report;
  int stage = kFirstEngineStage;
  bool abandoned = false;
};

intptr_t SendFromAlphaRun(AmpliscaleWindow* window, unsigned, uintptr_t wParam, intptr_t lParam) {
  auto* link = static_cast<AlphaLink*>(window->context);
  if (wParam != 0) link->stage = static_cast<int>(wParam);
  if (!link->abandoned && (*link->report)(AlphaRunReport(link->stage, static_cast<int>(lParam))))
    link->abandoned = true;
  return link->abandoned ? 1 : 0;
}

}  // namespace

bool HasAlpha(const uint8_t* source, uint64_t w, uint64_t h) {
  const uint64_t count = w * h;
  if (count == 0) return false;
  const uint8_t first = source[3];
  if (first != 0 && first != 255) return true;
  for (uint64_t i = 1; i < count; ++i)
    if (source[i * 4 + 3] != first) return true;
  return false;
}

void BleedColourUnderTransparency(uint8_t* source, uint64_t w, uint64_t h) {
  const uint64_t count = w * h;
  std::unique_ptr<uint16_t[]> weight(new (std::nothrow) uint16_t[count]);
  // Without room for the weights the colour stays as it is: a fringe, not a failure.
  if (!weight) return;
  for (uint64_t i = 0; i < count; ++i) weight[i] = source[i * 4 + 3];

  for (int pass = 0; pass < kBleedRadius; ++pass) {
    bool coloured = false;
    for (uint64_t y = 0; y < h; ++y) {
      for (uint64_t x = 0; x < w; ++x) {
        const uint64_t i = y * w + x;
        if (weight[i] != 0) continue;
        uint64_t sum[3] = {0, 0, 0};
        uint64_t total = 0;
        for (uint64_t ny = y ? y - 1 : 0; ny <= std::min(y + 1, h - 1); ++ny) {
          for (uint64_t nx = x ? x - 1 : 0; nx <= std::min(x + 1, w - 1); ++nx) {
            const uint64_t n = ny * w + nx;
            const uint16_t wn = weight[n];
            if (wn == 0 || wn == kColouredNow) continue;
            const uint64_t k = std::min<uint16_t>(wn, 255);
            for (int c = 0; c < 3; ++c) sum[c] += k * source[n * 4 + c];
            total += k;
          }
        }
        if (total == 0) continue;
        for (int c = 0; c < 3; ++c)
          source[i * 4 + c] = static_cast<uint8_t>((sum[c] + total / 2) / total);
        weight[i] = kColouredNow;
        coloured = true;
      }
    }
    if (!coloured) return;
    for (uint64_t i = 0; i < count; ++i)
      if (weight[i] == kColouredNow) weight[i] = kColoured;
  }
}

int AlphaRunReport(int stage, int value) {
  constexpr int kSpan = (kLastEngineStage - kFirstEngineStage + 1) * 256;
  const int s = std::clamp(stage, kFirstEngineStage, kLastEngineStage) - kFirstEngineStage;
  const int done = s * 256 + std::clamp(value, 0, 255);
  return done * 255 / kSpan;
}

bool CAlphaEnlarger::Enlarge(const uint8_t* source, int w, int h, uint8_t* dest, int W, int H,
                             const Report& report) {
  const uint64_t count = uint64_t(w) * uint64_t(h);
  std::unique_ptr<uint8_t[]> grey(new (std::nothrow) uint8_t[count * 4]);
  if (!grey) return false;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t a = source[i * 4 + 3];
    grey[i * 4] = grey[i * 4 + 1] = grey[i * 4 + 2] = a;
    grey[i * 4 + 3] = 0;
  }
  AlphaLink link{{&SendFromAlphaRun, nullptr}, &report};
  link.window.context = &link;
  DllInit(&link.window);
  DllSetSourceImage(w, h, grey.get());
  DllSetDestImage(W, H, dest);
  DllFilter();
  DllNextStage();
  DllNextStage();
  if (link.abandoned) return false;

  const uint64_t area = uint64_t(W) * uint64_t(H);
  m_alpha.reset(new (std::nothrow) uint8_t[area]);
  if (!m_alpha) return false;
  // A grey picture comes back with equal channels; green is the exact one.
  for (uint64_t i = 0; i < area; ++i) m_alpha[i] = dest[i * 4 + 1];
  m_width = uint64_t(W);
  return true;
}

void CAlphaEnlarger::PutRow(uint8_t* dest, uint64_t row) const {
  uint8_t* p = dest + row * m_width * 4 + 3;
  const uint8_t* a = m_alpha.get() + row * m_width;
  for (uint64_t x = 0; x < m_width; ++x, p += 4) *p = a[x];
}

}  // namespace resize
