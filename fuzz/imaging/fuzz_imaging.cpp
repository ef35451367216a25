// Feeds arbitrary bytes to one image decoder (chosen by FUZZ_FORMAT): it may
// load or raise, never crash, read out of bounds or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/EnBfm.h"
#include "imaging/EnIcoGr.h"
#include "imaging/EnJpgGr.h"
#include "imaging/EnPngGr.h"
#include "imaging/EnTifGr.h"
#include "imaging/bfm.h"

namespace {

[[maybe_unused]] void LoadBitmap(TMemoryStream& s) {  // only the bitmap target calls it
  BFM h{};
  if (bfm_read_header("x.bmp", &s, 0, &h, "") != BFM_OK) return;
  BfmRgb palette[256];
  if (bfm_read_palette(&s, 0, &h, palette) != BFM_OK) return;
  std::vector<uint8_t> data(size_t(BfmRowBytes(h.w, h.bpp) * h.h));
  bfm_read_data(&s, 0, &h, data.data(), data.size());
}

template <typename G>
void Load(TMemoryStream& s, bool allFrames = false) {
  G g;
  g.SetLoadAllFrames(allFrames);
  g.LoadFromStream(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream s(std::string(reinterpret_cast<const char*>(data), size));
  try {
#if FUZZ_FORMAT == 0
    LoadBitmap(s);
#elif FUZZ_FORMAT == 1
    Load<TPcxGraphic>(s);
#elif FUZZ_FORMAT == 2
    Load<TDcxGraphic>(s, true);
#elif FUZZ_FORMAT == 3
    Load<TTgaGraphic>(s);
#elif FUZZ_FORMAT == 4
    Load<TIconGraphic>(s);
#elif FUZZ_FORMAT == 5
    Load<TTiffGraphic>(s, true);
#elif FUZZ_FORMAT == 6
    Load<TJpegGraphic>(s);
#elif FUZZ_FORMAT == 7
    Load<TPngGraphic>(s);
#endif
  } catch (const Exception&) {
  }
  return 0;
}
