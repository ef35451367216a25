// Feeds arbitrary bytes to the step record and the flow message. A step record of full
// size always reads, within its tables, and writes back to bytes that read the same; a
// flow message may be refused only with frames::EFrameError.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "control/wire/FlowMessage.h"
#include "control/wire/StepRecord.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (size >= kStepRecordSize) {
    const TStepRecord r = ReadStepRecord(bytes);
    Check(r.handlerCount <= kMaxHandlers && r.name.size() <= 50 && r.opinionCell.size() <= 100);
    const std::string written = WriteStepRecord(r);
    Check(written.size() == kStepRecordSize && ReadStepRecord(written) == r && WriteStepRecord(ReadStepRecord(written)) == written);
  }
  try {
    const TFlowMessage m = ParseFlowMessage(bytes);
    const TFlowMessage again = ParseFlowMessage(BuildFlowMessage(m));
    Check(again.steps == m.steps && again.chart == m.chart && again.flowName == m.flowName);
  } catch (const frames::EFrameError&) {
  }
  return 0;
}
