#include "views/BoxReduce.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace views {
namespace {

// The source pixels one output pixel covers along an axis: taps of them from
// first on, each with the share of the output it makes up (0 for the padding
// that gives every output the same number of taps).
struct Taps {
  int taps = 0;
  std::vector<int> first;
  std::vector<float> weights;  // taps per output
  const float* Weights(int i) const { return weights.data() + static_cast<size_t>(i) * taps; }
};

Taps AxisTaps(int source, int target) {
  Taps axis;
  // Output i covers [i, i + 1) * source / target; its first and end source
  // pixels come from whole numbers, so that no rounding adds a tap.
  std::vector<int> end(target);
  axis.first.resize(target);
  for (int i = 0; i < target; ++i) {
    axis.first[i] = static_cast<int>(int64_t{i} * source / target);
    end[i] = static_cast<int>((int64_t{i + 1} * source + target - 1) / target);
    axis.taps = std::max(axis.taps, end[i] - axis.first[i]);
  }
  axis.weights.assign(static_cast<size_t>(target) * axis.taps, 0.0f);
  const double step = static_cast<double>(source) / target;
  for (int i = 0; i < target; ++i) {
    const double low = i * step;
    const double high = std::min<double>(source, (i + 1) * step);
    // Every output reads the same number of taps; near the far end they
    // start earlier, the extra ones weighing nothing.
    const int first = std::min(axis.first[i], source - axis.taps);
    axis.first[i] = first;
    float* weight = axis.weights.data() + static_cast<size_t>(i) * axis.taps;
    for (int s = std::max(first, static_cast<int>(low)); s < end[i]; ++s) {
      const double covered = std::min<double>(high, s + 1) - std::max<double>(low, s);
      if (covered > 0) weight[s - first] = static_cast<float>(covered / step);
    }
  }
  return axis;
}

// The loops that see every source byte, kept plain so that the compiler
// turns them into wide vector code, once for the machine's widest units.
// ThreadSanitizer's runtime is not up yet when the loader picks a clone, so
// its builds keep the plain version.
#if defined(__SANITIZE_THREAD__)
#define MAGNOVA_WIDE
#else
#define MAGNOVA_WIDE __attribute__((target_clones("arch=x86-64-v3", "default")))
#endif

MAGNOVA_WIDE void CopyRow(uint16_t* sum, const uint8_t* row, int n) {
  for (int i = 0; i < n; ++i) sum[i] = row[i];
}

MAGNOVA_WIDE void AddRow(uint16_t* sum, const uint8_t* row, int n) {
  for (int i = 0; i < n; ++i) sum[i] += row[i];
}

MAGNOVA_WIDE void AddRows(uint16_t* sum, const uint8_t* a, const uint8_t* b, int n) {
  for (int i = 0; i < n; ++i) sum[i] += a[i] + b[i];
}

// acc (+)= weight * sum
MAGNOVA_WIDE void Scale(float* acc, const uint16_t* sum, float weight, bool add, int n) {
  if (add) {
    for (int i = 0; i < n; ++i) acc[i] += weight * sum[i];
  } else {
    for (int i = 0; i < n; ++i) acc[i] = weight * sum[i];
  }
}

// acc += weight * row
MAGNOVA_WIDE void AddWeighted(float* acc, const uint8_t* row, float weight, int n) {
  for (int i = 0; i < n; ++i) acc[i] += weight * row[i];
}

// acc = ws * sum + wa * a + wb * b + wc * c
MAGNOVA_WIDE void Blend(float* acc, const uint16_t* sum, float ws, const uint8_t* a, float wa,
                        const uint8_t* b, float wb, const uint8_t* c, float wc, int n) {
  for (int i = 0; i < n; ++i) acc[i] = ws * sum[i] + wa * a[i] + wb * b[i] + wc * c[i];
}

MAGNOVA_WIDE void Blend2(float* acc, const uint8_t* a, float wa, const uint8_t* b, float wb,
                         int n) {
  for (int i = 0; i < n; ++i) acc[i] = wa * a[i] + wb * b[i];
}

MAGNOVA_WIDE void Blend3(float* acc, const uint8_t* a, float wa, const uint8_t* b, float wb,
                         const uint8_t* c, float wc, int n) {
  for (int i = 0; i < n; ++i) acc[i] = wa * a[i] + wb * b[i] + wc * c[i];
}

// The source rows one band of output reads: in place, or made into scratch
// rows, a few at a time, for a picture whose rows are made on demand.
class SourceRows {
 public:
  // Scratch rows for the partly covered rows at both ends, and for a batch
  // of fully covered ones.
  static constexpr int kPartialSlots = 3;
  static constexpr int kMadeBatch = 16;

  explicit SourceRows(const PixelRows& in) : m_in(in) {
    if (in.maker) {
      m_scratch.resize(static_cast<size_t>(kPartialSlots + kMadeBatch) * in.width *
                       in.bytesPerPixel);
    }
  }
  // Full rows summed in one go; a 16-bit sum holds up to 256 of them.
  int Batch() const { return m_in.maker ? kMadeBatch : 256; }
  const uint8_t* Get(int y, int slot) {
    if (!m_in.maker) return m_in.Row(y);
    uint8_t* row = m_scratch.data() + static_cast<size_t>(slot) * m_in.width * m_in.bytesPerPixel;
    m_in.maker->MakeRow(y, row);
    return row;
  }

 private:
  const PixelRows& m_in;
  std::vector<uint8_t> m_scratch;
};

// The weighted sum of the source rows of one output row, into acc. Rows
// covered in full all weigh the same: they are added as bytes first, up to
// 256 of them (the most a 16-bit sum holds), and only the sums and the
// partly covered rows at the ends are weighed.
void SumRows(const PixelRows& in, SourceRows& rows, const Taps& y, int row, float* acc,
             uint16_t* sum) {
  const int n = in.width * in.bytesPerPixel;
  const float* weight = y.Weights(row);
  const uint8_t* partial[SourceRows::kPartialSlots] = {};
  float partialWeight[SourceRows::kPartialSlots] = {};
  int partials = 0;
  const uint8_t* full[256];
  int fulls = 0;
  int summed = 0;  // rows in sum, not yet weighed
  float fullWeight = 0;
  bool weighed = false;  // acc holds sums already weighed
  const auto addFull = [&] {
    if (fulls == 0) return;
    int k = 0;
    if (summed == 0) CopyRow(sum, full[k++], n);
    for (; k + 1 < fulls; k += 2) AddRows(sum, full[k], full[k + 1], n);
    if (k < fulls) AddRow(sum, full[k], n);
    summed += fulls;
    fulls = 0;
  };
  for (int t = 0; t < y.taps; ++t) {
    if (weight[t] == 0.0f) continue;
    const int source = y.first[row] + t;
    // Between two other rows a row is covered in full; the ends may not be.
    const bool isFull = t > 0 && t + 1 < y.taps && weight[t + 1] != 0.0f && weight[t - 1] != 0.0f;
    if (!isFull) {
      partial[partials] = rows.Get(source, partials);
      partialWeight[partials++] = weight[t];
      continue;
    }
    fullWeight = weight[t];
    full[fulls] = rows.Get(source, SourceRows::kPartialSlots + fulls);
    if (++fulls == rows.Batch()) addFull();
    if (summed == 256) {
      Scale(acc, sum, fullWeight, weighed, n);
      weighed = true;
      summed = 0;
    }
  }
  addFull();
  if (!weighed) {
    for (int k = partials; k < 3; ++k) partial[k] = partial[0];  // weight 0: read, not counted
    if (summed > 0) {
      Blend(acc, sum, fullWeight, partial[0], partialWeight[0], partial[1], partialWeight[1],
            partial[2], partialWeight[2], n);
    } else if (partials <= 2) {
      Blend2(acc, partial[0], partialWeight[0], partial[1], partialWeight[1], n);
    } else {
      Blend3(acc, partial[0], partialWeight[0], partial[1], partialWeight[1], partial[2],
             partialWeight[2], n);
    }
    return;
  }
  if (summed > 0) Scale(acc, sum, fullWeight, true, n);
  for (int k = 0; k < partials; ++k) AddWeighted(acc, partial[k], partialWeight[k], n);
}

using Float4 = float __attribute__((vector_size(16)));
using Int4 = int __attribute__((vector_size(16)));

#if defined(__SSE2__)
inline uint32_t PackBytes(Int4 v) {
  const __m128i words = _mm_packs_epi32(reinterpret_cast<__m128i>(v), _mm_setzero_si128());
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}
#else
inline uint32_t PackBytes(Int4 v) {
  uint32_t packed = 0;
  for (int c = 0; c < 4; ++c) packed |= uint32_t(std::clamp(v[c], 0, 255)) << (8 * c);
  return packed;
}
#endif

// One output row from the weighted sum of source rows in acc: each pixel's
// channels are summed together as one four-lane vector. acc has one float of
// room past its end, since a 3-byte pixel is read four lanes wide; a 3-byte
// pixel is written four bytes wide too, all but the row's last, whose fourth
// byte the next pixel then overwrites.
// kTaps is the taps' count when known when compiling (the usual small ones
// unroll), 0 when it is read from x.
template <int kBytes, int kTaps>
inline __attribute__((always_inline)) void ReduceRow(const float* acc, uint8_t* out,
                                                     const Taps& x) {
  const int width = static_cast<int>(x.first.size());
  const int taps = kTaps > 0 ? kTaps : x.taps;
  const float* weight = x.weights.data();
  for (int i = 0; i < width; ++i, weight += taps) {
    const float* p = acc + x.first[i] * kBytes;
    Float4 sum = {0.5f, 0.5f, 0.5f, 0.5f};
    for (int t = 0; t < taps; ++t, p += kBytes) {
      Float4 v;
      std::memcpy(&v, p, sizeof v);
      sum += v * weight[t];
    }
    // Each weight set sums to one, so a mean of bytes stays within 0..255
    // but for rounding: the ends are held.
    const uint32_t packed = PackBytes(__builtin_convertvector(sum, Int4));
    if (kBytes == 4 || i + 1 < width) {
      std::memcpy(out + i * kBytes, &packed, 4);
    } else {
      std::memcpy(out + i * kBytes, &packed, 3);
    }
  }
}

template <int kBytes>
inline __attribute__((always_inline)) void ReduceRowAnyTaps(const float* acc, uint8_t* out,
                                                            const Taps& x) {
  switch (x.taps) {
    case 2:
      return ReduceRow<kBytes, 2>(acc, out, x);
    case 3:
      return ReduceRow<kBytes, 3>(acc, out, x);
    case 4:
      return ReduceRow<kBytes, 4>(acc, out, x);
    default:
      return ReduceRow<kBytes, 0>(acc, out, x);
  }
}

MAGNOVA_WIDE void ReduceRow3(const float* acc, uint8_t* out, const Taps& x) {
  ReduceRowAnyTaps<3>(acc, out, x);
}

MAGNOVA_WIDE void ReduceRow4(const float* acc, uint8_t* out, const Taps& x) {
  ReduceRowAnyTaps<4>(acc, out, x);
}

// One grey output row: one lane per pixel.
MAGNOVA_WIDE void ReduceRow1(const float* acc, uint8_t* out, const Taps& x) {
  const int width = static_cast<int>(x.first.size());
  const float* weight = x.weights.data();
  for (int i = 0; i < width; ++i, weight += x.taps) {
    const float* p = acc + x.first[i];
    float sum = 0.5f;
    for (int t = 0; t < x.taps; ++t) sum += p[t] * weight[t];
    out[i] = static_cast<uint8_t>(std::clamp(static_cast<int>(sum), 0, 255));
  }
}

bool ReduceRows(const PixelRows& in, const PixelRows& out, const Taps& x, const Taps& y,
                int firstRow, int endRow, const std::atomic<bool>& cancel) {
  const size_t n = static_cast<size_t>(in.width) * in.bytesPerPixel;
  std::vector<float> acc(n + 1, 0.0f);
  std::vector<uint16_t> sum(n);
  SourceRows rows(in);
  for (int row = firstRow; row < endRow; ++row) {
    if (cancel.load(std::memory_order_relaxed)) return false;
    SumRows(in, rows, y, row, acc.data(), sum.data());
    if (in.bytesPerPixel == 4) {
      ReduceRow4(acc.data(), out.Row(row), x);
    } else if (in.bytesPerPixel == 3) {
      ReduceRow3(acc.data(), out.Row(row), x);
    } else {
      ReduceRow1(acc.data(), out.Row(row), x);
    }
  }
  return true;
}

}  // namespace

bool BoxReduce(const PixelRows& in, const PixelRows& out, const std::atomic<bool>& cancel,
               int threads) {
  if (in.width <= 0 || in.height <= 0 || out.width <= 0 || out.height <= 0) return true;
  const Taps x = AxisTaps(in.width, out.width);
  const Taps y = AxisTaps(in.height, out.height);
  threads = std::clamp(threads, 1, out.height);
  std::vector<std::thread> helpers;
  std::vector<char> done(threads, 1);
  auto band = [&](int k) {
    const int first = static_cast<int>(static_cast<int64_t>(out.height) * k / threads);
    const int end = static_cast<int>(static_cast<int64_t>(out.height) * (k + 1) / threads);
    done[k] = ReduceRows(in, out, x, y, first, end, cancel);
  };
  for (int k = 1; k < threads; ++k) helpers.emplace_back(band, k);
  band(0);
  for (std::thread& helper : helpers) helper.join();
  return std::all_of(done.begin(), done.end(), [](char ok) { return ok != 0; });
}

}  // namespace views
