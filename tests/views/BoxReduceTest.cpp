// The area-averaging reduction against a plain double-precision integral of
// the source over each output pixel's area.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "views/BoxReduce.h"

namespace {

struct ReduceCase {
  int width, height, toWidth, toHeight, bytes, threads;
  bool made = false;  // rows made on demand rather than read in place
  friend void PrintTo(const ReduceCase& c, std::ostream* os) {
    *os << c.width << "x" << c.height << " -> " << c.toWidth << "x" << c.toHeight << ", " << c.bytes
        << " bytes, " << c.threads << " threads" << (c.made ? ", made" : "");
  }
};

// A picture with detail at every scale, so that a misplaced weight shows.
uint8_t Sample(int x, int y, int channel) {
  return static_cast<uint8_t>((x * 37 + y * 11 + channel * 50 + (x * y) % 23) % 256);
}

// The mean of channel over [x0, x1) x [y0, y1) in source pixels.
double AreaMean(double x0, double x1, double y0, double y1, int channel) {
  double sum = 0;
  for (int y = static_cast<int>(y0); y < y1; ++y) {
    const double h = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
    for (int x = static_cast<int>(x0); x < x1; ++x) {
      const double w = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
      sum += w * h * Sample(x, y, channel);
    }
  }
  return sum / ((x1 - x0) * (y1 - y0));
}

// Rows of Sample, made as they are asked for.
class SampleRows : public views::RowMaker {
 public:
  SampleRows(int width, int bytes) : m_width(width), m_bytes(bytes) {}
  void MakeRow(int y, uint8_t* out) const override {
    for (int x = 0; x < m_width; ++x) {
      for (int k = 0; k < m_bytes; ++k) *out++ = Sample(x, y, k);
    }
  }

 private:
  int m_width, m_bytes;
};

class BoxReduceTable : public testing::TestWithParam<ReduceCase> {};

TEST_P(BoxReduceTable, EachPixelIsTheMeanOfTheAreaItCovers) {
  const ReduceCase& c = GetParam();
  // Source rows bottom-up, as FreeImage keeps them; the output top-down.
  std::vector<uint8_t> source(static_cast<size_t>(c.width) * c.height * c.bytes);
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      for (int k = 0; k < c.bytes; ++k) {
        source[(static_cast<size_t>(c.height - 1 - y) * c.width + x) * c.bytes + k] =
            Sample(x, y, k);
      }
    }
  }
  const ptrdiff_t pitch = static_cast<ptrdiff_t>(c.width) * c.bytes;
  views::PixelRows in{source.data() + (c.height - 1) * pitch, -pitch, c.width, c.height, c.bytes};
  const SampleRows maker(c.width, c.bytes);
  if (c.made) in = {nullptr, 0, c.width, c.height, c.bytes, &maker};
  std::vector<uint8_t> reduced(static_cast<size_t>(c.toWidth) * c.toHeight * c.bytes + 1, 7);
  const views::PixelRows out{reduced.data(), static_cast<ptrdiff_t>(c.toWidth) * c.bytes, c.toWidth,
                             c.toHeight, c.bytes};
  const std::atomic<bool> never{false};
  ASSERT_TRUE(views::BoxReduce(in, out, never, c.threads));
  const double sx = static_cast<double>(c.width) / c.toWidth;
  const double sy = static_cast<double>(c.height) / c.toHeight;
  int wrong = 0;
  for (int y = 0; y < c.toHeight; ++y) {
    for (int x = 0; x < c.toWidth; ++x) {
      for (int k = 0; k < c.bytes; ++k) {
        const double want = AreaMean(x * sx, (x + 1) * sx, y * sy, (y + 1) * sy, k);
        const int got = reduced[(static_cast<size_t>(y) * c.toWidth + x) * c.bytes + k];
        if (std::abs(got - want) > 0.51 && wrong++ < 5) {
          ADD_FAILURE() << "pixel " << x << "," << y << " channel " << k << ": got " << got
                        << ", want " << want;
        }
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(reduced.back(), 7) << "written past the last pixel";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BoxReduceTable,
    testing::Values(ReduceCase{8, 6, 6, 4, 3, 1}, ReduceCase{8, 6, 6, 4, 4, 2},
                    ReduceCase{101, 53, 50, 26, 3, 3}, ReduceCase{40, 30, 4, 3, 4, 1},
                    ReduceCase{7, 5, 1, 1, 3, 1}, ReduceCase{1000, 3, 100, 1, 3, 2},
                    ReduceCase{37, 41, 37, 41, 3, 2}, ReduceCase{300, 200, 111, 74, 3, 4},
                    ReduceCase{123, 97, 12, 9, 4, 3}, ReduceCase{5, 600, 1, 1, 3, 1},
                    ReduceCase{700, 520, 2, 1, 4, 2}, ReduceCase{101, 53, 50, 26, 1, 3},
                    ReduceCase{300, 200, 111, 74, 1, 2}, ReduceCase{37, 41, 37, 41, 1, 1},
                    ReduceCase{101, 53, 50, 26, 3, 2, true}, ReduceCase{40, 30, 4, 3, 4, 1, true},
                    ReduceCase{5, 600, 1, 1, 3, 1, true}, ReduceCase{700, 520, 2, 1, 1, 2, true}),
    [](const auto& info) {
      const ReduceCase& c = info.param;
      return std::to_string(c.width) + "x" + std::to_string(c.height) + "_to_" +
             std::to_string(c.toWidth) + "x" + std::to_string(c.toHeight) + "_" +
             std::to_string(c.bytes) + "bytes_" + std::to_string(c.threads) + "threads" +
             (c.made ? "_made" : "");
    });

TEST(BoxReduceCancel, AReductionToldToStopSaysSo) {
  std::vector<uint8_t> source(64 * 64 * 3, 1), reduced(32 * 32 * 3 + 1);
  const views::PixelRows in{source.data(), 64 * 3, 64, 64, 3};
  const views::PixelRows out{reduced.data(), 32 * 3, 32, 32, 3};
  const std::atomic<bool> stop{true};
  EXPECT_FALSE(views::BoxReduce(in, out, stop, 2));
}

}  // namespace
