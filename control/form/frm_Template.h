// The workflow document form (its header names neither the sheet's nor the chart's
// geometry, which share names): the document's sheet with its fields, the workflow chart
// coloured by step state, the opinion, the next step and its handlers, and the command
// buttons. One instance per document reply; the dispatcher owns it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "control/session/ReplyWindows.h"
#include "control/form/FormChart.h"
#include "control/form/TemplateButtons.h"
#include "control/office/WordPlaceholders.h"
#include "control/wire/UnitCalculate.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/Un_CopyFiles.h"

class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class TAttachmentList;
class QMenu;
class TDistribution;
class TFrameW;
class TNumberPanel;
class TPhrasePanel;
struct TTakenNumber;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStatusBar;
class QTextEdit;
class QTimer;
class QToolButton;
class TTemplateAttachments;
class TTemplateCommands;
class TTemplateFields;
class TTemplateLayout;
class TTemplateValues;
class TXLGrid;
class TXLSheet;


class TfrmTemplate : public QDialog, public ITemplateForm {
  Q_OBJECT
 public:
  explicit TfrmTemplate(QWidget* parent = nullptr);
  ~TfrmTemplate() override;

  // ITemplateForm
  QWidget* AsWidget() override { return this; }
  bool NewDoc() const override { return newDoc_; }
  void SetNewDoc(bool v) override { newDoc_ = v; }
  bool Submitted() const override { return submitted_; }
  void SetSubmitted(bool v) override;
  bool CloseOnReply() const override { return closeOnReply_; }
  void SetCloseOnReply(bool v) override { closeOnReply_ = v; }
  bool ManagerRequested() const override { return managerRequested_; }
  void SetManagerRequested(bool v) override { managerRequested_ = v; }
  void LoadFromStream(TMemoryStream& reply) override;
  void LoadAttachments(TMemoryStream& reply) override;
  void RefreshFromContainer(const std::string& container, int slotCount) override;
  void ShowUserSelection(TMemoryStream& reply) override;
  void ShowNumberList(TMemoryStream& reply) override;
  void ShowUnitSelection(TMemoryStream& reply) override;
  void CloseForm() override { close(); }
  void SetCellPicker(bool v) override { cellPicker_ = v; }
  void LoadSheet(TStream& sheet) override;
  void AdjustLayout() override;
  void FitFormToGrid() override;
  int ShowModal() override { return exec(); }
  AnsiString CurrentCellText() const override;
  void GoToCellText(const AnsiString& text) override;

  // Loading without the modal loop (LoadFromStream = Load + exec).
  void Load(TMemoryStream& reply);

  // Fields.
  AnsiString GetFieldValue(const AnsiString& name) const;
  bool CollectFieldValues(bool changed, bool commit);
  AnsiString CheckTitle() const;
  void ArrangeButtons();
  // The edited values the Word body's placeholders take.
  TFieldValues PlaceholderFields();

  // Actions.
  void btnSendClick();
  void btnTemporaryClick();
  void btnFileClick();
  void N_DeleteXLGridClick();
  // Prints the sheet (filled hidden rows hidden) on the sheet's printer.
  void N_PrintXLGridClick();
  void btnNextUserClick();
  // "附件": the Word body when the document has one, else the attachment manager.
  void btnAttachmentClick();
  // "附件" of a read-only document: the attachment manager, read-only.
  void btnFileReadonlyClick();
  // "编号": asks the server for the number list; the number taken goes into the header
  // and the number field.
  void btnNOClick();
  // "分发": saves for distribution, then colleagues ("FEFA"/"FEFB") or outside units ("OTFF").
  void btnDistributionClick();
  // The opinion: the phrase menu at "签批意见:", its "签名" and phrase items, and the
  // phrase panel with the approver tree ("审批意见合成").
  void btnSPClick();
  void nSignNameClick();
  void N1Click(const AnsiString& phrase);
  void N9Click();
  // "签批意见": shows or hides the comment frame.
  void BtnQPYJClick();
  void Btn_BackClick();
  void RequestUsers(uint8_t mode, int32_t list);
  void RequestFile(const AnsiString& name);
  bool SaveFields(uint8_t temporary, uint8_t distribution, int32_t status);

  // Routing and display.
  void SelectStep(int stepNo);
  void ShowFlowChart();
  void BuildFlowStrip();
  void TimerTimer();
  void ChooseStripStep(const AnsiString& name);

  // State, for the dispatcher and tests.
  TXLSheet& Sheet() { return *sheet_; }
  TFormChart* Chart() const { return chart_.get(); }
  TStream2Array& Doc() { return *doc_; }
  TXLGrid* Grid() const { return gridView_; }
  int CurStepNo() const { return curStepNo_; }
  int NextStepNo() const { return nextStepNo_; }
  bool IsStartStep() const { return isStartStep_; }
  bool ReadOnlyDoc() const { return readOnly_; }
  int GridWidth() const { return gridWidth_; }
  int GridHeight() const { return gridHeight_; }
  const TCommandButtons& Buttons() const { return buttons_; }
  QWidget* ButtonBar() const { return pnlBtn_; }
  QLabel* NextStepLabel() const { return lblNextStep_; }
  QLabel* NextUserLabel() const { return lblNextUser_; }
  QComboBox* NextUsersCombo() const { return cbxNextUsers_; }
  QTextEdit* OpinionMemo() const { return flatMemo_; }
  QWidget* FlowStrip() const { return pnlFlow_; }
  QWidget* TopPanel() const { return pnlTop_; }
  QWidget* OpinionPanel() const { return pnlMind_; }
  QWidget* ChartPanel() const { return pnlFlowChat_; }
  TAttachmentList* AttachmentList() const;
  QTimer* BlinkTimer() const { return timer_; }
  QPushButton* SendButton() const { return btnSend_; }
  QPushButton* AttachmentButton() const { return btnAttachment_; }
  QPushButton* FileReadonlyButton() const { return btnFileReadonly_; }
  QPushButton* NextUserButton() const { return btnNextUser_; }
  QPushButton* TemporaryButton() const { return btnTemporary_; }
  QPushButton* CloseButton() const { return btnClose_; }
  QPushButton* ExitButton() const { return btnExit_; }
  QPushButton* ArchiveButton() const { return btnFile_; }
  TNumberPanel* NumberPanel() const { return pnlNO_; }
  int ChosenNumber() const { return chosenNumber_; }
  TFrameW* CommentFrame() const { return frameQYYJ_; }
  QPushButton* CommentButton() const { return btnQPYJ_; }
  QPushButton* NumberButton() const { return btnNO_; }
  QPushButton* DistributionButton() const { return btnDistribution_; }
  const TDistribution& Distribution() const { return *distribution_; }
  QMenu* PhraseMenu() const { return ppmSP_; }
  TPhrasePanel* PhrasePanel() const { return pnlSP_; }
  // The grid's popup menu: "打印审批（登记）单" and "销毁审批（登记）单".
  QMenu* FormMenu() const { return ppmForm_; }
  QAction* PrintMenuItem() const { return nPrintXLGrid_; }
  QAction* DeleteMenuItem() const { return nDeleteXLGrid_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void reject() override;
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // The form's parts: each does one thing with the form's widgets and state.
  friend class TTemplateAttachments;
  friend class TTemplateValues;
  friend class TTemplateLayout;
  friend class TTemplateCommands;

 private:
  const TStepRecord* StepAt(int index) const;
  TConditionContext Conditions() const;
  void ShowNextStep();
  void ShowStoredNext();
  void RefreshHandlerCombo();
  void WaitPumping(int ms);
  // False when the form stays: the person said so, or the close waits for a reply.
  bool FormCloseQuery();
  void FormClose();
  void SetBlinking(bool on);
  // The opinion line written into the step's opinion cell as the memo changes.
  void FlatMemoChange();

  std::unique_ptr<TXLSheet> sheet_;
  std::unique_ptr<TStream2Array> doc_;
  bool fieldsHaveCells_ = false;

  int curStepNo_ = -1, nextStepNo_ = -1, curStepIndex_ = -1, nextStepIndex_ = -1;
  bool isStartStep_ = false;
  bool handlersFixed_ = false, manualChoice_ = false, dialogMode_ = false;
  AnsiString nextHandlerNames_, titleField_, numberField_, tableName_, recordId_, bodyFile_;
  bool saveOnClose_ = false, destroyed_ = false, readOnly_ = true;
  AnsiString opinionField_, opinionText_;
  int opinionRow_ = -1, opinionCol_ = -1;
  int gridWidth_ = 0, gridHeight_ = 0, attachBelow_ = 0;
  bool newDoc_ = false, submitted_ = false, closeOnReply_ = false, managerRequested_ = false;
  bool pickNextHandler_ = false;
  uint8_t userRequestMode_ = 0;
  bool cellPicker_ = false;
  bool closing_ = false;
  // A close that waits for its save's reply: it closes when the server has the values.
  bool closeAfterSave_ = false;
  // A "DCMD" on its way: the form waits for its reply.
  bool commandPending_ = false;
  bool loaded_ = false;
  bool writingOpinion_ = false;
  TCommandButtons buttons_;

  QWidget* pnlTop_ = nullptr;
  QWidget* pnlNextInfo_ = nullptr;
  QWidget* pnlFlow_ = nullptr;
  QWidget* pnlBtn_ = nullptr;
  QLabel* lblNextStep_ = nullptr;
  QLabel* lblNextUser_ = nullptr;
  QPushButton* btnNextStep_ = nullptr;
  QPushButton* btnNextUser_ = nullptr;
  QComboBox* cbxNextUsers_ = nullptr;
  QPushButton *btnNO_ = nullptr, *btnAttachment_ = nullptr, *btnTemporary_ = nullptr, *btnDistribution_ = nullptr,
              *btnSend_ = nullptr, *btnFile_ = nullptr, *btnClose_ = nullptr;
  QWidget* pnlMind_ = nullptr;
  QTextEdit* flatMemo_ = nullptr;
  QWidget* pnlQP_ = nullptr;
  QPushButton *btnPrint_ = nullptr, *btnQPYJ_ = nullptr, *btnFileReadonly_ = nullptr, *btnExit_ = nullptr;
  QScrollArea* pnlMain_ = nullptr;
  QWidget* mainContent_ = nullptr;
  QWidget* pnlXLGrid_ = nullptr;
  TXLGrid* gridView_ = nullptr;
  QWidget* pnlFlowChat_ = nullptr;
  QPushButton* btnBack_ = nullptr;
  std::unique_ptr<TFormChart> chart_;
  QStatusBar* statusBar_ = nullptr;
  QPushButton* btnPrintFrom_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QTimer* timer_ = nullptr;
  std::vector<QLabel*> stripLabels_;
  QPushButton* btnSP_ = nullptr;
  QMenu* ppmSP_ = nullptr;
  TPhrasePanel* pnlSP_ = nullptr;
  TNumberPanel* pnlNO_ = nullptr;
  int chosenNumber_ = -1;
  TFrameW* frameQYYJ_ = nullptr;
  QMenu* ppmForm_ = nullptr;
  QAction* nPrintXLGrid_ = nullptr;
  QAction* nDeleteXLGrid_ = nullptr;
  std::shared_ptr<TDistribution> distribution_;  // callers hold a copy across its dialogs
  // The parts come last: they reach the members above, and go before them.
  std::unique_ptr<TTemplateAttachments> attachments_;
  std::unique_ptr<TTemplateValues> values_;
  std::unique_ptr<TTemplateLayout> layout_;
  std::unique_ptr<TTemplateCommands> commands_;
};

// Registers the form with the reply dispatcher (once per process).
void RegisterTemplateForm();

