#pragma once
// What a view (or the printer) hands a section to paint one sector: the canvas, the zoom,
// the visible lines with their pixel sizes and the view's options. The section paints its
// backgrounds, grid lines, cells with their frames, merged areas, border lines and
// selection marks through the canvas alone.
#include <cstdint>
#include <functional>

#include "grid/XLCanvas.h"
#include "grid/XLGrids.h"

class TXLSection;

// Selection marks of a selected cell.
enum : uint8_t {
  smHatch = 0x01,
  smCorner = 0x02,
  smFocus = 0x08,
};

struct TXLPaintContext {
  IXLCanvas* Canvas = nullptr;
  int32_t Zoom = 100;
  // Visible lines in section coordinates (right and bottom exclusive) and the pixel position
  // of the top-left corner of Range's first cell.
  TRect Range;
  TPoint Origin;
  // Pixel size of a column (sCols) or row (sRows) of the section, index local to it. Unset:
  // the sheet's size scaled by Zoom. Views pass their scaled lists; printing its own sizes.
  std::function<int32_t(TXLAxis axis, int32_t index)> LineSize;
  bool HorzLines = true;
  bool VertLines = true;
  bool ShowHints = false;
  // Selected cells (section coordinates) and the marks each of them gets.
  TRect Selection;
  uint8_t SelectionMarks = 0;
};

// Size of a section line as the sheet stores it (0 for a hidden line).
int32_t XLSectionLineSize(const TXLSection& section, TXLAxis axis, int32_t index);
// Size scaled the way every view scales: 64-bit, truncated.
inline int32_t XLScaleSize(int32_t size, int32_t zoom) { return int32_t(int64_t(size) * zoom / 100); }
