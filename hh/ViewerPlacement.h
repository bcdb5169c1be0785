#pragma once

#include <QMargins>
#include <QRect>
#include <QString>
#include <optional>

// Where the viewer opens: beside the window that asked for help, so that the
// page and the dialog it explains can be read together. Plain geometry.

// The asking window as the program describes it (see help::kKeepVisibleVariable):
// its frame on the screen and the window manager's margins around its contents.
struct KeepVisible {
  QRect frame;
  QMargins margins;
};

// "x,y,width,height,left,top,right,bottom"; nothing for any other text.
std::optional<KeepVisible> ParseKeepVisible(const QString& text);

// The frame of a viewer that wants frameSize, on the available part of a
// screen, not overlapping keep: to its right, else its left, below, above,
// at full size where one side has the room; else on the roomiest side, made
// smaller but no smaller than minimum. Nothing when no side has that much
// room (the viewer is then centred, covering what it must).
std::optional<QRect> PlaceBeside(const QRect& available, const QSize& frameSize, const QRect& keep,
                                 const QSize& minimum);
