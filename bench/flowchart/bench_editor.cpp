// The workflow editor's undo on a chart of 1,000 objects: the snapshot each change takes and
// one undo step, and the ".flc" file written and read back.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "BigChart.h"
#include "flowchart/ui/fcUndo.h"

namespace {

void BM_UndoSnapshot(benchmark::State& state) {
  TFcChart c;
  BuildBigChart(c);
  TUndoManager undo(&c);
  undo.SetLimit(30);
  int i = 0;
  for (auto _ : state) {
    c.Objects(i % c.ObjectCount())->SetLeft(c.Objects(i % c.ObjectCount())->Left() + 8);
    undo.SaveState();
    ++i;
  }
  state.counters["snapshot_bytes"] = double(undo.StoreSize()) / undo.Count();
}
BENCHMARK(BM_UndoSnapshot)->Unit(benchmark::kMillisecond);

void BM_UndoStep(benchmark::State& state) {
  TFcChart c;
  BuildBigChart(c);
  TUndoManager undo(&c);
  undo.SetLimit(30);
  int i = 0;
  for (auto _ : state) {
    if (undo.Count() < 2) {
      state.PauseTiming();
      while (undo.Count() < 30) {
        c.Objects(i % c.ObjectCount())->SetTop(c.Objects(i % c.ObjectCount())->Top() + 8);
        undo.SaveState();
        ++i;
      }
      state.ResumeTiming();
    }
    undo.Undo();
  }
}
BENCHMARK(BM_UndoStep)->Unit(benchmark::kMillisecond);

std::string TempFile() { return (std::filesystem::temp_directory_path() / "bench_editor.flc").string(); }

void BM_SaveFlcFile(benchmark::State& state) {
  TFcChart c;
  BuildBigChart(c);
  const std::string path = TempFile();
  for (auto _ : state) c.SaveToFile(path);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(path)));
  std::remove(path.c_str());
}
BENCHMARK(BM_SaveFlcFile)->Unit(benchmark::kMillisecond);

void BM_LoadFlcFile(benchmark::State& state) {
  TFcChart c;
  BuildBigChart(c);
  const std::string path = TempFile();
  c.SaveToFile(path);
  TFcChart loaded;
  for (auto _ : state) {
    loaded.LoadFromFile(path);
    benchmark::DoNotOptimize(loaded.ObjectCount());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(path)));
  std::remove(path.c_str());
}
BENCHMARK(BM_LoadFlcFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
