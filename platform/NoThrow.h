#pragma once

#include <type_traits>
#include <utility>

namespace platform {

// Runs call and gives its result, or fallback when it throws: a library that
// throws (FreeImage does on some damaged or huge images) fails like any other
// failure, and nothing crosses a worker thread's end or the event loop.
template <class Call, class Result = std::invoke_result_t<Call>>
Result NoThrow(Call&& call, Result fallback = Result{}) noexcept {
  try {
    return std::forward<Call>(call)();
  } catch (...) {
    return fallback;
  }
}

}  // namespace platform
