// Formula texts from hostile bytes, evaluated directly and as cells that read each other:
// every outcome is a value or one of the library's errors.
#include <cstddef>
#include <cstdint>
#include <string>

#include "grid/XLCalc.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TXLSheet sheet;
  TXLCalculator calc(&sheet);
  TXLVariant result;
  try {
    calc.Evaluate(text, result);
  } catch (const Exception&) {
  }
  // A1 holds the text; B1 and A2 read it and each other, so references may run in circles.
  const char* others[] = {"=A1+B1", "=A1*A2"};
  auto* a1 = static_cast<TXLCFormula*>(sheet.Section(sClient)->PutCell(TPoint{0, 0}, &XLCFormulaClass));
  auto* b1 = static_cast<TXLCFormula*>(sheet.Section(sClient)->PutCell(TPoint{1, 0}, &XLCFormulaClass));
  auto* a2 = static_cast<TXLCFormula*>(sheet.Section(sClient)->PutCell(TPoint{0, 1}, &XLCFormulaClass));
  b1->SetAsString(others[0]);
  a2->SetAsString(others[1]);
  a1->SetAsString(text);
  b1->Recalc();
  a2->Recalc();
  (void)a1->GetText();
  return 0;
}
