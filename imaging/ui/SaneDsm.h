#pragma once
// Our TWAIN source manager: it answers the scanner's TWAIN calls with one
// SANE device as the data source. Pages arrive as packed bitmaps in global
// blocks; a feeder is scanned page after page until it reports no documents.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "imaging/GlobalMem.h"
#include "imaging/twain.h"

TW_UINT16 SaneDsmEntry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                       TW_UINT16 msg, TW_MEMREF data);

// The device opened when the scanner asks for the default source: the
// TARVO_SANE_DEVICE environment variable, else the one chosen in the
// selection dialog (kept in the user's configuration), else the first found.
std::string SaneDefaultSource();
void SetSaneDefaultSource(const std::string& device);

// SANE options (by name) applied to every source after it opens, before the
// scanner's own settings: the feeder ("source"), test pictures, and so on.
void SetSaneSourceOptions(const std::map<std::string, std::string>& options);

// One scanned page as SANE delivered it, interleaved when in colour.
struct TSanePage {
  int width = 0, height = 0;  // height -1: read until the end (hand scanner)
  int bytesPerLine = 0;
  int channels = 1;  // 1 grey, 3 colour
  int depth = 8;     // bits per sample: 1, 8 or 16; 1-bit grey has 1 = black
  bool grey16Levels = false;
  int dpi = 0;
  std::vector<uint8_t> data;
};
// The packed bitmap of a page: bottom-up rows padded to 4 bytes, blue first,
// a grey table for grey pages, [black, white] for 1-bit ones. nullptr when the
// block cannot be allocated.
HGLOBAL PackSanePage(const TSanePage& page);
