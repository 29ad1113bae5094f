#pragma once

// 0 the full layout, 1 the compact layout with signal bars.
enum ViewMode : int { kViewFull = 0, kViewCompact = 1 };
