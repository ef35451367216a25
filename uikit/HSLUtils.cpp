#include "uikit/HSLUtils.h"

#include <algorithm>
#include <cfenv>
#include <cmath>

#include "core/Rounding.h"

int HslScale = 240;

int RoundEven(double x) { return static_cast<int>(RoundHalfEven(x)); }

THsl RgbToHsl(TColor rgb) {
  const double r = GetRValue(rgb) / 255.0;
  const double g = GetGValue(rgb) / 255.0;
  const double b = GetBValue(rgb) / 255.0;
  const double cmax = std::max({b, g, r});
  const double cmin = std::min({b, g, r});
  THsl out;
  out.L = (cmax + cmin) / 2;
  if (cmax == cmin) return out;
  const double d = cmax - cmin;
  out.S = out.L < 0.5 ? d / (cmax + cmin) : d / (2 - cmax - cmin);
  double h;
  if (r == cmax)
    h = (g - b) / d;
  else if (g == cmax)
    h = 2 + (b - r) / d;
  else
    h = 4 + (r - g) / d;
  h /= 6;
  if (h < 0) h += 1;
  out.H = h;
  return out;
}

namespace {

int Channel(double m1, double m2, double x) {
  if (x < 0) x += 1;
  if (x > 1) x -= 1;
  double v;
  if (6 * x < 1)
    v = m1 + (m2 - m1) * x * 6;
  else if (2 * x < 1)
    v = m2;
  else if (3 * x < 2)
    v = m1 + (m2 - m1) * (2.0 / 3 - x) * 6;
  else
    v = m1;
  return RoundEven(255 * v) & 0xFF;
}

}  // namespace

TColor HslToRgb(const THsl& hsl) {
  if (hsl.S == 0) {
    const int v = RoundEven(255 * hsl.L) & 0xFF;
    return RGB(v, v, v);
  }
  const double m2 = hsl.L <= 0.5 ? hsl.L * (1 + hsl.S) : hsl.L + hsl.S - hsl.L * hsl.S;
  const double m1 = 2 * hsl.L - m2;
  const int r = Channel(m1, m2, hsl.H + 1.0 / 3);
  const int g = Channel(m1, m2, hsl.H);
  const int b = Channel(m1, m2, hsl.H - 1.0 / 3);
  return r | (g << 8) | (b << 16);
}

THslScaled RgbToHslScaled(TColor rgb) {
  const THsl hsl = RgbToHsl(rgb);
  return {RoundEven(hsl.H * (HslScale - 1)), RoundEven(hsl.S * HslScale),
          RoundEven(hsl.L * HslScale)};
}

TColor HslScaledToRgb(const THslScaled& hsl) {
  return HslToRgb({double(hsl.H) / (HslScale - 1), double(hsl.S) / HslScale,
                   double(hsl.L) / HslScale});
}
