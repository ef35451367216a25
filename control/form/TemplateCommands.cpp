#include "control/form/TemplateCommands.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QTextEdit>
#include <QTimer>

#include "control/form/DocDistribution.h"
#include "control/form/DocNumbering.h"
#include "control/form/DocOpinion.h"
#include "control/form/TemplateFields.h"
#include "control/form/TemplateLayout.h"
#include "control/form/TemplateValues.h"
#include "control/form/frm_Template.h"
#include "control/office/frame_w.h"
#include "control/select/frm_SelectUser.h"
#include "control/session/frm_Main.h"
#include "control/wire/Frames.h"
#include "control/wire/NextHandlers.h"
#include "control/wire/Un_type.h"
#include "core/SysUtils.h"
#include "grid/XLCells.h"
#include "grid/ui/XLGridView.h"
#include "grid/ui/XLPdfPrinter.h"
#include "platform/Guard.h"
#include "platform/PrintTarget.h"
#include "platform/QtText.h"
#include "platform/Services.h"

namespace {

const char* const kCaption = "系统提示";
constexpr size_t kMaxPickedUsers = 151;

}  // namespace

void TTemplateCommands::SendFrame(const std::string& frame) {
  if (TfrmMain* session = frmMain()) session->SendToServer(frame);
}

void TTemplateCommands::btnSendClick() {
  if (!form_.values_->StoreEdit()) return;
  if (const AnsiString title = form_.CheckTitle(); !title.empty()) {
    ShowMessageBox(title, Cp936(kCaption), MsgIcon::Question, MsgButtons::Ok, &form_);
    return;
  }
  if (form_.lblNextStep_->text().isEmpty()) {
    ShowMessageBox(Cp936("请确定下一办理步骤！"), Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, &form_);
    form_.ShowFlowChart();
    return;
  }
  if (form_.lblNextUser_->text().isEmpty()) {
    ShowMessageBox(Cp936("请选择此流程的下一办理人！"), Cp936(kCaption), MsgIcon::Question, MsgButtons::Ok, &form_);
    btnNextUserClick();
    return;
  }
  TDocHeader& h = form_.doc_->Header;
  h.SetText(dh::Opinion, ToAnsi(form_.flatMemo_->toPlainText()));
  h.SetI32(dh::CurrentStep, form_.curStepNo_);
  h.SetI32(dh::NextStep, form_.nextStepNo_);
  h.SetU8(dh::SavedForDistribution, 0);
  if (const TStepRecord* step = form_.StepAt(form_.curStepIndex_)) h.SetU8(dh::EraseRevisions, step->eraseRevisions);
  h.SetU8(dh::TemporarySave, 0);
  form_.closeOnReply_ = true;
  SetPendingDoit(form_.tableName_, form_.recordId_);
  form_.values_->SaveDocument(1, true);
  // One submit at a time: the reply closes the form or gives the button back.
  if (form_.submitted_) form_.btnSend_->setEnabled(false);
}


void TTemplateCommands::btnTemporaryClick() {
  if (!form_.values_->StoreEdit()) return;
  // Nothing changed: nothing to send and nothing to say.
  if (!form_.SaveFields(1, 0, 0)) return;
}

void TTemplateCommands::btnFileClick() {
  if (form_.commandPending_ || !ConfirmYesNo(Cp936("是否将此审批（文件）归档？"), Cp936(kCaption), &form_)) return;
  // Archived, the close saves what changed without asking.
  SendDocCommand("INBOX", [this] { form_.saveOnClose_ = true; });
  // The archive's message reports the document to the page; the form is still open.
  SetPendingDoit(form_.tableName_, form_.recordId_);
}

void TTemplateCommands::N_DeleteXLGridClick() {
  if (form_.readOnly_ || form_.commandPending_ || !ConfirmYesNo(Cp936("是否销毁此审批单？"), Cp936(kCaption), &form_)) return;
  SetPendingDoit(form_.tableName_, form_.recordId_);
  SendDocCommand("DELETE", [this] { form_.destroyed_ = true; });
}

void TTemplateCommands::SendDocCommand(const char* verb, std::function<void()> accepted) {
  TfrmMain* session = frmMain();
  if (!session) return;
  form_.commandPending_ = true;
  form_.pnlBtn_->setEnabled(false);
  const QPointer<TfrmTemplate> self(&form_);
  auto ended = [self, accepted = std::move(accepted)](TRequestEnd end, const std::string& reply) {
    if (!self) return;
    self->commandPending_ = false;
    self->pnlBtn_->setEnabled(true);
    // Not done: the form stays with its values; the person has been told why.
    if (end != TRequestEnd::Replied || !frames::IsAcceptedReply(reply)) return;
    accepted();
    // After the reply's own handling, which reports the document to the page.
    QTimer::singleShot(0, self, GuardSlot([self] { self->close(); }));
  };
  session->SendToServer(frames::BuildDocCommandRequest(SessionValues().UserGUID, form_.tableName_, form_.recordId_, verb,
                                                       form_.curStepNo_, form_.nextStepNo_, form_.doc_->Header.I32(dh::CopyNumber)),
                        std::move(ended));
}

void TTemplateCommands::btnNextUserClick() {
  if (form_.handlersFixed_) return;
  form_.pickNextHandler_ = true;
  RequestUsers(2, 0);
}

void TTemplateCommands::RequestUsers(uint8_t mode, int32_t list) {
  form_.userRequestMode_ = mode;
  const AnsiString arg = mode == 2 ? IntToStr(form_.nextStepNo_) : form_.recordId_;
  SendFrame(frames::BuildUserRequest(form_.tableName_, arg, frames::UserListMode(mode), SessionValues().CompID,
                                     SessionValues().UserGUID, list));
}

// A "USER" reply goes where the last request's mode says, so a reply for a panel the
// person already closed never takes over the next-handler or distribution lists.
void TTemplateCommands::ShowUserSelection(TMemoryStream& reply) {
  if (form_.userRequestMode_ == 0) {
    if (!form_.pnlSP_->isHidden()) form_.pnlSP_->LoadUserRecords(reply.Data());
    return;
  }
  if (form_.userRequestMode_ == 1) {
    // The dialog may outlive this form; nothing here touches the form after it.
    const auto keep = form_.distribution_;
    keep->UsersArrived(reply.Data(), form_.tableName_, form_.recordId_, SessionValues().UserGUID, &form_);
    return;
  }
  if (!form_.pickNextHandler_) return;
  form_.pickNextHandler_ = false;
  const QPointer<TfrmTemplate> self(&form_);
  auto* dialog = new TfrmSelectUser(&form_);
  const QPointer<TfrmSelectUser> d(dialog);
  // The other pages are asked for as they are opened; their replies go into this dialog.
  dialog->OnRequestList = [self](int list) {
    if (self) self->RequestUsers(self->userRequestMode_, list);
  };
  dialog->LoadUsers(reply.Data(), ToAnsi(form_.lblNextUser_->text()), false);
  const int result = dialog->exec();
  if (!self || !d) return;
  if (result == QDialog::Accepted) {
    std::vector<frames::PickedUser> entries(kMaxPickedUsers);
    AnsiString names;
    entries.resize(size_t(d->GetSelectedUsers(0, names, entries)));
    form_.doc_->PickedUsers = std::move(entries);
    form_.lblNextUser_->setText(ToQString(names));
    form_.RefreshHandlerCombo();
    form_.lblNextUser_->setToolTip(ToQString(names).replace(',', '\n'));
  }
  delete d.data();
}

// ---- opinion ----

void TTemplateCommands::btnSPClick() {
  if (form_.opinionField_.empty()) return;
  form_.ppmSP_->popup(form_.mapToGlobal(QPoint(form_.btnSP_->x() + 5, form_.pnlTop_->height() + form_.pnlMind_->height() + 30)));
}

void TTemplateCommands::nSignNameClick() {
  if (!form_.opinionField_.empty()) form_.flatMemo_->setPlainText(ToQString(SessionValues().UserName));
}

void TTemplateCommands::N1Click(const AnsiString& phrase) {
  form_.flatMemo_->setPlainText(ToQString(AddMenuPhrase(ToAnsi(form_.flatMemo_->toPlainText()), phrase)));
}

void TTemplateCommands::N9Click() {
  if (!form_.pnlSP_->isHidden()) return;
  form_.pickNextHandler_ = true;
  RequestUsers(0, 0);
  form_.pnlSP_->move(form_.flatMemo_->x(), 2);
  form_.pnlSP_->show();
  form_.pnlSP_->raise();
}

// ---- numbering ----

void TTemplateCommands::btnNOClick() {
  int year = 0, month = 0, day = 0;
  DecodeDate(Services::Clock().Now(), year, month, day);
  form_.pnlNO_->Open(year);
  const QSize area = form_.pnlMain_->viewport()->size();
  form_.pnlNO_->move(std::max(0, (area.width() - form_.pnlNO_->width()) / 2), std::max(0, (area.height() - form_.pnlNO_->height()) / 2));
  SendFrame(frames::BuildNumbersRequest(SessionValues().CompID, form_.tableName_));
}

void TTemplateCommands::ShowNumberList(TMemoryStream& reply) { form_.pnlNO_->ShowNumberList(reply.Data()); }

void TTemplateCommands::NumberTaken(const TTakenNumber& taken) {
  form_.chosenNumber_ = taken.index;
  if (!form_.numberField_.empty()) {
    const TTemplateFields fields = form_.values_->Fields();
    if (const TFieldEntry* f = fields.Find(form_.numberField_); f && fields.CellOf(*f)) {
      form_.values_->StoreEdit();
      form_.sheet_->SetAsString(f->col, f->row, taken.text);
      const TPoint cur = form_.gridView_->GetCurCell();
      if (cur.X == f->col && cur.Y == f->row) form_.gridView_->RefreshEditor();
    }
  }
  form_.doc_->Header.SetI32(dh::NumberType, taken.typeId);
  form_.doc_->Header.SetI32(dh::Number, taken.number);
}

// ---- distribution ----

void TTemplateCommands::btnDistributionClick() {
  form_.pickNextHandler_ = false;
  // The dialogs may outlive this form; nothing here touches the form after them.
  const auto keep = form_.distribution_;
  keep->Start(form_.doc_->Header.I32(dh::DistributionType), &form_);
}

void TTemplateCommands::ShowUnitSelection(TMemoryStream& reply) {
  const auto keep = form_.distribution_;
  keep->UnitsArrived(reply.Data(), form_.recordId_, form_.tableName_, &form_);
}

// ---- sign-off comments ----

void TTemplateCommands::SetupCommentFrame() {
  form_.frameQYYJ_->SetReplyVisible(form_.doc_->Header.I32(dh::SignOffMode) == 2);
  form_.frameQYYJ_->LoadComments(form_.recordId_, form_.tableName_, form_.doc_->Comments);
}

void TTemplateCommands::BtnQPYJClick() {
  const bool show = form_.frameQYYJ_->isHidden();
  form_.frameQYYJ_->setVisible(show);
  // A dialog fitted to its grid grows by the frame, so the grid keeps its room.
  if (form_.dialogMode_) form_.setFixedHeight(form_.height() + (show ? 1 : -1) * form_.frameQYYJ_->height());
  form_.layout_->PlaceGrid();
}



void TTemplateCommands::RequestFile(const AnsiString& name) {
  SendFrame(frames::BuildFileRequest(SessionValues().UserGUID, form_.tableName_, form_.recordId_, name));
}

void TTemplateCommands::N_PrintXLGridClick() {
  if (!ConfirmYesNo(Cp936("是否打印此审批单？"), Cp936(kCaption), &form_)) return;
  if (!XLChoosePrinter(&form_)) return;  // the person cancelled the print or save dialog
  // Any current client cell, row and column 0 included.
  if (form_.gridView_->GetCurCell().X >= 0 && form_.gridView_->GetCurCell().Y >= 0) form_.values_->StoreEdit();
  const bool anyCell = form_.gridView_->AnyCellSelect();
  form_.gridView_->SetAnyCellSelect(false);
  AnsiString failure;
  const bool ok = GuardedCall(
                      [this] {
                        form_.values_->Fields().HideFilledRows();
                        form_.sheet_->Print();
                      },
                      &failure) == S_OK;
  form_.gridView_->SetAnyCellSelect(anyCell);
  if (!ok) {
    // One box: the person learns where it went wrong, the log what the printer said.
    LogFailure("printing the form: " + Cp936ToUtf8(failure));
    const QPrinter& printer = PrintTarget::Printer();
    const QString file = printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : QString();
    const AnsiString text = file.isEmpty() ? Cp936("打印出错，请确认是否连接打印机！")
                                           : Cp936("打印文件无法写入：") + ToAnsi(QDir::toNativeSeparators(file));
    ShowMessageBox(text, Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, &form_);
  }
  form_.gridView_->RefreshEditor();
  form_.gridView_->update();
}

