#include "files/Orientation.h"

#include <utility>

namespace files {

namespace {

constexpr char kOrientationKey[] = "Orientation";
constexpr WORD kOrientationId = 0x0112;

FITAG* OrientationTag(FIBITMAP* bitmap) {
  FITAG* tag = nullptr;
  if (!FreeImage_GetMetadata(FIMD_EXIF_MAIN, bitmap, kOrientationKey, &tag) || !tag) return nullptr;
  if (FreeImage_GetTagType(tag) != FIDT_SHORT || FreeImage_GetTagLength(tag) < 2 ||
      !FreeImage_GetTagValue(tag)) {
    return nullptr;
  }
  return tag;
}

// A quarter turn (clockwise or not) into a new bitmap that keeps what the
// old one carried; null when FreeImage cannot turn this kind of bitmap.
FIBITMAP* QuarterTurn(FIBITMAP* bitmap, bool clockwise) {
  FIBITMAP* turned = FreeImage_Rotate(bitmap, clockwise ? -90.0 : 90.0, nullptr);
  if (!turned) return nullptr;
  FreeImage_CloneMetadata(turned, bitmap);
  if (FIICCPROFILE* icc = FreeImage_GetICCProfile(bitmap); icc && icc->data && icc->size > 0) {
    FreeImage_CreateICCProfile(turned, icc->data, icc->size);
    FreeImage_GetICCProfile(turned)->flags = icc->flags;
  }
  FreeImage_SetDotsPerMeterX(turned, FreeImage_GetDotsPerMeterY(bitmap));
  FreeImage_SetDotsPerMeterY(turned, FreeImage_GetDotsPerMeterX(bitmap));
  if (FreeImage_GetTransparencyCount(bitmap) > 0)
    FreeImage_SetTransparencyTable(turned, FreeImage_GetTransparencyTable(bitmap),
                                   static_cast<int>(FreeImage_GetTransparencyCount(bitmap)));
  RGBQUAD background{};
  if (FreeImage_GetBackgroundColor(bitmap, &background))
    FreeImage_SetBackgroundColor(turned, &background);
  return turned;
}

}  // namespace

unsigned ExifOrientation(FIBITMAP* bitmap) {
  FITAG* tag = bitmap ? OrientationTag(bitmap) : nullptr;
  if (!tag) return 1;
  const unsigned value = *static_cast<const WORD*>(FreeImage_GetTagValue(tag));
  return value >= 1 && value <= 8 ? value : 1;
}

void SetExifOrientation(FIBITMAP* bitmap, unsigned orientation) {
  const WORD value = static_cast<WORD>(orientation);
  if (FITAG* own = OrientationTag(bitmap)) {
    FreeImage_SetTagValue(own, &value);
    return;
  }
  FITAG* tag = FreeImage_CreateTag();
  if (!tag) return;
  FreeImage_SetTagKey(tag, kOrientationKey);
  FreeImage_SetTagDescription(tag, "Orientation of image");
  FreeImage_SetTagID(tag, kOrientationId);
  FreeImage_SetTagType(tag, FIDT_SHORT);
  FreeImage_SetTagCount(tag, 1);
  FreeImage_SetTagLength(tag, sizeof value);
  FreeImage_SetTagValue(tag, &value);
  FreeImage_SetMetadata(FIMD_EXIF_MAIN, bitmap, kOrientationKey, tag);
  FreeImage_DeleteTag(tag);
}

FIBITMAP* TurnUpright(FIBITMAP* bitmap) {
  const unsigned orientation = ExifOrientation(bitmap);
  if (orientation == 1) return bitmap;
  // Orientations 5 to 8 store the picture's rows as columns.
  if (orientation >= 5) {
    FIBITMAP* turned = QuarterTurn(bitmap, orientation != 8);
    if (!turned) return bitmap;
    FreeImage_Unload(bitmap);
    bitmap = turned;
  }
  const bool mirror = orientation == 2 || orientation == 3 || orientation == 5;
  const bool upsideDown = orientation == 3 || orientation == 4 || orientation == 7;
  if (mirror) FreeImage_FlipHorizontal(bitmap);
  if (upsideDown) FreeImage_FlipVertical(bitmap);
  SetExifOrientation(bitmap, 1);
  return bitmap;
}

}  // namespace files
