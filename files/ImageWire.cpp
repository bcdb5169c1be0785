#include "files/ImageWire.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

namespace files::wire {

namespace {

constexpr uint32_t kMagic = 0x564e474d;  // "MGNV"
constexpr uint32_t kVersion = 4;
constexpr FREE_IMAGE_MDMODEL kModels[] = {
    FIMD_COMMENTS,       FIMD_EXIF_MAIN,    FIMD_EXIF_EXIF, FIMD_EXIF_GPS,
    FIMD_EXIF_MAKERNOTE, FIMD_EXIF_INTEROP, FIMD_IPTC,      FIMD_XMP,
    FIMD_GEOTIFF,        FIMD_ANIMATION,    FIMD_CUSTOM,    FIMD_EXIF_RAW};

template <class T>
void Put(std::string& out, const T& value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void PutBytes(std::string& out, const void* data, size_t size) {
  Put(out, static_cast<uint64_t>(size));
  if (size) out.append(static_cast<const char*>(data), size);
}

void PutText(std::string& out, const char* text) {
  PutBytes(out, text, text ? std::strlen(text) : 0);
}

void PutTag(std::string& out, FREE_IMAGE_MDMODEL model, FITAG* tag) {
  Put(out, static_cast<int32_t>(model));
  PutText(out, FreeImage_GetTagKey(tag));
  PutText(out, FreeImage_GetTagDescription(tag));
  Put(out, static_cast<uint16_t>(FreeImage_GetTagID(tag)));
  Put(out, static_cast<uint16_t>(FreeImage_GetTagType(tag)));
  Put(out, static_cast<uint32_t>(FreeImage_GetTagCount(tag)));
  const DWORD length = FreeImage_GetTagLength(tag);
  const void* value = FreeImage_GetTagValue(tag);
  PutBytes(out, value, value ? length : 0);
  Put(out, static_cast<uint32_t>(length));
}

void PutMetadata(std::string& out, FIBITMAP* bitmap) {
  std::vector<std::pair<FREE_IMAGE_MDMODEL, FITAG*>> tags;
  for (FREE_IMAGE_MDMODEL model : kModels) {
    // FreeImage's search hands out the end of an empty model as its first
    // tag, and its TIFF reader leaves empty models behind.
    if (FreeImage_GetMetadataCount(model, bitmap) == 0) continue;
    FITAG* tag = nullptr;
    FIMETADATA* search = FreeImage_FindFirstMetadata(model, bitmap, &tag);
    if (!search) continue;
    do {
      tags.emplace_back(model, tag);
    } while (FreeImage_FindNextMetadata(search, &tag));
    FreeImage_FindCloseMetadata(search);
  }
  Put(out, static_cast<uint32_t>(tags.size()));
  for (const auto& [model, tag] : tags) PutTag(out, model, tag);
}

struct Unloader {
  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, Unloader>;

bool SameShape(const Shape& a, const Shape& b) {
  return a.type == b.type && a.width == b.width && a.height == b.height && a.bpp == b.bpp &&
         a.red == b.red && a.green == b.green && a.blue == b.blue;
}

struct TagDeleter {
  void operator()(FITAG* tag) const { FreeImage_DeleteTag(tag); }
};

// Bytes per element of a tag type; 1 for types FreeImage does not name.
uint32_t TypeWidth(uint16_t type) {
  static constexpr uint32_t widths[] = {1, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 4, 1, 8, 8, 8};
  return type < std::size(widths) ? widths[type] : 1;
}

// A tag as FreeImage's readers make them: its value as long as its length
// says and its count of elements within it, in a model FreeImage knows.
// FreeImage copies the length's bytes of the value and reads the count's
// elements, so any other tag is malformed.
bool GetTag(Reader& in, FIBITMAP* bitmap) {
  int32_t model = 0;
  std::string key, description, value;
  uint16_t id = 0, type = 0;
  uint32_t count = 0, length = 0;
  if (!in.Get(model) || !in.GetBytes(key) || !in.GetBytes(description) || !in.Get(id) ||
      !in.Get(type) || !in.Get(count) || !in.GetBytes(value) || !in.Get(length)) {
    return false;
  }
  // A tag without a value has neither length nor elements.
  if (value.empty()) length = count = 0;
  if (model < FIMD_COMMENTS || model > FIMD_EXIF_RAW || value.size() != length ||
      uint64_t{count} * TypeWidth(type) > length) {
    return false;
  }
  std::unique_ptr<FITAG, TagDeleter> tag(FreeImage_CreateTag());
  if (!tag) return false;
  FreeImage_SetTagKey(tag.get(), key.c_str());
  if (!description.empty()) FreeImage_SetTagDescription(tag.get(), description.c_str());
  FreeImage_SetTagID(tag.get(), id);
  FreeImage_SetTagType(tag.get(), static_cast<FREE_IMAGE_MDTYPE>(type));
  FreeImage_SetTagCount(tag.get(), count);
  FreeImage_SetTagLength(tag.get(), length);
  if (!value.empty()) FreeImage_SetTagValue(tag.get(), value.data());
  FreeImage_SetMetadata(static_cast<FREE_IMAGE_MDMODEL>(model), bitmap, key.c_str(), tag.get());
  return true;
}

// The bits per pixel that FreeImage gives each type, whatever it is asked;
// 0 for types it does not know.
uint32_t TypeBits(int32_t type) {
  switch (type) {
    case FIT_UINT16:
    case FIT_INT16:
      return 16;
    case FIT_UINT32:
    case FIT_INT32:
    case FIT_FLOAT:
      return 32;
    case FIT_DOUBLE:
    case FIT_RGBA16:
      return 64;
    case FIT_RGB16:
      return 48;
    case FIT_RGBF:
      return 96;
    case FIT_COMPLEX:
    case FIT_RGBAF:
      return 128;
    default:
      return 0;
  }
}

// A shape FreeImage allocates as it says: a known type with its own bits
// per pixel, and sides that an int holds.
bool Allocatable(const Shape& shape) {
  const uint32_t bpp = shape.bpp;
  const bool depth = shape.type == FIT_BITMAP
                         ? (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32)
                         : TypeBits(shape.type) == bpp && bpp != 0;
  return depth && shape.width > 0 && shape.height > 0 && shape.width <= INT32_MAX &&
         shape.height <= INT32_MAX;
}

// Pixel bytes of a bitmap of that shape, its rows padded as FreeImage pads them.
uint64_t PixelBytes(const Shape& shape) {
  const uint64_t row = (uint64_t{shape.width} * shape.bpp + 31) / 32 * 4;
  return row * shape.height;
}

// A thumbnail holds no more pixel bytes than its picture, and none of its own.
bool ThumbnailFits(FIBITMAP* thumbnail, FIBITMAP* picture) {
  return thumbnail && PixelBytes(ShapeOf(thumbnail)) <= PixelBytes(ShapeOf(picture)) &&
         !FreeImage_GetThumbnail(thumbnail);
}

// thumbnailOf: the picture whose thumbnail is read, null for a picture.
FIBITMAP* ReadBitmap(Reader& in, const PixelSource& outOfLine, FIBITMAP* room,
                     FIBITMAP* thumbnailOf);

}  // namespace

void PutBitmap(std::string& out, FIBITMAP* bitmap, std::optional<uint64_t> pixelOffset) {
  Put(out, static_cast<int32_t>(FreeImage_GetImageType(bitmap)));
  for (unsigned value :
       {FreeImage_GetWidth(bitmap), FreeImage_GetHeight(bitmap), FreeImage_GetBPP(bitmap),
        FreeImage_GetPitch(bitmap), FreeImage_GetRedMask(bitmap), FreeImage_GetGreenMask(bitmap),
        FreeImage_GetBlueMask(bitmap), FreeImage_GetDotsPerMeterX(bitmap),
        FreeImage_GetDotsPerMeterY(bitmap)}) {
    Put(out, static_cast<uint32_t>(value));
  }
  const RGBQUAD* palette = FreeImage_GetPalette(bitmap);
  PutBytes(out, palette, palette ? FreeImage_GetColorsUsed(bitmap) * sizeof(RGBQUAD) : 0);
  PutBytes(out, FreeImage_GetTransparencyTable(bitmap), FreeImage_GetTransparencyCount(bitmap));
  Put(out, static_cast<uint8_t>(FreeImage_IsTransparent(bitmap) ? 1 : 0));
  RGBQUAD background{};
  const bool hasBackground = FreeImage_GetBackgroundColor(bitmap, &background) != FALSE;
  Put(out, static_cast<uint8_t>(hasBackground ? 1 : 0));
  Put(out, background);

  const FIICCPROFILE* icc = FreeImage_GetICCProfile(bitmap);
  Put(out, static_cast<uint16_t>(icc ? icc->flags : 0));
  PutBytes(out, icc ? icc->data : nullptr, icc && icc->data ? icc->size : 0);
  PutMetadata(out, bitmap);

  FIBITMAP* thumbnail = FreeImage_GetThumbnail(bitmap);
  if (!ThumbnailFits(thumbnail, bitmap)) thumbnail = nullptr;
  Put(out, static_cast<uint8_t>(thumbnail ? 1 : 0));
  if (thumbnail) PutBitmap(out, thumbnail, std::nullopt);

  const uint64_t pixelBytes = uint64_t{FreeImage_GetPitch(bitmap)} * FreeImage_GetHeight(bitmap);
  Put(out, static_cast<uint8_t>(pixelOffset ? 0 : 1));
  if (pixelOffset) {
    Put(out, pixelBytes);
    Put(out, *pixelOffset);
  } else {
    PutBytes(out, FreeImage_GetBits(bitmap), pixelBytes);
  }
}

Shape ShapeOf(FIBITMAP* bitmap) {
  return {FreeImage_GetImageType(bitmap), FreeImage_GetWidth(bitmap),
          FreeImage_GetHeight(bitmap),    FreeImage_GetBPP(bitmap),
          FreeImage_GetRedMask(bitmap),   FreeImage_GetGreenMask(bitmap),
          FreeImage_GetBlueMask(bitmap)};
}

FIBITMAP* Allocate(const Shape& shape) {
  if (!Allocatable(shape)) return nullptr;
  return FreeImage_AllocateT(static_cast<FREE_IMAGE_TYPE>(shape.type),
                             static_cast<int>(shape.width), static_cast<int>(shape.height),
                             static_cast<int>(shape.bpp), shape.red, shape.green, shape.blue);
}

void PutShape(std::string& out, const std::optional<Shape>& shape) {
  Put(out, static_cast<uint8_t>(shape ? 1 : 0));
  Put(out, shape ? *shape : Shape{});
}

bool GetShape(Reader& in, std::optional<Shape>& shape) {
  uint8_t known = 0;
  Shape read;
  if (!in.Get(known) || !in.Get(read)) return false;
  shape = known ? std::optional<Shape>(read) : std::nullopt;
  return true;
}

void PutReply(std::string& out, const Verdict& verdict) {
  Put(out, kMagic);
  Put(out, kVersion);
  Put(out, static_cast<uint8_t>(verdict.status));
  Put(out, static_cast<uint8_t>(verdict.incomplete ? 1 : 0));
  Put(out, verdict.width);
  Put(out, verdict.height);
  Put(out, verdict.format);
  Put(out, verdict.frames);
}

bool Reader::Get(void* to, size_t count) {
  if (m_rest.size() < count) return false;
  std::memcpy(to, m_rest.data(), count);
  m_rest.remove_prefix(count);
  return true;
}

bool Reader::GetBytes(std::string& to) {
  uint64_t size = 0;
  if (!Get(size) || m_rest.size() < size) return false;
  to.assign(m_rest.data(), size);
  m_rest.remove_prefix(size);
  return true;
}

bool GetReply(Reader& in, Verdict& verdict) {
  uint32_t magic = 0, version = 0;
  uint8_t code = 0, cut = 0;
  if (!in.Get(magic) || !in.Get(version) || !in.Get(code) || !in.Get(cut) ||
      !in.Get(verdict.width) || !in.Get(verdict.height) || !in.Get(verdict.format) ||
      !in.Get(verdict.frames)) {
    return false;
  }
  if (magic != kMagic || version != kVersion || code > uint8_t(Status::TooLarge)) return false;
  verdict.status = static_cast<Status>(code);
  verdict.incomplete = cut != 0;
  return true;
}

FIBITMAP* GetBitmap(Reader& in, const PixelSource& outOfLine, FIBITMAP* room) {
  return ReadBitmap(in, outOfLine, room, nullptr);
}

namespace {

FIBITMAP* ReadBitmap(Reader& in, const PixelSource& outOfLine, FIBITMAP* room,
                     FIBITMAP* thumbnailOf) {
  Bitmap given(room);
  Shape shape;
  uint32_t pitch = 0, dpmX = 0, dpmY = 0;
  if (!in.Get(shape.type)) return nullptr;
  for (uint32_t* field : {&shape.width, &shape.height, &shape.bpp, &pitch, &shape.red, &shape.green,
                          &shape.blue, &dpmX, &dpmY}) {
    if (!in.Get(*field)) return nullptr;
  }
  const uint32_t height = shape.height;
  // The sender sends only thumbnails that fit: bytes that say otherwise are malformed.
  if (thumbnailOf && PixelBytes(shape) > PixelBytes(ShapeOf(thumbnailOf))) return nullptr;
  // Room made for another shape goes with given.
  const bool fits = given && SameShape(ShapeOf(given.get()), shape);
  Bitmap bitmap(fits ? given.release() : Allocate(shape));
  if (!bitmap || FreeImage_GetPitch(bitmap.get()) != pitch) return nullptr;
  FreeImage_SetDotsPerMeterX(bitmap.get(), dpmX);
  FreeImage_SetDotsPerMeterY(bitmap.get(), dpmY);

  std::string palette, transparency;
  uint8_t transparent = 0, hasBackground = 0;
  RGBQUAD background{};
  if (!in.GetBytes(palette) || !in.GetBytes(transparency) || !in.Get(transparent) ||
      !in.Get(hasBackground) || !in.Get(background)) {
    return nullptr;
  }
  RGBQUAD* ownPalette = FreeImage_GetPalette(bitmap.get());
  if (palette.size() != (ownPalette ? FreeImage_GetColorsUsed(bitmap.get()) * sizeof(RGBQUAD) : 0))
    return nullptr;
  if (ownPalette) std::memcpy(ownPalette, palette.data(), palette.size());
  if (!transparency.empty()) {
    FreeImage_SetTransparencyTable(bitmap.get(), reinterpret_cast<BYTE*>(transparency.data()),
                                   static_cast<int>(transparency.size()));
  }
  FreeImage_SetTransparent(bitmap.get(), transparent != 0);
  if (hasBackground) FreeImage_SetBackgroundColor(bitmap.get(), &background);

  uint16_t iccFlags = 0;
  std::string icc;
  if (!in.Get(iccFlags) || !in.GetBytes(icc)) return nullptr;
  if (!icc.empty())
    FreeImage_CreateICCProfile(bitmap.get(), icc.data(), static_cast<long>(icc.size()));
  FreeImage_GetICCProfile(bitmap.get())->flags = iccFlags;

  uint32_t tags = 0;
  if (!in.Get(tags)) return nullptr;
  for (uint32_t i = 0; i < tags; ++i) {
    if (!GetTag(in, bitmap.get())) return nullptr;
  }

  uint8_t hasThumbnail = 0;
  if (!in.Get(hasThumbnail)) return nullptr;
  if (hasThumbnail && thumbnailOf) return nullptr;
  if (hasThumbnail) {
    Bitmap thumbnail(ReadBitmap(in, outOfLine, nullptr, bitmap.get()));
    if (!thumbnail) return nullptr;
    FreeImage_SetThumbnail(bitmap.get(), thumbnail.get());
  }

  const uint64_t pixelBytes = uint64_t{pitch} * height;
  uint8_t inlinePixels = 0;
  if (!in.Get(inlinePixels)) return nullptr;
  if (inlinePixels) {
    std::string pixels;
    if (!in.GetBytes(pixels) || pixels.size() != pixelBytes) return nullptr;
    std::memcpy(FreeImage_GetBits(bitmap.get()), pixels.data(), pixelBytes);
  } else {
    uint64_t sent = 0, offset = 0;
    if (!in.Get(sent) || !in.Get(offset) || sent != pixelBytes) return nullptr;
    if (!outOfLine || !outOfLine(FreeImage_GetBits(bitmap.get()), pixelBytes, offset))
      return nullptr;
  }
  return bitmap.release();
}

}  // namespace

}  // namespace files::wire
