#include "FuzzTargets.h"

#include <FreeImage.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "files/ExifBlock.h"
#include "files/FormatMetadata.h"
#include "files/ImageFiles.h"
#include "files/ImageMetadata.h"
#include "files/ImageWire.h"
#include "files/PngProfile.h"
#include "files/XmpPacket.h"
#include "files/decoder/TiffFirstDirectory.h"

namespace fuzz {

namespace {

void Require(bool holds) {
  if (!holds) std::abort();
}

// A small file of fif, made once, for the writers that add to one.
const std::vector<uint8_t>& Encoded(FREE_IMAGE_FORMAT fif) {
  static std::vector<uint8_t> files[2];
  std::vector<uint8_t>& out = files[fif == FIF_PNG ? 0 : 1];
  if (out.empty()) {
    FIBITMAP* bitmap = FreeImage_Allocate(4, 3, 24);
    FIMEMORY* memory = FreeImage_OpenMemory();
    BYTE* bytes = nullptr;
    DWORD size = 0;
    FreeImage_SaveToMemory(fif, bitmap, memory, 0);
    FreeImage_AcquireMemory(memory, &bytes, &size);
    out.assign(bytes, bytes + size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(bitmap);
  }
  return out;
}

void Xmp(std::string_view text) {
  const std::string sized = files::XmpForSize(text, 123456, 7);
  // Only digits change: each rewritten value is at most ten digits long.
  Require(sized.size() <= text.size() + 10 * (text.size() / 15 + 1));
  Require(files::XmpForSize(sized, 123456, 7) == sized);
}

void Exif(const uint8_t* data, size_t size) {
  const std::optional<files::ExifData> parsed = files::ParseExif(data, size);
  if (!parsed) return;
  const std::vector<uint8_t> written = files::SerializeExif(*parsed);
  const std::optional<files::ExifData> again = files::ParseExif(written.data(), written.size());
  Require(again && again->main.size() == parsed->main.size() &&
          again->exif.size() == parsed->exif.size() && again->gps.size() == parsed->gps.size());
  std::vector<uint8_t> png = Encoded(FIF_PNG), tiff = Encoded(FIF_TIFF);
  files::AddExifToPng(png, written);
  files::AddExifToTiff(tiff, written, size % 2 == 0);
  files::ExifHasSettings(written);
}

void Profile(const uint8_t* data, size_t size) {
  files::PngTakesProfile(data, size, true);
  files::PngTakesProfile(data, size, false);
}

void TiffLookup(const uint8_t* data, size_t size) {
  const auto read = [&](uint64_t offset, void* to, size_t count) {
    if (offset > size || count > size - offset) return false;
    std::memcpy(to, data + offset, count);
    return true;
  };
  const decoder::TiffFirstDirectory first = decoder::ReadFirstDirectory(read, size);
  Require(first.orientation >= 1 && first.orientation <= 8);
  const std::optional<decoder::TiffProfile>& profile = first.freedProfile;
  if (!profile) return;
  Require(profile->dataAt + profile->size <= size && profile->typeAt + 2 <= size);
  std::vector<uint8_t> copy(data, data + size);
  decoder::HideProfile(*profile, 0, copy.data(), copy.size());
}

// A source carrying the bytes as its XMP, EXIF and profile, resized, carried
// and saved in every format.
void CarryAndSave(const uint8_t* data, size_t size) {
  FIBITMAP* source = FreeImage_Allocate(6, 4, 24);
  FreeImage_CreateICCProfile(source, const_cast<uint8_t*>(data), static_cast<long>(size));
  files::SetBytesTag(FIMD_EXIF_RAW, source, "ExifRaw", FIDT_BYTE, data, size);
  const std::string text(reinterpret_cast<const char*>(data), size);
  files::SetBytesTag(FIMD_XMP, source, "XMLPacket", FIDT_ASCII, text.c_str(), text.size() + 1);
  FIBITMAP* result = FreeImage_Allocate(12, 8, 24);
  files::CarryMetadata(source, result, 2.0, 2.0);
  for (FREE_IMAGE_FORMAT fif : {FIF_JPEG, FIF_BMP, FIF_TIFF, FIF_PNG}) {
    char* bytes = nullptr;
    size_t length = 0;
    std::FILE* stream = ::open_memstream(&bytes, &length);
    Require(files::WriteImage(result, fif, stream, [] { return false; }));
    std::fclose(stream);
    std::free(bytes);
  }
  FreeImage_Unload(result);
  FreeImage_Unload(source);
}

}  // namespace

int Metadata(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* rest = data + 1;
  const size_t restSize = size - 1;
  switch (data[0] % 5) {
    case 0:
      Xmp(std::string_view(reinterpret_cast<const char*>(rest), restSize));
      break;
    case 1:
      Exif(rest, restSize);
      break;
    case 2:
      Profile(rest, restSize);
      break;
    case 3:
      TiffLookup(rest, restSize);
      break;
    default:
      CarryAndSave(rest, restSize);
      break;
  }
  return 0;
}

int Wire(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  files::wire::Reader in(bytes);
  std::optional<files::wire::Shape> shape;
  files::wire::Verdict verdict;
  if (!files::wire::GetShape(in, shape) || !files::wire::GetReply(in, verdict)) return 0;
  // The decoder declares only pictures that fit in memory: a fuzzer's
  // picture stays small (type, then width, height and bits per pixel).
  constexpr size_t kShapeAt = files::wire::kShapeRecordBytes + 22;
  uint32_t declared[4] = {};
  if (size < kShapeAt + sizeof declared) return 0;
  std::memcpy(declared, data + kShapeAt, sizeof declared);
  if (uint64_t{declared[1]} * declared[2] * (declared[3] / 8 + 1) > (uint64_t{1} << 24)) return 0;
  // Pixels sent apart come from the start of the bytes, as far as they go.
  const files::wire::PixelSource apart = [&](void* to, uint64_t count, uint64_t offset) {
    if (offset > size || count > size - offset) return false;
    std::memcpy(to, data + offset, count);
    return true;
  };
  FIBITMAP* bitmap = files::wire::GetBitmap(in, apart);
  if (!bitmap) return 0;
  // What was rebuilt is sent and rebuilt again the same.
  std::string again;
  files::wire::PutBitmap(again, bitmap, std::nullopt);
  files::wire::Reader second(again);
  FIBITMAP* copy = files::wire::GetBitmap(second, nullptr);
  Require(copy && FreeImage_GetWidth(copy) == FreeImage_GetWidth(bitmap) &&
          FreeImage_GetHeight(copy) == FreeImage_GetHeight(bitmap));
  std::string third;
  files::wire::PutBitmap(third, copy, std::nullopt);
  Require(third == again);
  FreeImage_Unload(copy);
  FreeImage_Unload(bitmap);
  return 0;
}

}  // namespace fuzz
