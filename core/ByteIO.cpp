#include "core/ByteIO.h"

#include <cmath>
#include <limits>

double ByteReader::F80() {
  uint64_t mant = U64();
  uint16_t se = U16();
  bool negative = (se & 0x8000) != 0;
  int exp = se & 0x7FFF;
  double v;
  if (exp == 0 && mant == 0) {
    v = 0.0;
  } else if (exp == 0x7FFF) {
    v = (mant << 1) == 0 ? std::numeric_limits<double>::infinity()
                         : std::numeric_limits<double>::quiet_NaN();
  } else {
    v = std::ldexp(static_cast<double>(mant), exp - 16383 - 63);
  }
  return negative ? -v : v;
}

void ByteWriter::F80(double d) {
  uint16_t sign = std::signbit(d) ? 0x8000 : 0;
  uint64_t mant = 0;
  uint16_t exp = 0;
  if (std::isnan(d)) {
    exp = 0x7FFF;
    mant = 0xC000000000000000ull;
  } else if (std::isinf(d)) {
    exp = 0x7FFF;
    mant = 0x8000000000000000ull;
  } else if (d != 0.0) {
    int e = 0;
    double m = std::frexp(std::fabs(d), &e);  // m in [0.5, 1)
    mant = static_cast<uint64_t>(std::ldexp(m, 64));
    exp = static_cast<uint16_t>(e - 1 + 16383);
  }
  U64(mant);
  U16(static_cast<uint16_t>(sign | exp));
}
