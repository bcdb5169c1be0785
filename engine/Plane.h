#pragma once

#include <cstddef>

namespace ampliscale {

// A plane of float samples in caller-owned memory, top row first.
// Plain data: threads may read it concurrently and write disjoint rows.
struct Plane {
  float* data = nullptr;
  int width = 0;
  int height = 0;

  float* Row(int y) const {
    return data + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  }
};

}  // namespace ampliscale
