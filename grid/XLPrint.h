#pragma once
// Printing a sheet: the page layout in printer pixels (printed line sizes, strips of columns
// and rows that fit a page) and the job interface that a printer or a file implements.
#include <cstdint>
#include <vector>

#include "grid/XLCanvas.h"
#include "grid/XLGrids.h"

// A print job. The model paints through the canvas it returns; errors raise exceptions that
// reach the caller of the print.
class IXLPrinter {
 public:
  virtual ~IXLPrinter() = default;
  virtual IXLCanvas& BeginDoc(const AnsiString& title) = 0;
  virtual void NewPage() = 0;
  virtual void EndDoc() = 0;
};

struct TXLPageLayout {
  // Printer pixels per 100 screen pixels.
  int32_t FX = 100, FY = 100;
  // Zoom the cells are painted at: fonts and check boxes grow with it.
  int32_t Zoom = 100;
  // Printable rectangle in printer pixels.
  TRect Page;
  // Printed size of every line, [axis][part] with part 0 the title lines, by local index.
  // Hidden lines have size 0 unless PrintHidden; titles not repeated have size 0.
  std::vector<int32_t> Sizes[2][2];
  // Per axis the end of every strip of client lines; a strip starts where the one before
  // it ends (the first at 0). There is always at least one strip.
  std::vector<int32_t> Breaks[2];

  int32_t Strips(TXLAxis axis) const { return int32_t(Breaks[axis].size()); }
  int32_t PageCount() const { return Strips(sCols) * Strips(sRows); }
  int32_t TitleSize(TXLAxis axis) const;
};

// Ends of the strips that lines of the given sizes fall into when each strip has room
// pixels: a line that would carry a strip past its room starts the next one, unless the
// strip is still empty (an oversized line gets a strip of its own, never an empty page).
std::vector<int32_t> XLPageBreaks(const std::vector<int32_t>& sizes, int32_t room);
