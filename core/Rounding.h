#pragma once
// Round to nearest, ties to even, as the framework's Round does: the rounding rule of the
// system's arithmetic. nearbyint follows the current rounding mode, which is to-nearest-even unless
// someone changed it. The result stays a double so callers can range-check it before
// narrowing.
#include <cmath>

inline double RoundHalfEven(double x) { return std::nearbyint(x); }
// The same for the extended sums of scaled integers, which a double would cut short.
inline long double RoundHalfEven(long double x) { return std::nearbyint(x); }

// Round to nearest, ties away from zero: how the desktop's drawing rounds the pixels of a
// shape it computes itself (the scan lines of a rounded region, an arrow head's corners),
// where the framework's Round never takes part.
inline double RoundHalfAway(double x) { return std::round(x); }

// Round half up, as floor(x + 0.5): how the PNG library builds its gamma tables and how a
// lightness becomes a channel. It adds before it rounds, so 0.49999999999999994 goes to 1
// and odd values past 2^52 go up: kept where results must match that formula to the bit.
inline double RoundHalfUp(double x) { return std::floor(x + 0.5); }
