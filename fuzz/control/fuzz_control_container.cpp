// Feeds arbitrary bytes to the attachment container. A container may be refused only with
// frames::EFrameError; one that is accepted must survive adding, replacing and removing
// files, save, and load again with its files unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}

void SameFiles(const TCopy2Files& a, const TCopy2Files& b) {
  Check(a.Count() == b.Count());
  for (int i = 0; i < a.Count(); ++i)
    Check(a.GetFileName(i) == b.GetFileName(i) && a.GetState(i) == b.GetState(i) && a.FileData(i) == b.FileData(i));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TCopy2Files c;
  try {
    c.LoadFromBytes(bytes);
  } catch (const frames::EFrameError&) {
    return 0;
  }
  TCopy2Files again;
  again.LoadFromBytes(c.SaveToBytes());
  SameFiles(c, again);

  if (c.Count() > 0) {
    const AnsiString first = c.GetFileName(0);
    c.ReplaceFile(first, bytes.substr(0, size / 2));
    c.RemoveFile(c.GetFileName(c.Count() - 1));
  }
  c.AddStream("added.txt", bytes.substr(size / 2), fsAdded);
  TCopy2Files changed;
  changed.LoadFromBytes(c.SaveToBytes());
  SameFiles(c, changed);
  return 0;
}
