#include "files/SaveNames.h"

#include <algorithm>
#include <cmath>

namespace files {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when name ends in ext (lower case), ignoring the case of name. A
// name shorter than ext is compared whole and so never matches.
bool EndsWithIgnoringCase(std::string_view name, std::string_view ext) {
  if (name.size() < ext.size()) return false;
  std::string_view tail = name.substr(name.size() - ext.size());
  for (size_t i = 0; i < ext.size(); ++i) {
    if (AsciiLower(tail[i]) != ext[i]) return false;
  }
  return true;
}

}  // namespace

std::string_view FileNamePart(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
}

std::string BaseName(std::string_view path) {
  std::string_view name = FileNamePart(path);
  size_t dot = name.rfind('.');
  return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

int PercentOfScale(double scale) { return static_cast<int>(std::lround(scale * 100.0)); }

std::string ProposedSaveName(std::string_view sourcePath, double scale) {
  // Appended piece by piece: GCC 12 at -O3 warns of overlap inside
  // operator+ on a temporary string, a false positive.
  std::string tail = "_";
  tail += std::to_string(PercentOfScale(scale));
  tail += "percents";
  return SaveNameWithTail(sourcePath, tail);
}

std::string SaveNameWithTail(std::string_view sourcePath, std::string_view tail) {
  std::string base = BaseName(sourcePath);
  // Room for the longest extension the save appends (".jpg", ".bmp", ".tif", ".png").
  constexpr size_t kAppended = 4;
  const size_t room = kMaxNameBytes - kAppended - std::min(tail.size(), kMaxNameBytes - kAppended);
  if (base.size() > room) {
    size_t cut = room;
    // Back to the start of a character: continuation bytes are 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    base.resize(cut);
  }
  return base + std::string(tail);
}

const std::vector<SaveFormat>& SaveFormats() {
  static const std::vector<SaveFormat> formats{
      {"JPEGs (*.jpg, *.jpeg)", "*.jpg;*.jpeg", {".jpg", ".jpeg"}, ".jpg", FIF_JPEG},
      {"Bitmaps (*.bmp)", "*.bmp", {".bmp"}, ".bmp", FIF_BMP},
      {"TIFFs (*.tif)", "*.tif", {".tif", ".tiff"}, ".tif", FIF_TIFF},
      {"PNGs (*.png)", "*.png", {".png"}, ".png", FIF_PNG},
  };
  return formats;
}

const SaveFormat& SaveFormatOf(int index) {
  const auto& formats = SaveFormats();
  return (index >= 2 && index <= 4) ? formats[index - 1] : formats[0];
}

std::string FinalSaveName(std::string_view name, int index) {
  const SaveFormat& format = SaveFormatOf(index);
  for (std::string_view ext : format.accepted) {
    if (EndsWithIgnoringCase(name, ext)) return std::string(name);
  }
  return std::string(name) + std::string(format.appended);
}

std::string TemporaryNameBeside(std::string_view target, std::string_view token) {
  size_t slash = target.rfind('/');
  std::string folder(slash == std::string_view::npos ? std::string_view()
                                                     : target.substr(0, slash + 1));
  // The target's own name is left out: with it, a name near the file
  // system's length limit would leave no room for the temporary one.
  return folder + ".magnova-" + std::string(token) + ".part";
}

}  // namespace files
