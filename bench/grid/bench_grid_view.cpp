// The grid window's client pane: a full paint of 1280 x 1024 pixels of a 200-column,
// 1,000-row sheet of text and number cells, and a scroll by one page (which exposes a
// whole new page), also with Chinese texts in the sheet's Latin font. The view's own memory
// is its line offsets, 8 bytes per line.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <string>

#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/ui/XLGridView.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "bench_grid_view";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

void Fill(TXLSheet& sheet, int32_t cols, int32_t rows, const AnsiString& item) {
  XLRegisterCellClasses();
  sheet.SetCount(sCols, cols);
  sheet.SetCount(sRows, rows);
  TXLSection* client = sheet.Section(sClient);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) {
      const TPoint p{c, r};
      if (c % 3 == 1) client->PutCell(p, &XLCDoubleClass)->SetAsFloat(r * 1.5 + c);
      else client->PutCell(p, &XLCStringClass)->SetAsString(item + std::to_string(r * cols + c));
    }
}

struct Setup {
  bool app = (App(), true);  // before any widget
  TXLSheet sheet;
  TXLGrid grid;
  QImage image{1280, 1024, QImage::Format_RGB32};
  explicit Setup(int32_t rows, const AnsiString& item = "Item ") {
    Fill(sheet, 200, rows, item);
    grid.SetOptions(OptionBit(oVertLines) | OptionBit(oHorzLines) | OptionBit(oDrawFocus));
    grid.resize(1280 + 14, 1024 + 14);  // the client pane: 1280 x 1024 beside the scroll bars
    grid.SetSheet(&sheet);
  }
  TXLView& Pane() { return *grid.View(sClient); }
  void Paint() {
    QPainter p(&image);
    Pane().PaintTo(p, QRect(0, 0, 1280, 1024));
  }
};

void BM_PaintFullPane(benchmark::State& state) {
  Setup s(int32_t(state.range(0)));
  for (auto _ : state) {
    s.Paint();
    benchmark::ClobberMemory();
  }
  state.counters["pane_w"] = s.Pane().width();
  state.counters["pane_h"] = s.Pane().height();
  state.counters["view_bytes"] = double(s.grid.Lines(sCols, 1).MemoryBytes() + s.grid.Lines(sRows, 1).MemoryBytes());
}

void Scroll(benchmark::State& state, const AnsiString& item) {
  Setup s(int32_t(state.range(0)), item);
  int direction = 1;
  for (auto _ : state) {
    if (s.Pane().Origin().y() >= s.Pane().MaxOrigin().y()) direction = -1;
    if (s.Pane().Origin().y() == 0) direction = 1;
    s.grid.ScrollPage(Qt::Vertical, direction);
    s.Paint();
    benchmark::ClobberMemory();
  }
}

void BM_ScrollOnePage(benchmark::State& state) { Scroll(state, "Item "); }
// "Item" in Chinese (code page 936): glyphs the Latin font lacks.
void BM_ScrollOnePageChinese(benchmark::State& state) { Scroll(state, "\xCF\xEE\xC4\xBF "); }

}  // namespace

BENCHMARK(BM_PaintFullPane)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollOnePage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollOnePageChinese)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
