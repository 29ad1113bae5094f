#include "SkyView.h"

#include "Canvas.h"

#include <QString>
#include <algorithm>
#include <cmath>

namespace display {

QPoint SkyPosition(int elevation, int azimuth, int gw, int gh) {
    const int half = gw / 2;
    const int halfH = gh / 2;
    const int r = (90 - elevation) * half / 90;
    // The compass bearing turned into a mathematical angle: 0 at east, counter-clockwise.
    const double theta = (450 - azimuth) * 0.017453292519943295;
    const int x = static_cast<int>(std::trunc(r * std::cos(theta))) + half;
    const int y = halfH - static_cast<int>(std::trunc(r * std::sin(theta)));
    return {x, y};
}

void DrawSkyView(CCanvas& canvas, const GpsFix& fix, ViewMode mode, int gw, int gh) {
    const QColor kept = canvas.SelectBrush(Qt::black);
    canvas.SetTextColor(Qt::white);
    const bool compact = mode == kViewCompact;
    // The count comes from GGA and the list from GSA; nothing ties the two together.
    const int nUsed = std::clamp(static_cast<int>(fix.cSatsUsed), 0, 12);

    for (int i = 0; i < 12; ++i) {
        const int col = 20 * i;
        if (compact) {
            canvas.SelectBrush(kBoxColour);
            canvas.Rectangle(col + 2, 254, col + 18, 268);
        }
        const SatInfo& s = fix.sat[i];
        if (s.bPrn == 0 || s.bPrn > 32)
            continue;

        const QPoint p = SkyPosition(s.bElevation, s.nAzimuth, gw, gh);
        const QString prn = QString::asprintf("%d", s.bPrn);
        const QString snr = QString::asprintf("%d", s.bSnr);

        if (s.bSnr != 0) {
            canvas.SelectBrush(kTrackedColour);
            for (int j = 0; j < nUsed; ++j) {
                if (fix.cUsedPrn[j] == s.bPrn) {
                    canvas.SelectBrush(kUsedColour);
                    break;
                }
            }
        } else {
            canvas.SelectBrush(kNoSignalColour);
        }
        canvas.Ellipse(p.x() - 9, p.y() - 9, p.x() + 9, p.y() + 9);
        canvas.TextOut(s.bPrn < 10 ? p.x() - 3 : p.x() - 7, p.y() - 8, prn);

        if (compact) {
            canvas.Rectangle(col + 2, 253 - s.bSnr, col + 18, 253);
            canvas.TextOut(col + 4, 254, prn);
            canvas.TextOut(col + 4, 239, snr);
        }
    }
    canvas.SelectBrush(kept);
}

} // namespace display
