#pragma once

#include <FreeImage.h>

#include <functional>

// The reduction of a resize job: a separable Lanczos3 filter, horizontal pass
// first, that gives what FreeImage_Rescale(source, width, height,
// FILTER_LANCZOS3) gives (same bitmap type, bit depth, palette and channels,
// alpha included, within rounding), but works in strips of result rows spread
// over the machine's cores, so that the caller can pause or stop it between
// strips. Runs on the calling (worker) thread and threads of its own; reads
// source only.
namespace resize {

// Called on the calling thread after each batch of strips with the share of
// the result made so far, 0..255; returns true to stop.
using StripDone = std::function<bool(int share)>;

// Asked by every thread between two scanlines, from any thread: true cuts
// the strips short, so that stripDone is asked at once (a pause or a stop
// is wanted).
using Interrupted = std::function<bool()>;

// The reduced bitmap, or null when it cannot be made (no pixels, a size of
// 0, no memory) or stopped. Types that FreeImage cannot rescale either give
// null too.
FIBITMAP* LanczosReduce(
    FIBITMAP* source, int width, int height, const StripDone& stripDone,
    const Interrupted& interrupted = [] { return false; });

}  // namespace resize
