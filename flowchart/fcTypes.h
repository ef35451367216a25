#pragma once
// Integer geometry shared by the chart model and its lines.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

struct TPoint {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

inline int32_t ClampI32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  // Clamped: stored coordinates may lie far apart.
  int32_t Width() const { return ClampI32(int64_t{Right} - Left); }
  int32_t Height() const { return ClampI32(int64_t{Bottom} - Top); }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(int32_t x, int32_t y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  TRect Inflated(int32_t d) const { return Offset4(-d, -d, d, d); }
  TRect Offset(int32_t dx, int32_t dy) const { return Offset4(dx, dy, dx, dy); }
  TRect Offset4(int64_t l, int64_t t, int64_t r, int64_t b) const {
    return {ClampI32(Left + l), ClampI32(Top + t), ClampI32(Right + r), ClampI32(Bottom + b)};
  }
  bool Intersects(const TRect& r) const {
    return !IsEmpty() && !r.IsEmpty() && Left < r.Right && r.Left < Right && Top < r.Bottom && r.Top < Bottom;
  }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect UnionRect(const TRect& a, const TRect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right), std::max(a.Bottom, b.Bottom)};
}

// a * b / c with a 64-bit product, rounded half away from zero; -1 for c == 0, as the
// platform's MulDiv does. Coordinates may exceed 32 bits in the product, never in the result.
inline int64_t FcMulDiv64(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return -1;
  __int128 p = static_cast<__int128>(a) * b;
  bool neg = (p < 0) != (c < 0);
  __int128 ap = p < 0 ? -p : p;
  __int128 ac = c < 0 ? -static_cast<__int128>(c) : c;
  __int128 q = (ap + ac / 2) / ac;
  return static_cast<int64_t>(neg ? -q : q);
}

inline int32_t FcMulDiv(int64_t a, int64_t b, int64_t c) { return ClampI32(FcMulDiv64(a, b, c)); }

// Removes the first occurrence of item, if any.
template <typename T>
void EraseOne(std::vector<T*>& v, const T* item) {
  auto it = std::find(v.begin(), v.end(), item);
  if (it != v.end()) v.erase(it);
}
