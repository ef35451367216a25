#include "control/tarvox/OfficeWindows.h"

#include "control/session/ReplyWindows.h"
#include "control/office/frm_OLEWord.h"
#include "control/attachments/frm_SetLoadFiles.h"

void RegisterOfficeWindows() {
  TReplyWindowFactories& f = ReplyWindowFactories();
  if (!f.CreateAttachmentManager)
    f.CreateAttachmentManager = []() -> IAttachmentManager* { return new TfrmSetLoadFiles(); };
  if (!f.CreateWordEditor) f.CreateWordEditor = []() -> IWordEditor* { return new TfrmOLEWord(); };
}
