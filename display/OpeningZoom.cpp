#include "OpeningZoom.h"

namespace display {

QRect ZoomStep(int k, int gw, int gh) {
    const int sw = gw / 20;
    const int sh = gh / 20;
    const int x0 = gw / 2 - sw / 2;
    const int y0 = gh / 2 - sh / 2;
    const int w = k * sw;
    const int h = k * sh;
    return {x0 - w / 2, y0 - h / 2, w, h};
}

} // namespace display
