#pragma once

// 0 the full layout, 1 the compact layout with signal bars.
enum ViewMode : int { kViewFull = 0, kViewCompact = 1 };

// Which layout the window shows: by its size (the desktop layout from 1.6 times the dialog's
// size in both directions), or the one asked for.
enum class LayoutChoice { Auto, Desktop, Full, Compact };
