// Speed of the engine's refinement network (RefineNet) against the same
// network run by oneDNN's convolution primitives, both on one thread, on one
// synthetic 1500 x 1000 luma picture, measured in the same run.
//
// The doubled rows the network corrects are a plain pixel copy of the luma, so
// that the corrections are nearly all that changes them. Both ways add them and
// keep each doubled pixel in its neighbours' range (KeepInRange), as the engine
// does; the results must agree to within rounding, or the tool fails.
// RefineNet runs in the engine's bands; oneDNN over the whole picture at once
// and in bands of 64 rows. Printed: output megapixels per second, the fastest
// of several runs, and oneDNN's speed as a ratio to ours.
#include <omp.h>
#include <oneapi/dnnl/dnnl.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/LearnedStep.h"
#include "engine/NetWeights.h"
#include "engine/RefineNet.h"

namespace {

using namespace ampliscale;
using Tag = dnnl::memory::format_tag;

constexpr int kW = 1500;
constexpr int kH = 1000;
constexpr int kMargin = net::kFirstKernel / 2 + net::kMiddleLayers + 1;
constexpr int kDnnlBand = 64;
constexpr double kMeasure = 0.2;  // as for a JPEG of quality 75
constexpr int kRounds = 7;
constexpr float kTolerance = 1e-3f;

// Edges, smooth ramps and a fine texture, in 0 ... 255.
std::vector<float> Picture() {
  std::vector<float> luma(static_cast<std::size_t>(kW) * kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const unsigned hash = (static_cast<unsigned>(x) * 73856093u) ^ (y * 19349663u);
      const float edge = ((x / 97 + y / 61) % 2) * 90.0f;
      const float ramp = 60.0f * std::sin(0.013f * x) * std::cos(0.021f * y);
      luma[static_cast<std::size_t>(y) * kW + x] =
          std::clamp(80.0f + edge + ramp + static_cast<float>(hash % 17) - 8.0f, 0.0f, 255.0f);
    }
  }
  return luma;
}

std::vector<float> PixelCopy(const std::vector<float>& luma) {
  std::vector<float> doubled(4 * luma.size());
  for (int y = 0; y < 2 * kH; ++y) {
    for (int x = 0; x < 2 * kW; ++x)
      doubled[static_cast<std::size_t>(y) * 2 * kW + x] = luma[(y / 2) * kW + x / 2];
  }
  return doubled;
}

// One way to refine the whole picture: adds the corrections to `out`.
struct Way {
  const char* name;
  std::function<void(float*)> run;
  std::vector<float> out = {};
  double best = 1e30;  // the fastest round, in seconds
};

// The network as oneDNN primitives for bands of `rows` output rows of the
// picture's width: valid convolutions over the band's luma with kMargin
// pixels around it, edges repeated, as RefineNet reads it.
class DnnlNet {
 public:
  DnnlNet(const dnnl::engine& engine, int rows) : m_engine(engine), m_rows(rows) {
    const int cols = kW + 2 * kMargin;
    m_input = dnnl::memory({{1, 1, rows + 2 * kMargin, cols}, kF32, Tag::nhwc}, m_engine);
    std::vector<float> firstBias(net::kWidth);
    for (int i = 0; i < net::kWidth; ++i)
      firstBias[i] = net::kFirstBias[i] + static_cast<float>(kMeasure) * net::kMeasureWeights[i];
    dnnl::memory current =
        AddLayer(m_input, net::kFirstKernel, net::kWidth, net::kFirstWeights, firstBias.data());
    for (int l = 0; l < net::kMiddleLayers; ++l)
      current = AddLayer(current, 3, net::kWidth, net::kMiddleWeights[l], net::kMiddleBias[l]);
    current = AddLayer(current, 3, 4, net::kLastWeights, net::kLastBias);
    m_output = Reordered(current, {{1, 4, rows, kW}, kF32, Tag::nhwc});
  }

  // Fills the input from luma rows i0 - kMargin ... i0 + rows + kMargin.
  void Load(const std::vector<float>& luma, int i0) {
    float* dst = Data(m_input);
    const int cols = kW + 2 * kMargin;
    for (int r = 0; r < m_rows + 2 * kMargin; ++r, dst += cols) {
      const float* src = luma.data() + std::clamp(i0 - kMargin + r, 0, kH - 1) * kW;
      std::fill(dst, dst + kMargin, src[0]);
      std::memcpy(dst + kMargin, src, sizeof(float) * kW);
      std::fill(dst + kMargin + kW, dst + cols, src[kW - 1]);
    }
  }

  void Run(dnnl::stream& stream) {
    for (auto& [primitive, args] : m_steps) primitive.execute(stream, args);
    stream.wait();
  }

  // Adds the corrections of the first `rows` rows to the doubled rows from 2 * i0 on.
  void AddTo(float* doubled, int i0, int rows) {
    const int cols = kW + 2 * kMargin;
    const float* corrections = Data(m_output);
    for (int r = 0; r < rows; ++r) {
      float* top = doubled + static_cast<std::size_t>(2 * (i0 + r)) * 2 * kW;
      float* bottom = top + 2 * kW;
      const float* mid = Data(m_input) + (r + kMargin) * cols + kMargin;
      for (int c = 0; c < kW; ++c) {
        const float* q = corrections + (static_cast<std::size_t>(r) * kW + c) * 4;
        const Quad sum = Quad{top[2 * c], top[2 * c + 1], bottom[2 * c], bottom[2 * c + 1]} +
                         Quad{q[0], q[1], q[2], q[3]};
        const Quad kept = KeepInRange(sum, mid - cols + c, mid + c, mid + cols + c);
        top[2 * c] = kept[0];
        top[2 * c + 1] = kept[1];
        bottom[2 * c] = kept[2];
        bottom[2 * c + 1] = kept[3];
      }
    }
  }

  const std::vector<std::string>& Kernels() const { return m_kernels; }

 private:
  static constexpr auto kF32 = dnnl::memory::data_type::f32;
  static float* Data(const dnnl::memory& m) { return static_cast<float*>(m.get_data_handle()); }

  // `from` in the layout `to`, by a reorder step if they differ.
  dnnl::memory Reordered(const dnnl::memory& from, const dnnl::memory::desc& to) {
    if (from.get_desc() == to) return from;
    dnnl::memory result(to, m_engine);
    m_steps.push_back(
        {dnnl::reorder(from, result), {{DNNL_ARG_FROM, from}, {DNNL_ARG_TO, result}}});
    return result;
  }

  // A valid k x k convolution into `out` channels, ReLU after all but the
  // last layer; `weights` as in NetWeights.h, [ky][kx][in][out].
  dnnl::memory AddLayer(const dnnl::memory& src, int k, int out, const float* weights,
                        const float* bias) {
    const dnnl::memory::dims dims = src.get_desc().dims();
    const int in = static_cast<int>(dims[1]);
    const dnnl::memory::desc biasMd({out}, kF32, Tag::x);
    const dnnl::convolution_forward::desc desc(
        dnnl::prop_kind::forward_inference, dnnl::algorithm::convolution_direct,
        {dims, kF32, Tag::any}, {{out, in, k, k}, kF32, Tag::any}, biasMd,
        {{1, out, dims[2] - k + 1, dims[3] - k + 1}, kF32, Tag::any}, {1, 1}, {0, 0}, {0, 0});
    dnnl::post_ops ops;
    if (out != 4) ops.append_eltwise(1.0f, dnnl::algorithm::eltwise_relu, 0.0f, 0.0f);
    dnnl::primitive_attr attr;
    attr.set_post_ops(ops);
    const dnnl::convolution_forward::primitive_desc pd(desc, attr, m_engine);
    m_kernels.push_back(pd.impl_info_str());

    dnnl::memory oihw({{out, in, k, k}, kF32, Tag::oihw}, m_engine);
    for (int o = 0; o < out; ++o) {
      for (int i = 0; i < in; ++i) {
        for (int t = 0; t < k * k; ++t)
          Data(oihw)[(o * in + i) * k * k + t] = weights[(t * in + i) * out + o];
      }
    }
    dnnl::memory weightsMem = oihw;
    if (pd.weights_desc() != oihw.get_desc()) {
      weightsMem = dnnl::memory(pd.weights_desc(), m_engine);
      dnnl::stream stream(m_engine);
      dnnl::reorder(oihw, weightsMem).execute(stream, oihw, weightsMem);
      stream.wait();
    }
    dnnl::memory biasMem(biasMd, m_engine);
    std::memcpy(Data(biasMem), bias, sizeof(float) * out);

    const dnnl::memory input = Reordered(src, pd.src_desc());
    dnnl::memory dst(pd.dst_desc(), m_engine);
    m_steps.push_back({dnnl::convolution_forward(pd),
                       {{DNNL_ARG_SRC, input},
                        {DNNL_ARG_WEIGHTS, weightsMem},
                        {DNNL_ARG_BIAS, biasMem},
                        {DNNL_ARG_DST, dst}}});
    return dst;
  }

  dnnl::engine m_engine;
  int m_rows;
  dnnl::memory m_input, m_output;
  std::vector<std::pair<dnnl::primitive, std::unordered_map<int, dnnl::memory>>> m_steps;
  std::vector<std::string> m_kernels;
};

const char* IsaName(dnnl::cpu_isa isa) {
  static const std::pair<dnnl::cpu_isa, const char*> kNames[] = {
      {dnnl::cpu_isa::sse41, "SSE4.1"},
      {dnnl::cpu_isa::avx, "AVX"},
      {dnnl::cpu_isa::avx2, "AVX2"},
      {dnnl::cpu_isa::avx2_vnni, "AVX2 VNNI"},
      {dnnl::cpu_isa::avx512_core, "AVX-512 core"},
      {dnnl::cpu_isa::avx512_core_vnni, "AVX-512 core VNNI"},
      {dnnl::cpu_isa::avx512_core_bf16, "AVX-512 core BF16"},
      {dnnl::cpu_isa::avx512_core_amx, "AVX-512 core AMX"}};
  for (const auto& [value, name] : kNames) {
    if (value == isa) return name;
  }
  return "other";
}

float MaxDifference(const std::vector<float>& a, const std::vector<float>& b) {
  float most = 0.0f;
  for (std::size_t i = 0; i < a.size(); ++i) most = std::max(most, std::abs(a[i] - b[i]));
  return most;
}

}  // namespace

int main() {
  omp_set_num_threads(1);
  const std::vector<float> luma = Picture();
  const std::vector<float> copy = PixelCopy(luma);
  const double megapixels = 4.0 * kW * kH / 1e6;

  // Ours, in bands of the height the engine picks for this width (RefineRows).
  const RefineNet net(kMeasure);
  NetScratch scratch;
  const Plane plane{const_cast<float*>(luma.data()), kW, kH};
  const int band = std::clamp((1 << 16) / kW, 8, 64);
  auto ours = [&](float* out) {
    for (int i0 = 0; i0 < kH; i0 += band)
      net.Run(plane, i0, std::min(kH, i0 + band), out + static_cast<std::size_t>(i0) * 4 * kW,
              2 * kW, scratch);
  };

  dnnl::engine engine(dnnl::engine::kind::cpu, 0);
  dnnl::stream stream(engine);
  DnnlNet whole(engine, kH);
  DnnlNet bands(engine, kDnnlBand);
  DnnlNet rest(engine, kH % kDnnlBand);
  auto inBands = [&](float* out) {
    for (int i0 = 0; i0 < kH; i0 += kDnnlBand) {
      DnnlNet& n = i0 + kDnnlBand <= kH ? bands : rest;
      n.Load(luma, i0);
      n.Run(stream);
      n.AddTo(out, i0, std::min(kDnnlBand, kH - i0));
    }
  };
  std::vector<Way> ways = {{"RefineNet, engine bands", ours},
                           {"oneDNN, whole picture",
                            [&](float* out) {
                              whole.Load(luma, 0);
                              whole.Run(stream);
                              whole.AddTo(out, 0, kH);
                            }},
                           {"oneDNN, bands of 64 rows", inBands}};
  // Round by round, so that other work on the machine slows all ways alike.
  for (int round = 0; round < kRounds; ++round) {
    for (Way& way : ways) {
      way.out = copy;
      const auto start = std::chrono::steady_clock::now();
      way.run(way.out.data());
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      way.best = std::min(way.best, took.count());
    }
  }

  std::printf("network of %d channels, %d middle layers\n", net::kWidth, net::kMiddleLayers);
  std::printf("picture %d x %d luma, output %d x %d, measure %.2f, one thread (OpenMP %d)\n", kW,
              kH, 2 * kW, 2 * kH, kMeasure, omp_get_max_threads());
  const dnnl::version_t* v = dnnl::version();
  std::printf("oneDNN %d.%d.%d, ISA %s; kernels:", v->major, v->minor, v->patch,
              IsaName(dnnl::get_effective_cpu_isa()));
  for (const std::string& k : whole.Kernels()) std::printf(" %s", k.c_str());
  std::printf("\nlargest correction %.3f\n", MaxDifference(ways[0].out, copy));
  std::printf("%-26s %8s %8s %16s\n", "way", "MP/s", "vs ours", "max |vs ours|");
  bool agree = true;
  for (const Way& way : ways) {
    const float difference = MaxDifference(way.out, ways[0].out);
    agree = agree && difference <= kTolerance;
    std::printf("%-26s %8.2f %8.2f %16.2e\n", way.name, megapixels / way.best,
                ways[0].best / way.best, difference);
  }
  if (!agree) {
    std::printf("FAIL: oneDNN and RefineNet disagree by more than %.0e\n", kTolerance);
    return 1;
  }
  return 0;
}
