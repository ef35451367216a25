#include "imaging/EnQuantz.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

struct Triple {
  uint8_t b, g, r;
};

int64_t ColorDistance(const Triple& a, const Triple& c) {
  int dr = a.r - c.r, dg = a.g - c.g, db = a.b - c.b;
  return int64_t(dr) * dr + int64_t(dg) * dg + int64_t(db) * db;
}

int NearestInList(const std::vector<Triple>& list, int count, const Triple& color) {
  int best = 0;
  int64_t bestDist = INT64_MAX;
  for (int i = 0; i < count; ++i) {
    int64_t d = ColorDistance(list[size_t(i)], color);
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

constexpr int64_t kFar = int64_t(1) << 30;

// Reorders list so that its first n entries are the chosen colours. Each
// candidate's sum of 2^30 div distance to the chosen ones is kept up to date as
// colours are chosen, in 64 bits since 256 terms of 2^24 overflow 32.
void SelectDistinctColors(std::vector<Triple>& list, int n, uint8_t& lastPercent,
                          const TProgressEvent& onProgress) {
  const int k = int(list.size());
  std::vector<int64_t> sum(size_t(k), 0);
  std::vector<uint8_t> touching(size_t(k), 0);  // a distance 0 pins the sum at 2^30
  int choice = NearestInList(list, k, Triple{255, 255, 255});
  for (int i = 0; i < n; ++i) {
    lastPercent = uint8_t(DoProgress(nullptr, i, 0, onProgress, n, lastPercent));
    std::swap(list[size_t(choice)], list[size_t(i)]);
    std::swap(sum[size_t(choice)], sum[size_t(i)]);
    std::swap(touching[size_t(choice)], touching[size_t(i)]);
    int64_t best = kFar;
    choice = i + 1;
    for (int j = i + 1; j < k; ++j) {
      int64_t d = ColorDistance(list[size_t(i)], list[size_t(j)]);
      if (d == 0)
        touching[size_t(j)] = 1;
      else
        sum[size_t(j)] += kFar / d;
      int64_t s = touching[size_t(j)] ? kFar : sum[size_t(j)];
      if (s < best) {
        best = s;
        choice = j;
      }
    }
  }
}

}  // namespace

uint16_t RgbTo15Bit(RgbValue color) {
  return uint16_t((RgbRed(color) >> 3) | ((RgbGreen(color) >> 3) << 5) |
                  ((RgbBlue(color) >> 3) << 10));
}

void Rgb15ToTriple(uint16_t key, uint8_t triple[3]) {
  triple[0] = uint8_t(((key >> 10) & 31) << 3);
  triple[1] = uint8_t(((key >> 5) & 31) << 3);
  triple[2] = uint8_t((key & 31) << 3);
}

void QuantizePalette(const TDibGraphic& image, TLogPalette& palette, int colourCount,
                     uint8_t& lastPercent, const TProgressEvent& onProgress) {
  const int n = colourCount > 256 ? 256 : (colourCount < 0 ? 0 : colourCount);
  std::vector<uint16_t> histogram(32768, 0);
  int distinct = 0;
  const int w = image.Width(), h = image.Height();
  std::vector<uint8_t> row(size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    image.ReadRowRGB(y, row.data());
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &row[size_t(x) * 3];
      uint16_t key = uint16_t((p[2] >> 3) | ((p[1] >> 3) << 5) | ((p[0] >> 3) << 10));
      uint16_t& c = histogram[key];
      if (c != 0xFFFF && ++c == 1) ++distinct;
    }
  }
  int threshold = distinct < 1250 ? 2 : distinct < 2500 ? 5 : distinct < 5000 ? 10
                  : distinct < 10000 ? 15 : 20;

  std::vector<Triple> list;
  auto collect = [&](int limit) {
    list.clear();
    for (int key = 0; key < 32768; ++key) {
      if (histogram[size_t(key)] > limit) {
        uint8_t t[3];
        Rgb15ToTriple(uint16_t(key), t);
        list.push_back(Triple{t[0], t[1], t[2]});
      }
    }
  };
  collect(threshold);
  // When every colour is rare, keep them all rather than hand back a black palette.
  if (list.empty()) collect(0);

  if (int(list.size()) > n) SelectDistinctColors(list, n, lastPercent, onProgress);

  std::memset(&palette, 0, sizeof palette);
  palette.palVersion = 0x300;
  palette.palNumEntries = uint16_t(n);
  for (int i = 0; i < n && i < int(list.size()); ++i) {
    const Triple& t = list[size_t(i)];
    palette.palPalEntry[i] = TPaletteEntry{t.r, t.g, t.b, 0};
  }
}

TNearestColour::TNearestColour(const TLogPalette& palette)
    : count_(std::min<int>(palette.palNumEntries, 256)), cells_(32768, Cell{0, 0}) {
  for (int i = 0; i < count_; ++i) {
    const TPaletteEntry& e = palette.palPalEntry[i];
    entries_[i] = Candidate{e.peRed, e.peGreen, e.peBlue, uint8_t(i), 0};
  }
}

// Every colour of the cell is at most M away from the entry whose farthest
// corner is nearest (M); an entry whose nearest point of the cell is farther
// than M can neither be nearest nor tie, so dropping it keeps the first
// minimum.
void TNearestColour::BuildCell(int cell) {
  const int lo[3] = {(cell >> 10) << 3, ((cell >> 5) & 31) << 3, (cell & 31) << 3};
  int nearest[256];
  int limit = INT_MAX;
  for (int i = 0; i < count_; ++i) {
    const int v[3] = {entries_[i].red, entries_[i].green, entries_[i].blue};
    int dmin = 0, dmax = 0;
    for (int k = 0; k < 3; ++k) {
      const int below = lo[k] - v[k], above = v[k] - (lo[k] + 7);
      const int inside = below > 0 ? below : (above > 0 ? above : 0);
      const int far = std::max(std::abs(v[k] - lo[k]), std::abs(v[k] - lo[k] - 7));
      dmin += inside * inside;
      dmax += far * far;
    }
    nearest[i] = dmin;
    limit = std::min(limit, dmax);
  }
  Cell& c = cells_[size_t(cell)];
  c.first = uint32_t(candidates_.size());
  for (int i = 0; i < count_; ++i)
    if (nearest[i] <= limit) {
      candidates_.push_back(entries_[i]);
      candidates_.back().bound = nearest[i];
    }
  c.size = uint32_t(candidates_.size() - c.first);
  std::stable_sort(candidates_.begin() + c.first, candidates_.end(),
                   [](const Candidate& a, const Candidate& b) { return a.bound < b.bound; });
}
