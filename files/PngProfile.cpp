#include "files/PngProfile.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>

namespace files {

namespace {

void Refuse(png_structp png, png_const_charp) { std::longjmp(png_jmpbuf(png), 1); }
void Quiet(png_structp, png_const_charp) {}
void Discard(png_structp, png_bytep, size_t) {}
void NoFlush(png_structp) {}

}  // namespace

bool PngTakesProfile(const void* profile, size_t size, bool colour) {
  if (!profile || size == 0 || size > UINT32_MAX) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Refuse, Quiet);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  // Volatile: read after a longjmp.
  volatile bool taken = false;
  if (info && setjmp(png_jmpbuf(png)) == 0) {
    png_set_write_fn(png, nullptr, Discard, NoFlush);
    png_set_IHDR(png, info, 1, 1, 8, colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // The name FreeImage gives it.
    png_set_iCCP(png, info, "Embedded Profile", 0, static_cast<png_const_bytep>(profile),
                 static_cast<png_uint_32>(size));
    if (png_get_valid(png, info, PNG_INFO_iCCP)) {
      png_write_info(png, info);
      taken = true;
    }
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  return taken;
}

}  // namespace files
