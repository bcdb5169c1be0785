#pragma once

#include <FreeImage.h>

#include <QImage>
#include <QRect>
#include <span>

// Turns any bitmap FreeImage loads into something a painter can draw. UI
// thread (the views); reads the bitmap only.
namespace views {

// A drawable view of a standard bitmap (see StandardBitmap), rows bottom-up
// as FreeImage keeps them. Wrapped without a copy: the image borrows the
// bitmap's bits and must not outlive it. The 32-bit alpha channel is honoured
// when it varies; one that is all 255 is opaque, and one that is all 0 is
// taken as unused (as in most 32-bit BMP files), which costs one copy.
// Null for a null bitmap.
QImage DrawableImage(FIBITMAP* standard);

// A 24- or 32-bit standard bitmap that shows the same picture as any bitmap
// FreeImage loads: bitmap itself when it already is one (owned is false),
// otherwise a new copy the caller frees with FreeImage_Unload. Null when no
// conversion exists.
FIBITMAP* StandardBitmap(FIBITMAP* bitmap, bool& owned);

// Nearest-neighbour samples of picture into out, as RGB32 or, for a
// picture with alpha, premultiplied ARGB32 (the formats a painter draws
// fastest): out pixel (i, j) shows picture pixel (columns[i], rows[j]),
// rows counted from the top; bottomUp says the rows are stored bottom row
// first. columns must not decrease, and all must lie on the picture.
void Sample(const QImage& picture, bool bottomUp, std::span<const int> columns,
            std::span<const int> rows, QImage& out);

}  // namespace views
