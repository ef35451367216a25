// Background colours that mark a step's state on the workflow chart.
#pragma once

#include "core/Colors.h"

enum TStepColorMode { scmPassed = 0, scmCurrent = 1, scmChosen = 2, scmCandidate = 3, scmReset = 4 };
inline constexpr TColor StepColors[5] = {12254931, 9757182, 5987327, 16767487, 16777215};
inline constexpr TColor BlinkOffColor = 12303291;  // candidate outline while blinking
