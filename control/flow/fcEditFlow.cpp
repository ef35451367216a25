#include "control/flow/fcEditFlow.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "control/session/Un_function.h"
#include "control/windows/WaitFOr.h"
#include "control/session/frm_Main.h"
#include "control/select/frm_SelectUser.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "flowchart/FcStream.h"
#include "platform/QtText.h"
#include "core/ScopeGuard.h"
#include "core/SysUtils.h"
#include "platform/Guard.h"
#include "platform/Services.h"

namespace {

constexpr size_t kStepNameBytes = 50;
constexpr size_t kOpinionCellBytes = 100;
const char kCaption[] = "系统提示";

// The longest prefix of text that is at most n code page 936 bytes, cut between characters.
QString CutToBytes(const QString& text, size_t n) {
  QString out;
  for (QChar c : text) {
    if (ToAnsi(out + c).size() > n) break;
    out += c;
  }
  return out;
}

AnsiString JoinNames(const std::vector<AnsiString>& names) {
  AnsiString s;
  for (const AnsiString& n : names) s += (s.empty() ? "" : ",") + n;
  return s;
}

AnsiString HandlerNames(const TStepRecord& r) {
  std::vector<AnsiString> names;
  for (uint32_t i = 0; i < std::min(r.handlerCount, kMaxHandlers); ++i) names.push_back(r.handlers[i].userName);
  return JoinNames(names);
}

// The form file list: both parts joined and trimmed, the first character dropped, split at
// each "|"; what follows the last "|" is not an item.
QStringList FormFiles(const AnsiString& part1, const AnsiString& part2) {
  QString all = ToQString(part1 + part2).trimmed();
  if (all.isEmpty()) return {};
  all.remove(0, 1);
  QStringList items = all.split('|');
  items.removeLast();
  return items;
}

// The user dialog as the editor's handler picker.
class TEditorUserPicker : public TfrmSelectUser, public IUserPicker {
 public:
  QWidget* AsWidget() override { return this; }
  void LoadUserList(TMemoryStream& reply) override { LoadUsers(reply.Data(), {}, false); }
  void SetChosenUsers(const std::vector<std::pair<AnsiString, AnsiString>>& users) override {
    std::vector<frames::PickedUser> picked;
    for (const auto& [id, name] : users) {
      frames::PickedUser u;
      u.userId = id;
      u.userName = name;
      picked.push_back(u);
    }
    PreselectUsers(picked);
  }
  void SetListRequest(std::function<void(int list)> request) override { OnRequestList = std::move(request); }
  int ShowModal() override { return exec() == QDialog::Accepted ? 1 : 0; }
  std::vector<std::pair<AnsiString, AnsiString>> PickedUsers() const override {
    std::vector<std::pair<AnsiString, AnsiString>> out;
    for (const frames::PickedUser& u : ChosenUsers()) out.push_back({u.userId, u.userName});
    return out;
  }
};

}  // namespace

void TFcRequestCombo::showPopup() {
  if (OnDropDown) Guarded([&] { OnDropDown(); });
}

TFFlowEditor::TFFlowEditor(QWidget* parent) : TFChartEditor(parent) {
  for (TStepRecord& r : work_) r = TStepRecord{};
  Send = [this](std::string frame) {
    TfrmMain* session = frmMain();
    if (!session) return;
    if (frames::FrameCode(frame) != "FLOW") {
      session->SendToServer(std::move(frame));
      return;
    }
    QPointer<TFFlowEditor> self(this);
    session->SendToServer(std::move(frame), [self](TRequestEnd end, const std::string& reply) {
      if (self) self->SaveEnded(end == TRequestEnd::Replied ? &reply : nullptr);
    });
  };
  BuildPanels();
  ClearPanel();
  // Enter in a field must not press a button of the panel either.
  for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
}

TFFlowEditor::~TFFlowEditor() {
  // Closing the window moves the focus out of a field, whose handlers would run on a
  // half-destroyed editor.
  for (QWidget* w : findChildren<QWidget*>()) w->disconnect(this);
}

void TFFlowEditor::BuildPanels() {
  GroupBox1 = new QGroupBox(QString::fromUtf8("流程属性"), this);
  auto* f = new QFormLayout(GroupBox1);
  cb_Xls = new TFcRequestCombo(GroupBox1);
  cb_Xls->setEditable(true);
  cb_DataBase = new QLineEdit(GroupBox1);
  cb_MsgTitle = new TFcRequestCombo(GroupBox1);
  cb_MsgTitle->setEditable(true);
  cbNOName = new TFcRequestCombo(GroupBox1);
  cbNOName->setEditable(true);
  cb_FullScreen = new QCheckBox(QString::fromUtf8("全屏显示表单"), GroupBox1);
  cbxFenFaType = new QComboBox(GroupBox1);
  cbxFenFaType->addItems({QString::fromUtf8("无"), QString::fromUtf8("对内分发"), QString::fromUtf8("对外分发"), QString::fromUtf8("对内外分发")});
  cbxFenFaType->setCurrentIndex(0);
  f->addRow(QString::fromUtf8("表单："), cb_Xls);
  f->addRow(QString::fromUtf8("数据库："), cb_DataBase);
  f->addRow(QString::fromUtf8("标题单元："), cb_MsgTitle);
  f->addRow(QString::fromUtf8("编号单元："), cbNOName);
  f->addRow(QString::fromUtf8("分发："), cbxFenFaType);
  f->addRow(cb_FullScreen);
  PropertyColumn->addWidget(GroupBox1);
  // The form's own list is the drop-down of the form box; the cell boxes ask for a cell.
  cb_Xls->OnDropDown = [this] { cb_Xls->QComboBox::showPopup(); };
  cb_MsgTitle->OnDropDown = [this] {
    pickMode_ = 0;
    SendRequest("XSLF", ToAnsi(cb_Xls->currentText()), {});
  };
  cbNOName->OnDropDown = [this] {
    pickMode_ = 1;
    SendRequest("XSLF", ToAnsi(cb_Xls->currentText()), {});
  };

  GroupBox2 = new QGroupBox(QString::fromUtf8("步骤属性"), this);
  auto* g = new QVBoxLayout(GroupBox2);
  auto* names = new QFormLayout;
  g->addLayout(names);
  edt_StepName = new QLineEdit(GroupBox2);
  auto* userRow = new QHBoxLayout;
  edt_OpUser = new QLineEdit(GroupBox2);
  edt_OpUser->setReadOnly(true);
  btnOpUser = new QToolButton(GroupBox2);
  btnOpUser->setText("...");
  userRow->addWidget(edt_OpUser, 1);
  userRow->addWidget(btnOpUser);
  edtWFValue = new QLineEdit(GroupBox2);
  edtWFValue->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edtWFValue));
  // The record keeps 255 digits: the box takes no more than that, so what shows is what is kept.
  edtWFValue->setMaxLength(255);
  names->addRow(QString::fromUtf8("步骤名称："), edt_StepName);
  names->addRow(QString::fromUtf8("办理人："), userRow);
  names->addRow(QString::fromUtf8("办理天数："), edtWFValue);
  auto* checks = new QGridLayout;
  g->addLayout(checks);
  ckb_isReadOnly = new QCheckBox(QString::fromUtf8("附件可编辑"), GroupBox2);
  chb_LockOpUser = new QCheckBox(QString::fromUtf8("锁定办理人"), GroupBox2);
  ckb_isSkipStep = new QCheckBox(QString::fromUtf8("允许流程步骤跳转"), GroupBox2);
  ckb_isCanDispatch = new QCheckBox(QString::fromUtf8("出现分发按钮"), GroupBox2);
  ckb_isCanArchives = new QCheckBox(QString::fromUtf8("出现归档按钮"), GroupBox2);
  cbxIsDept = new QCheckBox(QString::fromUtf8("科室审核"), GroupBox2);
  cbxIsNo = new QCheckBox(QString::fromUtf8("出现编号按钮"), GroupBox2);
  cbxIsDrafters = new QCheckBox(QString::fromUtf8("起草人"), GroupBox2);
  cbxIsRevisions = new QCheckBox(QString::fromUtf8("擦除修订痕迹"), GroupBox2);
  QCheckBox* all[] = {ckb_isReadOnly, chb_LockOpUser, ckb_isSkipStep, ckb_isCanDispatch, ckb_isCanArchives,
                      cbxIsDept,      cbxIsNo,        cbxIsDrafters,  cbxIsRevisions};
  for (int i = 0; i < 9; ++i) {
    checks->addWidget(all[i], i / 2, i % 2);
    connect(all[i], &QCheckBox::clicked, this, [this] { Guarded([&] { StoreChecks(); }); });
  }
  auto* cellRow = new QHBoxLayout;
  edtEditCells = new QLineEdit(GroupBox2);
  edtEditCells->setReadOnly(true);
  btn_AddEditCell = new QPushButton("+", GroupBox2);
  btn_ClearEditCell = new QPushButton("x", GroupBox2);
  cellRow->addWidget(new QLabel(QString::fromUtf8("可编辑单元："), GroupBox2));
  cellRow->addWidget(edtEditCells, 1);
  cellRow->addWidget(btn_AddEditCell);
  cellRow->addWidget(btn_ClearEditCell);
  g->addLayout(cellRow);
  auto* msgRow = new QHBoxLayout;
  edtMsgField = new QLineEdit(GroupBox2);
  edtMsgField->setReadOnly(true);
  btnMsgField = new QPushButton("...", GroupBox2);
  btnClearMsgField = new QPushButton("x", GroupBox2);
  msgRow->addWidget(new QLabel(QString::fromUtf8("审批意见单元："), GroupBox2));
  msgRow->addWidget(edtMsgField, 1);
  msgRow->addWidget(btnMsgField);
  msgRow->addWidget(btnClearMsgField);
  g->addLayout(msgRow);
  PropertyColumn->addWidget(GroupBox2);
  PropertyColumn->addStretch();
  for (QPushButton* b : {btn_AddEditCell, btn_ClearEditCell, btnMsgField, btnClearMsgField}) b->setFixedWidth(28);
  // Names the walk finds the step's fields and pickers by.
  edt_StepName->setObjectName("edt_StepName");
  edt_OpUser->setObjectName("edt_OpUser");
  btnOpUser->setObjectName("btnOpUser");
  edtWFValue->setObjectName("edtWFValue");
  edtEditCells->setObjectName("edtEditCells");
  btn_AddEditCell->setObjectName("btn_AddEditCell");
  edtMsgField->setObjectName("edtMsgField");
  btnMsgField->setObjectName("btnMsgField");
  GroupBox1->setMaximumWidth(320);
  GroupBox2->setMaximumWidth(320);

  connect(btnOpUser, &QToolButton::clicked, this, [this] {
    Guarded([&] { SendRequest("USER", {}, current_ >= 0 ? std::to_string(work_[size_t(current_)].id) : AnsiString()); });
  });
  connect(btnMsgField, &QPushButton::clicked, this, [this] {
    Guarded([&] {
      pickMode_ = 2;
      SendRequest("XSLF", ToAnsi(cb_Xls->currentText()), current_ >= 0 ? std::to_string(work_[size_t(current_)].id) : AnsiString());
    });
  });
  connect(btn_AddEditCell, &QPushButton::clicked, this, [this] {
    Guarded([&] {
      pickMode_ = 3;
      SendRequest("XSLF", ToAnsi(cb_Xls->currentText()), current_ >= 0 ? std::to_string(work_[size_t(current_)].id) : AnsiString());
    });
  });
  connect(btnClearMsgField, &QPushButton::clicked, this, [this] { Guarded([&] { SetMsgFieldCell({}); }); });
  connect(btn_ClearEditCell, &QPushButton::clicked, this, [this] { Guarded([&] { AddEditCell({}); }); });
  connect(edtWFValue, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (TStepRecord* r = Current()) r->daysToHandle = ToAnsi(t);
  });
  connect(edt_StepName, &QLineEdit::textEdited, this, [this](const QString& t) { Guarded([&] { StepNameEdited(t); }); });
  connect(edt_StepName, &QLineEdit::editingFinished, this, [this] { Guarded([&] { CheckStepName(); }); });
}

// ---- the step panel

TStepRecord* TFFlowEditor::Current() { return current_ >= 0 && current_ < kSlots ? &work_[size_t(current_)] : nullptr; }

void TFFlowEditor::EnablePanel(bool on) { GroupBox2->setEnabled(on); }

void TFFlowEditor::ClearPanel() {
  showing_ = true;
  edt_StepName->clear();
  edt_OpUser->clear();
  edtWFValue->clear();
  for (QCheckBox* c : GroupBox2->findChildren<QCheckBox*>()) c->setChecked(false);
  edtEditCells->clear();
  edtMsgField->clear();
  handlerNames_.clear();
  current_ = -1;
  showing_ = false;
  EnablePanel(false);
}

void TFFlowEditor::ShowStep(int index) {
  if (index < 0) {
    ClearPanel();
    return;
  }
  showing_ = true;
  current_ = index;
  const TStepRecord& r = work_[size_t(index)];
  edt_StepName->setText(ToQString(r.name));
  ckb_isReadOnly->setChecked(r.attachmentsReadOnly == 0);
  chb_LockOpUser->setChecked(r.lockHandlers);
  ckb_isSkipStep->setChecked(r.allowStepJumps);
  ckb_isCanDispatch->setChecked(r.showDistribute);
  ckb_isCanArchives->setChecked(r.showArchive);
  cbxIsDept->setChecked(r.departmentReview);
  cbxIsNo->setChecked(r.showNumbering);
  cbxIsDrafters->setChecked(r.authorIsHandler);
  cbxIsRevisions->setChecked(r.eraseRevisions);
  edtWFValue->setText(ToQString(r.daysToHandle));
  edtEditCells->setText(ToQString(r.editableCells));
  edtMsgField->setText(ToQString(r.opinionCell));
  handlerNames_ = HandlerNames(r);
  edt_OpUser->setText(ToQString(handlerNames_));
  edt_OpUser->setEnabled(!r.authorIsHandler);
  btnOpUser->setEnabled(!r.authorIsHandler);
  showing_ = false;
  EnablePanel(true);
}

void TFFlowEditor::StoreChecks() {
  TStepRecord* r = Current();
  if (!r || showing_) return;
  r->attachmentsReadOnly = ckb_isReadOnly->isChecked() ? 0 : 1;
  r->lockHandlers = chb_LockOpUser->isChecked();
  r->allowStepJumps = ckb_isSkipStep->isChecked();
  r->showDistribute = ckb_isCanDispatch->isChecked();
  r->showArchive = ckb_isCanArchives->isChecked();
  r->departmentReview = cbxIsDept->isChecked();
  r->showNumbering = cbxIsNo->isChecked();
  r->eraseRevisions = cbxIsRevisions->isChecked();
  r->authorIsHandler = cbxIsDrafters->isChecked();
  if (r->authorIsHandler) {
    // The author handles the step: no one else is named.
    r->handlerCount = 0;
    for (THandlerEntry& h : r->handlers) h = THandlerEntry{};
    handlerNames_.clear();
    edt_OpUser->clear();
  }
  edt_OpUser->setEnabled(!r->authorIsHandler);
  btnOpUser->setEnabled(!r->authorIsHandler);
}

void TFFlowEditor::StepNameEdited(const QString& typed) {
  // The record holds 50 bytes of name: a longer object text would lose its record.
  const QString text = CutToBytes(typed, kStepNameBytes);
  if (text != typed) edt_StepName->setText(text);
  TStepRecord* r = Current();
  TFcObject* o = ObjectOf(current_);
  if (!r || !o) return;
  r->name = ToAnsi(text);
  const bool was = snapshots_;
  snapshots_ = false;
  o->SetText(r->name);
  snapshots_ = was;
}

AnsiString TFFlowEditor::NameProblem(const TFcObject* o) const { return NameProblem(o, o->Text()); }

AnsiString TFFlowEditor::NameProblem(const TFcObject* o, const AnsiString& name) const {
  if (name.empty()) return Cp936("请填写流程名称！");
  for (int i = 0; i < Chart->ObjectCount(); ++i)
    if (Chart->Objects(i) != o && Chart->Objects(i)->Text() == name)
      return Cp936("当前流程步骤名称不能与其他步骤名称相同，请修改！");
  return {};
}

bool TFFlowEditor::CheckStepName() {
  TFcObject* o = ObjectOf(current_);
  if (!o || !GroupBox2->isEnabled()) return true;
  const AnsiString problem = NameProblem(o, ToAnsi(edt_StepName->text()));
  // Leaving the box for the save button: the save's own check says it, once.
  if (!problem.empty() && QApplication::focusWidget() == BitBtn1) return false;
  if (!problem.empty()) {
    ShowMessageBox(problem, Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, this);
    edt_StepName->setFocus();
    return false;
  }
  TakeSnapshot();
  return true;
}

bool TFFlowEditor::CanLeaveStep() {
  TFcObject* o = ObjectOf(current_);
  if (!o) return true;
  const AnsiString problem = NameProblem(o);
  if (problem.empty()) return true;
  // Leaving the name box already said why; a second click says it again.
  if (!edt_StepName->hasFocus())
    ShowMessageBox(problem, Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, this);
  edt_StepName->setFocus();
  return false;
}

// ---- steps as the chart changes

int TFFlowEditor::FindStep(const AnsiString& idText, const AnsiString& name) const {
  if (!idText.empty()) {
    for (int i = 0; i < kSlots; ++i)
      if (keys_[size_t(i)] == idText) return i;
    return -1;
  }
  if (name.empty()) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (!keys_[size_t(i)].empty() && work_[size_t(i)].name == name) return i;
  return -1;
}

TFcObject* TFFlowEditor::ObjectOf(int index) const {
  if (index < 0) return nullptr;
  for (int i = 0; i < Chart->ObjectCount(); ++i)
    if (RecordOf(Chart->Objects(i)) == index) return Chart->Objects(i);
  return nullptr;
}

bool TFFlowEditor::Mapped(int index) const { return ObjectOf(index) != nullptr; }

int TFFlowEditor::FreeSlot() const {
  for (int i = 0; i < kSlots; ++i)
    if (keys_[size_t(i)].empty()) return i;
  return -1;
}

AnsiString TFFlowEditor::NewKey() {
  // Never a decimal number, so it cannot be taken for a step the server knows.
  return "#" + std::to_string(++nextKey_);
}

int TFFlowEditor::AddRecord(const TStepRecord& r, TFcObject* o) {
  const int slot = FreeSlot();
  if (slot < 0) return -1;
  keys_[size_t(slot)] = NewKey();
  work_[size_t(slot)] = r;
  work_[size_t(slot)].name = o->Text().substr(0, kStepNameBytes);
  o->SetStepId(keys_[size_t(slot)]);
  ++workCount_;
  return slot;
}

bool TFFlowEditor::CanAddStep() {
  if (FreeSlot() >= 0) return true;
  // Records of new steps that left the chart (undone, deleted) make room.
  for (int i = 0; i < kSlots; ++i)
    if (work_[size_t(i)].id <= 0 && !Mapped(i)) {
      work_[size_t(i)] = TStepRecord{};
      keys_[size_t(i)].clear();
      --workCount_;
    }
  if (FreeSlot() >= 0) return true;
  ShowMessageBox(Cp936("流程步骤已满，不能再增加！"), Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, this);
  return false;
}

void TFFlowEditor::StepAdded(TFcObject* o) {
  const int slot = AddRecord(NewStepRecord(), o);
  if (slot < 0) return;
  // The panel edits the selected object's text together with its record: the new step
  // is selected, so what is typed into it right away reaches both.
  Chart->ClearSelection();
  o->SetSelected(true);
  ShowStep(slot);
}

void TFFlowEditor::StepPasted(TFcObject* pasted, const TFcObject* source) {
  const int from = FindStep(source->StepId(), source->StepId().empty() ? source->Text() : AnsiString());
  bool onChart = false;
  for (int i = 0; i < Chart->ObjectCount() && from >= 0; ++i)
    onChart = onChart || (Chart->Objects(i) != pasted && RecordOf(Chart->Objects(i)) == from);
  if (from >= 0 && !onChart) {
    // Cut and pasted: the step comes back as itself.
    pasted->SetStepId(keys_[size_t(from)]);
    work_[size_t(from)].name = pasted->Text();
    return;
  }
  if (!CanAddStep()) return;
  // A copy does what its original does, as a step of its own.
  TStepRecord r = from >= 0 ? work_[size_t(from)] : NewStepRecord();
  r.id = -1;
  r.changeState = stepAdded;
  AddRecord(r, pasted);
}

void TFFlowEditor::StepDeleted(TFcObject*) {
  // Deleted steps are worked out when saving, from the records no object maps to, so an
  // undone deletion leaves nothing behind.
  ClearPanel();
}

void TFFlowEditor::StepSelected(TFcObject* o) {
  if (reselecting_) return;
  // A step whose name cannot stay keeps the selection until the name is put right.
  if (TFcObject* shown = ObjectOf(current_); shown && shown != o && !NameProblem(shown).empty()) {
    const AnsiString key = shown->StepId();
    const AnsiString name = shown->Text();
    QPointer<TFFlowEditor> self(this);
    QTimer::singleShot(0, this, [self, key, name] {
      if (!self) return;
      Guarded([&] {
        const int index = self->FindStep(key, key.empty() ? name : AnsiString());
        TFcObject* back = self->ObjectOf(index);
        if (!back) return;
        self->reselecting_ = true;
        const auto done = ScopeExit([&] { self->reselecting_ = false; });
        self->Chart->ClearSelection();
        back->SetSelected(true);
        self->ShowStep(index);
        self->edt_StepName->setFocus();
      });
    });
    return;
  }
  if (!o) {
    ClearPanel();
    return;
  }
  int index = RecordOf(o);
  if (index < 0 && CanAddStep()) {
    // An object no record stands for is a new step from now on.
    const bool was = snapshots_;
    snapshots_ = false;
    index = AddRecord(NewStepRecord(), o);
    snapshots_ = was;
  }
  // Every change refreshes the selection: the step shown stays as the user is typing it.
  if (index >= 0 && index == current_ && GroupBox2->isEnabled()) return;
  ShowStep(index);
}

void TFFlowEditor::StepEdited(TFcObject* o, const AnsiString&) {
  const int i = RecordOf(o);
  if (o->Text().size() > kStepNameBytes) o->SetText(ToAnsi(CutToBytes(ToQString(o->Text()), kStepNameBytes)));
  if (i >= 0) work_[size_t(i)].name = o->Text();
  if (i >= 0 && !NameProblem(o).empty()) {
    // Put right in the panel, where the name stays until it can.
    reselecting_ = true;
    Chart->ClearSelection();
    o->SetSelected(true);
    reselecting_ = false;
    ShowStep(i);
    CheckStepName();
    return;
  }
  if (i == current_) ShowStep(i);
}

void TFFlowEditor::ChartReloaded() {
  // Undo brings back the chart; each object keeps its record, under the name it has now.
  for (int i = 0; i < Chart->ObjectCount(); ++i) {
    TFcObject* o = Chart->Objects(i);
    const int k = RecordOf(o);
    if (k >= 0) work_[size_t(k)].name = o->Text().substr(0, kStepNameBytes);
  }
  ClearPanel();
}

void TFFlowEditor::ChartFileOpened() {
  // A chart from a file holds no step records: an object named as a step takes that
  // step's record, any other object becomes a new step. Records stay for undo.
  std::vector<int> taken;
  for (int i = 0; i < Chart->ObjectCount(); ++i) {
    TFcObject* o = Chart->Objects(i);
    o->SetStepId({});
    int k = FindStep({}, o->Text());
    if (k >= 0 && std::find(taken.begin(), taken.end(), k) == taken.end()) {
      o->SetStepId(keys_[size_t(k)]);
    } else if (CanAddStep()) {
      k = AddRecord(NewStepRecord(), o);
    }
    taken.push_back(k);
  }
  ClearPanel();
}

// ---- flow messages

void TFFlowEditor::LoadFlow(TMemoryStream& reply) { LoadFlow(ParseFlowMessage(reply.Data())); }

void TFFlowEditor::LoadFlow(const TFlowMessage& m) {
  for (TStepRecord& r : work_) r = TStepRecord{};
  for (AnsiString& k : keys_) k.clear();
  workCount_ = int(std::min<size_t>(m.steps.size(), kSlots));
  for (int i = 0; i < workCount_; ++i) {
    work_[size_t(i)] = m.steps[size_t(i)];
    // Two records under one number still need ties of their own.
    const AnsiString key = std::to_string(m.steps[size_t(i)].id);
    keys_[size_t(i)] = std::find(keys_.begin(), keys_.begin() + i, key) == keys_.begin() + i ? key : NewKey();
  }
  if (m.steps.size() > size_t(kSlots))
    ShowMessageBox(Cp936("流程步骤超过101个，只读入了前101个步骤！"), Cp936(kCaption), MsgIcon::Warning, MsgButtons::Ok, this);
  const bool was = snapshots_;
  snapshots_ = false;
  if (!m.chart.empty()) {
    TMemoryStream chart{m.chart};
    Chart->LoadFromStream(chart);
    std::vector<int> taken;
    for (int i = 0; i < Chart->ObjectCount(); ++i) {
      TFcObject* o = Chart->Objects(i);
      AnsiString id;
      // Only the records read: an empty slot must not give an unnamed object an id.
      for (int k = 0; k < workCount_; ++k)
        if (!o->Text().empty() && work_[size_t(k)].name == o->Text() &&
            std::find(taken.begin(), taken.end(), k) == taken.end()) {
          id = keys_[size_t(k)];
          taken.push_back(k);
          break;
        }
      o->SetStepId(id);
    }
  }
  snapshots_ = was;
  flowId_ = m.flowId;
  madeFrom_ = m.madeFrom;
  flowName_ = m.flowName;
  setWindowTitle(QString::fromUtf8("流程定义－－") + ToQString(m.flowName));
  cb_DataBase->setText(ToQString(m.database));
  cb_MsgTitle->setEditText(ToQString(m.titleCell));
  cb_FullScreen->setChecked(m.fullScreen != 0);
  cb_Xls->clear();
  cb_Xls->addItems(FormFiles(m.formList1, m.formList2));
  cb_Xls->setEditText(ToQString(m.formFile));
  cbNOName->setEditText(ToQString(m.numberCell));
  cbxFenFaType->setCurrentIndex(m.distributionType < 4 ? int(m.distributionType) : 0);
  UndoManager().Clear();
  if (isVisible()) TakeSnapshot();
  ClearPanel();
  MarkSaved();
}

bool TFFlowEditor::CheckSteps() {
  const int n = Chart->ObjectCount();
  auto refuse = [this](TFcItem* item, const AnsiString& text) {
    Chart->ClearSelection();
    if (item) item->SetSelected(true);
    ShowMessageBox(text, Cp936("提示"), MsgIcon::Information, MsgButtons::Ok, this);
    return false;
  };
  auto unconnected = [](const TFcObject* o) { return "[" + o->Text() + Cp936("]流程节点没有连接，请检查上一步或下一步连接线。"); };
  if (n == 0) return refuse(nullptr, Cp936("流程中没有任何步骤，不能保存！"));
  for (int i = 0; i < n; ++i)
    if (AnsiString problem = NameProblem(Chart->Objects(i)); !problem.empty()) return refuse(Chart->Objects(i), problem);
  // Loose ends in the order the save walks the steps, naming the step the loose
  // connection hangs from.
  for (int i = 0; i < n; ++i) {
    TFcObject* o = Chart->Objects(i);
    for (int k = 0; k < o->ConnectionCount(); ++k)
      if (TFcConnection* c = o->Connections(k); !c->Source() || !c->Dest()) return refuse(c, unconnected(o));
  }
  for (int i = 0; i < Chart->ConnectionCount(); ++i) {
    TFcConnection* c = Chart->Connections(i);
    if (!c->Source() && !c->Dest()) return refuse(c, Cp936("流程连线没有连接到流程节点，请检查连接线。"));
  }
  // Every step must be reached from the start: the first step that a connection leaves
  // and none enters (in a loop, the first that one leaves). A step with no connection at
  // all starts nothing, wherever it stands.
  int start = -1, firstLeaving = -1;
  for (int i = 0; i < n && start < 0; ++i) {
    const TFcObject* o = Chart->Objects(i);
    bool entered = false, leaves = false;
    for (int k = 0; k < o->ConnectionCount(); ++k) {
      entered = entered || o->Connections(k)->Dest() == o;
      leaves = leaves || o->Connections(k)->Source() == o;
    }
    if (leaves && firstLeaving < 0) firstLeaving = i;
    if (leaves && !entered) start = i;
  }
  if (start < 0) start = std::max(firstLeaving, 0);
  std::vector<const TFcObject*> reached{Chart->Objects(start)};
  for (size_t r = 0; r < reached.size(); ++r)
    for (int k = 0; k < reached[r]->ConnectionCount(); ++k) {
      const TFcConnection* c = reached[r]->Connections(k);
      if (c->Source() == reached[r] && std::find(reached.begin(), reached.end(), c->Dest()) == reached.end())
        reached.push_back(c->Dest());
    }
  for (int i = 0; i < n; ++i)
    if (std::find(reached.begin(), reached.end(), Chart->Objects(i)) == reached.end())
      return refuse(Chart->Objects(i), unconnected(Chart->Objects(i)));
  return true;
}

bool TFFlowEditor::CheckFlow() {
  send_.clear();
  if (!CheckSteps()) return false;
  const int n = Chart->ObjectCount();
  std::vector<int> index(size_t(n), -1);
  for (int i = 0; i < n; ++i) {
    TFcObject* o = Chart->Objects(i);
    index[size_t(i)] = RecordOf(o);
    TStepRecord r;
    if (index[size_t(i)] >= 0) {
      r = work_[size_t(index[size_t(i)])];
    } else {
      // An object without a record is a new step.
      r = NewStepRecord();
    }
    r.name = o->Text().substr(0, kStepNameBytes);
    r.incomingBranches.clear();
    r.previousSteps.clear();
    r.nextSteps.clear();
    if (r.changeState == stepUnchanged) r.changeState = stepKept;
    send_.push_back(r);
  }
  Chart->ClearSelection();
  for (int i = 0; i < n; ++i) {
    TFcObject* o = Chart->Objects(i);
    std::vector<AnsiString> next, previous;
    for (int k = 0; k < o->ConnectionCount(); ++k) {
      TFcConnection* c = o->Connections(k);
      if (c->Source() == o) {
        next.push_back(c->Dest()->Text());
        TStepRecord& dest = send_[size_t(Chart->IndexOfObject(c->Dest()))];
        dest.incomingBranches = o->Text() + "@" + c->Text() + ";" + dest.incomingBranches;
      }
      if (c->Dest() == o) previous.push_back(c->Source()->Text());
    }
    send_[size_t(i)].nextSteps = JoinNames(next);
    send_[size_t(i)].previousSteps = JoinNames(previous);
  }
  // Steps the server knows that no object stands for any more are sent as deleted.
  for (int k = 0; k < kSlots; ++k) {
    const TStepRecord& r = work_[size_t(k)];
    if (keys_[size_t(k)].empty() || r.id <= 0 || std::find(index.begin(), index.end(), k) != index.end()) continue;
    TStepRecord d = r;
    d.changeState = stepDeleted;
    send_.push_back(d);
  }
  return true;
}

TFlowMessage TFFlowEditor::BuildFlow() const {
  TFlowMessage m;
  m.flowId = flowId_;
  m.madeFrom = madeFrom_;
  m.compId = uint32_t(SessionValues().CompID);
  m.flowName = flowName_;
  m.formFile = ToAnsi(cb_Xls->currentText());
  m.database = ToAnsi(cb_DataBase->text());
  m.titleCell = ToAnsi(cb_MsgTitle->currentText());
  m.fullScreen = cb_FullScreen->isChecked() ? 1 : 0;
  m.numberCell = ToAnsi(cbNOName->currentText());
  m.distributionType = uint32_t(std::max(0, cbxFenFaType->currentIndex()));
  m.steps = send_;
  // The editor's own ties mean nothing to the server: new steps go without one.
  TFcChartData chart = Chart->SaveToData();
  for (TFcObjectRec& o : chart.Objects)
    if (!o.StepId.empty() && o.StepId[0] == '#') o.StepId.clear();
  m.chart = WriteChartData(chart, Chart->Font().Name);
  return m;
}

std::string TFFlowEditor::State() const {
  // The chart with its ties, each object's record and the flow's properties.
  TFlowMessage m = BuildFlow();
  m.steps.clear();
  for (int i = 0; i < Chart->ObjectCount(); ++i) {
    const int k = RecordOf(Chart->Objects(i));
    m.steps.push_back(k >= 0 ? work_[size_t(k)] : TStepRecord{});
  }
  TMemoryStream chart;
  Chart->SaveToStream(chart);
  return BuildFlowMessage(m) + chart.TakeData();
}

void TFFlowEditor::MarkSaved() { saved_ = State(); }

bool TFFlowEditor::Modified() const { return State() != saved_; }

bool TFFlowEditor::CanClose() {
  // Enter keeps the work; Escape and the question's close box keep the editor.
  auto ask = [this](const char* text) {
    return AskKeepingWork(Cp936(text), Cp936(kCaption), MsgButtons::YesNo, MsgResult::No, this) == MsgResult::Yes;
  };
  if (saving_) {
    // The session's wait box stands over the editor's middle, where the question is.
    TfrmWaitFor* box = frmMain() ? frmMain()->WaitForBox() : nullptr;
    const QPointer<QWidget> waiting = box && box->isVisible() ? box : nullptr;
    if (waiting) waiting->hide();
    const bool leave = ask("流程定义正在保存到服务器，尚未收到服务器的答复。是否不等答复直接退出？");
    if (waiting && saving_) waiting->show();
    if (!leave) return false;
    // What changed after the save was sent would be lost as well.
    if (State() == sending_) return true;
  } else if (!Modified()) {
    return true;
  }
  return ask("流程定义已经修改，尚未保存到服务器。是否放弃修改并退出？");
}

bool TFFlowEditor::SaveFlow() {
  // One save at a time: the editor waits for the server's word on it.
  if (saving_) return false;
  if (!CheckFlow()) return false;
  sending_ = State();
  saving_ = true;
  BitBtn1->setEnabled(false);
  miSaveToServer->setEnabled(false);
  lblStatus->setText(QString::fromUtf8("正在保存到服务器，等待服务器答复……"));
  Send(BuildFlowMessage(BuildFlow()));
  return true;
}

void TFFlowEditor::SaveEnded(const std::string* reply) {
  if (!saving_) return;
  saving_ = false;
  BitBtn1->setEnabled(true);
  miSaveToServer->setEnabled(true);
  lblStatus->clear();
  // No reply: the session has told the person; everything stays as it is.
  // Refused (and said so) or not understood: not saved.
  if (!reply || !frames::IsAcceptedReply(*reply)) return;
  saved_ = sending_;
  // What was changed while the save was on its way is not saved yet.
  if (!Modified()) accept();
}

void TFFlowEditor::SendRequest(const char* code, const AnsiString& argument, const AnsiString& value, int32_t list) {
  std::string frame = frames::BuildUserRequest(argument, value, frames::UserListMode::NextHandler,
                                               SessionValues().CompID, SessionValues().UserGUID, list);
  // The same 144 bytes for both requests; only the code differs.
  frame.replace(1, 4, code, 4);
  Send(std::move(frame));
}

// ---- replies

void TFFlowEditor::WriteUserList(TMemoryStream& reply) {
  // A picker already open takes the new list instead of a second one opening over it.
  if (picker_ && pickerWindow_) {
    reply.SetPosition(0);
    pickerWindow_->LoadUserList(reply);
    return;
  }
  if (!ReplyWindowFactories().CreateUserPicker) return;
  IUserPicker* picker = ReplyWindowFactories().CreateUserPicker();
  if (!picker) return;
  QPointer<QWidget> widget = picker->AsWidget();
  QPointer<TFFlowEditor> self(this);
  picker_ = widget;
  pickerWindow_ = picker;
  std::vector<std::pair<AnsiString, AnsiString>> chosen;
  bool ok = false;
  {
    const auto cleanup = ScopeExit([&] {
      if (self) {
        picker_ = nullptr;
        pickerWindow_ = nullptr;
      }
      if (widget) widget->deleteLater();
    });
    // Further pages of the list are asked for as this step's handlers.
    const AnsiString step = current_ >= 0 ? std::to_string(work_[size_t(current_)].id) : AnsiString();
    picker->SetListRequest([self, step](int list) {
      if (self) self->SendRequest("USER", {}, step, list);
    });
    reply.SetPosition(0);
    picker->LoadUserList(reply);
    // The step's handlers stay chosen unless the person takes them out.
    if (const TStepRecord* r = Current()) {
      std::vector<std::pair<AnsiString, AnsiString>> handlers;
      for (uint32_t i = 0; i < std::min(r->handlerCount, kMaxHandlers); ++i)
        handlers.push_back({r->handlers[i].userId, r->handlers[i].userName});
      picker->SetChosenUsers(handlers);
    }
    ok = picker->ShowModal() == 1 && widget;
    if (ok) chosen = picker->PickedUsers();
  }
  if (!ok || !self) return;
  TStepRecord* r = Current();
  if (!r) return;
  // The picker knows users, not the departments each one reviews: a handler who stays keeps
  // the entry the step had for them, a new one starts with none.
  const auto before = r->handlers;
  const uint32_t beforeCount = std::min(r->handlerCount, kMaxHandlers);
  r->handlerCount = uint32_t(std::min<size_t>(chosen.size(), kMaxHandlers));
  for (THandlerEntry& h : r->handlers) h = THandlerEntry{};
  std::vector<AnsiString> names;
  for (uint32_t i = 0; i < r->handlerCount; ++i) {
    const auto kept = std::find_if(before.begin(), before.begin() + beforeCount,
                                   [&](const THandlerEntry& h) { return h.userId == chosen[i].first; });
    if (kept != before.begin() + beforeCount) r->handlers[i] = *kept;
    r->handlers[i].userId = chosen[i].first;
    r->handlers[i].userName = chosen[i].second;
    names.push_back(chosen[i].second);
  }
  handlerNames_ = JoinNames(names);
  edt_OpUser->setText(ToQString(handlerNames_));
}

AnsiString TFFlowEditor::PickedCell() const {
  switch (pickMode_) {
    case 0: return ToAnsi(cb_MsgTitle->currentText());
    case 1: return ToAnsi(cbNOName->currentText());
    case 2: return ToAnsi(edtMsgField->text());
    default: return {};  // an editable cell is added to the list: none is chosen yet
  }
}

void TFFlowEditor::SetTitleFieldText(const AnsiString& text) { cb_MsgTitle->setEditText(ToQString(text)); }

void TFFlowEditor::SetNumberFieldText(const AnsiString& text) { cbNOName->setEditText(ToQString(text)); }

void TFFlowEditor::SetMsgFieldCell(const AnsiString& cell) {
  edtMsgField->setText(ToQString(cell));
  if (TStepRecord* r = Current()) r->opinionCell = ToAnsi(CutToBytes(ToQString(cell), kOpinionCellBytes));
}

void TFFlowEditor::AddEditCell(const AnsiString& cell) {
  if (cell.empty()) {
    edtEditCells->clear();
  } else if (edtEditCells->text().isEmpty()) {
    edtEditCells->setText(ToQString(cell));
  } else {
    edtEditCells->setText(edtEditCells->text() + "," + ToQString(cell));
  }
  if (TStepRecord* r = Current()) r->editableCells = ToAnsi(edtEditCells->text());
}

void RegisterChartEditor() {
  TReplyWindowFactories& f = ReplyWindowFactories();
  f.CreateChartEditor = []() -> IChartEditor* { return new TFFlowEditor(); };
  if (!f.CreateUserPicker) f.CreateUserPicker = []() -> IUserPicker* { return new TEditorUserPicker(); };
}
