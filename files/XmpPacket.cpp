#include "files/XmpPacket.h"

namespace files {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the digits that start at `at`.
size_t DigitsAt(std::string_view text, size_t at) {
  size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end - at;
}

// Where a property's value starts and ends, when `at` begins one of its two
// spellings: the attribute name="…" or the element <name>…<.
bool ValueAt(std::string_view text, size_t at, std::string_view name, size_t& from, size_t& to) {
  if (text.substr(at, name.size()) != name) return false;
  const size_t after = at + name.size();
  if (after + 1 < text.size() && text[after] == '=' &&
      (text[after + 1] == '"' || text[after + 1] == '\'')) {
    from = after + 2;
    to = from + DigitsAt(text, from);
    return to < text.size() && text[to] == text[after + 1];
  }
  if (at > 0 && text[at - 1] == '<' && after < text.size() && text[after] == '>') {
    from = after + 1;
    to = from + DigitsAt(text, from);
    return to < text.size() && text[to] == '<';
  }
  return false;
}

}  // namespace

std::string XmpForSize(std::string_view xmp, unsigned width, unsigned height) {
  const std::pair<std::string_view, std::string> properties[] = {
      {"exif:PixelXDimension", std::to_string(width)},
      {"exif:PixelYDimension", std::to_string(height)},
      {"tiff:ImageWidth", std::to_string(width)},
      {"tiff:ImageLength", std::to_string(height)},
      {"tiff:Orientation", "1"}};
  std::string out;
  out.reserve(xmp.size());
  size_t at = 0;
  while (at < xmp.size()) {
    // Every name starts with "exif:" or "tiff:": three letters before "f:".
    const size_t mark = xmp.find("f:", at);
    if (mark == std::string_view::npos) {
      out.append(xmp.substr(at));
      break;
    }
    size_t from = 0, to = 0;
    const std::string* value = nullptr;
    if (mark >= at + 3) {
      for (const auto& [name, text] : properties) {
        if (ValueAt(xmp, mark - 3, name, from, to)) {
          value = &text;
          break;
        }
      }
    }
    if (value) {
      out.append(xmp.substr(at, from - at));
      out.append(*value);
      at = to;
    } else {
      out.append(xmp.substr(at, mark + 2 - at));
      at = mark + 2;
    }
  }
  return out;
}

}  // namespace files
