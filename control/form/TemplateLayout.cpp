#include "control/form/TemplateLayout.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "control/attachments/AttachmentList.h"
#include "control/form/DocDistribution.h"
#include "control/form/DocNumbering.h"
#include "control/form/DocOpinion.h"
#include "control/form/TemplateAttachments.h"
#include "control/form/TemplateCommands.h"
#include "control/form/TemplateFields.h"
#include "control/form/TemplateValues.h"
#include "control/form/frm_Template.h"
#include "control/office/frame_w.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "grid/XLCells.h"
#include "grid/ui/XLGridView.h"
#include "grid/ui/XLQtCanvas.h"
#include "platform/Guard.h"
#include "platform/QtText.h"
#include "platform/Services.h"

namespace {

constexpr int kMargin = 10;

QPushButton* FlatButton(const char* text, QWidget* parent, int w, int h) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setFlat(true);
  b->setFixedSize(w, h);
  return b;
}

}  // namespace

void TTemplateLayout::Build() {
  auto* root = new QVBoxLayout(&form_);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  root->addWidget(BuildTopPanel());
  root->addWidget(BuildOpinionPanel());
  root->addWidget(BuildSignOffBar());
  form_.frameQYYJ_ = new TFrameW(&form_);
  form_.frameQYYJ_->setFixedHeight(150);
  form_.frameQYYJ_->hide();
  root->addWidget(form_.frameQYYJ_);
  root->addWidget(BuildMainArea(), 1);
  root->addWidget(BuildStatusBar());

  form_.timer_ = new QTimer(&form_);
  form_.timer_->setInterval(500);
  QObject::connect(form_.timer_, &QTimer::timeout, &form_, [f = &form_] { Guarded([f] { f->TimerTimer(); }); });
  ConnectCommands();
  BuildMenus();
  WireDistribution();
  QObject::connect(form_.flatMemo_, &QTextEdit::textChanged, &form_, [f = &form_] { Guarded([f] { f->FlatMemoChange(); }); });
  form_.chart_->FreeChoice = [f = &form_] { return f->manualChoice_ || SessionValues().UserLevel == 1; };
  form_.chart_->OnChoose = [f = &form_](int stepNo) { f->SelectStep(stepNo); };
}

QWidget* TTemplateLayout::BuildTopPanel() {
  form_.pnlTop_ = new QWidget(&form_);
  form_.pnlTop_->setFixedHeight(65);
  auto* top = new QHBoxLayout(form_.pnlTop_);
  top->setContentsMargins(0, 0, 0, 0);
  form_.pnlNextInfo_ = new QWidget(form_.pnlTop_);
  auto* info = new QVBoxLayout(form_.pnlNextInfo_);
  info->setContentsMargins(2, 2, 2, 2);
  auto* row = new QHBoxLayout;
  form_.btnNextStep_ = new QPushButton(QString::fromUtf8("下一步流程:"), form_.pnlNextInfo_);
  form_.btnNextStep_->setFlat(true);
  form_.lblNextStep_ = new QLabel(form_.pnlNextInfo_);
  form_.btnNextUser_ = new QPushButton(QString::fromUtf8("下一办理人:"), form_.pnlNextInfo_);
  form_.btnNextUser_->setFlat(true);
  form_.btnNextUser_->setObjectName("btnNextUser");
  form_.lblNextUser_ = new QLabel(form_.pnlNextInfo_);
  form_.cbxNextUsers_ = new QComboBox(form_.pnlNextInfo_);
  form_.cbxNextUsers_->hide();
  row->addWidget(form_.btnNextStep_);
  row->addWidget(form_.lblNextStep_, 1);
  row->addWidget(form_.btnNextUser_);
  row->addWidget(form_.lblNextUser_, 1);
  row->addWidget(form_.cbxNextUsers_, 1);
  info->addLayout(row);
  form_.pnlFlow_ = new QWidget(form_.pnlNextInfo_);
  form_.pnlFlow_->setMinimumHeight(24);
  info->addWidget(form_.pnlFlow_, 1);
  top->addWidget(form_.pnlNextInfo_, 1);
  top->addWidget(BuildCommandButtons());
  form_.pnlTop_->hide();
  return form_.pnlTop_;
}

QWidget* TTemplateLayout::BuildCommandButtons() {
  form_.pnlBtn_ = new QWidget(form_.pnlTop_);
  // Named, so that automation and screen readers find each command.
  auto mk = [&](const char* text, const char* name) {
    QPushButton* b = FlatButton(text, form_.pnlBtn_, kCommandButtonWidth, 52);
    b->setObjectName(QString::fromLatin1(name));
    return b;
  };
  form_.btnNO_ = mk("编号", "btnNO");
  form_.btnAttachment_ = mk("附件", "btnAttachment");
  form_.btnTemporary_ = mk("暂存", "btnTemporary");
  form_.btnDistribution_ = mk("分发", "btnDistribution");
  form_.btnSend_ = mk("提交", "btnSend");
  form_.btnFile_ = mk("归档", "btnFile");
  form_.btnClose_ = mk("关闭", "btnClose");
  return form_.pnlBtn_;
}

QWidget* TTemplateLayout::BuildOpinionPanel() {
  form_.pnlMind_ = new QWidget(&form_);
  form_.pnlMind_->setFixedHeight(58);
  auto* mind = new QHBoxLayout(form_.pnlMind_);
  mind->setContentsMargins(2, 2, 2, 2);
  form_.btnSP_ = new QPushButton(QString::fromUtf8("签批意见:"), form_.pnlMind_);
  form_.btnSP_->setFlat(true);
  form_.flatMemo_ = new QTextEdit(form_.pnlMind_);
  form_.flatMemo_->setAcceptRichText(false);
  QFont memoFont = form_.flatMemo_->font();
  memoFont.setPixelSize(16);
  memoFont.setBold(true);
  form_.flatMemo_->setFont(memoFont);
  form_.flatMemo_->setTextColor(QColor(0, 128, 0));
  mind->addWidget(form_.btnSP_);
  mind->addWidget(form_.flatMemo_, 1);
  form_.pnlMind_->hide();
  return form_.pnlMind_;
}

QWidget* TTemplateLayout::BuildSignOffBar() {
  form_.pnlQP_ = new QWidget(&form_);
  form_.pnlQP_->setFixedHeight(38);
  form_.btnPrint_ = FlatButton("打印表单", form_.pnlQP_, 80, 30);
  form_.btnQPYJ_ = FlatButton("签批意见", form_.pnlQP_, 80, 30);
  form_.btnFileReadonly_ = FlatButton("附件", form_.pnlQP_, 80, 30);
  form_.btnFileReadonly_->setObjectName("btnFileReadonly");
  form_.btnExit_ = FlatButton("关闭返回", form_.pnlQP_, 80, 30);
  return form_.pnlQP_;
}

QWidget* TTemplateLayout::BuildMainArea() {
  form_.pnlMain_ = new QScrollArea(&form_);
  form_.pnlMain_->setWidgetResizable(false);
  form_.pnlMain_->setFrameShape(QFrame::NoFrame);
  form_.mainContent_ = new QWidget;
  form_.pnlMain_->setWidget(form_.mainContent_);
  BuildGrid();
  BuildChartPanel();
  form_.attachments_ = std::make_unique<TTemplateAttachments>(form_, form_.mainContent_);
  BuildFloatingPanels();
  return form_.pnlMain_;
}

void TTemplateLayout::BuildGrid() {
  form_.pnlXLGrid_ = new QWidget(form_.mainContent_);
  auto* gridLayout = new QVBoxLayout(form_.pnlXLGrid_);
  gridLayout->setContentsMargins(0, 0, 0, 0);
  form_.gridView_ = new TXLGrid(form_.pnlXLGrid_);
  form_.gridView_->SetOptions(form_.gridView_->Options() & ~(OptionBit(oTitleCols) | OptionBit(oTitleRows)));
  form_.gridView_->SetShowHint(true);
  form_.gridView_->SetSheet(form_.sheet_.get());
  // Screen readers and UI automation hear a field's cell by the field's name.
  form_.gridView_->SetCellNamer([this](TPoint at) -> QString {
    if (!form_.fieldsHaveCells_ || !form_.doc_) return {};
    for (const TFieldEntry& f : form_.doc_->Fields)
      if (f.col == at.X && f.row == at.Y) return ToQString(f.name);
    return {};
  });
  gridLayout->addWidget(form_.gridView_);
}

void TTemplateLayout::BuildChartPanel() {
  form_.pnlFlowChat_ = new QWidget(form_.mainContent_);
  auto* chartLayout = new QVBoxLayout(form_.pnlFlowChat_);
  auto* legend = new QHBoxLayout;
  const std::pair<TColor, const char*> legends[] = {{StepColors[scmPassed], "已办理点"},
                                                    {StepColors[scmCurrent], "正办理点"},
                                                    {StepColors[scmChosen], "将办理点"},
                                                    {StepColors[scmReset], "未办理点"}};
  for (const auto& [color, text] : legends) {
    auto* swatch = new QLabel(form_.pnlFlowChat_);
    swatch->setFixedSize(16, 16);
    swatch->setStyleSheet(QStringLiteral("background:%1;border:1px solid black").arg(XLQColor(color).name()));
    legend->addWidget(swatch);
    legend->addWidget(new QLabel(QString::fromUtf8(text), form_.pnlFlowChat_));
  }
  legend->addStretch(1);
  form_.btnBack_ = new QPushButton(QString::fromUtf8("返回表单显示"), form_.pnlFlowChat_);
  legend->addWidget(form_.btnBack_);
  chartLayout->addLayout(legend);
  form_.chart_ = std::make_unique<TFormChart>(form_.pnlFlowChat_);
  chartLayout->addWidget(form_.chart_->Widget(), 1);
  form_.pnlFlowChat_->hide();
}

void TTemplateLayout::BuildFloatingPanels() {
  // The floating panels of the scroll box: opinion phrases and numbering.
  form_.pnlSP_ = new TPhrasePanel(form_.flatMemo_, form_.mainContent_);
  form_.pnlSP_->resize(420, 240);
  form_.pnlSP_->hide();
  form_.pnlNO_ = new TNumberPanel(form_.mainContent_);
  form_.pnlNO_->resize(300, 220);
  // Both stand over the grid: they paint their whole area, so no cell text shows through.
  for (QWidget* panel : {static_cast<QWidget*>(form_.pnlSP_), static_cast<QWidget*>(form_.pnlNO_)}) {
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::Window);
  }
}

QWidget* TTemplateLayout::BuildStatusBar() {
  form_.statusBar_ = new QStatusBar(&form_);
  auto* s1 = new QLabel(QString::fromUtf8("[Calvessa 网络办公自动化系统 Ver 1.0]"), form_.statusBar_);
  s1->setFixedWidth(230);
  auto* s2 = new QLabel(QString::fromUtf8("智能表单显示录入平台"), form_.statusBar_);
  s2->setFixedWidth(140);
  form_.statusBar_->addWidget(s1);
  form_.statusBar_->addWidget(s2);
  form_.progressBar_ = new QProgressBar(form_.statusBar_);
  form_.progressBar_->setTextVisible(false);
  form_.statusBar_->addWidget(form_.progressBar_, 1);
  form_.btnPrintFrom_ = new QPushButton(QString::fromUtf8("打印表单"), form_.statusBar_);
  form_.statusBar_->addPermanentWidget(form_.btnPrintFrom_);
  return form_.statusBar_;
}

void TTemplateLayout::ConnectCommands() {
  auto on = [this](QPushButton* b, void (TfrmTemplate::*fn)()) {
    QObject::connect(b, &QPushButton::clicked, &form_, [f = &form_, fn] { Guarded([f, fn] { (f->*fn)(); }); });
  };
  on(form_.btnSend_, &TfrmTemplate::btnSendClick);
  on(form_.btnTemporary_, &TfrmTemplate::btnTemporaryClick);
  on(form_.btnFile_, &TfrmTemplate::btnFileClick);
  on(form_.btnPrint_, &TfrmTemplate::N_PrintXLGridClick);
  on(form_.btnPrintFrom_, &TfrmTemplate::N_PrintXLGridClick);
  on(form_.btnNextUser_, &TfrmTemplate::btnNextUserClick);
  on(form_.btnNextStep_, &TfrmTemplate::ShowFlowChart);
  on(form_.btnBack_, &TfrmTemplate::Btn_BackClick);
  QObject::connect(form_.btnClose_, &QPushButton::clicked, &form_, [f = &form_] { f->close(); });
  QObject::connect(form_.btnExit_, &QPushButton::clicked, &form_, [f = &form_] { f->close(); });
  on(form_.btnAttachment_, &TfrmTemplate::btnAttachmentClick);
  on(form_.btnFileReadonly_, &TfrmTemplate::btnFileReadonlyClick);

  on(form_.btnNO_, &TfrmTemplate::btnNOClick);
  on(form_.btnQPYJ_, &TfrmTemplate::BtnQPYJClick);
  on(form_.btnDistribution_, &TfrmTemplate::btnDistributionClick);
  on(form_.btnSP_, &TfrmTemplate::btnSPClick);
  form_.pnlNO_->OnNumberTaken = [f = &form_](const TTakenNumber& t) { f->commands_->NumberTaken(t); };
}

void TTemplateLayout::BuildMenus() {
  // "签名", the phrases (added at load), "审批意见合成".
  form_.ppmSP_ = new QMenu(&form_);
  QObject::connect(form_.ppmSP_->addAction(QString::fromUtf8("签名")), &QAction::triggered, &form_,
          [f = &form_] { Guarded([f] { f->nSignNameClick(); }); });
  form_.ppmSP_->addSeparator();
  form_.ppmSP_->addSeparator();
  QObject::connect(form_.ppmSP_->addAction(QString::fromUtf8("审批意见合成")), &QAction::triggered, &form_,
          [f = &form_] { Guarded([f] { f->N9Click(); }); });

  form_.ppmForm_ = new QMenu(&form_);
  form_.nPrintXLGrid_ = form_.ppmForm_->addAction(QString::fromUtf8("打印审批（登记）单"));
  form_.nDeleteXLGrid_ = form_.ppmForm_->addAction(QString::fromUtf8("销毁审批（登记）单"));
  form_.nDeleteXLGrid_->setEnabled(false);
  QObject::connect(form_.nPrintXLGrid_, &QAction::triggered, &form_, [f = &form_] { Guarded([f] { f->N_PrintXLGridClick(); }); });
  QObject::connect(form_.nDeleteXLGrid_, &QAction::triggered, &form_, [f = &form_] { Guarded([f] { f->N_DeleteXLGridClick(); }); });
  form_.gridView_->SetPopupMenu(form_.ppmForm_);
}

void TTemplateLayout::WireDistribution() {
  // The hooks run inside the save's pump and the dialogs' loops, where the form may go.
  form_.distribution_ = std::make_shared<TDistribution>();
  const QPointer<TfrmTemplate> self(&form_);
  form_.distribution_->SaveForDistribution = [self] { return self && self->SaveFields(0, 1, 1); };
  form_.distribution_->Pump = [self](int ms) {
    if (self) self->WaitPumping(ms);
  };
  form_.distribution_->RequestUsers = [self](int list) {
    if (self) self->RequestUsers(1, list);
  };
  form_.distribution_->RequestUnits = [self] {
    if (self) self->commands_->SendFrame(frames::BuildUnitsRequest(SessionValues().CompID));
  };
  form_.distribution_->Send = [self](std::string frame) {
    if (self) self->commands_->SendFrame(frame);
  };
}

void TTemplateLayout::ArrangeButtons() {
  form_.buttons_ = ArrangeButtonSet(form_.StepAt(form_.curStepIndex_), form_.isStartStep_, form_.doc_->Status);
  form_.btnNO_->setVisible(form_.buttons_.number);
  form_.btnTemporary_->setVisible(form_.buttons_.temporary);
  form_.btnDistribution_->setVisible(form_.buttons_.distribution);
  form_.btnSend_->setVisible(form_.buttons_.send);
  form_.btnFile_->setVisible(form_.buttons_.archive);
  int x = 0;
  for (QPushButton* b : {form_.btnNO_, form_.btnAttachment_, form_.btnTemporary_, form_.btnDistribution_, form_.btnSend_, form_.btnFile_, form_.btnClose_}) {
    if (b->isHidden()) continue;
    b->move(x, 6);
    x += b->width();
  }
  form_.pnlBtn_->setFixedWidth(form_.buttons_.panelWidth);
}

void TTemplateLayout::AdjustLayout() {
  form_.pnlTop_->setVisible(!form_.readOnly_);
  form_.btnPrintFrom_->setVisible(!form_.readOnly_);
  form_.btnExit_->setVisible(form_.readOnly_);
  form_.btnPrint_->setVisible(true);
  form_.btnQPYJ_->setVisible(form_.doc_->Header.I32(dh::SignOffMode) > 0);
  form_.btnFileReadonly_->setVisible(form_.readOnly_ && !form_.doc_->AttachmentNames.empty());
  form_.pnlQP_->setVisible(!form_.btnQPYJ_->isHidden() || !form_.btnFileReadonly_->isHidden());
  form_.statusBar_->setVisible(true);
  form_.gridWidth_ = 20;
  for (int32_t c = 0; c < form_.sheet_->ColCount(); ++c) form_.gridWidth_ += form_.sheet_->GetRealSize(c, sCols);
  form_.gridHeight_ = 10;
  for (int32_t r = 0; r < form_.sheet_->RowCount(); ++r)
    if (form_.sheet_->IsVisible(r, sRows)) form_.gridHeight_ += form_.sheet_->GetRealSize(r, sRows);
  form_.pnlMind_->setVisible(!form_.readOnly_ && !form_.opinionField_.empty());
}

void TTemplateLayout::FitFormToGrid() {
  if (form_.dialogMode_) {
    int h = form_.style()->pixelMetric(QStyle::PM_TitleBarHeight) + form_.statusBar_->sizeHint().height() + form_.gridHeight_ + 10;
    if (!form_.pnlTop_->isHidden()) h += form_.pnlTop_->height();
    if (!form_.pnlMind_->isHidden()) h += form_.pnlMind_->height();
    if (!form_.pnlQP_->isHidden()) h += form_.pnlQP_->height();
    form_.setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // A sheet larger than the screen scrolls inside a window that fits on it.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() : QSize(form_.gridWidth_ + 10, h);
    form_.setFixedSize(std::min(form_.gridWidth_ + 10, room.width()), std::min(h, room.height()));
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    form_.resize(screen->availableGeometry().size());
    form_.setWindowState(form_.windowState() | Qt::WindowMaximized);
  }
  PlaceGrid();
}

void TTemplateLayout::PlaceGrid() {
  const int areaW = std::max(form_.pnlMain_->viewport()->width(), 100);
  const int areaH = std::max(form_.pnlMain_->viewport()->height(), 100);
  int w = form_.gridWidth_, left = 0;
  if (form_.dialogMode_) {
    left = 0;
  } else if (areaW >= form_.gridWidth_) {
    left = (areaW - form_.gridWidth_) / 2;
  } else {
    w = areaW - 10;
  }
  const int h = form_.dialogMode_ ? form_.gridHeight_ : std::min(areaH - 20, form_.gridHeight_);
  const int top = form_.dialogMode_ ? 0 : kMargin;
  form_.pnlXLGrid_->setGeometry(left, top, w, std::max(h, 20));
  if (form_.attachBelow_)
    form_.AttachmentList()->setGeometry(left, top + h + kMargin, w, 88);
  else
    form_.AttachmentList()->setGeometry(left + w + 11, top, 88, h);
  const bool files = form_.attachments_->FileCount() > 0;
  const int needW = left + w + (files && !form_.attachBelow_ ? 110 : 0);
  const int needH = top + h + (files && form_.attachBelow_ ? 98 : 0);
  form_.pnlFlowChat_->setGeometry(0, 0, areaW, areaH);
  form_.mainContent_->resize(std::max(needW, areaW), std::max(needH, areaH));
  // The visible buttons of the sign-off bar stand at its right end.
  int x = form_.pnlQP_->width();
  for (QPushButton* b : {form_.btnExit_, form_.btnFileReadonly_, form_.btnQPYJ_, form_.btnPrint_}) {
    if (b->isHidden()) continue;
    x -= b->width() + 5;
    b->move(x, 4);
  }
}


void TTemplateLayout::Load(TMemoryStream& reply) {
  form_.closeOnReply_ = true;
  {
    TMemoryStream part;
    TStream2Array::ReadBody(reply, part);
    part.SetPosition(0);
    form_.sheet_->LoadFromStream(part);
    TStream2Array::ReadTail(reply, part);
    part.SetPosition(0);
    form_.chart_->LoadFromStream(part);
  }
  form_.doc_->Fields = ScanCellFields(*form_.sheet_);
  form_.fieldsHaveCells_ = !form_.doc_->Fields.empty();
  reply.SetPosition(0);
  form_.doc_->LoadFromStream(reply);
  const TDocHeader& h = form_.doc_->Header;
  form_.tableName_ = h.Text(dh::TableName);
  form_.recordId_ = h.Text(dh::RecordId);
  form_.setAccessibleDescription(ToQString(form_.recordId_));
  form_.bodyFile_ = h.Text(dh::BodyFile);
  form_.dialogMode_ = h.U8(dh::Maximised) != 1;
  form_.titleField_ = h.Text(dh::TitleField);
  form_.numberField_ = h.Text(dh::NumberField);
  form_.readOnly_ = h.U8(dh::ReadOnly) != 0;
  form_.attachBelow_ = h.I32(dh::AttachBelow);

  std::vector<std::pair<int32_t, AnsiString>> names;
  for (const TStepRecord& s : form_.doc_->Steps) names.emplace_back(s.id, s.name);
  form_.chart_->NumberSteps(names);

  form_.curStepNo_ = h.I32(dh::CurrentStep);
  const int start = form_.chart_->FindStartStep();
  if (form_.curStepNo_ == -1 || form_.curStepNo_ == 0) form_.curStepNo_ = start;
  form_.curStepIndex_ = form_.chart_->IndexOfStep(form_.curStepNo_);
  form_.isStartStep_ = start == form_.curStepNo_;

  ArrangeButtons();
  form_.nDeleteXLGrid_->setEnabled(!form_.readOnly_);
  const TAutoValues autoValues{&SessionValues(), Services::Clock().Now()};
  TTemplateFields fields = form_.values_->Fields();
  // A step missing from the chart has no permissions.
  const TStepRecord* step = form_.StepAt(form_.curStepIndex_);
  fields.ApplyStepPermissions(step, SessionValues().UserLevel, form_.readOnly_, autoValues);
  fields.LockLabels();
  fields.ClearCellHints();
  fields.FillDefaults(form_.newDoc_, autoValues);
  form_.opinionField_ = step ? step->opinionCell : AnsiString();
  if (!form_.opinionField_.empty())
    if (const TFieldEntry* f = fields.Find(form_.opinionField_)) {
      form_.opinionRow_ = f->row;
      form_.opinionCol_ = f->col;
      form_.opinionText_ = form_.sheet_->GetAsString(f->col, f->row);
    }

  const int storedNext = h.I32(dh::NextStep);
  form_.nextStepNo_ = storedNext == -1 ? form_.chart_->NextStep(form_.curStepNo_, form_.Conditions()) : storedNext;
  form_.nextStepIndex_ = form_.chart_->IndexOfStep(form_.nextStepNo_);
  if (storedNext == -1)
    form_.ShowNextStep();
  else
    form_.ShowStoredNext();

  form_.chosenNumber_ = -1;
  BuildPhraseMenu(form_.ppmSP_, form_.doc_->Phrases, [f = &form_](const AnsiString& p) { Guarded([&] { f->N1Click(p); }); });
  fields.FillAttachmentCells();
  form_.sheet_->SetReadOnly(form_.readOnly_);
  if (form_.readOnly_) form_.gridView_->SetOptions(form_.gridView_->Options() | OptionBit(oReadOnly));
  form_.gridView_->RefreshEditor();
  AdjustLayout();
  FitFormToGrid();
  form_.commands_->SetupCommentFrame();
  form_.BuildFlowStrip();
  form_.managerRequested_ = false;
  form_.CollectFieldValues(false, false);
  form_.values_->RememberOpened();
  form_.loaded_ = true;
  // The Word body opened from this form takes its field values.
  if (!form_.cellPicker_)
    SetPlaceholderSource([self = QPointer<TfrmTemplate>(&form_)] { return self ? self->PlaceholderFields() : TFieldValues(); });

  form_.attachments_->SendQuery(step ? step->attachmentsReadOnly : 1);
}

void TTemplateLayout::LoadSheet(TStream& sheet) {
  form_.sheet_->LoadFromStream(sheet);
  form_.sheet_->SetReadOnly(false);
  form_.readOnly_ = true;
  form_.gridView_->RefreshEditor();
}

