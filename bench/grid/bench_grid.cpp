// Sparse-list throughput and loading/saving a 1,000 x 200 sheet of mixed cells.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <random>
#include <string>

#include "core/Streams.h"
#include "grid/XLCells.h"
#include "grid/XLLists.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace {

constexpr int32_t kCols = 200;
constexpr int32_t kRows = 1000;

size_t HeapInUse() { return mallinfo2().uordblks; }

// Columns cycle through text, integer, double, date and Boolean cells.
void FillMixed(TXLSheet& sheet) {
  sheet.SetCount(sCols, kCols);
  sheet.SetCount(sRows, kRows);
  TXLSection* client = sheet.Section(sClient);
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t c = 0; c < kCols; ++c) {
      const TPoint p{c, r};
      switch (c % 5) {
        case 0:
          client->PutCell(p, &XLCStringClass)->SetAsString("Item " + std::to_string(r * kCols + c));
          break;
        case 1:
          client->PutCell(p, &XLCIntegerClass)->SetAsInteger(r * c);
          break;
        case 2:
          client->PutCell(p, &XLCDoubleClass)->SetAsFloat(r + c / 7.0);
          break;
        case 3:
          client->PutCell(p, &XLCDateTimeClass)->SetAsDateTime(45000 + r + c / 100.0);
          break;
        default:
          client->PutCell(p, &XLCBooleanClass)->SetAsBoolean((r + c) % 2 == 0);
          break;
      }
    }
}

const std::string& SavedSheet() {
  static const std::string bytes = [] {
    TXLSheet sheet;
    FillMixed(sheet);
    TMemoryStream s;
    sheet.SaveToStream(s);
    return s.TakeData();
  }();
  return bytes;
}

void BM_SheetLoad(benchmark::State& state) {
  const std::string& bytes = SavedSheet();
  size_t bytesPerCell = 0;
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto sheet = std::make_unique<TXLSheet>();
    TMemoryStream s(bytes);
    sheet->LoadFromStream(s);
    bytesPerCell = (HeapInUse() - before) / (kCols * kRows);
    benchmark::DoNotOptimize(sheet->FindCell(kCols - 1, kRows - 1));
    state.PauseTiming();
    sheet.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kCols * kRows);
  state.counters["bytes_per_cell"] = static_cast<double>(bytesPerCell);
  state.counters["stream_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_SheetLoad)->Unit(benchmark::kMillisecond);

void BM_SheetSave(benchmark::State& state) {
  TXLSheet sheet;
  {
    TMemoryStream s(SavedSheet());
    sheet.LoadFromStream(s);
  }
  for (auto _ : state) {
    TMemoryStream s;
    s.Reserve(SavedSheet().size());
    sheet.SaveToStream(s);
    benchmark::DoNotOptimize(s.Size());
  }
  state.SetItemsProcessed(state.iterations() * kCols * kRows);
}
BENCHMARK(BM_SheetSave)->Unit(benchmark::kMillisecond);

void BM_SparseListPutGet(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  std::mt19937 rng(7);
  std::vector<int32_t> idx(n);
  for (auto& i : idx) i = static_cast<int32_t>(rng() % 1000000);
  for (auto _ : state) {
    TSList list;
    for (int32_t i = 0; i < n; ++i) list.Put(idx[i], i + 1);
    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += list.Get(idx[i]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n * 2);
}
BENCHMARK(BM_SparseListPutGet)->Arg(1000)->Arg(100000);

// Inserting and deleting lines at the top of a filled list: the cost of row insertion.
void BM_SparseListShift(benchmark::State& state) {
  TSList list;
  for (int32_t i = 0; i < kRows; ++i) list.Put(i, i + 1);
  for (auto _ : state) {
    list.Shift(0, 1);
    list.Shift(0, -1);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_SparseListShift);

void BM_SparseListStream(benchmark::State& state) {
  TZeroSList sizes;
  sizes.SetDefault(15);
  for (int32_t i = 0; i < 60000; i += 3) sizes.Put(i, 20 + i % 7);
  TMemoryStream saved;
  sizes.SaveToStream(saved);
  for (auto _ : state) {
    TZeroSList back;
    saved.SetPosition(0);
    back.LoadFromStream(saved);
    benchmark::DoNotOptimize(back.Last());
  }
  state.SetBytesProcessed(state.iterations() * saved.Size());
}
BENCHMARK(BM_SparseListStream);

}  // namespace

BENCHMARK_MAIN();
