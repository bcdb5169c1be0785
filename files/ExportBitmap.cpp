#include "files/ExportBitmap.h"

#include "files/ImageMetadata.h"

namespace files {

namespace {

bool Holds(FREE_IMAGE_FORMAT fif, FIBITMAP* bitmap) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
  if (!FreeImage_FIFSupportsExportType(fif, type)) return false;
  return type != FIT_BITMAP || FreeImage_FIFSupportsExportBPP(fif, FreeImage_GetBPP(bitmap));
}

bool IsTrueColourWithAlpha(FIBITMAP* bitmap) {
  return FreeImage_GetImageType(bitmap) == FIT_BITMAP && FreeImage_GetBPP(bitmap) == 32;
}

// A 32-bit picture whose fourth bytes are all 0 never used them (old
// programs write such bitmaps): it is opaque, not invisible.
bool AlphaUnused(FIBITMAP* bitmap) {
  const unsigned width = FreeImage_GetWidth(bitmap);
  const unsigned height = FreeImage_GetHeight(bitmap);
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* p = FreeImage_GetScanLine(bitmap, static_cast<int>(y)) + FI_RGBA_ALPHA;
    for (unsigned x = 0; x < width; ++x, p += 4)
      if (*p != 0) return false;
  }
  return true;
}

bool HasTransparency(FIBITMAP* bitmap) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
  if (type == FIT_RGBA16 || type == FIT_RGBAF) return true;
  return IsTrueColourWithAlpha(bitmap) || (type == FIT_BITMAP && FreeImage_IsTransparent(bitmap));
}

// Formats that keep transparency hold 32-bit pictures; JPEG reads its 32
// bits as CMYK and drops the alpha.
bool KeepsTransparency(FREE_IMAGE_FORMAT fif) {
  return fif != FIF_JPEG && FreeImage_FIFSupportsExportBPP(fif, 32);
}

BYTE UnitToByte(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 1.0f) return 255;
  return static_cast<BYTE>(value * 255.0f + 0.5f);
}

// Floating-point colour holds intensities in 0..1: clamped and scaled, as
// the views show it.
FIBITMAP* FloatToBytes(FIBITMAP* bitmap, bool alpha) {
  FIBITMAP* rgbaf = FreeImage_ConvertToRGBAF(bitmap);
  if (!rgbaf) return nullptr;
  const unsigned width = FreeImage_GetWidth(rgbaf);
  const unsigned height = FreeImage_GetHeight(rgbaf);
  const int step = alpha ? 4 : 3;
  FIBITMAP* out = FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), step * 8);
  for (unsigned y = 0; out && y < height; ++y) {
    const auto* from =
        reinterpret_cast<const FIRGBAF*>(FreeImage_GetScanLine(rgbaf, static_cast<int>(y)));
    BYTE* to = FreeImage_GetScanLine(out, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x, to += step) {
      to[FI_RGBA_RED] = UnitToByte(from[x].red);
      to[FI_RGBA_GREEN] = UnitToByte(from[x].green);
      to[FI_RGBA_BLUE] = UnitToByte(from[x].blue);
      if (alpha) to[FI_RGBA_ALPHA] = UnitToByte(from[x].alpha);
    }
  }
  FreeImage_Unload(rgbaf);
  return out;
}

FIBITMAP* Standard(FIBITMAP* bitmap, bool alpha) {
  switch (FreeImage_GetImageType(bitmap)) {
    case FIT_RGBF:
    case FIT_RGBAF:
      return FloatToBytes(bitmap, alpha);
    case FIT_BITMAP:
    case FIT_RGB16:
    case FIT_RGBA16:
      return alpha ? FreeImage_ConvertTo32Bits(bitmap) : FreeImage_ConvertTo24Bits(bitmap);
    default:
      // Grey of 16 bits and other single samples: their high byte as 8-bit grey.
      return FreeImage_ConvertToType(bitmap, FIT_BITMAP, TRUE);
  }
}

FIBITMAP* FlattenOverWhite(FIBITMAP* bitmap) {
  FIBITMAP* rgba = FreeImage_GetBPP(bitmap) == 32 && FreeImage_GetImageType(bitmap) == FIT_BITMAP
                       ? bitmap
                       : Standard(bitmap, true);
  if (!rgba) return nullptr;
  RGBQUAD white{255, 255, 255, 0};
  FIBITMAP* flat = FreeImage_Composite(rgba, FALSE, &white, nullptr);
  if (rgba != bitmap) FreeImage_Unload(rgba);
  return flat;
}

}  // namespace

FIBITMAP* ExportableBitmap(FIBITMAP* bitmap, FREE_IMAGE_FORMAT fif) {
  if (!bitmap) return nullptr;
  const bool transparent = HasTransparency(bitmap);
  FIBITMAP* out = nullptr;
  if (IsTrueColourWithAlpha(bitmap) && AlphaUnused(bitmap)) {
    out = FreeImage_ConvertTo24Bits(bitmap);
  } else if (transparent && !KeepsTransparency(fif)) {
    out = FlattenOverWhite(bitmap);
  } else if (Holds(fif, bitmap)) {
    return bitmap;
  } else {
    out = Standard(bitmap, transparent);
    // An 8-bit grey picture for a format without 8 bits takes colour.
    if (out && !Holds(fif, out)) {
      FIBITMAP* colour = FreeImage_ConvertTo24Bits(out);
      FreeImage_Unload(out);
      out = colour;
    }
  }
  if (out && !Holds(fif, out)) {
    FreeImage_Unload(out);
    out = nullptr;
  }
  if (out) CopyCarriedMetadata(bitmap, out);
  return out;
}

}  // namespace files
