#pragma once

#include <FreeImage.h>

#include <QImage>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "views/BoxReduce.h"

namespace views {

// What one pass over all the pixels of a picture finds out before it can be
// drawn: how its alpha is used, and the range over which samples without a
// fixed one are stretched from black to white.
struct Survey {
  enum class Alpha {
    Opaque,   // all 255, or no alpha at all
    Varying,  // drawn over the background
    Unused,   // all 0, as in most 32-bit BMP files: taken as opaque
  };
  Alpha alpha = Alpha::Opaque;
  double low = 0.0;    // the sample shown black
  double scale = 1.0;  // grey levels per unit above low
};

// A picture as the views read it: any bitmap FreeImage loads, read in place
// and converted only where it is drawn or reduced, each pixel exactly as
// FreeImage converts the bitmap to 32 bits (floating-point colour is shown
// as is within [0, 1]; samples without a fixed range are stretched linearly
// over black to white); or a reduced copy of such a picture.
// Made and surveyed on the UI thread, or surveyed on a worker and the survey
// applied on the UI thread; after that it is read-only and any thread may
// read it. It borrows the bitmap, which must outlive every reader.
class DisplayBitmap final : public RowMaker {
 public:
  // Null when bitmap has no pixels or is of a kind no conversion exists for.
  static std::shared_ptr<DisplayBitmap> Of(FIBITMAP* bitmap);
  // A reduced copy of source, top row first, in source.ReducedFormat().
  static std::shared_ptr<DisplayBitmap> OfCopy(QImage copy, const DisplayBitmap& source);

  int Width() const { return m_width; }
  int Height() const { return m_height; }

  // False until the survey of its pixels has been applied: it cannot be
  // drawn before.
  bool Surveyed() const { return !m_needsSurvey; }
  // The pass over every pixel, for a worker; nothing when cancel was set.
  std::optional<Survey> RunSurvey(const std::atomic<bool>& cancel) const;
  void Apply(const Survey& survey);

  // Drawn as premultiplied ARGB32 over the background; otherwise as RGB32.
  bool Translucent() const { return m_survey.alpha == Survey::Alpha::Varying; }
  // Pixels [left, left + width) of row (the top row is 0), as drawn.
  void ConvertRow(int row, int left, int width, uint32_t* dst) const;
  // Single pixels of row, by column, as drawn.
  void PickPixels(int row, std::span<const int> columns, uint32_t* dst) const;

  // What its reduced copies are made of: grey, BGR or BGRA bytes, not
  // premultiplied.
  QImage::Format ReducedFormat() const;
  PixelRows ReductionRows() const;
  void MakeRow(int y, uint8_t* out) const override;

 private:
  enum class Layout {
    Bgr24,
    Bgra32,
    Index8,
    Index4,
    Index1,
    Word16,  // a table for every 16-bit value: 555 and 565 colour, 16-bit grey
    Rgb16,
    Rgba16,
    RgbF,
    RgbaF,
    Int16,  // the kinds below are stretched over the range the survey finds
    Uint32,
    Int32,
    Float,
    Double,
    Complex,  // by magnitude
  };
  template <Layout L>
  using Tag = std::integral_constant<Layout, L>;

  DisplayBitmap() = default;
  bool Describe(FIBITMAP* bitmap);
  const uint8_t* Row(int y) const { return m_top + y * m_pitch; }
  template <class Fn>
  void Dispatch(Fn&& fn) const;
  template <Layout L>
  auto SampleAt(const uint8_t* row, int x) const;
  template <Layout L>
  uint32_t PixelAt(const uint8_t* row, int x) const;
  template <class T>
  uint8_t Stretched(T sample) const;
  template <Layout L>
  bool SurveyAlpha(Survey& survey, const std::atomic<bool>& cancel) const;
  template <Layout L>
  bool SurveyRange(Survey& survey, const std::atomic<bool>& cancel) const;
  void Finish(uint32_t* dst, size_t count) const;

  Layout m_layout = Layout::Bgr24;
  const uint8_t* m_top = nullptr;  // the top row
  ptrdiff_t m_pitch = 0;           // negative for rows stored bottom-up
  int m_width = 0;
  int m_height = 0;
  int m_reducedBytes = 3;
  bool m_direct = false;  // its rows are what the reduction reads
  bool m_needsSurvey = false;
  Survey m_survey;
  std::vector<uint32_t> m_table;   // a colour per index or 16-bit value
  std::vector<uint8_t> m_channel;  // a byte per 16-bit channel value
  QImage m_copy;                   // the pixels of a reduced copy
};

// Nearest-neighbour samples of picture into out, as RGB32 or, for a
// translucent picture, premultiplied ARGB32 (the formats a painter draws
// fastest): out pixel (i, j) shows picture pixel (columns[i], rows[j]), rows
// counted from the top. columns must not decrease, and all must lie on the
// picture.
void Sample(const DisplayBitmap& picture, std::span<const int> columns, std::span<const int> rows,
            QImage& out);

}  // namespace views
