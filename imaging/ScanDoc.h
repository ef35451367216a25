#pragma once
// The scanned pages as one text document: a flat OpenDocument text with one
// page per picture, portrait or landscape by the picture's shape, no margins,
// each JPEG embedded and shown at its own size, shrunk to fit the page.
#include <string>
#include <vector>

struct TScanDocPage {
  std::string jpeg;  // the file's bytes
  int width = 0, height = 0;  // pixels
  int dpiX = 0, dpiY = 0;     // 0: 96
};

// Portrait exactly when the page is narrower than high.
inline bool ScanPageIsPortrait(int width, int height) { return width < height; }

std::string WriteScanDocument(const std::vector<TScanDocPage>& pages);
