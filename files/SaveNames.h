#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The naming rules of opening and saving: the proposed save name, the save
// dialog's file types and the extension each type guarantees. Plain
// functions on UTF-8 paths with "/" as the separator; any thread.
namespace files {

// The file name after the last "/" (the whole path without one), with the
// last "." and everything after it dropped.
std::string BaseName(std::string_view path);

// The resize percent a scale stands for: scale x 100 rounded to the nearest
// whole number.
int PercentOfScale(double scale);

// The longest file name a folder takes, in bytes.
constexpr size_t kMaxNameBytes = 255;

// The save dialog's proposal: "<base name>_<percent>percents", no extension.
// A base name too long for the proposal and an appended extension to fit in
// kMaxNameBytes is shortened, never within a UTF-8 character; the
// "_<percent>percents" tail stays whole.
std::string ProposedSaveName(std::string_view sourcePath, double scale);

// The same with another tail than "_<percent>percents" after the base name.
std::string SaveNameWithTail(std::string_view sourcePath, std::string_view tail);

// One file type of the save dialog.
struct SaveFormat {
  const char* description;                 // "JPEGs (*.jpg, *.jpeg)"
  const char* patterns;                    // "*.jpg;*.jpeg"
  std::vector<std::string_view> accepted;  // extensions kept as they are, lower case
  std::string_view appended;               // appended when none of them ends the name
  FREE_IMAGE_FORMAT fif;
};

// The four file types in dialog order (JPEG, BMP, TIFF, PNG).
const std::vector<SaveFormat>& SaveFormats();

// The row of a 1-based file type index; any index but 2, 3 or 4 is JPEG.
const SaveFormat& SaveFormatOf(int index);

// The name a file of type index is written under: the name as given when it
// already ends in one of the type's extensions (compared without regard to
// case), otherwise the name with the type's extension appended.
std::string FinalSaveName(std::string_view name, int index);

// A temporary file name in the same folder as target (so that renaming it
// over target never crosses file systems), made unique by token.
std::string TemporaryNameBeside(std::string_view target, std::string_view token);

// The part of a path after its last "/".
std::string_view FileNamePart(std::string_view path);
// The part of a path up to its last "/" (without it; "/" for the root);
// empty without one.
std::string FolderPart(std::string_view path);

}  // namespace files
