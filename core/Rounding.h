#pragma once
// Round to nearest, ties to even, as the framework's Round does: the rounding rule of the
// system's arithmetic. nearbyint follows the current rounding mode, which is to-nearest-even unless
// someone changed it. The result stays a double so callers can range-check it before
// narrowing.
#include <cmath>

inline double RoundHalfEven(double x) { return std::nearbyint(x); }

// Round to nearest, ties away from zero: how the desktop's drawing rounds the pixels of a
// shape it computes itself (the scan lines of a rounded region, an arrow head's corners),
// where the framework's Round never takes part.
inline double RoundHalfAway(double x) { return std::round(x); }
