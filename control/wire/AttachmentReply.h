// Reading the attachment list of a "STRM" reply into a container, shared by the
// document form's list and the attachment manager. The reply's slot count (+104) is
// only the sender's word: the container's slots come from the files really there.
#pragma once

#include <string_view>

#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"

// Parses the reply and replaces the files with those of its container (none when it
// has no container). A reply or container that fails a check raises
// frames::EFrameError and leaves the files as they were.
frames::AttachmentsReply LoadAttachmentsReply(std::string_view reply, TCopy2Files& files);

// Replaces the files with those of a container (none when it is empty), with the
// same guarantee.
void LoadAttachmentContainer(std::string_view container, TCopy2Files& files);
