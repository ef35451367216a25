// The document form's command buttons per step, free of the sheet so window headers can
// name them.
#pragma once

#include <cstdint>

#include "control/wire/StepRecord.h"

// Which command buttons a step shows, in their order from the left, and the bar's width.
struct TCommandButtons {
  bool number = false, temporary = false, distribution = false, send = true, archive = false;
  int panelWidth = 0;  // pixels
};
inline constexpr int kCommandButtonWidth = 55;
TCommandButtons ArrangeButtonSet(const TStepRecord* step, bool isStartStep, int32_t status);
