// Painting the 1,000-object chart: one screen at actual size, and the whole chart fitted.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "BigChart.h"
#include "flowchart/ui/FlowChart.h"

namespace {

void BM_PaintChart(benchmark::State& state) {
  TFlowChart w;
  w.resize(1280, 1024);
  BuildBigChart(w);
  w.SetZoom(static_cast<uint16_t>(state.range(0)));
  QImage img(w.viewport()->size(), QImage::Format_RGB32);
  for (auto _ : state) {
    w.viewport()->render(&img);
    benchmark::DoNotOptimize(img.constBits());
  }
}
BENCHMARK(BM_PaintChart)->Arg(100)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
