#include "imaging/GlobalMem.h"

#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

struct TGlobalBlock {
  std::vector<unsigned char> bytes;
};

HGLOBAL GlobalAlloc(size_t size) {
  try {
    auto h = std::make_unique<TGlobalBlock>();
    h->bytes.resize(size);
    return h.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
}

void* GlobalLock(HGLOBAL h) { return h ? h->bytes.data() : nullptr; }
void GlobalUnlock(HGLOBAL) {}
size_t GlobalSize(HGLOBAL h) { return h ? h->bytes.size() : 0; }

HGLOBAL GlobalFree(HGLOBAL h) {
  delete h;
  return nullptr;
}
