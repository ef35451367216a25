#include "control/OfficeWindows.h"

#include "control/ReplyWindows.h"
#include "control/frm_OLEWord.h"

void RegisterOfficeWindows() {
  TReplyWindowFactories& f = ReplyWindowFactories();
  if (!f.CreateWordEditor) f.CreateWordEditor = []() -> IWordEditor* { return new TfrmOLEWord(); };
}
