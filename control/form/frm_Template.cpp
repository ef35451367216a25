#include "control/form/frm_Template.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QPrinter>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "grid/ui/XLEdit.h"
#include "grid/ui/XLGridView.h"
#include "grid/ui/XLPdfPrinter.h"
#include "control/session/Un_function.h"
#include "control/attachments/AttachmentList.h"
#include "control/form/TemplateAttachments.h"
#include "control/form/TemplateFields.h"
#include "control/form/TemplateLayout.h"
#include "control/form/TemplateValues.h"
#include "control/form/DocDistribution.h"
#include "control/form/DocNumbering.h"
#include "control/form/DocOpinion.h"
#include "control/office/WordPlaceholders.h"
#include "control/select/frm_SelectUser.h"
#include "control/office/frame_w.h"
#include "control/session/frm_Main.h"
#include "control/wire/Frames.h"
#include "control/wire/NextHandlers.h"
#include "control/wire/Un_type.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "grid/XLCells.h"
#include "grid/XLPaint.h"
#include "grid/XLSections.h"
#include "grid/ui/XLQtCanvas.h"
#include "platform/Guard.h"
#include "platform/PrintTarget.h"
#include "platform/Services.h"

namespace {

const char* const kCaption = "系统提示";
constexpr TColor kCurrentStripColor = 4227327;  // 0x4080FF
constexpr size_t kMaxPickedUsers = 151;



}  // namespace


TfrmTemplate::TfrmTemplate(QWidget* parent)
    : QDialog(parent),
      sheet_(std::make_unique<TXLSheet>()),
      doc_(std::make_unique<TStream2Array>()),
      values_(std::make_unique<TTemplateValues>(*this)) {
  setWindowTitle(QString::fromUtf8("表单显示"));
  QFont f(QString::fromUtf8("宋体"));
  f.setPixelSize(12);
  setFont(f);
  resize(1062, 630);
  layout_ = std::make_unique<TTemplateLayout>(*this);
  layout_->Build();
  sheet_->OnCellChanged = [](TXLSheet*, TPoint) {};
}

TfrmTemplate::~TfrmTemplate() {
  if (timer_) timer_->stop();
  gridView_->SetSheet(nullptr);  // the sheet goes before the grid
  gridView_->SetCellNamer(nullptr);  // it reads the fields, which go before the grid
  if (loaded_ && !cellPicker_) SetPlaceholderSource(nullptr);
}

void TfrmTemplate::FlatMemoChange() {
  if (opinionField_.empty() || opinionCol_ < 0 || writingOpinion_) return;
  writingOpinion_ = true;
  const AnsiString line = OpinionLine(Services::Clock().Now(), SessionValues().UserName, ToAnsi(flatMemo_->toPlainText()));
  sheet_->SetAsString(opinionCol_, opinionRow_, OpinionCellText(opinionText_, line));
  const TPoint cur = gridView_->GetCurCell();
  if (cur.X == opinionCol_ && cur.Y == opinionRow_) gridView_->RefreshEditor();
  writingOpinion_ = false;
}

void TfrmTemplate::SetBlinking(bool on) {
  if (on && !timer_->isActive()) timer_->start();
  if (!on) timer_->stop();
}

TAttachmentList* TfrmTemplate::AttachmentList() const { return attachments_->List(); }

const TStepRecord* TfrmTemplate::StepAt(int index) const {
  return index >= 0 && size_t(index) < doc_->Steps.size() ? &doc_->Steps[size_t(index)] : nullptr;
}

TConditionContext TfrmTemplate::Conditions() const {
  TConditionContext c;
  c.session = &SessionValues();
  c.fieldValue = [this](const AnsiString& name) { return GetFieldValue(name); };
  return c;
}

void TfrmTemplate::SetSubmitted(bool v) {
  submitted_ = v;
  // A refused submit gives the button back.
  if (!v) btnSend_->setEnabled(true);
}

void TfrmTemplate::LoadFromStream(TMemoryStream& reply) {
  Load(reply);
  exec();
}

void TfrmTemplate::Load(TMemoryStream& reply) {
  closeOnReply_ = true;
  {
    TMemoryStream part;
    TStream2Array::ReadBody(reply, part);
    part.SetPosition(0);
    sheet_->LoadFromStream(part);
    TStream2Array::ReadTail(reply, part);
    part.SetPosition(0);
    chart_->LoadFromStream(part);
  }
  doc_->Fields = ScanCellFields(*sheet_);
  fieldsHaveCells_ = !doc_->Fields.empty();
  reply.SetPosition(0);
  doc_->LoadFromStream(reply);
  const TDocHeader& h = doc_->Header;
  tableName_ = h.Text(dh::TableName);
  recordId_ = h.Text(dh::RecordId);
  setAccessibleDescription(ToQString(recordId_));
  bodyFile_ = h.Text(dh::BodyFile);
  dialogMode_ = h.U8(dh::Maximised) != 1;
  titleField_ = h.Text(dh::TitleField);
  numberField_ = h.Text(dh::NumberField);
  readOnly_ = h.U8(dh::ReadOnly) != 0;
  attachBelow_ = h.I32(dh::AttachBelow);

  std::vector<std::pair<int32_t, AnsiString>> names;
  for (const TStepRecord& s : doc_->Steps) names.emplace_back(s.id, s.name);
  chart_->NumberSteps(names);

  curStepNo_ = h.I32(dh::CurrentStep);
  const int start = chart_->FindStartStep();
  if (curStepNo_ == -1 || curStepNo_ == 0) curStepNo_ = start;
  curStepIndex_ = chart_->IndexOfStep(curStepNo_);
  isStartStep_ = start == curStepNo_;

  ArrangeButtons();
  nDeleteXLGrid_->setEnabled(!readOnly_);
  const TAutoValues autoValues{&SessionValues(), Services::Clock().Now()};
  TTemplateFields fields = values_->Fields();
  // A step missing from the chart has no permissions.
  const TStepRecord* step = StepAt(curStepIndex_);
  fields.ApplyStepPermissions(step, SessionValues().UserLevel, readOnly_, autoValues);
  fields.LockLabels();
  fields.ClearCellHints();
  fields.FillDefaults(newDoc_, autoValues);
  opinionField_ = step ? step->opinionCell : AnsiString();
  if (!opinionField_.empty())
    if (const TFieldEntry* f = fields.Find(opinionField_)) {
      opinionRow_ = f->row;
      opinionCol_ = f->col;
      opinionText_ = sheet_->GetAsString(f->col, f->row);
    }

  const int storedNext = h.I32(dh::NextStep);
  nextStepNo_ = storedNext == -1 ? chart_->NextStep(curStepNo_, Conditions()) : storedNext;
  nextStepIndex_ = chart_->IndexOfStep(nextStepNo_);
  if (storedNext == -1)
    ShowNextStep();
  else
    ShowStoredNext();

  chosenNumber_ = -1;
  BuildPhraseMenu(ppmSP_, doc_->Phrases, [this](const AnsiString& p) { Guarded([&] { N1Click(p); }); });
  fields.FillAttachmentCells();
  sheet_->SetReadOnly(readOnly_);
  if (readOnly_) gridView_->SetOptions(gridView_->Options() | OptionBit(oReadOnly));
  gridView_->RefreshEditor();
  AdjustLayout();
  FitFormToGrid();
  SetupCommentFrame();
  BuildFlowStrip();
  managerRequested_ = false;
  CollectFieldValues(false, false);
  values_->RememberOpened();
  loaded_ = true;
  // The Word body opened from this form takes its field values.
  if (!cellPicker_)
    SetPlaceholderSource([self = QPointer<TfrmTemplate>(this)] { return self ? self->PlaceholderFields() : TFieldValues(); });

  attachments_->SendQuery(step ? step->attachmentsReadOnly : 1);
}

void TfrmTemplate::LoadSheet(TStream& sheet) {
  sheet_->LoadFromStream(sheet);
  sheet_->SetReadOnly(false);
  readOnly_ = true;
  gridView_->RefreshEditor();
}

void TfrmTemplate::LoadAttachments(TMemoryStream& reply) { attachments_->Load(reply); }

void TfrmTemplate::RefreshFromContainer(const std::string& container, int slotCount) {
  attachments_->Refresh(container, slotCount);
}

AnsiString TfrmTemplate::CurrentCellText() const {
  const TPoint c = gridView_->GetCurCell();
  return c.X < 0 ? AnsiString() : sheet_->GetAsString(c.X, c.Y);
}

void TfrmTemplate::GoToCellText(const AnsiString& text) {
  if (text.empty()) return;
  for (int32_t row = 0; row < sheet_->RowCount(); ++row)
    for (int32_t col = 0; col < sheet_->ColCount(); ++col)
      if (sheet_->GetAsString(col, row) == text && gridView_->SetCurCell(col, row)) return;
}

AnsiString TfrmTemplate::GetFieldValue(const AnsiString& name) const { return values_->GetFieldValue(name); }

bool TfrmTemplate::CollectFieldValues(bool changed, bool commit) { return values_->CollectFieldValues(changed, commit); }

AnsiString TfrmTemplate::CheckTitle() const { return values_->CheckTitle(); }

TFieldValues TfrmTemplate::PlaceholderFields() { return values_->PlaceholderFields(); }

void TfrmTemplate::ArrangeButtons() { layout_->ArrangeButtons(); }

void TfrmTemplate::AdjustLayout() { layout_->AdjustLayout(); }

void TfrmTemplate::FitFormToGrid() { layout_->FitFormToGrid(); }

void TfrmTemplate::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  if (loaded_) layout_->PlaceGrid();
}

void TfrmTemplate::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!pnlMind_->isHidden()) flatMemo_->setFocus();
  QTimer::singleShot(0, this, [this] { Guarded([this] { layout_->PlaceGrid(); }); });
}

// ---- routing ----

void TfrmTemplate::SelectStep(int stepNo) {
  const int i = chart_->IndexOfStep(stepNo);
  lblNextStep_->setText(ToQString(chart_->GetStepName(stepNo)));
  nextStepNo_ = stepNo;
  nextStepIndex_ = i;
  const TStepRecord* step = StepAt(i);
  nextHandlerNames_ = LoadNextHandlers(step, doc_->Header.Text(dh::AuthorId), doc_->Header.Text(dh::AuthorName),
                                       SessionValues().DeptID, doc_->PickedUsers);
  handlersFixed_ = step && step->lockHandlers;
  lblNextUser_->setText(ToQString(nextHandlerNames_));
  RefreshHandlerCombo();
}

void TfrmTemplate::ShowNextStep() {
  const TStepRecord* current = StepAt(curStepIndex_);
  manualChoice_ = current && current->allowStepJumps;
  if (chart_->IsEndStep(curStepNo_)) {
    SelectStep(curStepNo_);
    doc_->PickedUsers.clear();
    nextHandlerNames_.clear();
    AddNextHandler(SessionValues().UserGUID, SessionValues().UserName, doc_->PickedUsers, nextHandlerNames_);
  } else {
    const TStepRecord* next = StepAt(nextStepIndex_);
    nextHandlerNames_ = LoadNextHandlers(next, doc_->Header.Text(dh::AuthorId), doc_->Header.Text(dh::AuthorName),
                                         SessionValues().DeptID, doc_->PickedUsers);
    handlersFixed_ = nextStepIndex_ == -1 || (next && next->lockHandlers);
    lblNextStep_->setText(ToQString(chart_->GetStepName(nextStepNo_)));
  }
  lblNextUser_->setText(ToQString(nextHandlerNames_));
  RefreshHandlerCombo();
}

void TfrmTemplate::ShowStoredNext() {
  lblNextStep_->setText(ToQString(chart_->GetStepName(nextStepNo_)));
  AnsiString names;
  for (const frames::PickedUser& u : doc_->PickedUsers) JoinName(names, u.userName);
  lblNextUser_->setText(ToQString(names));
  RefreshHandlerCombo();
}

void TfrmTemplate::RefreshHandlerCombo() {
  cbxNextUsers_->clear();
  const QString text = lblNextUser_->text();
  if (text.contains(',')) {
    QStringList parts = text.split(',');
    if (!parts.isEmpty() && parts.front().isEmpty()) parts.pop_front();
    cbxNextUsers_->addItems(parts);
    cbxNextUsers_->setCurrentIndex(0);
    cbxNextUsers_->show();
    lblNextUser_->hide();
  } else {
    cbxNextUsers_->addItem(text);
    cbxNextUsers_->hide();
    lblNextUser_->show();
  }
}

void TfrmTemplate::ShowFlowChart() {
  pnlFlowChat_->show();
  pnlXLGrid_->hide();
  AttachmentList()->hide();
  for (const TPassedStep& p : doc_->PassedSteps) chart_->ColorStep(p.step, scmPassed);
  chart_->ColorStep(curStepNo_, scmCurrent);
  if (nextStepNo_ == -1) {
    chart_->MarkCandidates(curStepNo_);
  } else {
    chart_->ColorStep(nextStepNo_, scmChosen);
  }
  chart_->Repaint();
  SetBlinking(!chart_->Hidden());
}

void TfrmTemplate::TimerTimer() {
  SetBlinking(!chart_->Hidden());
  chart_->Blink();
}

void TfrmTemplate::Btn_BackClick() {
  pnlFlowChat_->hide();
  pnlXLGrid_->show();
  AttachmentList()->setVisible(attachments_->FileCount() > 0);
}

void TfrmTemplate::BuildFlowStrip() {
  for (QLabel* l : stripLabels_) delete l;
  stripLabels_.clear();
  // The strip takes the width the form has now, shown or not.
  for (QLayout* l : {layout(), pnlTop_->layout()}) {
    l->invalidate();
    l->activate();
  }
  const int right = std::max(pnlNextInfo_->width() - 4, 100);
  int x = 1, y = 1, grown = 0;
  const TDocHeader& h = doc_->Header;
  std::vector<int32_t> passed;
  for (const TPassedStep& p : doc_->PassedSteps) passed.push_back(p.step);
  const auto entries = chart_->StripEntries(passed, curStepNo_, h.I32(dh::NextStep) != -1,
                                             h.I32(dh::NextStep), Conditions());
  auto wrap = [&](int width) {
    if (x + width <= right || x == 1) return;
    x = 1;
    y += 22;
    grown += 22;
  };
  for (const TStripEntry& e : entries) {
    if (e.arrow) {
      auto* arrow = new QLabel(QString::fromUtf8(" -→ "), pnlFlow_);
      arrow->adjustSize();
      wrap(arrow->width());
      arrow->move(x, y + 6);
      arrow->show();
      x += arrow->width() + 3;
      stripLabels_.push_back(arrow);
      continue;
    }
    const bool current = !e.passed && e.stepNo == curStepNo_;
    auto* icon = new QLabel(pnlFlow_);
    icon->setFixedSize(18, 20);
    QPixmap pm(18, 20);
    pm.fill(Qt::transparent);
    {
      QPainter p(&pm);
      p.setBrush(current ? XLQColor(kCurrentStripColor) : QColor(0, 128, 0));
      p.drawEllipse(3, 5, 11, 11);
    }
    icon->setPixmap(pm);
    auto* label = new QLabel(e.stepNo == -1 ? QString::fromUtf8("需要手工选择") : ToQString(chart_->GetStepName(e.stepNo)),
                             pnlFlow_);
    if (current) {
      QFont f = label->font();
      f.setBold(true);
      label->setFont(f);
      label->setStyleSheet(QStringLiteral("color:%1").arg(XLQColor(kCurrentStripColor).name()));
    }
    label->adjustSize();
    wrap(18 + 3 + label->width());
    icon->move(x, y);
    label->move(x + 21, y + 6);
    icon->show();
    label->show();
    x = label->x() + label->width() + 3;
    stripLabels_.push_back(icon);
    stripLabels_.push_back(label);
    const bool clickable = e.stepNo == -1 || manualChoice_;
    if (clickable) {
      label->setCursor(Qt::PointingHandCursor);
      const AnsiString name = e.stepNo == -1 ? AnsiString() : chart_->GetStepName(e.stepNo);
      label->installEventFilter(this);
      label->setProperty("stripStep", ToQString(name));
    }
  }
  pnlFlow_->setMinimumHeight(24 + grown);
  const int delta = 65 + grown - pnlTop_->height();
  pnlTop_->setFixedHeight(65 + grown);
  // A dialog fitted to its grid grows with the strip, so the grid keeps its room.
  if (dialogMode_ && delta != 0 && !pnlTop_->isHidden()) setFixedHeight(height() + delta);
}

void TfrmTemplate::ChooseStripStep(const AnsiString& name) {
  if (name.empty()) {
    ShowFlowChart();
    return;
  }
  for (const TStepRecord& s : doc_->Steps)
    if (s.name == name) {
      SelectStep(s.id);
      break;
    }
  ArrangeButtons();
  for (QLabel* l : stripLabels_) {
    if (!l->property("stripStep").isValid() && l->text().isEmpty()) continue;
    QFont f = l->font();
    const bool chosen = l->property("stripStep").toString() == ToQString(name) && !name.empty();
    f.setBold(chosen);
    l->setFont(f);
    l->setStyleSheet(chosen ? QStringLiteral("color:%1").arg(XLQColor(kCurrentStripColor).name())
                            : QStringLiteral("color:black"));
  }
  chart_->ColorStep(-1, scmReset);
  ShowFlowChart();
}

// ---- requests ----

void TfrmTemplate::SendFrame(const std::string& frame) {
  if (TfrmMain* session = frmMain()) session->SendToServer(frame);
}

void TfrmTemplate::btnSendClick() {
  values_->StoreEdit();
  if (const AnsiString title = CheckTitle(); !title.empty()) {
    ShowMessageBox(title, Cp936(kCaption), MsgIcon::Question, MsgButtons::Ok, this);
    return;
  }
  if (lblNextStep_->text().isEmpty()) {
    ShowMessageBox(Cp936("请确定下一办理步骤！"), Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, this);
    ShowFlowChart();
    return;
  }
  if (lblNextUser_->text().isEmpty()) {
    ShowMessageBox(Cp936("请选择此流程的下一办理人！"), Cp936(kCaption), MsgIcon::Question, MsgButtons::Ok, this);
    btnNextUserClick();
    return;
  }
  TDocHeader& h = doc_->Header;
  h.SetText(dh::Opinion, ToAnsi(flatMemo_->toPlainText()));
  h.SetI32(dh::CurrentStep, curStepNo_);
  h.SetI32(dh::NextStep, nextStepNo_);
  h.SetU8(dh::SavedForDistribution, 0);
  if (const TStepRecord* step = StepAt(curStepIndex_)) h.SetU8(dh::EraseRevisions, step->eraseRevisions);
  h.SetU8(dh::TemporarySave, 0);
  closeOnReply_ = true;
  SetPendingDoit(tableName_, recordId_);
  values_->SaveDocument(1, true);
  // One submit at a time: the reply closes the form or gives the button back.
  if (submitted_) btnSend_->setEnabled(false);
}

bool TfrmTemplate::SaveFields(uint8_t temporary, uint8_t distribution, int32_t status) {
  return values_->SaveFields(temporary, distribution, status);
}

void TfrmTemplate::btnTemporaryClick() {
  // Nothing changed: nothing to send and nothing to say.
  if (!SaveFields(1, 0, 0)) return;
}

void TfrmTemplate::btnFileClick() {
  if (commandPending_ || !ConfirmYesNo(Cp936("是否将此审批（文件）归档？"), Cp936(kCaption), this)) return;
  // Archived, the close saves what changed without asking.
  SendDocCommand("INBOX", [this] { saveOnClose_ = true; });
  // The archive's message reports the document to the page; the form is still open.
  SetPendingDoit(tableName_, recordId_);
}

void TfrmTemplate::N_DeleteXLGridClick() {
  if (readOnly_ || commandPending_ || !ConfirmYesNo(Cp936("是否销毁此审批单？"), Cp936(kCaption), this)) return;
  SetPendingDoit(tableName_, recordId_);
  SendDocCommand("DELETE", [this] { destroyed_ = true; });
}

void TfrmTemplate::SendDocCommand(const char* verb, std::function<void()> accepted) {
  TfrmMain* session = frmMain();
  if (!session) return;
  commandPending_ = true;
  pnlBtn_->setEnabled(false);
  const QPointer<TfrmTemplate> self(this);
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
  session->SendToServer(frames::BuildDocCommandRequest(SessionValues().UserGUID, tableName_, recordId_, verb,
                                                       curStepNo_, nextStepNo_, doc_->Header.I32(dh::CopyNumber)),
                        std::move(ended));
}

void TfrmTemplate::btnNextUserClick() {
  if (handlersFixed_) return;
  pickNextHandler_ = true;
  RequestUsers(2, 0);
}

void TfrmTemplate::RequestUsers(uint8_t mode, int32_t list) {
  userRequestMode_ = mode;
  const AnsiString arg = mode == 2 ? IntToStr(nextStepNo_) : recordId_;
  SendFrame(frames::BuildUserRequest(tableName_, arg, frames::UserListMode(mode), SessionValues().CompID,
                                     SessionValues().UserGUID, list));
}

// A "USER" reply goes where the last request's mode says, so a reply for a panel the
// person already closed never takes over the next-handler or distribution lists.
void TfrmTemplate::ShowUserSelection(TMemoryStream& reply) {
  if (userRequestMode_ == 0) {
    if (!pnlSP_->isHidden()) pnlSP_->LoadUserRecords(reply.Data());
    return;
  }
  if (userRequestMode_ == 1) {
    // The dialog may outlive this form; nothing here touches the form after it.
    const auto keep = distribution_;
    keep->UsersArrived(reply.Data(), tableName_, recordId_, SessionValues().UserGUID, this);
    return;
  }
  if (!pickNextHandler_) return;
  pickNextHandler_ = false;
  const QPointer<TfrmTemplate> self(this);
  auto* dialog = new TfrmSelectUser(this);
  const QPointer<TfrmSelectUser> d(dialog);
  // The other pages are asked for as they are opened; their replies go into this dialog.
  dialog->OnRequestList = [self](int list) {
    if (self) self->RequestUsers(self->userRequestMode_, list);
  };
  dialog->LoadUsers(reply.Data(), ToAnsi(lblNextUser_->text()), false);
  const int result = dialog->exec();
  if (!self || !d) return;
  if (result == QDialog::Accepted) {
    std::vector<frames::PickedUser> entries(kMaxPickedUsers);
    AnsiString names;
    entries.resize(size_t(d->GetSelectedUsers(0, names, entries)));
    doc_->PickedUsers = std::move(entries);
    lblNextUser_->setText(ToQString(names));
    RefreshHandlerCombo();
    lblNextUser_->setToolTip(ToQString(names).replace(',', '\n'));
  }
  delete d.data();
}

// ---- opinion ----

void TfrmTemplate::btnSPClick() {
  if (opinionField_.empty()) return;
  ppmSP_->popup(mapToGlobal(QPoint(btnSP_->x() + 5, pnlTop_->height() + pnlMind_->height() + 30)));
}

void TfrmTemplate::nSignNameClick() {
  if (!opinionField_.empty()) flatMemo_->setPlainText(ToQString(SessionValues().UserName));
}

void TfrmTemplate::N1Click(const AnsiString& phrase) {
  flatMemo_->setPlainText(ToQString(AddMenuPhrase(ToAnsi(flatMemo_->toPlainText()), phrase)));
}

void TfrmTemplate::N9Click() {
  if (!pnlSP_->isHidden()) return;
  pickNextHandler_ = true;
  RequestUsers(0, 0);
  pnlSP_->move(flatMemo_->x(), 2);
  pnlSP_->show();
  pnlSP_->raise();
}

// ---- numbering ----

void TfrmTemplate::btnNOClick() {
  int year = 0, month = 0, day = 0;
  DecodeDate(Services::Clock().Now(), year, month, day);
  pnlNO_->Open(year);
  const QSize area = pnlMain_->viewport()->size();
  pnlNO_->move(std::max(0, (area.width() - pnlNO_->width()) / 2), std::max(0, (area.height() - pnlNO_->height()) / 2));
  SendFrame(frames::BuildNumbersRequest(SessionValues().CompID, tableName_));
}

void TfrmTemplate::ShowNumberList(TMemoryStream& reply) { pnlNO_->ShowNumberList(reply.Data()); }

void TfrmTemplate::NumberTaken(const TTakenNumber& taken) {
  chosenNumber_ = taken.index;
  if (!numberField_.empty()) {
    const TTemplateFields fields = values_->Fields();
    if (const TFieldEntry* f = fields.Find(numberField_); f && fields.CellOf(*f)) {
      values_->StoreEdit();
      sheet_->SetAsString(f->col, f->row, taken.text);
      const TPoint cur = gridView_->GetCurCell();
      if (cur.X == f->col && cur.Y == f->row) gridView_->RefreshEditor();
    }
  }
  doc_->Header.SetI32(dh::NumberType, taken.typeId);
  doc_->Header.SetI32(dh::Number, taken.number);
}

// ---- distribution ----

void TfrmTemplate::btnDistributionClick() {
  pickNextHandler_ = false;
  // The dialogs may outlive this form; nothing here touches the form after them.
  const auto keep = distribution_;
  keep->Start(doc_->Header.I32(dh::DistributionType), this);
}

void TfrmTemplate::ShowUnitSelection(TMemoryStream& reply) {
  const auto keep = distribution_;
  keep->UnitsArrived(reply.Data(), recordId_, tableName_, this);
}

// ---- sign-off comments ----

void TfrmTemplate::SetupCommentFrame() {
  frameQYYJ_->SetReplyVisible(doc_->Header.I32(dh::SignOffMode) == 2);
  frameQYYJ_->LoadComments(recordId_, tableName_, doc_->Comments);
}

void TfrmTemplate::BtnQPYJClick() {
  const bool show = frameQYYJ_->isHidden();
  frameQYYJ_->setVisible(show);
  // A dialog fitted to its grid grows by the frame, so the grid keeps its room.
  if (dialogMode_) setFixedHeight(height() + (show ? 1 : -1) * frameQYYJ_->height());
  layout_->PlaceGrid();
}

// ---- attachments ----

void TfrmTemplate::btnAttachmentClick() { attachments_->AttachmentClick(); }

void TfrmTemplate::btnFileReadonlyClick() { attachments_->ReadonlyClick(); }

void TfrmTemplate::RequestFile(const AnsiString& name) {
  SendFrame(frames::BuildFileRequest(SessionValues().UserGUID, tableName_, recordId_, name));
}

void TfrmTemplate::N_PrintXLGridClick() {
  if (!ConfirmYesNo(Cp936("是否打印此审批单？"), Cp936(kCaption), this)) return;
  if (!XLChoosePrinter(this)) return;  // the person cancelled the print or save dialog
  // Any current client cell, row and column 0 included.
  if (gridView_->GetCurCell().X >= 0 && gridView_->GetCurCell().Y >= 0) values_->StoreEdit();
  const bool anyCell = gridView_->AnyCellSelect();
  gridView_->SetAnyCellSelect(false);
  AnsiString failure;
  const bool ok = GuardedCall(
                      [this] {
                        values_->Fields().HideFilledRows();
                        sheet_->Print();
                      },
                      &failure) == S_OK;
  gridView_->SetAnyCellSelect(anyCell);
  if (!ok) {
    // One box: the person learns where it went wrong, the log what the printer said.
    LogFailure("printing the form: " + Cp936ToUtf8(failure));
    const QPrinter& printer = PrintTarget::Printer();
    const QString file = printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : QString();
    const AnsiString text = file.isEmpty() ? Cp936("打印出错，请确认是否连接打印机！")
                                           : Cp936("打印文件无法写入：") + ToAnsi(QDir::toNativeSeparators(file));
    ShowMessageBox(text, Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, this);
  }
  gridView_->RefreshEditor();
  gridView_->update();
}

// ---- closing ----

void TfrmTemplate::WaitPumping(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool TfrmTemplate::FormCloseQuery() {
  if (readOnly_ || !loaded_) return true;
  // Its save or command is on the way: the reply closes the form.
  if (closeAfterSave_ || commandPending_) return false;
  const QPointer<TfrmTemplate> self(this);
  // Either way the form stays until the server has the values, so a failed save loses
  // nothing. Set first: a save that fails at once must find the close waiting, to call it off.
  auto saveThenClose = [this](uint8_t temporary, int32_t status) {
    closeAfterSave_ = true;
    if (SaveFields(temporary, 0, status)) return false;
    closeAfterSave_ = false;
    return true;
  };
  if (saveOnClose_) {
    if (CollectFieldValues(false, false)) {
      WaitPumping(400);
      if (!self) return true;
      if (!saveThenClose(0, 1)) return false;
    }
  } else if (!destroyed_ && values_->HasUnsavedWork()) {
    const MsgResult answer =
        AskKeepingWork(Cp936("是否保存审批单？"), Cp936(kCaption), MsgButtons::YesNo, MsgResult::Yes, this);
    if (!self) return true;
    if (answer == MsgResult::Cancel) return false;
    // Only a submit moves the document on: this goes as a temporary save.
    if (answer == MsgResult::Yes && !saveThenClose(1, 0)) return false;
  }
  if (self) values_->StoreEdit();
  return true;
}

void TfrmTemplate::FormClose() {
  timer_->stop();
  if (cellPicker_ || !loaded_) return;
  SetPendingDoit(tableName_, recordId_);
  FireDoit();
}

void TfrmTemplate::closeEvent(QCloseEvent* e) {
  if (closing_ || isHidden()) {
    QDialog::closeEvent(e);
    return;
  }
  const QPointer<TfrmTemplate> self(this);
  closing_ = true;
  bool proceed = true;
  Guarded([&] { proceed = FormCloseQuery(); });
  if (!self) return;
  if (!proceed) {
    closing_ = false;
    e->ignore();
    return;
  }
  Guarded([this] { FormClose(); });
  if (!self) return;
  QDialog::closeEvent(e);
  if (self) closing_ = false;
}

void TfrmTemplate::reject() {
  if (closing_) {
    QDialog::reject();
    return;
  }
  close();
}

bool TfrmTemplate::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease)
    if (auto* label = qobject_cast<QLabel*>(watched); label && label->property("stripStep").isValid()) {
      const AnsiString name = ToAnsi(label->property("stripStep").toString());
      Guarded([&] { ChooseStripStep(name); });
      return true;
    }
  return QDialog::eventFilter(watched, event);
}

void RegisterTemplateForm() {
  auto& f = ReplyWindowFactories();
  if (!f.CreateTemplateForm) f.CreateTemplateForm = []() -> ITemplateForm* { return new TfrmTemplate(nullptr); };
}
