#include "core/CappedGrowth.h"

#include <algorithm>

std::optional<size_t> CappedCapacity(size_t capacity, size_t need, size_t cap) {
  if (need > cap) return std::nullopt;
  if (need <= capacity) return capacity;
  return std::min(std::max({capacity * 2, need, kMinCappedGrowth}), cap);
}

void ReallocateExactly(std::string& s, size_t capacity) {
  std::string grown;
  grown.reserve(std::max(capacity, s.size()));  // a fresh string reserves exactly
  grown.append(s);
  s.swap(grown);
}

bool AppendCapped(std::string& buf, std::string_view data, size_t cap) {
  const size_t need = buf.size() + data.size();
  const std::optional<size_t> next = CappedCapacity(buf.capacity(), need, cap);
  if (!next) return false;
  if (*next != buf.capacity()) ReallocateExactly(buf, *next);
  buf.append(data);
  return true;
}
