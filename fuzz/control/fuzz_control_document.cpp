// Feeds arbitrary bytes to the document reply parser. A reply may be refused only with
// frames::EFrameError; one that is accepted must rebuild into a reply that parses to the
// same arrays, sheet and chart.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "control/wire/Class_StoExcel.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  TStream2Array d;
  try {
    d.LoadFromBytes(reply);
  } catch (const frames::EFrameError&) {
    return 0;
  }
  const std::string_view sheet = TStream2Array::SheetPart(reply);
  const std::string_view chart = TStream2Array::ChartPart(reply);
  const std::string again = d.BuildDocumentReply(sheet, chart);
  TStream2Array e;
  e.LoadFromBytes(again);
  Check(e.Steps == d.Steps && e.FieldRecords == d.FieldRecords && e.PassedSteps == d.PassedSteps);
  Check(e.Phrases == d.Phrases && e.AttachmentNames == d.AttachmentNames && e.ComboSources == d.ComboSources);
  Check(e.Comments.size() == d.Comments.size() && e.PickedUsers.size() == d.PickedUsers.size());
  Check(e.Status == d.Status && e.Fields.size() == d.Fields.size());
  Check(TStream2Array::SheetPart(again) == sheet && TStream2Array::ChartPart(again) == chart);
  // The update frame of whatever was accepted parses back.
  const std::string update = d.BuildUpdateFrame("t", "r", 1, SessionValues()).Data();
  Check(ParseUpdateFrame(update).records.size() == d.FieldRecords.size());
  return 0;
}
