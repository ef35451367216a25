// Formula reading and evaluation, alone and as a sheet of 10,000 formula cells that read
// each other.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "grid/XLCalc.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace {

constexpr const char* kSimple = "A1*2+B1";
constexpr const char* kMixed = "(A1+B1)*(A1-B1)/2 + Integer(B1) MOD 3 - String(A1) >= 1";

// A1 holds 3 and B1 0.5.
struct SmallSheet {
  TXLSheet sheet;
  SmallSheet() {
    sheet.Section(sClient)->PutCell(TPoint{0, 0}, &XLCIntegerClass)->SetAsInteger(3);
    sheet.Section(sClient)->PutCell(TPoint{1, 0}, &XLCDoubleClass)->SetAsFloat(0.5);
  }
};

void BM_FormulaParse(benchmark::State& state, const char* text) {
  for (auto _ : state) benchmark::DoNotOptimize(TXLCalculator::Compile(text));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_FormulaParse, simple, kSimple);
BENCHMARK_CAPTURE(BM_FormulaParse, mixed, kMixed);

// Reading the text every time, as an editor's one-off evaluation does.
void BM_FormulaEvaluateText(benchmark::State& state, const char* text) {
  SmallSheet s;
  TXLCalculator calc(&s.sheet);
  TXLVariant result;
  for (auto _ : state) calc.Evaluate(text, result);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_FormulaEvaluateText, simple, kSimple);
BENCHMARK_CAPTURE(BM_FormulaEvaluateText, mixed, kMixed);

// A formula cell evaluating again: its text was read once.
void BM_FormulaCellRecalc(benchmark::State& state, const char* text) {
  SmallSheet s;
  auto* f = static_cast<TXLCFormula*>(s.sheet.Section(sClient)->PutCell(TPoint{2, 0}, &XLCFormulaClass));
  f->SetAsString(AnsiString("=") + text);
  for (auto _ : state) f->Recalc();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_FormulaCellRecalc, simple, kSimple);
BENCHMARK_CAPTURE(BM_FormulaCellRecalc, mixed, kMixed);

// 100 x 100 formula cells: row 0 holds constants, every later cell reads the two cells
// above it ("=C4*0.5+D4"), so the last row depends on the whole sheet.
constexpr int32_t kSide = 100;

std::vector<TXLCFormula*> FillChained(TXLSheet& sheet) {
  sheet.SetCount(sCols, kSide);
  sheet.SetCount(sRows, kSide);
  std::vector<TXLCFormula*> cells;
  TXLRecalcBatch batch(sheet.Evaluation());
  for (int32_t r = 0; r < kSide; ++r)
    for (int32_t c = 0; c < kSide; ++c) {
      auto* f = static_cast<TXLCFormula*>(sheet.Section(sClient)->PutCell(TPoint{c, r}, &XLCFormulaClass));
      if (r == 0)
        f->SetAsString("=" + std::to_string(c + 1));
      else
        f->SetAsString("=" + CellName(c, r - 1) + "*0.5+" + CellName((c + 1) % kSide, r - 1));
      cells.push_back(f);
    }
  return cells;
}

// Whole-sheet recalculation in one batch, in reading order (each cell finds what it reads
// already current) and in reverse order (each read evaluates the cells above first).
void BM_SheetRecalc(benchmark::State& state) {
  const bool reverse = state.range(0) != 0;
  TXLSheet sheet;
  std::vector<TXLCFormula*> cells = FillChained(sheet);
  if (reverse) std::reverse(cells.begin(), cells.end());
  for (auto _ : state) {
    TXLRecalcBatch batch(sheet.Evaluation());
    for (TXLCFormula* f : cells) f->Recalc();
  }
  state.SetItemsProcessed(state.iterations() * cells.size());
  state.counters["last"] = sheet.Section(sClient)->FindCell(TPoint{kSide - 1, kSide - 1})->GetAsFloat();
}
BENCHMARK(BM_SheetRecalc)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
