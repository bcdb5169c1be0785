#include "files/decoder/TiffGreyAlpha.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace decoder {

namespace {

// The file as libtiff reads it: through read, from a place of its own.
struct Source {
  const FileReader* read;
  uint64_t size;
  uint64_t at;
};

tmsize_t ReadProc(thandle_t handle, void* to, tmsize_t count) {
  auto* source = static_cast<Source*>(handle);
  if (count < 0 || source->at > source->size) return -1;
  const uint64_t got = std::min(uint64_t(count), source->size - source->at);
  if (got > 0 && !(*source->read)(source->at, to, size_t(got))) return -1;
  source->at += got;
  return tmsize_t(got);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* source = static_cast<Source*>(handle);
  const uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? source->at : source->size;
  source->at = base + offset;  // a negative offset comes as its two's complement
  return source->at;
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t handle) { return static_cast<Source*>(handle)->size; }

int MapProc(thandle_t, void**, toff_t*) { return 0; }

void UnmapProc(thandle_t, void*, toff_t) {}

FIBITMAP* Read(TIFF* tiff) {
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, extraCount = 0;
  uint16_t* extra = nullptr;
  if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) ||
      !TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits) ||
      !TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
      !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) ||
      !TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar) ||
      !TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra)) {
    return nullptr;
  }
  const bool whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
  if (bits != 8 || samples != 2 || extraCount != 1 || extra[0] != EXTRASAMPLE_UNASSALPHA ||
      (!whiteIsZero && photometric != PHOTOMETRIC_MINISBLACK) || planar != PLANARCONFIG_CONTIG ||
      TIFFIsTiled(tiff) || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) {
    return nullptr;
  }
  std::vector<uint8_t> row(size_t(std::max<tmsize_t>(TIFFScanlineSize(tiff), 0)));
  if (row.size() < 2 * uint64_t(width)) return nullptr;
  FIBITMAP* bitmap = FreeImage_Allocate(int(width), int(height), 32);
  if (!bitmap) return nullptr;
  for (uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) {
      FreeImage_Unload(bitmap);
      return nullptr;
    }
    BYTE* pixel = FreeImage_GetScanLine(bitmap, int(height - 1 - y));
    for (uint32_t x = 0; x < width; ++x, pixel += 4) {
      const uint8_t grey = whiteIsZero ? uint8_t(255 - row[2 * x]) : row[2 * x];
      pixel[FI_RGBA_RED] = pixel[FI_RGBA_GREEN] = pixel[FI_RGBA_BLUE] = grey;
      pixel[FI_RGBA_ALPHA] = row[2 * x + 1];
    }
  }
  FreeImage_SetTransparent(bitmap, TRUE);
  return bitmap;
}

}  // namespace

FIBITMAP* ReadGreyAlphaTiff(const FileReader& read, uint64_t fileBytes) {
  Source source{&read, fileBytes, 0};
  TIFF* tiff = TIFFClientOpen("image", "rm", &source, ReadProc, WriteProc, SeekProc, CloseProc,
                              SizeProc, MapProc, UnmapProc);
  if (!tiff) return nullptr;
  FIBITMAP* bitmap = Read(tiff);
  TIFFClose(tiff);
  return bitmap;
}

}  // namespace decoder
