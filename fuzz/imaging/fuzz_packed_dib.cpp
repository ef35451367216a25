// Packed bitmaps (the scanner's hand-over) from hostile bytes: a block either
// loads or is refused with the library's error; what loads saves as a packed
// bitmap that loads back to the same pixels.
#include <cstdint>
#include <cstring>
#include <string>

#include "imaging/EnDiGrph.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TDibGraphic img;
  try {
    img.AssignFromHDIB(data, size);
  } catch (const EImagingError&) {
    return 0;
  }
  const std::string saved = img.SaveToPackedDIB();
  TDibGraphic again;
  again.AssignFromHDIB(saved.data(), saved.size());
  if (again.Width() != img.Width() || again.Height() != img.Height() ||
      again.ImageFormat() != img.ImageFormat() || again.ImageSize() != img.ImageSize() ||
      std::memcmp(again.Bits(), img.Bits(), img.ImageSize()) != 0)
    __builtin_trap();
  return 0;
}
