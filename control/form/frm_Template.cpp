#include "control/form/frm_Template.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLayout>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTextEdit>
#include <QTimer>

#include "grid/ui/XLEdit.h"
#include "grid/ui/XLGridView.h"
#include "control/attachments/AttachmentList.h"
#include "control/session/Un_function.h"
#include "control/form/TemplateAttachments.h"
#include "control/form/TemplateCommands.h"
#include "control/form/TemplateFields.h"
#include "control/form/TemplateLayout.h"
#include "control/form/TemplateValues.h"
#include "control/form/DocOpinion.h"
#include "control/office/WordPlaceholders.h"
#include "control/session/frm_Main.h"
#include "control/wire/Frames.h"
#include "control/wire/NextHandlers.h"
#include "control/wire/Un_type.h"
#include "platform/QtText.h"
#include "grid/XLCells.h"
#include "grid/XLPaint.h"
#include "grid/ui/XLQtCanvas.h"
#include "platform/Guard.h"
#include "platform/Services.h"

namespace {

const char* const kCaption = "系统提示";
constexpr TColor kCurrentStripColor = 4227327;  // 0x4080FF

}  // namespace


TfrmTemplate::TfrmTemplate(QWidget* parent)
    : QDialog(parent),
      sheet_(std::make_unique<TXLSheet>()),
      doc_(std::make_unique<TStream2Array>()),
      values_(std::make_unique<TTemplateValues>(*this)),
      layout_(std::make_unique<TTemplateLayout>(*this)),
      commands_(std::make_unique<TTemplateCommands>(*this)) {
  setWindowTitle(QString::fromUtf8("表单显示"));
  QFont f(QString::fromUtf8("宋体"));
  f.setPixelSize(12);
  setFont(f);
  resize(1062, 630);
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

void TfrmTemplate::Load(TMemoryStream& reply) { layout_->Load(reply); }

void TfrmTemplate::LoadSheet(TStream& sheet) { layout_->LoadSheet(sheet); }

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

// ---- commands ----

bool TfrmTemplate::SaveFields(uint8_t temporary, uint8_t distribution, int32_t status) {
  return values_->SaveFields(temporary, distribution, status);
}

void TfrmTemplate::btnAttachmentClick() { attachments_->AttachmentClick(); }

void TfrmTemplate::btnFileReadonlyClick() { attachments_->ReadonlyClick(); }

void TfrmTemplate::btnSendClick() { commands_->btnSendClick(); }

void TfrmTemplate::btnTemporaryClick() { commands_->btnTemporaryClick(); }

void TfrmTemplate::btnFileClick() { commands_->btnFileClick(); }

void TfrmTemplate::N_DeleteXLGridClick() { commands_->N_DeleteXLGridClick(); }

void TfrmTemplate::btnNextUserClick() { commands_->btnNextUserClick(); }

void TfrmTemplate::RequestUsers(uint8_t mode, int32_t list) { commands_->RequestUsers(mode, list); }

void TfrmTemplate::ShowUserSelection(TMemoryStream& reply) { commands_->ShowUserSelection(reply); }

void TfrmTemplate::btnSPClick() { commands_->btnSPClick(); }

void TfrmTemplate::nSignNameClick() { commands_->nSignNameClick(); }

void TfrmTemplate::N1Click(const AnsiString& phrase) { commands_->N1Click(phrase); }

void TfrmTemplate::N9Click() { commands_->N9Click(); }

void TfrmTemplate::btnNOClick() { commands_->btnNOClick(); }

void TfrmTemplate::ShowNumberList(TMemoryStream& reply) { commands_->ShowNumberList(reply); }

void TfrmTemplate::btnDistributionClick() { commands_->btnDistributionClick(); }

void TfrmTemplate::ShowUnitSelection(TMemoryStream& reply) { commands_->ShowUnitSelection(reply); }

void TfrmTemplate::BtnQPYJClick() { commands_->BtnQPYJClick(); }

void TfrmTemplate::RequestFile(const AnsiString& name) { commands_->RequestFile(name); }

void TfrmTemplate::N_PrintXLGridClick() { commands_->N_PrintXLGridClick(); }

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
  // Typed text that is no value for its cell (a date that is none) is not thrown away.
  if (!destroyed_ && !values_->StoreEdit()) return false;
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
