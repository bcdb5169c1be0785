#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The bytes in which the decoder process hands a bitmap to the program:
// everything FreeImage_Load attaches to a bitmap (type, size, masks, palette,
// transparency, background, resolution, ICC profile, every metadata tag, the
// thumbnail when it is no larger than the picture) and, inline or apart, its
// pixels. Plain functions; any thread.
namespace files::wire {

// How the decoder ended, as its reply says.
// TooLarge: the declared picture cannot fit in the memory available;
// ReadFailed: the decoder failed, or the file cannot hold what it declares.
enum class Status : uint8_t { NotRecognised = 0, Loaded = 1, ReadFailed = 2, TooLarge = 3 };

// The reply's verdict: how the decoder ended, whether the file ran out of
// data, the declared size of a picture too large, the format of the file's
// contents (FIF_UNKNOWN when none), and how many pictures the file holds
// (only the first is sent).
struct Verdict {
  Status status = Status::NotRecognised;
  bool incomplete = false;
  uint32_t width = 0, height = 0;
  int32_t format = -1;
  uint32_t frames = 1;
};

// What a bitmap is made of, sent ahead of the decoding when the header tells
// it, so that the program can make room for the bitmap meanwhile.
struct Shape {
  int32_t type = 0;
  uint32_t width = 0, height = 0, bpp = 0, red = 0, green = 0, blue = 0;
};
Shape ShapeOf(FIBITMAP* bitmap);
// A bitmap of that shape, cleared; null when memory runs short.
FIBITMAP* Allocate(const Shape& shape);
// The record that opens every reply: the shape, or word that it is unknown.
constexpr size_t kShapeRecordBytes = 1 + sizeof(Shape);
void PutShape(std::string& out, const std::optional<Shape>& shape);

// Appends bitmap's description to out. The pixels (pitch x height bytes, as
// FreeImage_GetBits holds them) follow inline without pixelOffset; with it,
// only their byte count and that offset are written and the caller sends
// them apart.
void PutBitmap(std::string& out, FIBITMAP* bitmap, std::optional<uint64_t> pixelOffset);

void PutReply(std::string& out, const Verdict& verdict);

// A cursor over received bytes; every read is checked against the end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : m_rest(bytes) {}
  bool Get(void* to, size_t count);
  template <class T>
  bool Get(T& value) {
    return Get(&value, sizeof value);
  }
  bool GetBytes(std::string& to);
  bool AtEnd() const { return m_rest.empty(); }

 private:
  std::string_view m_rest;
};

bool GetShape(Reader& in, std::optional<Shape>& shape);
bool GetReply(Reader& in, Verdict& verdict);

// Puts size bytes of the pixels sent apart, from offset on, at to; false when
// they cannot be had.
using PixelSource = std::function<bool(void* to, uint64_t size, uint64_t offset)>;

// Rebuilds a bitmap written by PutBitmap; pixels sent apart are asked of
// outOfLine. room, owned from here on, is used when it has the bitmap's
// shape. Null when the bytes are malformed or memory runs short; the caller
// owns the result.
FIBITMAP* GetBitmap(Reader& in, const PixelSource& outOfLine, FIBITMAP* room = nullptr);

}  // namespace files::wire
