#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/ampliscale.h"

namespace enginetest {

// A buffer that ends exactly at an inaccessible page (and starts right after
// another), so that any access beyond its bytes faults at once.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size) : m_size(size) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    m_body = (size + page - 1) / page * page;
    m_mapped = m_body + 2 * page;
    m_base = static_cast<std::uint8_t*>(
        mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (m_base == MAP_FAILED) throw std::runtime_error("mmap failed");
    mprotect(m_base, page, PROT_NONE);
    mprotect(m_base + page + m_body, page, PROT_NONE);
    m_data = m_base + page + (m_body - size);
  }
  ~GuardedBuffer() { munmap(m_base, m_mapped); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  std::uint8_t* data() { return m_data; }
  std::size_t size() const { return m_size; }
  // After this, writing faults too: for buffers the engine must only read.
  void MakeReadOnly() {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    mprotect(m_base + page, m_body, PROT_READ);
  }

 private:
  std::size_t m_size;
  std::size_t m_body = 0;
  std::size_t m_mapped = 0;
  std::uint8_t* m_base = nullptr;
  std::uint8_t* m_data = nullptr;
};

struct Report {
  uintptr_t stage;
  intptr_t value;
};

// A host window that records every report and says "abandoned" once
// abandonAfter reports have arrived (never when negative).
struct RecordingWindow {
  AmpliscaleWindow window{&RecordingWindow::Send, this};
  std::vector<Report> reports;
  std::vector<unsigned> messages;
  int abandonAfter = -1;

  static intptr_t Send(AmpliscaleWindow* w, unsigned message, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<RecordingWindow*>(w->context);
    self->messages.push_back(message);
    self->reports.push_back({wParam, lParam});
    return self->abandonAfter >= 0 && static_cast<int>(self->reports.size()) >= self->abandonAfter;
  }
};

// Source pixels (bottom row first, BGRA) built from a function of the
// top-down position.
inline std::vector<std::uint8_t> MakeSource(
    int w, int h, const std::function<void(int x, int y, std::uint8_t* bgra)>& pixel) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      pixel(x, y, &bytes[(static_cast<std::size_t>(h - 1 - y) * w + x) * 4]);
  }
  return bytes;
}

// The whole job through the five calls, with guard pages around both buffers
// and the source write-protected. Returns the W x H result, top row first.
inline std::vector<std::uint8_t> Enlarge(const std::vector<std::uint8_t>& source, int w, int h,
                                         int W, int H, AmpliscaleWindow* window = nullptr) {
  GuardedBuffer src(source.size());
  std::memcpy(src.data(), source.data(), source.size());
  src.MakeReadOnly();
  const std::size_t bufW = std::max<std::size_t>(W, 2 * static_cast<std::size_t>(w) - 1);
  const std::size_t bufH = std::max<std::size_t>(H, 2 * static_cast<std::size_t>(h) - 1);
  GuardedBuffer dst(bufW * bufH * 4);
  DllInit(window);
  DllSetSourceImage(w, h, src.data());
  DllSetDestImage(W, H, dst.data());
  DllFilter();
  DllNextStage();
  DllNextStage();
  return std::vector<std::uint8_t>(dst.data(), dst.data() + static_cast<std::size_t>(W) * H * 4);
}

inline const std::uint8_t* Pixel(const std::vector<std::uint8_t>& image, int W, int x, int y) {
  return &image[(static_cast<std::size_t>(y) * W + x) * 4];
}

}  // namespace enginetest
