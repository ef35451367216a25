#include "control/wire/SingleFileContainer.h"

#include "control/wire/Frames.h"
#include "control/wire/ReplyText.h"

namespace {
constexpr size_t kHeaderSize = 48;
constexpr size_t kEntrySize = 272;

std::string_view WithoutFolder(std::string_view name) { return name.substr(LastComponentStart(name)); }
}  // namespace

std::string BuildSingleFileContainer(std::string_view name, std::string_view data, int32_t state) {
  frames::FrameWriter w(kHeaderSize + kEntrySize + data.size());
  w.I32(0, 1)                                   // count
      .I32(4, int32_t(kHeaderSize + kEntrySize))  // data start
      .Text(8, 4, "V1.0")
      .Text(29, 4, "zelt");
  const size_t e = kHeaderSize;
  w.I32(e, 1)  // index: one above the highest (none yet)
      .Text(e + 4, 255, WithoutFolder(name))
      .I32(e + 260, 0)
      .I32(e + 264, int32_t(data.size()))
      .I32(e + 268, state);
  w.Bytes(kHeaderSize + kEntrySize, data);
  return w.Take();
}
