#include "control/form/TemplateAttachments.h"

#include <QListWidget>

#include "control/attachments/AttachmentList.h"
#include "control/form/TemplateLayout.h"
#include "control/form/frm_Template.h"
#include "control/session/frm_Main.h"
#include "control/wire/Un_type.h"

namespace {

// A template without a Word body names this placeholder file; it is no body.
const char* const kNoBodyFile = "无公文模版.doc";

}  // namespace

TTemplateAttachments::TTemplateAttachments(TfrmTemplate& form, QWidget* parent)
    : form_(form), list_(new TAttachmentList(parent)) {
  list_->hide();
}

int TTemplateAttachments::FileCount() const { return list_->ListView()->count(); }

void TTemplateAttachments::SendQuery(uint8_t readOnly) const {
  if (TfrmMain* session = frmMain())
    session->SendQuery("", form_.tableName_, form_.recordId_, 1, "", form_.doc_->Header.I32(dh::ObjectNumber),
                       readOnly, "", "");
}

void TTemplateAttachments::Load(TMemoryStream& reply) {
  list_->SetAttachBelow(form_.attachBelow_ != 0);
  list_->SetGridPanelHeight(form_.gridHeight_);
  list_->LoadAttachments(reply);
  // The list waits behind the chart while the chart is shown.
  if (!form_.pnlFlowChat_->isHidden()) list_->hide();
  form_.layout_->PlaceGrid();
}

void TTemplateAttachments::Refresh(const std::string& container, int slotCount) {
  list_->RefreshFromContainer(container, slotCount);
  form_.layout_->PlaceGrid();
}

void TTemplateAttachments::AttachmentClick() {
  if (!form_.bodyFile_.empty() && form_.bodyFile_ != Cp936(kNoBodyFile)) {
    form_.RequestFile(form_.bodyFile_);
    return;
  }
  const TStepRecord* step = form_.StepAt(form_.curStepIndex_);
  form_.managerRequested_ = true;
  SendQuery(step ? step->attachmentsReadOnly : 1);
}

void TTemplateAttachments::ReadonlyClick() {
  form_.managerRequested_ = true;
  SendQuery(1);
}
