#pragma once

#include <FreeImage.h>

#include <QImage>
#include <QRect>

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

// Copies window (in picture rows, counted from the top) of a bottom-up image
// made by DrawableImage into out, top row first, as RGB32 or, for a picture
// with alpha, premultiplied ARGB32: the formats a painter draws fastest.
// out keeps its buffer when it already has the right size and format.
void CopyTopDown(const QImage& bottomUp, const QRect& window, QImage& out);

}  // namespace views
