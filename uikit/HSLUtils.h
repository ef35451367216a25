#pragma once
// RGB <-> HSL conversion used by the flat controls' derived colours.
#include <cstdint>

#include "core/Colors.h"

// Hue, saturation and lightness in 0..1 (hue 0 = red, a full turn = 1).
struct THsl {
  double H = 0, S = 0, L = 0;
};

// The integer form: hue 0..HslScale-1, saturation and lightness 0..HslScale.
struct THslScaled {
  int H = 0, S = 0, L = 0;
};

extern int HslScale;  // 240

THsl RgbToHsl(TColor rgb);
TColor HslToRgb(const THsl& hsl);
THslScaled RgbToHslScaled(TColor rgb);
TColor HslScaledToRgb(const THslScaled& hsl);

// Round to nearest, ties to even: the only double-to-integer step of the kit.
int RoundEven(double x);
