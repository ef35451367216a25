// Printing a 30 x 1,000 sheet of text and number cells to PDF at 600 dpi.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <string>

#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/ui/XLPdfPrinter.h"

namespace {

constexpr int32_t kCols = 30;
constexpr int32_t kRows = 1000;

void Fill(TXLSheet& sheet) {
  sheet.SetCount(sCols, kCols);
  sheet.SetCount(sRows, kRows);
  sheet.SetPrintGridLines(true);
  TXLSection* client = sheet.Section(sClient);
  for (int32_t c = 0; c < kCols; ++c) sheet.SetAsString(c, -1, "Column " + std::to_string(c));
  for (int32_t r = 0; r < kRows; ++r) {
    sheet.SetAsString(-1, r, std::to_string(r + 1));
    for (int32_t c = 0; c < kCols; ++c) {
      const TPoint p{c, r};
      if (c % 3 == 1)
        client->PutCell(p, &XLCDoubleClass)->SetAsFloat(r * 1.5 + c);
      else
        client->PutCell(p, &XLCStringClass)->SetAsString("Item " + std::to_string(r * kCols + c));
    }
  }
}

void BM_PrintSheetToPdf(benchmark::State& state) {
  TXLSheet sheet;
  Fill(sheet);
  QTemporaryDir dir;
  const QString file = dir.filePath("bench.pdf");
  const int32_t pages = sheet.PageLayout().PageCount();
  for (auto _ : state) {
    TXLPdfPrinter printer(file);
    sheet.PrintPages(0, -1, printer);
  }
  state.counters["pages"] = pages;
  state.counters["pages_per_second"] =
      benchmark::Counter(double(pages) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PrintSheetToPdf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Fonts and the PDF engine need the application object.
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
