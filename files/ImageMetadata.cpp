#include "files/ImageMetadata.h"

#include <cmath>
#include <cstring>
#include <string>

#include "files/ExifBlock.h"
#include "files/XmpPacket.h"

namespace files {

namespace {

constexpr char kExifMark[] = "Exif\0";  // with its terminator: "Exif\0\0"
constexpr size_t kExifMarkSize = 6;
constexpr char kRawExifKey[] = "ExifRaw";
constexpr char kXmpKey[] = "XMLPacket";

// Models carried as they are.
constexpr FREE_IMAGE_MDMODEL kPlainModels[] = {FIMD_COMMENTS, FIMD_IPTC};

void CopyModel(FREE_IMAGE_MDMODEL model, FIBITMAP* from, FIBITMAP* to) {
  // An empty model's search would hand out its end as a tag.
  if (FreeImage_GetMetadataCount(model, from) == 0) return;
  FITAG* tag = nullptr;
  FIMETADATA* search = FreeImage_FindFirstMetadata(model, from, &tag);
  if (!search) return;
  do {
    FreeImage_SetMetadata(model, to, FreeImage_GetTagKey(tag), tag);
  } while (FreeImage_FindNextMetadata(search, &tag));
  FreeImage_FindCloseMetadata(search);
}

// The parsed EXIF models, for sources whose reader keeps no raw block (TIFF).
void FromModel(FREE_IMAGE_MDMODEL model, FIBITMAP* source, ExifDirectory& out) {
  if (FreeImage_GetMetadataCount(model, source) == 0) return;
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

// A JPEG segment holds at most 65533 bytes with its mark.
constexpr size_t kMostExifBytes = 65533;

constexpr char kXmpLeftOut[] = "The XMP metadata (over 4 MB) was left out of the result.";
constexpr char kExifLeftOut[] = "The EXIF metadata (over 64 KB) was left out of the result.";

// The source's XMP made true for the result, or word why it stays behind.
void CarryXmp(FIBITMAP* source, FIBITMAP* result, std::string& notice) {
  FITAG* xmp = nullptr;
  if (!FreeImage_GetMetadata(FIMD_XMP, source, kXmpKey, &xmp) || !xmp ||
      !FreeImage_GetTagValue(xmp)) {
    return;
  }
  const size_t length = FreeImage_GetTagLength(xmp);
  if (length > kMostXmpBytes) {
    notice = kXmpLeftOut;
    return;
  }
  const auto* text = static_cast<const char*>(FreeImage_GetTagValue(xmp));
  const std::string sized = XmpForSize(std::string_view(text, strnlen(text, length)),
                                       FreeImage_GetWidth(result), FreeImage_GetHeight(result));
  SetBytesTag(FIMD_XMP, result, kXmpKey, FIDT_ASCII, sized.c_str(), sized.size() + 1);
}

}  // namespace

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

std::string CarryMetadata(FIBITMAP* source, FIBITMAP* result, double factorX, double factorY) {
  std::string notice;
  if (!source || !result) return notice;
  if (FIICCPROFILE* icc = FreeImage_GetICCProfile(source); icc && icc->data && icc->size > 0)
    FreeImage_CreateICCProfile(result, icc->data, icc->size);
  FreeImage_SetDotsPerMeterX(result, FreeImage_GetDotsPerMeterX(source));
  FreeImage_SetDotsPerMeterY(result, FreeImage_GetDotsPerMeterY(source));
  for (FREE_IMAGE_MDMODEL model : kPlainModels) CopyModel(model, source, result);
  CarryXmp(source, result, notice);

  std::optional<ExifData> exif = SourceExif(source);
  if (!exif || exif->Empty()) return notice;
  SetLong(exif->exif, kTagPixelXDimension, FreeImage_GetWidth(result));
  SetLong(exif->exif, kTagPixelYDimension, FreeImage_GetHeight(result));
  ScaleRational(exif->exif, kTagFocalPlaneXResolution, factorX);
  ScaleRational(exif->exif, kTagFocalPlaneYResolution, factorY);
  // The source was turned upright when it was opened.
  if (FindTag(exif->main, kTagOrientation)) SetShort(exif->main, kTagOrientation, 1);
  std::vector<uint8_t> block(kExifMark, kExifMark + kExifMarkSize);
  const std::vector<uint8_t> body = SerializeExif(*exif);
  block.insert(block.end(), body.begin(), body.end());
  if (block.size() > kMostExifBytes) {
    if (notice.empty()) notice = kExifLeftOut;
    return notice;
  }
  SetBytesTag(FIMD_EXIF_RAW, result, kRawExifKey, FIDT_BYTE, block.data(), block.size());
  return notice;
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
