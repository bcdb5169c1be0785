#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Area-averaging ("box") reduction of 8-, 24- or 32-bit pixel rows, the way
// the views make their reduced display copies. Plain memory, any thread.
namespace views {

// Makes source rows on demand, for pictures whose pixels are not stored in
// the bytes the reduction reads. Called from several threads at once.
class RowMaker {
 public:
  // Row y (the top row is 0) as width pixels of bytesPerPixel bytes.
  virtual void MakeRow(int y, uint8_t* out) const = 0;

 protected:
  ~RowMaker() = default;
};

// Rows of pixels, 1 (grey), 3 (blue, green, red) or 4 (blue, green, red,
// alpha) bytes each: in memory, where pitch is the distance from row y to
// row y + 1 (negative for rows stored bottom-up), or made by maker.
struct PixelRows {
  uint8_t* bits = nullptr;  // row 0, the top row
  ptrdiff_t pitch = 0;
  int width = 0;
  int height = 0;
  int bytesPerPixel = 3;
  const RowMaker* maker = nullptr;  // when set, bits and pitch are unused
  uint8_t* Row(int y) const { return bits + y * pitch; }
};

// Every pixel of out becomes the area-weighted mean of the part of in that it
// covers, each channel on its own. out must be no larger than in along either
// axis and have in's bytes per pixel. The rows of out are shared among
// threads; cancel is read once per output row, and a reduction that sees it
// set returns false with out partly written.
bool BoxReduce(const PixelRows& in, const PixelRows& out, const std::atomic<bool>& cancel,
               int threads);

}  // namespace views
