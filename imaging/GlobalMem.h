#pragma once
// Moveable memory blocks handed between the scanner, its source manager and
// the image (a handle knows its size, the bytes start zeroed).
#include <cstddef>

struct TGlobalBlock;
using HGLOBAL = TGlobalBlock*;

// nullptr when the block cannot be allocated.
HGLOBAL GlobalAlloc(size_t size);
void* GlobalLock(HGLOBAL h);
void GlobalUnlock(HGLOBAL h);
size_t GlobalSize(HGLOBAL h);
// Returns nullptr; a null handle is ignored.
HGLOBAL GlobalFree(HGLOBAL h);
