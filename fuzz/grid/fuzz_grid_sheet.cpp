// Sheets from hostile bytes: a component stream ("TPF0...") or a bare "XLData" stream.
// Whatever loads must save, and what it saves must load back and save the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "grid/XLManager.h"
#include "grid/XLSheet.h"

namespace {
std::string Save(const TXLSheet& sheet, bool envelope) {
  TMemoryStream m;
  if (envelope)
    sheet.SaveToStream(m);
  else
    sheet.WriteXLData(m);
  return m.TakeData();
}

void Load(TXLSheet& sheet, const std::string& bytes, bool envelope) {
  TMemoryStream m(bytes);
  if (envelope)
    sheet.LoadFromStream(m);
  else
    sheet.ReadXLData(m);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const bool envelope = input.rfind("TPF0", 0) == 0;
  TXLSheet sheet;
  try {
    Load(sheet, input, envelope);
  } catch (const Exception&) {
    return 0;  // refused with a clear error: fine
  }
  const std::string first = Save(sheet, envelope);
  TXLSheet again;
  // A bare sheet stream carries no line counts; the reader must hold the writer's.
  for (TXLAxis axis : {sCols, sRows}) {
    again.SetCount(axis, sheet.GetCount(axis));
    again.SetTitleCount(axis, sheet.GetTitleCount(axis));
  }
  try {
    Load(again, first, envelope);
  } catch (const Exception&) {
    std::abort();  // our own output must always load
  }
  if (Save(again, envelope) != first) std::abort();
  return 0;
}
