// The workflow editor with its flow definition: the steps' records beside the chart, the
// flow's own properties, and the "FLOW" message that loads and saves them. Requests for
// users ("USER") and for a form's sheet ("XSLF") go out through the session form.
#pragma once

#include <QComboBox>
#include <array>
#include <functional>
#include <string>

#include "control/session/ReplyWindows.h"
#include "control/wire/FlowMessage.h"
#include "flowchart/ui/fcEdit.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QToolButton;

// A combo box whose drop-down asks the server instead of showing its own list.
class TFcRequestCombo : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  std::function<void()> OnDropDown;
  void showPopup() override;
};

class TFFlowEditor : public TFChartEditor, public IChartEditor {
  Q_OBJECT
 public:
  static constexpr int kSlots = 101;
  explicit TFFlowEditor(QWidget* parent = nullptr);
  ~TFFlowEditor() override;

  // IChartEditor
  QWidget* AsWidget() override { return this; }
  void LoadFlow(TMemoryStream& reply) override;
  int ShowModal() override { return exec(); }
  void WriteUserList(TMemoryStream& reply) override;
  int PickMode() const override { return pickMode_; }
  void SetTitleFieldText(const AnsiString& text) override;
  void SetNumberFieldText(const AnsiString& text) override;
  void SetMsgFieldCell(const AnsiString& cell) override;
  void AddEditCell(const AnsiString& cell) override;
  AnsiString PickedCell() const override;

  void LoadFlow(const TFlowMessage& m);
  // Checks the chart and sends the definition; false (nothing sent) when the check fails.
  bool SaveFlow();
  bool CheckFlow();
  int FindStep(const AnsiString& idText, const AnsiString& name) const;
  // The 144-byte request; list is the page a user picker asks for (0 for the first).
  void SendRequest(const char* code, const AnsiString& argument, const AnsiString& value, int32_t list = 0);
  // The message SaveFlow sends, once CheckFlow has passed.
  TFlowMessage BuildFlow() const;

  const TStepRecord& WorkRecord(int i) const { return work_[size_t(i)]; }
  int WorkCount() const { return workCount_; }
  int CurrentRecord() const { return current_; }
  const std::vector<TStepRecord>& SendRecords() const { return send_; }
  uint32_t FlowId() const { return flowId_; }
  const AnsiString& FlowName() const { return flowName_; }

  // Where frames go; the session form by default.
  std::function<void(std::string frame)> Send;
  // A save is over: the server's reply, or null when it ended without one. The editor
  // closes only on a reply that is not a refusal; otherwise it stays, still changed.
  void SaveEnded(const std::string* reply);
  bool Saving() const { return saving_; }
  // Something differs from what the server last confirmed.
  bool Modified() const;
  // The record an object stands for; -1 when it has none.
  int RecordOf(const TFcObject* o) const { return FindStep(o->StepId(), o->Text()); }

  // Flow properties.
  QGroupBox* GroupBox1;
  TFcRequestCombo *cb_Xls, *cb_MsgTitle, *cbNOName;
  QLineEdit* cb_DataBase;
  QCheckBox* cb_FullScreen;
  QComboBox* cbxFenFaType;
  // Step properties.
  QGroupBox* GroupBox2;
  QLineEdit* edt_StepName;
  QCheckBox* ckb_isReadOnly;
  QLineEdit* edt_OpUser;
  QToolButton* btnOpUser;
  QCheckBox *chb_LockOpUser, *ckb_isSkipStep, *ckb_isCanDispatch, *ckb_isCanArchives, *cbxIsDept, *cbxIsNo,
      *cbxIsDrafters, *cbxIsRevisions;
  QLineEdit* edtWFValue;
  QLineEdit* edtEditCells;
  QPushButton *btn_AddEditCell, *btn_ClearEditCell;
  QLineEdit* edtMsgField;
  QPushButton *btnMsgField, *btnClearMsgField;

 protected:
  bool CanAddStep() override;
  void StepAdded(TFcObject* object) override;
  void StepDeleted(TFcObject* object) override;
  void StepSelected(TFcObject* object) override;
  void StepPasted(TFcObject* pasted, const TFcObject* source) override;
  void StepEdited(TFcObject* object, const AnsiString& oldText) override;
  void ChartFileOpened() override;
  void ChartReloaded() override;
  bool SaveToServer() override { return SaveFlow(); }
  bool CanLeaveStep() override;
  bool CanClose() override;

 private:
  void BuildPanels();
  void ClearPanel();
  void ShowStep(int index);
  void EnablePanel(bool on);
  TStepRecord* Current();
  void StoreChecks();
  void StepNameEdited(const QString& text);
  // Shows why the current step's name cannot stay; true when it can.
  bool CheckStepName();
  // Empty when the name can stay, else the message that says why.
  AnsiString NameProblem(const TFcObject* o) const;
  AnsiString NameProblem(const TFcObject* o, const AnsiString& name) const;
  TFcObject* ObjectOf(int index) const;
  bool CheckSteps();
  int FreeSlot() const;
  bool Mapped(int index) const;
  // Puts a record into a free slot under a tie of the editor's own; its slot.
  int AddRecord(const TStepRecord& r, TFcObject* o);
  AnsiString NewKey();
  // What is saved, as one string, to tell whether anything changed.
  std::string State() const;
  void MarkSaved();

  std::array<TStepRecord, kSlots> work_;
  // Each record's tie to its chart object (the object's StepId): the step ID in decimal
  // for steps the server knows, a key of the editor's own for new ones; empty: free slot.
  std::array<AnsiString, kSlots> keys_;
  int nextKey_ = 0;
  bool saving_ = false;
  std::string saved_;  // State() as the server last confirmed it
  std::string sending_;  // State() of the save on its way
  bool reselecting_ = false;
  std::vector<TStepRecord> send_;
  int workCount_ = 0;
  int current_ = -1;
  uint32_t flowId_ = 0;
  uint32_t madeFrom_ = 0;  // the definition this editor's copy was made from
  AnsiString flowName_;
  AnsiString handlerNames_;
  uint8_t pickMode_ = 0;
  bool showing_ = false;
  QPointer<QWidget> picker_;  // the user picker while it is open
  IUserPicker* pickerWindow_ = nullptr;
};

// Makes the dispatcher open this editor for "FLOW" replies, with the user dialog as its
// handler picker unless another is set.
void RegisterChartEditor();
