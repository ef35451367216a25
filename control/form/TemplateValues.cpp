#include "control/form/TemplateValues.h"

#include <QPointer>
#include <QTimer>

#include "control/form/TemplateFields.h"
#include "control/form/frm_Template.h"
#include "control/session/frm_Main.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "grid/ui/XLEdit.h"
#include "grid/ui/XLGridView.h"
#include "platform/Guard.h"
#include "platform/Services.h"

TTemplateFields TTemplateValues::Fields() const {
  return TTemplateFields(*form_.sheet_, *form_.doc_, form_.fieldsHaveCells_);
}

bool TTemplateValues::StoreEdit() const {
  return !form_.gridView_->Editor()->Shown() || form_.gridView_->Editor()->StoreValue();
}

AnsiString TTemplateValues::GetFieldValue(const AnsiString& name) const {
  StoreEdit();
  return Fields().GetFieldValue(name);
}

bool TTemplateValues::CollectFieldValues(bool changed, bool commit) const {
  StoreEdit();
  return Fields().CollectFieldValues(changed, commit);
}

AnsiString TTemplateValues::CheckTitle() const { return Fields().CheckTitle(form_.titleField_); }

TFieldValues TTemplateValues::PlaceholderFields() const {
  CollectFieldValues(false, false);
  TFieldValues out;
  for (const TFieldEntry& f : form_.doc_->Fields)
    if (!f.edited.empty()) out.emplace_back(f.name, f.edited);
  return out;
}

void TTemplateValues::RememberOpened() {
  openedValues_.clear();
  for (const TFieldEntry& f : form_.doc_->Fields) openedValues_.push_back(f.edited);
}

bool TTemplateValues::SaveDocument(int32_t status, bool forced) {
  if (!CollectFieldValues(forced, false)) {
    ShowMessageBox(Cp936("您没有进行任何资料修改，不需要提交保存。"), Cp936("系统提示"), MsgIcon::Information,
                   MsgButtons::Ok, &form_);
    return false;
  }
  TStream2Array& doc = *form_.doc_;
  TMemoryStream& frame = doc.BuildUpdateFrame(form_.tableName_, form_.recordId_, status, SessionValues());
  frame.SetPosition(0);
  form_.submitted_ = true;
  TfrmMain* session = frmMain();
  if (!session) return false;
  // Until the server says it has them, the values stay changed: a save that ends
  // without its reply is sent again by the next save and closing asks again.
  std::vector<AnsiString> sent;
  for (const TFieldEntry& f : doc.Fields) sent.push_back(f.edited);
  saveSent_ = true;
  const QPointer<TfrmTemplate> self(&form_);
  session->SendToServer(frame, [self, this, sent = std::move(sent)](TRequestEnd end, const std::string& reply) {
    if (self) SaveEnded(sent, end == TRequestEnd::Replied && frames::IsAcceptedReply(reply));
  });
  return true;
}

void TTemplateValues::SaveEnded(const std::vector<AnsiString>& sent, bool accepted) {
  if (accepted) {
    std::vector<TFieldEntry>& fields = form_.doc_->Fields;
    for (size_t i = 0; i < sent.size() && i < fields.size(); ++i) fields[i].stored = sent[i];
    if (std::exchange(form_.closeAfterSave_, false))
      QTimer::singleShot(0, &form_, GuardSlot([form = &form_] { form->close(); }));
    return;
  }
  // The send button comes back whenever a request ends without the server taking it.
  form_.closeAfterSave_ = false;
  form_.SetSubmitted(false);
}

bool TTemplateValues::SaveFields(uint8_t temporary, uint8_t distribution, int32_t status) {
  if (!CollectFieldValues(false, false)) return false;
  TDocHeader& h = form_.doc_->Header;
  h.SetU8(dh::TemporarySave, temporary);
  h.SetI32(dh::CurrentStep, form_.curStepNo_);
  h.SetI32(dh::NextStep, form_.nextStepNo_);
  h.SetU8(dh::SavedForDistribution, distribution);
  form_.closeOnReply_ = false;
  const bool sent = SaveDocument(status, false);
  form_.ArrangeButtons();
  return sent;
}

bool TTemplateValues::HasUnsavedWork() const {
  if (!CollectFieldValues(false, false)) return false;
  const std::vector<TFieldEntry>& fields = form_.doc_->Fields;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].edited == fields[i].stored) continue;
    if (saveSent_ || i >= openedValues_.size() || fields[i].edited != openedValues_[i]) return true;
  }
  return false;
}
