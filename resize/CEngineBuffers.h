#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <functional>

#include "resize/ResizeRules.h"

// Owner of the enlargement engine's two pixel buffers, both anonymous memory
// mappings whose pages are committed on first touch. Made, used and destroyed
// by the resize worker thread; destroying it is the only way either buffer is
// released.
class CEngineBuffers {
 public:
  struct SourceHeader {
    int width = 0;
    int height = 0;
  };

  CEngineBuffers() = default;
  ~CEngineBuffers();
  CEngineBuffers(const CEngineBuffers&) = delete;
  CEngineBuffers& operator=(const CEngineBuffers&) = delete;

  // Copies region of source into the source buffer as 32-bit pixels (blue,
  // green, red, reserved), w x 4 bytes a row, bottom row of the region first.
  // Every bitmap FreeImage loads is taken: palettes, 1 to 32 bits, 16-bit
  // grey, 48/64-bit colour and floating point. Converts a strip of rows at a
  // time and gives up between strips once stop() is true. Returns the pixels
  // and their size in out, or null when memory or the conversion fails or it
  // was stopped.
  uint8_t* CreateSource(FIBITMAP* source, const resize::Region& region, SourceHeader& out,
                        const std::function<bool()>& stop = {});

  // The destination buffer for a width x height result: room for the result
  // and for the engine's (2w - 1) x (2h - 1) intermediate image, 4 bytes a
  // pixel. Null when it cannot be had or CreateSource has not succeeded.
  uint8_t* CreateDest(int64_t width, int64_t height);

  uint8_t* SourcePixels() const { return m_source; }
  uint8_t* DestPixels() const { return m_dest; }
  uint64_t DestBytes() const { return m_destBytes; }

 private:
  uint8_t* m_source = nullptr;
  uint64_t m_sourceBytes = 0;
  SourceHeader m_header;
  uint8_t* m_dest = nullptr;
  uint64_t m_destBytes = 0;
};
