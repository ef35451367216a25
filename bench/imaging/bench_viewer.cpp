// The viewer and the scanner on an A4 page: a zoom-to-fit redraw of a 300-dpi
// colour page, scrolling it by one page at full size, and scanning a 150-dpi
// colour page from the SANE test backend into a page list.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <cstdlib>
#include <memory>
#include <vector>

#include "imaging/ui/EnImgScr.h"
#include "imaging/ui/EnScan.h"
#include "imaging/ui/SaneDsm.h"

namespace {
void A4Colour(TDibGraphic& g) {
  g.NewImage(2480, 3508, ifTrueColor, nullptr, 300, 300);
  for (int y = 0; y < g.Height(); ++y) {
    uint8_t* row = g.ScanLine(y);
    for (int x = 0; x < g.Width() * 3; ++x) row[x] = uint8_t(x * 7 + y * 3);
  }
}

struct Viewer {
  TImageScrollBox box;
  QImage screen{1000, 700, QImage::Format_RGB32};
  // Paints what the window shows, the image's part included.
  void Paint() { box.viewport()->render(&screen); }
  Viewer() {
    box.resize(1000, 700);
    box.show();
    TDibGraphic page;
    A4Colour(page);
    box.SetGraphic(&page);
  }
};
}  // namespace

static void BM_ZoomToFitRedraw(benchmark::State& state) {
  Viewer v;
  v.box.SetZoomMode(zmFullPage);
  for (auto _ : state) {
    v.box.Redraw(false);
    v.Paint();
  }
}
BENCHMARK(BM_ZoomToFitRedraw)->Unit(benchmark::kMillisecond);

static void BM_ScrollByPage(benchmark::State& state) {
  Viewer v;
  QScrollBar* bar = v.box.verticalScrollBar();
  for (auto _ : state) {
    if (bar->value() >= bar->maximum()) bar->setValue(0);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    v.Paint();
  }
}
BENCHMARK(BM_ScrollByPage)->Unit(benchmark::kMillisecond);

static void BM_ScanA4Colour150(benchmark::State& state) {
  SetSaneSourceOptions({{"test-picture", "Color pattern"}, {"source", "Flatbed"}});
  TScanner scanner;
  scanner.SetShowUI(false);
  scanner.SetImageFormat(ifTrueColor);
  scanner.SetXResolution(150);
  scanner.SetYResolution(150);
  std::vector<std::unique_ptr<TDibGraphic>> pages;
  for (auto _ : state) {
    scanner.Acquire(&pages, [](HGLOBAL h, int, int, void* ctx) {
      auto page = std::make_unique<TDibGraphic>();
      page->AssignFromHDIB(GlobalLock(h), GlobalSize(h));
      static_cast<std::vector<std::unique_ptr<TDibGraphic>>*>(ctx)->push_back(std::move(page));
    });
    if (pages.size() > 4) pages.clear();
  }
}
BENCHMARK(BM_ScanA4Colour150)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SANE_CONFIG_DIR", TARVO_SOURCE_DIR "/tests/sane", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
