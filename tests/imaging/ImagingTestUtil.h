#pragma once
// Small builders for hand-made test images.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/EnDiGrph.h"

inline void FillRGB(TDibGraphic& img, const std::vector<RgbValue>& pixels) {
  int i = 0;
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x) img.SetPixelRGB(x, y, pixels[size_t(i++)]);
}

inline std::vector<RgbValue> PixelsRGB(const TDibGraphic& img) {
  std::vector<RgbValue> out;
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x) out.push_back(img.GetPixelRGB(x, y));
  return out;
}

inline std::vector<int> PixelsIndex(const TDibGraphic& img) {
  std::vector<int> out;
  for (int y = 0; y < img.Height(); ++y)
    for (int x = 0; x < img.Width(); ++x) out.push_back(img.GetPixelIndex(x, y));
  return out;
}

// Every percentage a run reports, in order.
struct ProgressLog {
  std::vector<int> values;
  TProgressEvent Handler() {
    return [this](void*, uint8_t p) { values.push_back(p); };
  }
  // 0 first, 100 last, each value once and rising.
  void ExpectWholeRun() const {
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.front(), 0);
    EXPECT_EQ(values.back(), 100);
    for (size_t i = 1; i < values.size(); ++i) EXPECT_GT(values[i], values[i - 1]) << i;
  }
};

#define EXPECT_IMAGING_ERROR(stmt, text)                     \
  do {                                                       \
    try {                                                    \
      stmt;                                                  \
      ADD_FAILURE() << "no exception from " #stmt;           \
    } catch (const Exception& e) {                           \
      EXPECT_EQ(std::string(e.Message()), std::string(text)); \
    }                                                        \
  } while (0)
