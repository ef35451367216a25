#pragma once
// Palette choice for converting true colour to a palette format: a 15-bit
// histogram, rare colours dropped, then a spread-out subset starting near white.
#include <cstdint>

#include "imaging/EnDiGrph.h"

uint16_t RgbTo15Bit(RgbValue color);
// Blue, green, red bytes of a key, each 5-bit component shifted left by 3.
void Rgb15ToTriple(uint16_t key, uint8_t triple[3]);

// Fills palette with colourCount (at most 256) entries chosen from image.
void QuantizePalette(const TDibGraphic& image, TLogPalette& palette, int colourCount,
                     uint8_t& lastPercent, const TProgressEvent& onProgress);
