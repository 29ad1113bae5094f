#pragma once

#include <QRect>

namespace display {

// The globe grows from the centre in this many frames, the first of them empty.
inline constexpr int kZoomSteps = 22;
// About how long each frame stays on the screen.
inline constexpr int kZoomFrameMs = 12;

// Where frame k (0 to kZoomSteps - 1) draws the whole globe of gw x gh pixels, scaled. The
// last frame stops short of the full size; the finished canvas replaces it.
QRect ZoomStep(int k, int gw, int gh);

} // namespace display
