// Loading, saving and hit-testing a chart of 1,000 objects and 1,500 connections.
#include <benchmark/benchmark.h>

#include "BigChart.h"

namespace {

std::string BigBytes() {
  TFcChart c;
  BuildBigChart(c);
  TMemoryStream m;
  c.SaveToStream(m);
  return m.Data();
}

void BM_LoadChart(benchmark::State& state) {
  std::string bytes = BigBytes();
  TFcChart c;
  for (auto _ : state) {
    TMemoryStream m(bytes);
    c.LoadFromStream(m);
    benchmark::DoNotOptimize(c.ObjectCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LoadChart)->Unit(benchmark::kMillisecond);

void BM_SaveChart(benchmark::State& state) {
  TFcChart c;
  BuildBigChart(c);
  for (auto _ : state) {
    TMemoryStream m;
    c.SaveToStream(m);
    benchmark::DoNotOptimize(m.Size());
  }
}
BENCHMARK(BM_SaveChart)->Unit(benchmark::kMillisecond);

// One hit test at a new position each time, as a mouse move would ask.
void BM_HitTest(benchmark::State& state) {
  TFcChart c;
  BuildBigChart(c);
  c.SetZoom(static_cast<uint16_t>(state.range(0)));
  TRect e = c.Extents();
  uint32_t seed = 1;
  int64_t hits = 0;
  for (auto _ : state) {
    seed = seed * 1103515245u + 12345u;
    int32_t x = e.Left + static_cast<int32_t>((seed >> 8) % static_cast<uint32_t>(e.Width()));
    int32_t y = e.Top + static_cast<int32_t>((seed >> 4) % static_cast<uint32_t>(e.Height()));
    c.ClearHitCache();
    hits += c.HitTest(x, y) != htNowhere;
  }
  state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HitTest)->Arg(100)->Arg(30)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
