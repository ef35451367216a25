#include "imaging/GlobalMem.h"

#include <memory>
#include <new>

#include "imaging/EnDiGrph.h"

// A scanned page is handed over in one of these: its storage is the pixels'
// own, zero without being written first.
struct TGlobalBlock {
  unsigned char* bytes;
  size_t size;
};

HGLOBAL GlobalAlloc(size_t size) {
  try {
    auto h = std::make_unique<TGlobalBlock>(TGlobalBlock{nullptr, size});
    h->bytes = static_cast<unsigned char*>(AllocatePixels(size));
    return h.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void* GlobalLock(HGLOBAL h) { return h ? h->bytes : nullptr; }
void GlobalUnlock(HGLOBAL) {}
size_t GlobalSize(HGLOBAL h) { return h ? h->size : 0; }

HGLOBAL GlobalFree(HGLOBAL h) {
  if (h) FreePixels(h->bytes, h->size);
  delete h;
  return nullptr;
}
