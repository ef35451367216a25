#include "core/Guid.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "core/ByteIO.h"

bool TGUID::operator==(const TGUID& o) const {
  return D1 == o.D1 && D2 == o.D2 && D3 == o.D3 && std::memcmp(D4, o.D4, 8) == 0;
}

bool TGUID::operator<(const TGUID& o) const {
  if (D1 != o.D1) return D1 < o.D1;
  if (D2 != o.D2) return D2 < o.D2;
  if (D3 != o.D3) return D3 < o.D3;
  return std::memcmp(D4, o.D4, 8) < 0;
}

TGUID CreateGuid() {
  thread_local std::mt19937_64 rng{std::random_device{}() ^ (uint64_t(std::random_device{}()) << 32)};
  uint64_t a = rng(), b = rng();
  TGUID g;
  g.D1 = static_cast<uint32_t>(a >> 32);
  g.D2 = static_cast<uint16_t>(a >> 16);
  g.D3 = static_cast<uint16_t>((a & 0x0FFF) | 0x4000);  // version 4
  StoreLE(g.D4, b);
  g.D4[0] = static_cast<uint8_t>((g.D4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return g;
}

namespace {
bool Hex(std::string_view s, size_t pos, size_t n, uint64_t& v) {
  v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    char c = s[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * 16 + d;
  }
  return true;
}
}  // namespace

bool TryStringToGUID(std::string_view s, TGUID& out) {
  if (s.size() != 38 || s[0] != '{' || s[37] != '}' || s[9] != '-' || s[14] != '-' || s[19] != '-' ||
      s[24] != '-')
    return false;
  uint64_t v;
  TGUID g;
  if (!Hex(s, 1, 8, v)) return false;
  g.D1 = static_cast<uint32_t>(v);
  if (!Hex(s, 10, 4, v)) return false;
  g.D2 = static_cast<uint16_t>(v);
  if (!Hex(s, 15, 4, v)) return false;
  g.D3 = static_cast<uint16_t>(v);
  for (int i = 0; i < 2; ++i) {
    if (!Hex(s, 20 + 2 * i, 2, v)) return false;
    g.D4[i] = static_cast<uint8_t>(v);
  }
  for (int i = 0; i < 6; ++i) {
    if (!Hex(s, 25 + 2 * i, 2, v)) return false;
    g.D4[2 + i] = static_cast<uint8_t>(v);
  }
  out = g;
  return true;
}

AnsiString GUIDToString(const TGUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.D1, g.D2, g.D3, g.D4[0],
                g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
  return buf;
}
