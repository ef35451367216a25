// Buffers that grow as bytes arrive toward a length announced up front, never past it:
// an announced length costs nothing until its bytes are there, and a regrowth near the
// end never doubles past what will be held.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kMinCappedGrowth = 64 * 1024;

// The capacity that holds `need` bytes: twice the present one, at least need and
// kMinCappedGrowth, at most cap. The present capacity when need already fits; nullopt
// when need passes cap.
std::optional<size_t> CappedCapacity(size_t capacity, size_t need, size_t cap);

// Moves s into a fresh buffer of exactly `capacity` bytes (at least its size).
void ReallocateExactly(std::string& s, size_t capacity);

// Appends data, growing buf as above. False, and nothing appended, when buf would pass cap.
[[nodiscard]] bool AppendCapped(std::string& buf, std::string_view data, size_t cap);
