// Page layout and printing of a sheet: pages are strips of columns by strips of rows, each
// with the title lines repeated at its top and left.
#include "grid/XLPrint.h"

#include <algorithm>
#include <climits>
#include <numeric>

#include "grid/XLPaint.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

int32_t TXLPageLayout::TitleSize(TXLAxis axis) const {
  const std::vector<int32_t>& t = Sizes[axis][0];
  return int32_t(std::min<int64_t>(std::accumulate(t.begin(), t.end(), int64_t(0)), INT32_MAX));
}

std::vector<int32_t> XLPageBreaks(const std::vector<int32_t>& sizes, int32_t room) {
  std::vector<int32_t> breaks;
  int64_t total = 0;
  for (size_t i = 0; i < sizes.size(); ++i) {
    // Breaking while the strip is empty would print a blank page.
    if (total > 0 && total + sizes[i] > room) {
      breaks.push_back(int32_t(i));
      total = 0;
    }
    total += sizes[i];
  }
  breaks.push_back(int32_t(sizes.size()));
  return breaks;
}

TXLPageLayout TXLSheet::PageLayout() const {
  const TXLManager& m = XLManager();
  const int32_t ppi = TXLManager::ScreenPPI;
  TXLPageLayout l;
  l.FX = int32_t(int64_t(m.PrinterDpiX()) * 100 / ppi);
  l.FY = int32_t(int64_t(m.PrinterDpiY()) * 100 / ppi);
  l.Zoom = int32_t(int64_t(l.FY) * printScale_ / 100);
  // Margins are not bounded above: keep the scaled page where its width cannot overflow.
  auto scale = [](int32_t v, int32_t f) {
    return int32_t(std::clamp<int64_t>(int64_t(v) * f / 100, -(int64_t(1) << 30), int64_t(1) << 30));
  };
  l.Page = TRect{scale(pageRect_.Left, l.FX), scale(pageRect_.Top, l.FY), scale(pageRect_.Right, l.FX),
                 scale(pageRect_.Bottom, l.FY)};
  for (TXLAxis axis : {sCols, sRows}) {
    const int64_t factor = int64_t(axis == sCols ? l.FX : l.FY) * printScale_ / 100;
    // Title columns repeat when the row titles (sRows) are printed, title rows when the
    // column titles (sCols) are.
    const bool titles = printTitles_ & AxisBit(axis == sCols ? sRows : sCols);
    for (int part = 0; part < 2; ++part) {
      const TXLSizeList& list = SizeList(axis, part);
      const TXLSizeList& saved = SavedList(axis, part);
      std::vector<int32_t>& out = l.Sizes[axis][part];
      out.resize(size_t(std::max(list.Count(), 0)));
      if (part == 0 && !titles) continue;
      for (int32_t i = 0; i < list.Count(); ++i) {
        int32_t size = list.Get(i);
        if (printHidden_ && saved.Get(i) > 0) size = saved.Get(i);
        // A hostile stored size must not wrap round to a small or negative one.
        out[size_t(i)] = int32_t(std::min<int64_t>(std::max<int64_t>(size, 0) * factor / 100, int64_t(1) << 30));
      }
    }
    const int64_t room = int64_t(axis == sCols ? l.Page.Width() : l.Page.Height()) - l.TitleSize(axis);
    l.Breaks[axis] = XLPageBreaks(l.Sizes[axis][1], int32_t(std::max<int64_t>(room, INT32_MIN)));
  }
  return l;
}

std::function<std::unique_ptr<IXLPrinter>()>& TXLSheet::PrinterFactory() {
  static std::function<std::unique_ptr<IXLPrinter>()> factory;
  return factory;
}

void TXLSheet::Print() { PrintPages(0, -1); }

void TXLSheet::PrintPages(int32_t first, int32_t last, IXLCanvas* canvas) {
  if (canvas) return PrintPagesOn(first, last, canvas, nullptr);
  std::unique_ptr<IXLPrinter> printer = PrinterFactory() ? PrinterFactory()() : nullptr;
  if (!printer) throw EXLGridError("No printer is available!");
  PrintPagesOn(first, last, nullptr, printer.get());
}

void TXLSheet::PrintPages(int32_t first, int32_t last, IXLPrinter& printer) {
  PrintPagesOn(first, last, nullptr, &printer);
}

void TXLSheet::PrintPagesOn(int32_t first, int32_t last, IXLCanvas* canvas, IXLPrinter* printer) {
  const TXLPageLayout layout = PageLayout();
  if (printer) canvas = &printer->BeginDoc(title_);
  const int32_t rowStrips = layout.Strips(sRows);
  bool started = false;
  for (int32_t cs = 0; cs < layout.Strips(sCols); ++cs)
    for (int32_t rs = 0; rs < rowStrips; ++rs) {
      const int32_t page = rowStrips * cs + rs + 1;
      if (page < first || (last != -1 && page > last)) continue;
      if (started && printer) printer->NewPage();
      started = true;
      PaintPage(layout, cs, rs, *canvas);
    }
  if (printer) printer->EndDoc();
}

void TXLSheet::PaintPage(const TXLPageLayout& l, int32_t colStrip, int32_t rowStrip, IXLCanvas& canvas) {
  const int32_t colFrom = colStrip ? l.Breaks[sCols][size_t(colStrip - 1)] : 0;
  const int32_t colTo = l.Breaks[sCols][size_t(colStrip)];
  const int32_t rowFrom = rowStrip ? l.Breaks[sRows][size_t(rowStrip - 1)] : 0;
  const int32_t rowTo = l.Breaks[sRows][size_t(rowStrip)];
  const int32_t tw = l.TitleSize(sCols), th = l.TitleSize(sRows);
  const int32_t left = l.Page.Left, top = l.Page.Top;
  for (TXLSector sector : {sCols, sRows, sTitle, sClient}) {
    TXLSection& s = *sections_[sector];
    const bool clientCols = sector == sCols || sector == sClient;
    const bool clientRows = sector == sRows || sector == sClient;
    TXLPaintContext ctx;
    ctx.Canvas = &canvas;
    ctx.Zoom = l.Zoom;
    ctx.Range = TRect{clientCols ? colFrom : 0, clientRows ? rowFrom : 0, clientCols ? colTo : s.ColCount(),
                      clientRows ? rowTo : s.RowCount()};
    ctx.Origin = TPoint{clientCols ? left + tw : left, clientRows ? top + th : top};
    ctx.LineSize = [&l, clientCols, clientRows](TXLAxis axis, int32_t i) {
      const std::vector<int32_t>& v = l.Sizes[axis][(axis == sCols ? clientCols : clientRows) ? 1 : 0];
      return i >= 0 && size_t(i) < v.size() ? v[size_t(i)] : 0;
    };
    ctx.HorzLines = ctx.VertLines = printGridLines_;
    s.Paint(ctx);
  }
}
