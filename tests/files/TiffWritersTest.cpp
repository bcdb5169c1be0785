// TIFFs as Pillow and ImageMagick write them, with and without the tags a
// reader may do without, opened through the decoder process. The oracle is
// ImageMagick's reading of the file, every pixel as RGBA.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestImages.h"
#include "files/DecoderProcess.h"

namespace {

using testimages::TempDir;

// Pillow is Debian's, beside Debian's Python.
constexpr const char* kPython = "/usr/bin/python3";

// A 40 x 30 picture in mode (L, LA, P, RGB, I;16 or 1): grey (x * 5 + y * 3)
// with a black row at y = 10; colour adds (x * 6, y * 8); alpha runs
// (x * 11 + y * 7), across the grey levels; 16 bits scale by 251.
// Written with the arguments to save in extra.
std::string PillowScript(const std::string& mode, const std::string& extra,
                         const std::string& path) {
  return std::string(kPython) + " -c \"\n" +
         "from PIL import Image\n"
         "def g(x, y): return 0 if y == 10 else (x * 5 + y * 3) % 256\n"
         "m = '" +
         mode +
         "'\n"
         "kind = {'I;16': 'I;16', 'RGB': 'RGB', 'P': 'RGB'}.get(m, 'LA')\n"
         "im = Image.new(kind, (40, 30))\n"
         "for y in range(30):\n"
         "  for x in range(40):\n"
         "    v = g(x, y)\n"
         "    im.putpixel((x, y), {'I;16': v * 251, 'RGB': (v, x * 6, y * 8),\n"
         "                         'LA': (v, (x * 11 + y * 7) % 256)}[kind])\n"
         "im = im.quantize(256) if m == 'P' else im.convert(m)\n"
         "im.save('" +
         path + "', " + extra + ")\n\"";
}

// The same picture's make in ImageMagick: a grey ramp with a black row.
constexpr const char* kMagickGrey =
    "convert -size 40x30 gradient:white-black -fill black -draw 'line 0,10 39,10'";

struct TiffCase {
  const char* label;
  const char* writer;  // "pillow" or "magick"
  const char* mode;    // Pillow's mode, or ImageMagick's options
  const char* extra;   // Pillow's save arguments, or more ImageMagick options
  bool samplesTagged;  // the file has a SamplesPerPixel tag
};

void PrintTo(const TiffCase& c, std::ostream* out) { *out << c.label; }

// Every pixel, top row first, as red, green, blue and alpha: of 8 bits from
// a standard bitmap, of 16 from 16-bit grey.
std::vector<uint16_t> Rgba(FIBITMAP* bitmap) {
  std::vector<uint16_t> pixels;
  const unsigned width = FreeImage_GetWidth(bitmap), height = FreeImage_GetHeight(bitmap);
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
  FIBITMAP* rgba = type == FIT_BITMAP ? FreeImage_ConvertTo32Bits(bitmap) : nullptr;
  for (unsigned y = height; y-- > 0;) {
    for (unsigned x = 0; x < width; ++x) {
      if (rgba) {
        const BYTE* p = FreeImage_GetScanLine(rgba, int(y)) + 4 * x;
        for (int channel : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE, FI_RGBA_ALPHA})
          pixels.push_back(p[channel]);
      } else if (type == FIT_UINT16) {
        const uint16_t v =
            reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(bitmap, int(y)))[x];
        pixels.insert(pixels.end(), {v, v, v, 65535});
      } else {
        ADD_FAILURE() << "unexpected type " << type;
        return {};
      }
    }
  }
  if (rgba) FreeImage_Unload(rgba);
  return pixels;
}

std::vector<uint16_t> MagickRgba(const std::string& path, int depth) {
  const std::string raw = testimages::CommandOutput("convert '" + path + "' -depth " +
                                                    std::to_string(depth) + " -endian MSB rgba:-");
  const size_t bytes = size_t(depth / 8);
  std::vector<uint16_t> pixels(raw.size() / bytes);
  for (size_t i = 0; i < pixels.size(); ++i) {
    for (size_t b = 0; b < bytes; ++b)
      pixels[i] = uint16_t(pixels[i] << 8 | uint8_t(raw[bytes * i + b]));
  }
  return pixels;
}

bool HasSamplesTag(const std::string& path) {
  return testimages::CommandOutput(std::string(kPython) + " -c \"from PIL import Image; print(" +
                                   "277 in Image.open('" + path + "').tag_v2)\"") == "True\n";
}

class TiffWritersTest : public testing::TestWithParam<TiffCase> {};

TEST_P(TiffWritersTest, OpensAsImageMagickReadsIt) {
  const TiffCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("written.tif");
  const std::string command =
      std::string(c.writer) == "pillow"
          ? PillowScript(c.mode, c.extra, path)
          : std::string(kMagickGrey) + " " + c.mode + " " + c.extra + " '" + path + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  ASSERT_EQ(HasSamplesTag(path), c.samplesTagged);

  const files::DecodeOutcome outcome = files::DecodeImageFile({path, uint64_t{1} << 32, -1, {}});
  ASSERT_EQ(outcome.code, files::kLoaded);
  EXPECT_FALSE(outcome.incomplete);
  const std::vector<uint16_t> ours = Rgba(outcome.bitmap);
  const std::vector<uint16_t> oracle =
      MagickRgba(path, FreeImage_GetImageType(outcome.bitmap) == FIT_UINT16 ? 16 : 8);
  ASSERT_EQ(ours.size(), oracle.size());
  for (size_t i = 0; i < ours.size(); ++i) {
    ASSERT_EQ(ours[i], oracle[i]) << "pixel " << i / 4 % 40 << ", " << i / 160 << " channel "
                                  << i % 4;
  }
  FreeImage_Unload(outcome.bitmap);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TiffWritersTest,
    testing::Values(
        TiffCase{"PillowGrey", "pillow", "L", "", false},
        TiffCase{"PillowGreyLzw", "pillow", "L", "compression='tiff_lzw'", false},
        TiffCase{"PillowGreyTagged", "pillow", "L",
                 "tiffinfo={277: 1}, dpi=(300, 300), description='grey'", true},
        TiffCase{"PillowGreyAlpha", "pillow", "LA", "", true},
        TiffCase{"PillowPalette", "pillow", "P", "", false},
        TiffCase{"PillowPaletteTagged", "pillow", "P", "tiffinfo={277: 1}", true},
        TiffCase{"PillowRgb", "pillow", "RGB", "", true},
        TiffCase{"PillowGrey16", "pillow", "I;16", "", false},
        TiffCase{"PillowBilevel", "pillow", "1", "", false},
        TiffCase{"MagickGrey", "magick", "-depth 8 -type Grayscale", "", true},
        TiffCase{"MagickGreyStripped", "magick", "-depth 8 -type Grayscale", "-strip", true},
        TiffCase{"MagickGreyAlpha", "magick",
                 "-alpha on -channel A -fx 'i/w' +channel -depth 8 -type GrayscaleAlpha", "", true},
        TiffCase{"MagickPalette", "magick", "-depth 8 -type Palette", "-compress lzw", true},
        TiffCase{"MagickRgb", "magick", "-depth 8 -type TrueColor", "-compress zip", true},
        TiffCase{"MagickGrey16", "magick", "-depth 16 -type Grayscale", "", true},
        TiffCase{"MagickBilevel", "magick", "-monochrome -depth 1", "-strip", true}),
    [](const testing::TestParamInfo<TiffCase>& info) { return info.param.label; });

}  // namespace
