#pragma once
// Palette choice for converting true colour to a palette format: a 15-bit
// histogram, rare colours dropped, then a spread-out subset starting near white.
#include <cstdint>
#include <vector>

#include "imaging/EnDiGrph.h"

uint16_t RgbTo15Bit(RgbValue color);
// Blue, green, red bytes of a key, each 5-bit component shifted left by 3.
void Rgb15ToTriple(uint16_t key, uint8_t triple[3]);

// Fills palette with colourCount (at most 256) entries chosen from image.
void QuantizePalette(const TDibGraphic& image, TLogPalette& palette, int colourCount,
                     uint8_t& lastPercent, const TProgressEvent& onProgress);

// The nearest palette entry of a colour (smallest squared distance, the first
// such entry winning), as the image's converter finds it, but fast when most
// colours are new, as in error diffusion. The colour cube is cut into 4x4x4
// cells; a cell, when first asked, keeps only the entries that can be nearest
// to some colour inside it.
class TNearestColour {
 public:
  explicit TNearestColour(const TLogPalette& palette);
  int Index(uint8_t red, uint8_t green, uint8_t blue) {
    if (count_ == 0) return 0;
    const int cell = ((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3);
    Cell& found = cells_[size_t(cell)];
    if (found.size == 0) BuildCell(cell);
    // Candidates come nearest-first as seen from the cell, so the search ends
    // once no later one can come as near; of equally near ones the first in
    // the palette wins.
    const Candidate* c = candidates_.data() + found.first;
    const Candidate* end = c + found.size;
    int best = c->index, bestDist = INT32_MAX;
    for (; c != end && c->bound <= bestDist; ++c) {
      const int dr = c->red - red, dg = c->green - green, db = c->blue - blue;
      const int d = dr * dr + dg * dg + db * db;
      if (d < bestDist || (d == bestDist && c->index < best)) {
        bestDist = d;
        best = c->index;
      }
    }
    return best;
  }

 private:
  struct Candidate {
    uint8_t red, green, blue, index;
    int bound;  // the least distance from any colour of the cell
  };
  struct Cell {
    uint32_t first, size;  // into candidates_; size 0 until built
  };
  void BuildCell(int cell);
  int count_;
  Candidate entries_[256];
  std::vector<Cell> cells_;
  std::vector<Candidate> candidates_;
};
