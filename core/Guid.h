#pragma once
#include <cstdint>
#include <string_view>

#include "core/AnsiString.h"

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  uint8_t D4[8] = {};
  bool operator==(const TGUID& o) const;
  bool operator!=(const TGUID& o) const { return !(*this == o); }
  bool operator<(const TGUID& o) const;
};

TGUID CreateGuid();
// Only the braced form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, hex of either case.
// The nil GUID is a valid result.
bool TryStringToGUID(std::string_view s, TGUID& out);
// Braced, upper case, 38 characters.
AnsiString GUIDToString(const TGUID& g);
