#pragma once
// Round to nearest, ties to even, as the framework's Round does: the one rounding rule of
// the system. nearbyint follows the current rounding mode, which is to-nearest-even unless
// someone changed it. The result stays a double so callers can range-check it before
// narrowing.
#include <cmath>

inline double RoundHalfEven(double x) { return std::nearbyint(x); }
