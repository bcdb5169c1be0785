#include "files/JpegChoices.h"

#include <FreeImage.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

namespace files {

int JpegSaveFlags(const JpegChoices& choices) {
  // FreeImage reads a quality of 1 to 100 from the flags' low bits.
  return std::clamp(choices.quality, 1, 100) |
         (choices.fullColour ? JPEG_SUBSAMPLING_444 : JPEG_SUBSAMPLING_420);
}

std::optional<bool> ParseSubsampling(std::string_view text) {
  if (text == "4:2:0" || text == "420") return false;
  if (text == "4:4:4" || text == "444") return true;
  return std::nullopt;
}

namespace {

// libjpeg's standard luminance table, in zigzag order as files store it.
constexpr std::array<int, 64> kStandardLuminance = {
    16, 11, 12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16, 19,  24,  40,
    26, 24, 22,  22,  24,  49, 35, 37,  29,  40,  58,  51,  61, 60,  57,  51,
    56, 55, 64,  72,  92,  78, 64, 68,  87,  69,  55,  56,  80, 109, 81,  87,
    95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};

// A quality gap smaller than this is not worth a word.
constexpr int kNotableDrop = 10;

}  // namespace

std::optional<int> EstimateJpegQuality(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return std::nullopt;
  std::FILE* in = file.get();
  if (std::fgetc(in) != 0xff || std::fgetc(in) != 0xd8) return std::nullopt;
  // Segments up to the first scan; the table that quantises luminance is 0.
  for (int segments = 0; segments < 256; ++segments) {
    int marker = std::fgetc(in);
    if (marker != 0xff) return std::nullopt;
    while ((marker = std::fgetc(in)) == 0xff) {
    }
    if (marker == EOF || marker == 0xda || marker == 0xd9) return std::nullopt;
    const int high = std::fgetc(in);
    const int low = std::fgetc(in);
    if (high == EOF || low == EOF) return std::nullopt;
    long length = (high << 8 | low) - 2;
    if (length < 0) return std::nullopt;
    if (marker != 0xdb) {
      if (std::fseek(in, length, SEEK_CUR) != 0) return std::nullopt;
      continue;
    }
    while (length > 0) {
      const int info = std::fgetc(in);
      const bool wide = (info >> 4) != 0;
      std::array<int, 64> table{};
      for (int& entry : table) {
        entry = std::fgetc(in);
        if (wide) entry = entry << 8 | std::fgetc(in);
        if (entry < 0) return std::nullopt;
      }
      length -= 1 + (wide ? 128 : 64);
      if ((info & 0x0f) != 0) continue;
      // libjpeg scales the standard table by S percent (clamped to 1..255
      // or 32767) and takes quality q for S = 5000 / q below 50, 200 - 2q above.
      double scale = 0;
      for (size_t i = 0; i < table.size(); ++i) scale += 100.0 * table[i] / kStandardLuminance[i];
      scale /= static_cast<double>(table.size());
      const double quality = scale <= 100.0 ? (200.0 - scale) / 2.0 : 5000.0 / scale;
      return std::clamp(static_cast<int>(quality + 0.5), 1, 100);
    }
  }
  return std::nullopt;
}

std::string QualityBelowSourceNote(int quality, std::optional<int> sourceQuality) {
  if (!sourceQuality || quality + kNotableDrop > *sourceQuality) return {};
  return "Saved at JPEG quality " + std::to_string(quality) + ", well below the source's (about " +
         std::to_string(*sourceQuality) + "): fine detail may be lost.";
}

}  // namespace files
