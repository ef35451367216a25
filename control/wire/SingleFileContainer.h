// Writes an attachment container holding exactly one file, which is all the
// body-document upload needs. Layout: 48-byte header, 272-byte entries, data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/AnsiString.h"

inline constexpr int32_t kAttachmentStateAdded = 1;

// name: without folder (a folder part is dropped), cut to 255 bytes.
std::string BuildSingleFileContainer(std::string_view name, std::string_view data, int32_t state);
