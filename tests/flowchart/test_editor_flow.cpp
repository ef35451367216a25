// The workflow editor's flow definition: what it reads from a "FLOW" message, what it sends
// back, the step panel, and the handler and cell requests with their replies.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "ModalDriver.h"
#include "control/flow/fcEditFlow.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "platform/QtText.h"
#include "platform/Services.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_editor_flow";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

TStepRecord Step(int32_t id, const char* name) {
  TStepRecord r;
  r.id = id;
  r.name = name;
  r.daysToHandle = "3";
  return r;
}

// Steps A(1) -> B(2) -> C(3); a fourth record D(4) has no object.
TFlowMessage Sample() {
  TFlowMessage m;
  m.flowId = 12;
  m.flowName = Cp936("请假流程");
  m.formFile = "leave.xls";
  m.formList1 = " |leave.xls|trip.xls|";
  m.distributionType = 2;
  m.steps = {Step(1, "A"), Step(2, "B"), Step(3, "C"), Step(4, "D")};
  TFcChart c;
  TFcObject* a = c.CreateObject(16, 16, 145, 50, stRectangle);
  TFcObject* b = c.CreateObject(16, 120, 145, 50, stRectangle);
  TFcObject* d = c.CreateObject(200, 120, 145, 50, stRectangle);
  a->SetText("A");
  b->SetText("B");
  d->SetText("C");
  c.CreateConnection(a, b, 10, 2)->SetText("x>1");
  c.CreateConnection(b, d, 6, 14);
  TMemoryStream s;
  c.SaveToStream(s);
  m.chart = s.TakeData();
  return m;
}

class FakePicker : public QDialog, public IUserPicker {
 public:
  static inline std::vector<std::pair<AnsiString, AnsiString>> choice;
  static inline bool accept = true;
  static inline size_t loaded = 0;
  QWidget* AsWidget() override { return this; }
  void LoadUserList(TMemoryStream& reply) override { loaded = frames::ParseUserListReply(reply.Data()).size(); }
  void SetListRequest(std::function<void(int)> r) override { request = std::move(r); }
  std::function<void(int)> request;
  int ShowModal() override {
    if (request) request(3);  // a further page, asked for while the picker is open
    return accept ? 1 : 0;
  }
  std::vector<std::pair<AnsiString, AnsiString>> PickedUsers() const override { return choice; }
};

struct Flow : ::testing::Test {
  std::unique_ptr<TFFlowEditor> ed;
  ServiceCapture capture;
  std::vector<std::string> sent;

  void SetUp() override {
    App();
    SessionValues().CompID = 7;
    SessionValues().UserGUID = "{11111111-2222-3333-4444-555555555555}";
    ed = std::make_unique<TFFlowEditor>();
    ed->Send = [this](std::string f) { sent.push_back(std::move(f)); };
    ed->LoadFlow(Sample());
    ed->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ed.get()));
  }
  void TearDown() override {
    ed.reset();
    ClearSessionValues();
    ReplyWindowFactories().CreateUserPicker = nullptr;
  }
  TFcChart& Chart() { return *ed->Chart; }
  void Select(int i) {
    Chart().ClearSelection();
    Chart().Objects(i)->SetSelected(true);
  }
  TFlowMessage Saved() {
    EXPECT_TRUE(ed->SaveFlow());
    EXPECT_FALSE(sent.empty());
    ed->SaveEnded(nullptr);  // no reply: the editor stays open for the next save
    return sent.empty() ? TFlowMessage{} : ParseFlowMessage(sent.back());
  }
};

TEST_F(Flow, LoadsHeaderStepsAndChart) {
  EXPECT_EQ(ed->windowTitle(), QString::fromUtf8("流程定义－－请假流程"));
  EXPECT_EQ(ed->WorkCount(), 4);
  ASSERT_EQ(Chart().ObjectCount(), 3);
  EXPECT_EQ(Chart().Objects(0)->StepId(), "1");
  EXPECT_EQ(Chart().Objects(2)->StepId(), "3");
  EXPECT_EQ(ed->cbxFenFaType->currentIndex(), 2);
  // The list's first character is dropped; what follows the last bar is no item.
  ASSERT_EQ(ed->cb_Xls->count(), 2);
  EXPECT_EQ(ed->cb_Xls->itemText(1), "trip.xls");
  TFlowMessage m = Sample();
  m.formList1 = "|a|b";
  m.chart.clear();
  m.steps[0].name = "Z";
  ed->LoadFlow(m);
  EXPECT_EQ(ed->cb_Xls->count(), 1);
  EXPECT_EQ(ed->cb_Xls->itemText(0), "a");
  EXPECT_EQ(Chart().ObjectCount(), 3);  // no chart in the message: the chart stays
  m = Sample();
  m.steps[0].name = "Z";  // object A matches no record
  ed->LoadFlow(m);
  EXPECT_TRUE(Chart().Objects(0)->StepId().empty());
}

TEST_F(Flow, SaveSendsRecordsInChartOrderWithBranchesAndDeletedSteps) {
  const TFlowMessage m = Saved();
  EXPECT_EQ(m.flowId, 12u);
  EXPECT_EQ(m.compId, 7u);
  ASSERT_EQ(m.steps.size(), 4u);
  EXPECT_EQ(m.steps[0].nextSteps, "B");
  EXPECT_EQ(m.steps[1].previousSteps, "A");
  EXPECT_EQ(m.steps[1].nextSteps, "C");
  EXPECT_EQ(m.steps[1].incomingBranches, "A@x>1;");
  EXPECT_EQ(m.steps[2].incomingBranches, "B@;");
  EXPECT_EQ(m.steps[0].changeState, stepKept);
  EXPECT_EQ(m.steps[0].daysToHandle, "3");
  // D was on the server and has no object: it goes as deleted, after the objects' records.
  EXPECT_EQ(m.steps[3].name, "D");
  EXPECT_EQ(m.steps[3].changeState, stepDeleted);
  TFcChart back;
  TMemoryStream s{m.chart};
  back.LoadFromStream(s);
  EXPECT_EQ(back.ObjectCount(), 3);
}

TEST_F(Flow, UndoneDeletionIsNotSentAsDeleted) {
  Select(1);
  ed->DeleteSelection();
  Chart().CreateConnection(Chart().Objects(0), Chart().Objects(1), 10, 2);  // A -> C
  ed->TakeSnapshot();
  TFlowMessage m = Saved();
  ASSERT_EQ(m.steps.size(), 4u);  // A, C; then B and D deleted
  EXPECT_EQ(m.steps[2].name, "B");
  EXPECT_EQ(m.steps[2].changeState, stepDeleted);
  ed->Undo();
  ed->Undo();
  m = Saved();
  ASSERT_EQ(m.steps.size(), 4u);
  EXPECT_EQ(m.steps[1].name, "B");
  EXPECT_EQ(m.steps[1].changeState, stepKept);
  EXPECT_EQ(m.steps[3].name, "D");  // the only deleted one
  for (size_t i = 0; i < 3; ++i) EXPECT_NE(m.steps[i].changeState, stepDeleted);
}

TEST_F(Flow, LooseConnectionStopsTheSaveNamingTheObject) {
  TFcConnection* loose = Chart().CreateConnection(Chart().Objects(2), nullptr, 6, 0);
  loose->AddPoint({500, 500});
  EXPECT_FALSE(ed->SaveFlow());
  EXPECT_TRUE(sent.empty());
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].text, Cp936("[C]流程节点没有连接，请检查上一步或下一步连接线。"));
  EXPECT_EQ(capture.prompts[0].caption, Cp936("提示"));
  EXPECT_TRUE(loose->Selected());
}

TEST_F(Flow, NewAndPastedStepsAreNewRecords) {
  ed->btnCreateObject->click();
  QPoint p(300, 300);
  QTest::mousePress(ed->Chart->viewport(), Qt::LeftButton, {}, p);
  QTest::mouseRelease(ed->Chart->viewport(), Qt::LeftButton, {}, p);
  ASSERT_EQ(Chart().ObjectCount(), 4);
  EXPECT_EQ(ed->WorkCount(), 5);
  EXPECT_EQ(ed->CurrentRecord(), 4);
  EXPECT_TRUE(ed->GroupBox2->isEnabled());
  Select(0);
  ed->CopySelection();
  ed->Paste();
  ASSERT_EQ(Chart().ObjectCount(), 5);
  // Steps are saved only when the flow reaches them.
  Chart().CreateConnection(Chart().Objects(2), Chart().Objects(3), 6, 0);
  Chart().CreateConnection(Chart().Objects(3), Chart().Objects(4), 6, 0);
  const TFlowMessage m = Saved();
  EXPECT_EQ(m.steps[3].id, -1);
  EXPECT_EQ(m.steps[3].changeState, stepAdded);
  EXPECT_EQ(m.steps[3].name, Cp936("流程节点 4"));
  EXPECT_EQ(m.steps[4].id, -1);
  EXPECT_EQ(m.steps[4].name, "A-2");
  EXPECT_EQ(m.steps[4].daysToHandle, "3");  // the copy does what the original does
}

TEST_F(Flow, CutAndPastedStepKeepsItsRecordAndOnlyAnAcceptedSaveCloses) {
  Select(1);
  ed->CutSelection();
  ed->Paste();
  ASSERT_EQ(Chart().ObjectCount(), 3);
  TFcObject* b = Chart().Objects(2);
  EXPECT_EQ(b->Text(), "B");
  Chart().CreateConnection(Chart().Objects(0), b, 10, 2);
  Chart().CreateConnection(b, Chart().Objects(1), 6, 14);
  const TFlowMessage m = Saved();
  ASSERT_EQ(m.steps.size(), 4u);  // A, C, B, then D deleted
  EXPECT_EQ(m.steps[2].id, 2);
  EXPECT_EQ(m.steps[2].daysToHandle, "3");
  EXPECT_EQ(m.steps[2].changeState, stepKept);
  EXPECT_EQ(m.steps[3].name, "D");

  // Refused by the server: still open and changed; accepted: closed and saved.
  ASSERT_TRUE(ed->Modified());
  ASSERT_TRUE(ed->SaveFlow());
  EXPECT_FALSE(ed->BitBtn1->isEnabled());
  EXPECT_FALSE(ed->SaveFlow());  // one save at a time
  const std::string refused = frames::BuildServerMessage(Cp936("|流程保存失败"));
  ed->SaveEnded(&refused);
  EXPECT_TRUE(ed->isVisible());
  EXPECT_TRUE(ed->Modified());
  EXPECT_TRUE(ed->BitBtn1->isEnabled());
  ASSERT_TRUE(ed->SaveFlow());
  const std::string saved = frames::BuildServerMessage(Cp936("流程保存成功！"));
  ed->SaveEnded(&saved);
  EXPECT_FALSE(ed->isVisible());
  EXPECT_FALSE(ed->Modified());
}

TEST_F(Flow, StepPanelWritesItsStepsRecord) {
  Select(1);
  ASSERT_EQ(ed->CurrentRecord(), 1);
  EXPECT_EQ(ed->edt_StepName->text(), "B");
  EXPECT_EQ(ed->edtWFValue->text(), "3");
  // Typing inside the name edits object and record together and keeps the caret.
  ed->edt_StepName->setCursorPosition(0);
  QTest::keyClicks(ed->edt_StepName, "xy");
  EXPECT_EQ(ed->edt_StepName->text(), "xyB");
  EXPECT_EQ(Chart().Objects(1)->Text(), "xyB");
  EXPECT_EQ(ed->WorkRecord(1).name, "xyB");
  ed->ckb_isReadOnly->click();
  ed->ckb_isCanArchives->click();
  EXPECT_EQ(ed->WorkRecord(1).attachmentsReadOnly, 0);
  EXPECT_EQ(ed->WorkRecord(1).showArchive, 1);
  ed->edtWFValue->clear();
  QTest::keyClicks(ed->edtWFValue, "1x2");
  EXPECT_EQ(ed->WorkRecord(1).daysToHandle, "12");
  // The name is the object's text too, cut to what the record holds.
  const QString longName(30, QChar(0x4E00));
  ed->edt_StepName->setText(longName);
  emit ed->edt_StepName->textEdited(longName);
  EXPECT_EQ(ed->edt_StepName->text().size(), 25);
  EXPECT_EQ(Chart().Objects(1)->Text(), ed->WorkRecord(1).name);
  EXPECT_EQ(ed->WorkRecord(1).name.size(), 50u);
  ed->edt_StepName->setText("A");
  emit ed->edt_StepName->editingFinished();
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].text, Cp936("当前流程步骤名称不能与其他步骤名称相同，请修改！"));
  ed->edt_StepName->clear();
  emit ed->edt_StepName->editingFinished();
  EXPECT_EQ(capture.prompts.back().text, Cp936("请填写流程名称！"));
  ed->SetMsgFieldCell(std::string(120, 'm'));
  EXPECT_EQ(ed->WorkRecord(1).opinionCell.size(), 100u);
  ed->AddEditCell("F1");
  ed->AddEditCell("F2");
  EXPECT_EQ(ed->WorkRecord(1).editableCells, "F1,F2");
  ed->AddEditCell({});
  EXPECT_TRUE(ed->WorkRecord(1).editableCells.empty());
  ed->edt_StepName->setText("B");
  emit ed->edt_StepName->textEdited("B");
  Chart().ClearSelection();
  EXPECT_EQ(ed->CurrentRecord(), -1);
  EXPECT_FALSE(ed->GroupBox2->isEnabled());
}

TEST_F(Flow, HandlersArePickedThroughTheUserReply) {
  Select(1);
  ed->btnOpUser->click();
  ASSERT_EQ(sent.size(), 1u);
  const std::string q = sent[0];
  ASSERT_EQ(q.size(), 144u);
  EXPECT_EQ(q.substr(0, 5), std::string("\x04USER", 5));
  EXPECT_EQ(q.substr(56, 2), std::string("\x01" "2", 2));  // the current step's id
  EXPECT_EQ(uint8_t(q[95]), 2);
  EXPECT_EQ(uint8_t(q[96]), 7);
  EXPECT_EQ(q.substr(101, 38), SessionValues().UserGUID);

  ReplyWindowFactories().CreateUserPicker = [] { return new FakePicker; };
  FakePicker::choice = {{"{U1}", Cp936("张三")}, {"{U2}", Cp936("李四")}};
  FakePicker::accept = true;
  TMemoryStream reply{frames::BuildUserListReply({frames::UserRecord{}, frames::UserRecord{}, frames::UserRecord{}})};
  ed->WriteUserList(reply);
  EXPECT_EQ(FakePicker::loaded, 3u);
  ASSERT_EQ(sent.size(), 2u);  // the page request: the same frame with the list number
  EXPECT_EQ(sent[1].substr(0, 140), q.substr(0, 140));
  EXPECT_EQ(uint8_t(sent[1][140]), 3);
  EXPECT_EQ(ed->WorkRecord(1).handlerCount, 2u);
  EXPECT_EQ(ed->WorkRecord(1).handlers[1].userId, "{U2}");
  EXPECT_EQ(ed->edt_OpUser->text(), QString::fromUtf8("张三,李四"));
  FakePicker::accept = false;
  FakePicker::choice = {};
  ed->WriteUserList(reply);
  EXPECT_EQ(ed->WorkRecord(1).handlerCount, 2u);
  // The author as handler names nobody else.
  ed->cbxIsDrafters->click();
  EXPECT_EQ(ed->WorkRecord(1).handlerCount, 0u);
  EXPECT_TRUE(ed->WorkRecord(1).handlers[0].userId.empty());
  EXPECT_FALSE(ed->edt_OpUser->isEnabled());
}

// A save on its way shows in the editor; leaving then asks whether to go without waiting,
// and the question's Enter keeps the editor.
TEST_F(Flow, LeavingWhileASaveIsOnItsWayAsksAndKeepsTheEditorByDefault) {
  Select(1);
  ed->edtWFValue->setText("8");
  emit ed->edtWFValue->textEdited("8");
  ASSERT_TRUE(ed->SaveFlow());
  EXPECT_FALSE(ed->lblStatus->text().isEmpty());
  ASSERT_TRUE(QTest::qWaitForWindowActive(ed.get()));
  auto escape = [&] { QTest::keyClick(ed->windowHandle(), Qt::Key_Escape); };
  capture.promptAnswers.push_back(MsgResult::No);
  escape();
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_NE(capture.prompts[0].text.find(Cp936("正在保存")), AnsiString::npos);
  EXPECT_EQ(capture.prompts[0].keep, MsgResult::No);
  EXPECT_TRUE(ed->isVisible());
  // No reply: the status goes, the change stays, and the plain question comes back.
  ed->SaveEnded(nullptr);
  EXPECT_TRUE(ed->lblStatus->text().isEmpty());
  capture.promptAnswers.push_back(MsgResult::Cancel);
  escape();
  ASSERT_EQ(capture.prompts.size(), 2u);
  EXPECT_EQ(capture.prompts[1].text, Cp936("流程定义已经修改，尚未保存到服务器。是否放弃修改并退出？"));
  EXPECT_EQ(capture.prompts[1].keep, MsgResult::No);
  EXPECT_TRUE(ed->isVisible());
  // Going without waiting, with nothing changed since the save was sent: one question.
  ASSERT_TRUE(ed->SaveFlow());
  capture.promptAnswers.push_back(MsgResult::Yes);
  escape();
  EXPECT_EQ(capture.prompts.size(), 3u);
  EXPECT_FALSE(ed->isVisible());
}

// One click on the save button with a bad name in the box says why once; the days box
// keeps only what the record holds.
TEST_F(Flow, BadNameThenSaveSaysItOnceAndDaysStopAtTheirLimit) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(ed.get()));
  QWindow* window = ed->windowHandle();
  Select(0);
  QTest::mouseClick(window, Qt::LeftButton, {}, ed->edtWFValue->mapTo(ed.get(), QPoint(5, 5)));
  ASSERT_TRUE(ed->edtWFValue->hasFocus());
  for (int i = 0; i < 300; ++i) QTest::keyClick(window, Qt::Key(Qt::Key_0 + i % 10));
  EXPECT_EQ(ed->edtWFValue->text().size(), 255);
  EXPECT_EQ(ed->WorkRecord(0).daysToHandle, ToAnsi(ed->edtWFValue->text()));

  Select(1);
  QTest::mouseClick(window, Qt::LeftButton, {}, ed->edt_StepName->mapTo(ed.get(), QPoint(5, 5)));
  ASSERT_TRUE(ed->edt_StepName->hasFocus());
  QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(window, Qt::Key_Backspace);
  QTest::mouseClick(window, Qt::LeftButton, {}, ed->BitBtn1->mapTo(ed.get(), ed->BitBtn1->rect().center()));
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].text, Cp936("请填写流程名称！"));
  EXPECT_TRUE(sent.empty());
}

TEST_F(Flow, CellRequestsCarryTheFormAndPickModes) {
  Chart().ClearSelection();
  ed->cb_MsgTitle->showPopup();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].substr(0, 5), std::string("\x04XSLF", 5));
  EXPECT_EQ(sent[0].substr(5, 10), std::string("\x09leave.xls", 10));
  EXPECT_EQ(uint8_t(sent[0][56]), 0);  // no current step: no id
  EXPECT_EQ(ed->PickMode(), 0);
  ed->SetTitleFieldText("T1");
  EXPECT_EQ(ed->BuildFlow().titleCell, "T1");
  ed->cbNOName->showPopup();
  EXPECT_EQ(ed->PickMode(), 1);
  Select(0);
  ed->btnMsgField->click();
  EXPECT_EQ(ed->PickMode(), 2);
  ed->btn_AddEditCell->click();
  EXPECT_EQ(ed->PickMode(), 3);
  EXPECT_EQ(sent.size(), 4u);
}

}  // namespace
