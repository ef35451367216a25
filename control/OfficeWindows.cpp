#include "control/OfficeWindows.h"

#include "control/ReplyWindows.h"
#include "control/frm_OLEWord.h"
#include "control/frm_SetLoadFiles.h"

void RegisterOfficeWindows() {
  TReplyWindowFactories& f = ReplyWindowFactories();
  if (!f.CreateAttachmentManager)
    f.CreateAttachmentManager = []() -> IAttachmentManager* { return new TfrmSetLoadFiles(); };
  if (!f.CreateWordEditor) f.CreateWordEditor = []() -> IWordEditor* { return new TfrmOLEWord(); };
}
