#include "imaging/EnCLib.h"

// Each library's wrappers live in a file of their own, so a program that uses
// one codec links and loads only that library.

void RaiseTiffError(const std::string& text) { throw ETiffError("ETiffError " + text); }

bool DecodedSizeFits(int64_t decodedBytes, int64_t inputBytes) {
  constexpr int64_t kSlack = int64_t(1) << 20;
  return decodedBytes >= 0 && decodedBytes <= kSlack + inputBytes * 4096;
}
