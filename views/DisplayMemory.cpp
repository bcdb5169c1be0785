#include "views/DisplayMemory.h"

namespace views {

namespace {

bool PaletteIsGrey(FIBITMAP* bitmap) {
  const RGBQUAD* palette = FreeImage_GetPalette(bitmap);
  if (!palette) return false;
  for (unsigned i = 0; i < FreeImage_GetColorsUsed(bitmap); ++i) {
    if (palette[i].rgbRed != palette[i].rgbGreen || palette[i].rgbRed != palette[i].rgbBlue)
      return false;
  }
  return true;
}

}  // namespace

int ReducedBytesPerPixel(FIBITMAP* bitmap) {
  switch (FreeImage_GetImageType(bitmap)) {
    case FIT_BITMAP: {
      const unsigned bpp = FreeImage_GetBPP(bitmap);
      if (bpp == 32) return 4;
      if (bpp > 8) return 3;
      if (FreeImage_IsTransparent(bitmap)) return 4;
      return PaletteIsGrey(bitmap) ? 1 : 3;
    }
    case FIT_RGB16:
    case FIT_RGBF:
      return 3;
    case FIT_RGBA16:
    case FIT_RGBAF:
      return 4;
    default:  // single samples, shown as grey
      return 1;
  }
}

uint64_t ReducedCopiesBytes(uint64_t width, uint64_t height, int bytesPerPixel) {
  // Two copies of up to the whole picture, and one of a quarter of it.
  return width * height * static_cast<uint64_t>(bytesPerPixel) * 9 / 4;
}

}  // namespace views
