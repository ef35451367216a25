#include "platform/com/ComTypes.h"

#include <cstdio>
#include <cstdlib>

TGUID GuidOf(std::string_view braced) {
  TGUID g;
  if (!TryStringToGUID(braced, g)) {
    // Only constant ids in source come here: a typo is a build defect.
    std::fprintf(stderr, "bad GUID constant %.*s\n", static_cast<int>(braced.size()), braced.data());
    std::abort();
  }
  return g;
}


std::string HResultText(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}
