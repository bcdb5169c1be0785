#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The bytes in which the decoder process hands a bitmap to the program:
// everything FreeImage_Load attaches to a bitmap (type, size, masks, palette,
// transparency, background, resolution, ICC profile, every metadata tag, the
// thumbnail) and, inline or apart, its pixels. Plain functions; any thread.
namespace files::wire {

// How the decoder ended, as its reply says.
enum class Status : uint8_t { NotRecognised = 0, Loaded = 1, ReadFailed = 2 };

// Appends bitmap's description to out. The pixels (pitch x height bytes, as
// FreeImage_GetBits holds them) follow inline when inlinePixels is set;
// otherwise only their byte count is written and the caller sends them apart.
void PutBitmap(std::string& out, FIBITMAP* bitmap, bool inlinePixels);

void PutReply(std::string& out, Status status, bool incomplete);

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

bool GetReply(Reader& in, Status& status, bool& incomplete);

// Copies size bytes of the pixels sent apart into to; false when they cannot
// be had.
using PixelSource = std::function<bool(void* to, uint64_t size)>;

// Rebuilds a bitmap written by PutBitmap; pixels sent apart are asked of
// outOfLine. Null when the bytes are malformed or memory runs short; the
// caller owns the result.
FIBITMAP* GetBitmap(Reader& in, const PixelSource& outOfLine);

}  // namespace files::wire
