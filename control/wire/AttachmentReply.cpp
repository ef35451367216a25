#include "control/wire/AttachmentReply.h"

#include <utility>

void LoadAttachmentContainer(std::string_view container, TCopy2Files& files) {
  TCopy2Files loaded;
  loaded.Init(0);
  loaded.LoadFromBytes(container);
  files = std::move(loaded);
}

frames::AttachmentsReply LoadAttachmentsReply(std::string_view reply, TCopy2Files& files) {
  frames::AttachmentsReply r = frames::ParseAttachmentsReply(reply);
  LoadAttachmentContainer(r.container, files);
  return r;
}
