#include "files/ImageMetadata.h"

#include <cmath>
#include <cstring>
#include <regex>
#include <string>

#include "files/ExifBlock.h"

namespace files {

namespace {

constexpr char kExifMark[] = "Exif\0";  // with its terminator: "Exif\0\0"
constexpr size_t kExifMarkSize = 6;
constexpr char kRawExifKey[] = "ExifRaw";
constexpr char kXmpKey[] = "XMLPacket";

// Models carried as they are.
constexpr FREE_IMAGE_MDMODEL kPlainModels[] = {FIMD_COMMENTS, FIMD_IPTC};

void CopyModel(FREE_IMAGE_MDMODEL model, FIBITMAP* from, FIBITMAP* to) {
  FITAG* tag = nullptr;
  FIMETADATA* search = FreeImage_FindFirstMetadata(model, from, &tag);
  if (!search) return;
  do {
    FreeImage_SetMetadata(model, to, FreeImage_GetTagKey(tag), tag);
  } while (FreeImage_FindNextMetadata(search, &tag));
  FreeImage_FindCloseMetadata(search);
}

void SetBytesTag(FREE_IMAGE_MDMODEL model, FIBITMAP* bitmap, const char* key,
                 FREE_IMAGE_MDTYPE type, const void* data, size_t size) {
  FITAG* tag = FreeImage_CreateTag();
  if (!tag) return;
  FreeImage_SetTagKey(tag, key);
  FreeImage_SetTagType(tag, type);
  FreeImage_SetTagCount(tag, static_cast<DWORD>(size));
  FreeImage_SetTagLength(tag, static_cast<DWORD>(size));
  FreeImage_SetTagValue(tag, data);
  FreeImage_SetMetadata(model, bitmap, key, tag);
  FreeImage_DeleteTag(tag);
}

// The parsed EXIF models, for sources whose reader keeps no raw block (TIFF).
void FromModel(FREE_IMAGE_MDMODEL model, FIBITMAP* source, ExifDirectory& out) {
  FITAG* tag = nullptr;
  FIMETADATA* search = FreeImage_FindFirstMetadata(model, source, &tag);
  if (!search) return;
  do {
    const auto* value = static_cast<const uint8_t*>(FreeImage_GetTagValue(tag));
    const uint16_t id = FreeImage_GetTagID(tag);
    if (!value || (model == FIMD_EXIF_MAIN && IsPictureStructureTag(id))) continue;
    ExifEntry entry;
    entry.tag = id;
    entry.type = static_cast<uint16_t>(FreeImage_GetTagType(tag));
    entry.count = FreeImage_GetTagCount(tag);
    entry.value.assign(value, value + FreeImage_GetTagLength(tag));
    out.push_back(std::move(entry));
  } while (FreeImage_FindNextMetadata(search, &tag));
  FreeImage_FindCloseMetadata(search);
}

std::optional<ExifData> SourceExif(FIBITMAP* source) {
  FITAG* raw = nullptr;
  if (FreeImage_GetMetadata(FIMD_EXIF_RAW, source, kRawExifKey, &raw) && raw &&
      FreeImage_GetTagValue(raw))
    return ParseExif(static_cast<const uint8_t*>(FreeImage_GetTagValue(raw)),
                     FreeImage_GetTagLength(raw));
  ExifData data;
  FromModel(FIMD_EXIF_MAIN, source, data.main);
  FromModel(FIMD_EXIF_EXIF, source, data.exif);
  FromModel(FIMD_EXIF_GPS, source, data.gps);
  FromModel(FIMD_EXIF_INTEROP, source, data.interop);
  if (data.Empty()) return std::nullopt;
  return data;
}

// XMP states the pixel size as attributes or as elements.
std::string XmpForSize(std::string xmp, unsigned width, unsigned height) {
  const std::pair<const char*, unsigned> sizes[] = {{"exif:PixelXDimension", width},
                                                    {"exif:PixelYDimension", height},
                                                    {"tiff:ImageWidth", width},
                                                    {"tiff:ImageLength", height}};
  for (const auto& [name, value] : sizes) {
    const std::string n = std::to_string(value);
    xmp = std::regex_replace(xmp, std::regex(std::string(name) + "=\"[0-9]*\""),
                             std::string(name) + "=\"" + n + "\"");
    xmp = std::regex_replace(xmp, std::regex("<" + std::string(name) + ">[0-9]*<"),
                             "<" + std::string(name) + ">" + n + "<");
  }
  return xmp;
}

}  // namespace

void CarryMetadata(FIBITMAP* source, FIBITMAP* result, double factorX, double factorY) {
  if (!source || !result) return;
  if (FIICCPROFILE* icc = FreeImage_GetICCProfile(source); icc && icc->data && icc->size > 0)
    FreeImage_CreateICCProfile(result, icc->data, icc->size);
  FreeImage_SetDotsPerMeterX(result, FreeImage_GetDotsPerMeterX(source));
  FreeImage_SetDotsPerMeterY(result, FreeImage_GetDotsPerMeterY(source));
  for (FREE_IMAGE_MDMODEL model : kPlainModels) CopyModel(model, source, result);

  const unsigned width = FreeImage_GetWidth(result);
  const unsigned height = FreeImage_GetHeight(result);
  FITAG* xmp = nullptr;
  if (FreeImage_GetMetadata(FIMD_XMP, source, kXmpKey, &xmp) && xmp && FreeImage_GetTagValue(xmp)) {
    const std::string text(
        static_cast<const char*>(FreeImage_GetTagValue(xmp)),
        strnlen(static_cast<const char*>(FreeImage_GetTagValue(xmp)), FreeImage_GetTagLength(xmp)));
    const std::string sized = XmpForSize(text, width, height);
    SetBytesTag(FIMD_XMP, result, kXmpKey, FIDT_ASCII, sized.c_str(), sized.size() + 1);
  }

  std::optional<ExifData> exif = SourceExif(source);
  if (!exif || exif->Empty()) return;
  SetLong(exif->exif, kTagPixelXDimension, width);
  SetLong(exif->exif, kTagPixelYDimension, height);
  ScaleRational(exif->exif, kTagFocalPlaneXResolution, factorX);
  ScaleRational(exif->exif, kTagFocalPlaneYResolution, factorY);
  std::vector<uint8_t> block(kExifMark, kExifMark + kExifMarkSize);
  const std::vector<uint8_t> body = SerializeExif(*exif);
  block.insert(block.end(), body.begin(), body.end());
  // A JPEG segment holds at most 65533 bytes; a larger block stays behind.
  if (block.size() <= 65533)
    SetBytesTag(FIMD_EXIF_RAW, result, kRawExifKey, FIDT_BYTE, block.data(), block.size());
}

void CopyCarriedMetadata(FIBITMAP* from, FIBITMAP* to) {
  if (!from || !to || from == to) return;
  if (FIICCPROFILE* icc = FreeImage_GetICCProfile(from); icc && icc->data && icc->size > 0)
    FreeImage_CreateICCProfile(to, icc->data, icc->size);
  FreeImage_SetDotsPerMeterX(to, FreeImage_GetDotsPerMeterX(from));
  FreeImage_SetDotsPerMeterY(to, FreeImage_GetDotsPerMeterY(from));
  for (FREE_IMAGE_MDMODEL model : {FIMD_COMMENTS, FIMD_IPTC, FIMD_XMP, FIMD_EXIF_RAW})
    CopyModel(model, from, to);
}

std::vector<uint8_t> CarriedExif(FIBITMAP* bitmap) {
  FITAG* raw = nullptr;
  if (!bitmap || !FreeImage_GetMetadata(FIMD_EXIF_RAW, bitmap, kRawExifKey, &raw) || !raw)
    return {};
  const auto* value = static_cast<const uint8_t*>(FreeImage_GetTagValue(raw));
  const size_t size = FreeImage_GetTagLength(raw);
  if (!value || size <= kExifMarkSize || std::memcmp(value, kExifMark, kExifMarkSize) != 0)
    return {};
  return std::vector<uint8_t>(value + kExifMarkSize, value + size);
}

}  // namespace files
