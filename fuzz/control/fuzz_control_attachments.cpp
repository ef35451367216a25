// Feeds arbitrary bytes as an attachment-list reply ("STRM") to the path the document
// form's list and the attachment manager take. A reply may be refused only with
// frames::EFrameError, and then leaves the files as they were; an accepted one holds no
// more slots than its bytes can carry entries, and its files survive being handed back
// the way the manager hands them to the document form.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/wire/AttachmentReply.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}

bool SameFiles(const TCopy2Files& a, const TCopy2Files& b) {
  if (a.Count() != b.Count()) return false;
  for (int i = 0; i < a.Count(); ++i)
    if (a.GetFileName(i) != b.GetFileName(i) || a.GetState(i) != b.GetState(i) || a.FileData(i) != b.FileData(i))
      return false;
  return true;
}

TCopy2Files Earlier() {
  TCopy2Files c;
  c.Init(0);
  c.AddStream("earlier.txt", "kept", fsFromServer);
  return c;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const TCopy2Files earlier = Earlier();
  TCopy2Files files = Earlier();
  try {
    LoadAttachmentsReply(reply, files);
  } catch (const frames::EFrameError&) {
    Check(SameFiles(files, earlier));
    return 0;
  }
  Check(size_t(files.SlotCount()) <= size / kContainerEntrySize);

  // What the manager hands back on closing, with its highest index as the slot count.
  TCopy2Files handedBack = Earlier();
  LoadAttachmentContainer(files.SaveToBytes(), handedBack);
  Check(SameFiles(files, handedBack));
  Check(handedBack.SlotCount() == handedBack.Count());
  return 0;
}
