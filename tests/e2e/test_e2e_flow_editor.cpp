// The workflow editor as a person uses it, against the real oa-server: every edit goes in
// through the editor's window, and what counts is the definition the server stored.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fstream>

#include "ModalDriver.h"
#include "control/flow/fcEditFlow.h"
#include "control/form/frm_Template.h"
#include "control/select/UnitTree.h"
#include "control/select/frm_SelectUser.h"
#include "control/session/Un_function.h"
#include "control/session/frm_Main.h"
#include "control/windows/frmPopup.h"
#include "core/ScopeGuard.h"
#include "flowchart/ui/fcSelUnion.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "platform/QtText.h"
#include "e2e/AdminSession.h"
#include "e2e/E2eSupport.h"
#include "platform/Services.h"

namespace {

QApplication& App() { return E2eApp("e2e-flow-editor"); }

QString U(const char* s) { return QString::fromUtf8(s); }
AnsiString A(const char* s) { return Cp936(s); }

// Input goes through the widget's window, as a person's would.
QWindow* WindowOf(QWidget* w) { return w->window()->windowHandle(); }
QPoint InWindow(QWidget* w, QPoint local) { return w->mapTo(w->window(), local); }
void Click(QWidget* w, QPoint local) { QTest::mouseClick(WindowOf(w), Qt::LeftButton, {}, InWindow(w, local)); }
void Click(QWidget* w) { Click(w, w->rect().center()); }
void Type(QWidget* w, const QString& text) {
  for (QChar c : text) QTest::sendKeyEvent(QTest::Click, WindowOf(w), Qt::Key_unknown, QString(c), Qt::NoModifier);
}
void ShiftClick(QWidget* w, QPoint local) {
  QTest::mouseClick(WindowOf(w), Qt::LeftButton, Qt::ShiftModifier, InWindow(w, local));
}
void Key(QWidget* w, Qt::Key key, Qt::KeyboardModifiers m = {}) { QTest::keyClick(WindowOf(w), key, m); }
void Drag(QWidget* w, QPoint from, QPoint to) {
  QTest::mousePress(WindowOf(w), Qt::LeftButton, {}, InWindow(w, from));
  QTest::mouseMove(WindowOf(w), InWindow(w, (from + to) / 2));
  QTest::mouseMove(WindowOf(w), InWindow(w, to));
  QTest::mouseRelease(WindowOf(w), Qt::LeftButton, {}, InWindow(w, to));
}
// Replaces a line edit's text as a person does: click, select all, type.
void Retype(QLineEdit* e, const QString& text) {
  Click(e);
  Key(e, Qt::Key_A, Qt::ControlModifier);
  if (text.isEmpty()) Key(e, Qt::Key_Backspace);
  Type(e, text);
}

// Opens a menu of the menu bar and chooses one of its commands, with the mouse.
void ChooseMenu(QMenuBar* bar, QMenu* menu, QAction* item) {
  Click(bar, bar->actionGeometry(menu->menuAction()).center());
  ASSERT_TRUE(PumpUntil([&] { return menu->isVisible(); }, 5000));
  QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(item).center());
}

// Picks an item of the drop-down menu a tool button opens (its menu runs its own loop).
void PickFromMenu(QToolButton* button, const QString& item) {
  QTimer poll;
  bool picked = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || picked) return;
    for (QAction* a : menu->actions())
      if (a->text() == item) {
        picked = true;
        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(a).center());
        return;
      }
  });
  poll.start(20);
  Click(button);
  EXPECT_TRUE(picked) << item.toStdString();
}

// Where an object or a connection is on the chart's viewport.
QPoint CentreOf(TFlowChart* chart, const TFcObject* o) {
  const TRect r = o->ZoomedRect();
  const TPoint org = chart->ScrollOrigin();
  return {(r.Left + r.Right) / 2 - org.x, (r.Top + r.Bottom) / 2 - org.y};
}
QPoint MiddleOf(TFlowChart* chart, const TFcConnection* c) {
  const auto& p = c->ZoomedPoints();
  const TPoint org = chart->ScrollOrigin();
  return {(p.front().x + p.back().x) / 2 - org.x, (p.front().y + p.back().y) / 2 - org.y};
}
TFcObject* Named(TFlowChart* chart, const char* name) {
  for (int i = 0; i < chart->ObjectCount(); ++i)
    if (chart->Objects(i)->Text() == Cp936(name)) return chart->Objects(i);
  return nullptr;
}
const TStepRecord* StepNamed(const TFlowMessage& m, const char* name) {
  for (const TStepRecord& s : m.steps)
    if (s.name == Cp936(name)) return &s;
  return nullptr;
}

// A clear spot of the sample chart, and where a new step goes.
const QPoint kEmpty(300, 40);
const QPoint kNewStep(300, 100);

class FlowEditorE2E : public AdminSessionTest {
 protected:
  void SetUp() override {
    App();
    AdminSessionTest::SetUp();
    if (HasFatalFailure()) return;
    ReplyWindowFactories() = TReplyWindowFactories{};
    RegisterChartEditor();
    before_ = Stored();
    ASSERT_EQ(before_.steps.size(), 4u);
  }
  void TearDown() override {
    ReplyWindowFactories() = TReplyWindowFactories{};
    delete Tfrm_popup::Current();
    AdminSessionTest::TearDown();
  }

  // Opens the editor as the dispatcher does and runs script on it once; waits until the
  // editor has closed.
  void Edit(const std::function<void(TFFlowEditor*)>& script) {
    bool started = false, finished = false;
    auto driver = WhenModal<TFFlowEditor>(
        [&](TFFlowEditor* ed) {
          if (started || ed->Chart->ObjectCount() == 0) return;
          started = true;
          script(ed);
          finished = true;
        },
        std::chrono::seconds(60));
    session_->OnReply = [this](TMemoryStream& reply) { DispatchReply(*session_, reply); };
    session_->RequestFlowChart("1");
    ASSERT_TRUE(PumpUntil([&] { return finished && !ChartEditor(*session_); }, 70000));
    ASSERT_TRUE(PumpUntil([&] { return !session_->Busy() && session_->QueuedFrames() == 0; }, 10000));
  }
  TFlowMessage Stored() {
    session_->OnReply = [this](TMemoryStream& reply) { replies_.push_back(reply.Data()); };
    const size_t n = replies_.size();
    session_->SendToServer(frames::BuildChatRequest(1));
    if (!PumpUntil([&] { return replies_.size() > n; }, 10000)) return {};
    return ParseFlowMessage(replies_.back());
  }
  size_t Prompted(const char* text) const {
    size_t n = 0;
    for (const auto& p : capture_.prompts) n += p.text.find(Cp936(text)) != AnsiString::npos;
    return n;
  }
  // Saves with the button and waits for the editor to close on the server's reply.
  void SaveAndWaitForClose(TFFlowEditor* ed) {
    QPointer<TFFlowEditor> alive(ed);
    Click(ed->BitBtn1);
    EXPECT_TRUE(PumpUntil([&] { return !alive || !alive->isVisible(); }, 10000));
  }
  // Draws a new step and connects the step named from to it.
  TFcObject* DrawConnectedStep(TFFlowEditor* ed, const char* from) {
    QWidget* view = ed->Chart->viewport();
    Click(ed->btnCreateObject);
    Drag(view, kNewStep, kNewStep + QPoint(4, 4));
    EXPECT_EQ(ed->Chart->ObjectCount(), 5);
    TFcObject* added = ed->Chart->Objects(ed->Chart->ObjectCount() - 1);
    Click(ed->btnCreateConnect);
    Drag(view, CentreOf(ed->Chart, Named(ed->Chart, from)), CentreOf(ed->Chart, added));
    EXPECT_EQ(ed->Chart->ConnectionCount(), 5);
    return ed->Chart->Objects(ed->Chart->ObjectCount() - 1);
  }

  TFlowMessage before_;
};

TEST_F(FlowEditorE2E, UndoneRenameKeepsTheNewStepsRecord) {
  Edit([&](TFFlowEditor* ed) {
    TFcObject* added = DrawConnectedStep(ed, "人事备案");
    Click(ed->Chart->viewport(), CentreOf(ed->Chart, added));
    Retype(ed->edtWFValue, "7");
    Retype(ed->edt_StepName, U("临时名称"));
    Click(ed->Chart->viewport(), kEmpty);  // leaving the name box keeps the rename
    ASSERT_TRUE(Named(ed->Chart, "临时名称"));
    Key(ed->Chart, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_TRUE(Named(ed->Chart, "流程节点 5"));
    SaveAndWaitForClose(ed);
  });
  const TFlowMessage m = Stored();
  ASSERT_EQ(m.steps.size(), 5u);
  const TStepRecord* added = StepNamed(m, "流程节点 5");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->daysToHandle, "7");
  EXPECT_FALSE(StepNamed(m, "临时名称"));
}

TEST_F(FlowEditorE2E, TakenOrEmptyNameNeverLeavesThePanelNorReachesTheServer) {
  Edit([&](TFFlowEditor* ed) {
    QWidget* view = ed->Chart->viewport();
    Click(view, CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    Retype(ed->edt_StepName, U("人事备案"));
    Click(view, kEmpty);
    EXPECT_EQ(Prompted("当前流程步骤名称不能与其他步骤名称相同，请修改！"), 1u);
    // The step stays selected and in the panel.
    ASSERT_EQ(ed->Chart->SelectedObjects().size(), 1u);
    EXPECT_EQ(ed->Chart->SelectedObject()->Text(), A("人事备案"));
    EXPECT_TRUE(ed->edt_StepName->isEnabled());
    Click(ed->BitBtn1);
    EXPECT_EQ(Prompted("当前流程步骤名称不能与其他步骤名称相同，请修改！"), 2u);
    EXPECT_TRUE(ed->isVisible());

    Retype(ed->edt_StepName, QString());
    Click(view, kEmpty);
    EXPECT_EQ(Prompted("请填写流程名称！"), 1u);
    EXPECT_TRUE(ed->edt_StepName->isEnabled());
    Retype(ed->edt_StepName, U("科室复核"));
    Click(view, kEmpty);
    SaveAndWaitForClose(ed);
  });
  const TFlowMessage m = Stored();  // after any save the editor had queued
  EXPECT_EQ(server_.Count("FLOW"), 1u);
  ASSERT_EQ(m.steps.size(), 4u);
  const TStepRecord* renamed = StepNamed(m, "科室复核");
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->id, 2);
  EXPECT_EQ(renamed->handlerCount, 2u);
  ASSERT_TRUE(StepNamed(m, "人事备案"));
  EXPECT_EQ(StepNamed(m, "人事备案")->id, 4);
  EXPECT_EQ(StepNamed(m, "人事备案")->handlerCount, 1u);
}

TEST_F(FlowEditorE2E, TypingThroughAnotherStepsNameDoesNotTakeItOver) {
  Edit([&](TFFlowEditor* ed) {
    TFcObject* added = DrawConnectedStep(ed, "人事备案");
    Click(ed->Chart->viewport(), CentreOf(ed->Chart, added));
    Retype(ed->edt_StepName, U("科室审核2"));
    // On the way the name was 科室审核: the panel stayed with the new step.
    EXPECT_TRUE(ed->edt_OpUser->text().isEmpty());
    Click(ed->Chart->viewport(), kEmpty);
    SaveAndWaitForClose(ed);
  });
  const TFlowMessage m = Stored();
  ASSERT_EQ(m.steps.size(), 5u);
  const TStepRecord* old = StepNamed(m, "科室审核");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->id, 2);
  EXPECT_EQ(old->handlerCount, 2u);
  const TStepRecord* added = StepNamed(m, "科室审核2");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->handlerCount, 0u);
  EXPECT_NE(added->id, 2);
}

TEST_F(FlowEditorE2E, OpenedChartThenUndoKeepsEveryStepsRecord) {
  const std::string file = QDir::temp().filePath("flow-e2e-open.flc").toStdString();
  Edit([&](TFFlowEditor* ed) {
    ed->Chart->SaveToFile(file);
    capture_.openAnswers.push_back({file});
    ChooseMenu(ed->MainMenu, ed->mFile, ed->miOpen);  // the desktop's file dialog answers the file
    ASSERT_EQ(capture_.fileDialogs.size(), 1u);
    // Steps named in the file keep their records: 科室审核 still has its two handlers.
    Click(ed->Chart->viewport(), CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    EXPECT_FALSE(ed->edt_OpUser->text().isEmpty());
    Click(ed->Chart->viewport(), kEmpty);
    Key(ed->Chart, Qt::Key_Z, Qt::ControlModifier);
    SaveAndWaitForClose(ed);
  });
  std::remove(file.c_str());
  const TFlowMessage m = Stored();
  ASSERT_EQ(m.steps.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(m.steps[i].id, before_.steps[i].id);
    EXPECT_EQ(m.steps[i].handlerCount, before_.steps[i].handlerCount) << i;
    EXPECT_EQ(m.steps[i].editableCells, before_.steps[i].editableCells) << i;
  }
}

TEST_F(FlowEditorE2E, EscapeAsksAndEnterNeverSaves) {
  Edit([&](TFFlowEditor* ed) {
    QWidget* view = ed->Chart->viewport();
    Click(view, CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    Retype(ed->edtWFValue, "12");
    Key(ed->edtWFValue, Qt::Key_Return);
    Click(view, CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    Key(ed->Chart, Qt::Key_Return);
    // Escape asks; No keeps the editor with the change.
    capture_.promptAnswers.push_back(MsgResult::No);
    Key(ed->Chart, Qt::Key_Escape);
    ASSERT_EQ(Prompted("是否放弃修改"), 1u);
    EXPECT_TRUE(ed->isVisible());
    EXPECT_EQ(ed->edtWFValue->text(), "12");
    // The close box asks as well; Yes throws the change away.
    capture_.promptAnswers.push_back(MsgResult::Yes);
    WindowOf(ed)->close();
    EXPECT_EQ(Prompted("是否放弃修改"), 2u);
  });
  // The read's round trip comes after any save the editor had queued.
  const TFlowMessage stored = Stored();
  EXPECT_EQ(server_.Count("FLOW"), 0u);
  ASSERT_EQ(stored.steps.size(), before_.steps.size());
  EXPECT_EQ(stored.steps[1].daysToHandle, before_.steps[1].daysToHandle);
}

TEST_F(FlowEditorE2E, SaveWithTheServerStoppedKeepsTheEditorUntilASaveArrives) {
  Edit([&](TFFlowEditor* ed) {
    Click(ed->Chart->viewport(), CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    Retype(ed->edtWFValue, "9");
    server_.Stop();
    Click(ed->BitBtn1);
    ASSERT_TRUE(PumpUntil([&] { return Prompted("无法连接远程服务器！") == 1; }, 10000));
    EXPECT_TRUE(ed->isVisible());
    EXPECT_TRUE(ed->BitBtn1->isEnabled());
    ASSERT_TRUE(server_.Restart());
    SaveAndWaitForClose(ed);
  });
  EXPECT_EQ(StepNamed(Stored(), "科室审核")->daysToHandle, "9");
}

TEST_F(FlowEditorE2E, LooseConnectionEmptyFlowAndUnreachedStepAreNotSaved) {
  Edit([&](TFFlowEditor* ed) {
    QWidget* view = ed->Chart->viewport();
    // A connection cut and pasted on its own is loose at both ends.
    Click(view, MiddleOf(ed->Chart, ed->Chart->Connections(0)));
    ASSERT_TRUE(ed->Chart->SelectedConnection());
    Key(ed->Chart, Qt::Key_X, Qt::ControlModifier);
    Key(ed->Chart, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(ed->Chart->ConnectionCount(), 4);
    Click(ed->BitBtn1);
    EXPECT_EQ(Prompted("流程连线没有连接到流程节点"), 1u);
    Key(ed->Chart, Qt::Key_Z, Qt::ControlModifier);
    Key(ed->Chart, Qt::Key_Z, Qt::ControlModifier);
    // Nothing left to save.
    Click(view, kEmpty);
    Key(ed->Chart, Qt::Key_A, Qt::ControlModifier);
    Key(ed->Chart, Qt::Key_Delete);
    ASSERT_EQ(ed->Chart->ObjectCount(), 0);
    Click(ed->BitBtn1);
    EXPECT_EQ(Prompted("流程中没有任何步骤"), 1u);
    Key(ed->Chart, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(ed->Chart->ObjectCount(), 4);
    // A step no connection reaches.
    Click(ed->btnCreateObject);
    Drag(view, kNewStep, kNewStep + QPoint(4, 4));
    Click(ed->BitBtn1);
    EXPECT_EQ(Prompted("[流程节点 5]流程节点没有连接"), 1u);
    EXPECT_TRUE(ed->isVisible());
    capture_.promptAnswers.push_back(MsgResult::Yes);
    Key(ed->Chart, Qt::Key_Escape);
  });
  const TFlowMessage stored = Stored();  // after any save the editor had queued
  EXPECT_EQ(server_.Count("FLOW"), 0u);
  EXPECT_EQ(stored.steps.size(), 4u);
}

TEST_F(FlowEditorE2E, ToolBarMenusApplyToTheSelection) {
  Edit([&](TFFlowEditor* ed) {
    QWidget* view = ed->Chart->viewport();
    Click(view, CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    PickFromMenu(ed->sbLine, "10 pt");
    PickFromMenu(ed->sbShape, "Diamond");
    Click(view, MiddleOf(ed->Chart, ed->Chart->Connections(0)));
    ASSERT_TRUE(ed->Chart->SelectedConnection());
    PickFromMenu(ed->sbStyle, "Curved");
    SaveAndWaitForClose(ed);
  });
  TFcChart chart;
  TMemoryStream stream{Stored().chart};
  chart.LoadFromStream(stream);
  ASSERT_EQ(chart.ObjectCount(), 4);
  EXPECT_EQ(chart.Objects(1)->LineWidth(), 10);
  EXPECT_EQ(chart.Objects(1)->ShapeType(), stDiamond);
  TFcChart old;
  TMemoryStream oldStream{before_.chart};
  old.LoadFromStream(oldStream);
  EXPECT_EQ(chart.Objects(0)->LineWidth(), old.Objects(0)->LineWidth());  // only the selection
  EXPECT_EQ(chart.Connections(0)->Style(), 1);
}

TEST_F(FlowEditorE2E, HandlerPickerOpensWithTheStepsHandlersChosen) {
  int chosen = -1;
  Edit([&](TFFlowEditor* ed) {
    Click(ed->Chart->viewport(), CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    auto picker = WhenModal<TfrmSelectUser>([&](TfrmSelectUser* users) {
      if (chosen >= 0) return;
      chosen = users->treSelectedUser()->NodeCount();
      for (QPushButton* b : users->findChildren<QPushButton*>())
        if (b->text() == U("确定")) Click(b);
    });
    Click(ed->btnOpUser);
    ASSERT_TRUE(PumpUntil([&] { return chosen >= 0 && QApplication::activeModalWidget() == ed; }, 15000));
    EXPECT_EQ(ed->edt_OpUser->text(), ToQString(A("张三,李四")));
    Click(ed->Chart->viewport(), kEmpty);
    Click(ed->Chart->viewport(), CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    Retype(ed->edtWFValue, "5");  // a change to save
    SaveAndWaitForClose(ed);
  });
  EXPECT_EQ(chosen, 2);
  const TFlowMessage m = Stored();
  const TStepRecord* review = StepNamed(m, "科室审核");
  ASSERT_TRUE(review);
  ASSERT_EQ(review->handlerCount, 2u);
  EXPECT_EQ(review->handlers[0].userId, before_.steps[1].handlers[0].userId);
  EXPECT_EQ(review->handlers[1].userId, before_.steps[1].handlers[1].userId);
  // The departments each one reviews stay with them.
  EXPECT_EQ(review->handlers[0].deptNumbers, ",11,12,");
  EXPECT_EQ(review->handlers[1].deptNumbers, ",10,");
  EXPECT_EQ(review->handlers[0].deptNumber, before_.steps[1].handlers[0].deptNumber);
}

TEST_F(FlowEditorE2E, CellPickerOpensOnTheCellSetAndOnlyItsButtonDeliversIt) {
  RegisterTemplateForm();
  AnsiString added;
  Edit([&](TFFlowEditor* ed) {
    Click(ed->Chart->viewport(), CentreOf(ed->Chart, Named(ed->Chart, "科室审核")));
    // Escape on the title cell's picker, on the opinion cell's, then the button on an
    // editable cell's.
    struct Round {
      QWidget* opener;
      bool escape;
    };
    for (const Round& round : {Round{ed->cb_MsgTitle, true}, Round{ed->btnMsgField, true},
                               Round{ed->btn_AddEditCell, false}}) {
      AnsiString opened, seen;
      bool acted = false;
      auto form = WhenModal<TfrmTemplate>([&](TfrmTemplate* f) {
        if (acted) return;
        acted = true;
        QPushButton* done = f->findChild<QPushButton*>("btnPickCell");
        ASSERT_TRUE(done);
        EXPECT_TRUE(done->isVisible());
        opened = f->CurrentCellText();
        // Onto another cell that has a text, as a person moves with the arrow keys.
        for (int i = 0; i < 60 && (f->CurrentCellText().empty() || f->CurrentCellText() == opened); ++i)
          Key(f, i % 2 ? Qt::Key_Down : Qt::Key_Right);
        seen = f->CurrentCellText();
        if (round.escape) {
          Key(f, Qt::Key_Escape);
        } else {
          Click(done);
        }
      });
      const QString title = ed->cb_MsgTitle->currentText(), opinion = ed->edtMsgField->text(),
                    cells = ed->edtEditCells->text();
      if (round.opener == ed->cb_MsgTitle) {
        // The drop-down arrow asks for the form.
        Click(ed->cb_MsgTitle, QPoint(ed->cb_MsgTitle->width() - 6, ed->cb_MsgTitle->height() / 2));
      } else {
        Click(round.opener);
      }
      ASSERT_TRUE(PumpUntil([&] { return acted && QApplication::activeModalWidget() == ed; }, 15000));
      ASSERT_FALSE(seen.empty());
      // It opened on the cell already set.
      const AnsiString set = round.opener == ed->cb_MsgTitle ? before_.titleCell
                             : round.opener == ed->btnMsgField ? before_.steps[1].opinionCell
                                                               : opened;
      EXPECT_EQ(opened, set);
      EXPECT_EQ(ed->cb_MsgTitle->currentText(), title);
      EXPECT_EQ(ed->edtMsgField->text(), opinion);
      if (!round.escape) {
        EXPECT_EQ(ToAnsi(ed->edtEditCells->text()), ToAnsi(cells) + "," + seen);
        added = seen;
      }
    }
    SaveAndWaitForClose(ed);
  });
  const TFlowMessage m = Stored();
  EXPECT_EQ(m.titleCell, before_.titleCell);
  const TStepRecord* review = StepNamed(m, "科室审核");
  ASSERT_TRUE(review);
  EXPECT_EQ(review->opinionCell, before_.steps[1].opinionCell);
  EXPECT_EQ(review->editableCells, before_.steps[1].editableCells + "," + added);
}

// The question on leaving a changed editor, answered by keys on the real box: Escape and
// Enter both keep the editor and its drawing.
TEST_F(FlowEditorE2E, EscapeThenEnterOnTheLeaveQuestionKeepsTheDrawing) {
  std::vector<QString> defaults;
  Edit([&](TFFlowEditor* ed) {
    DrawConnectedStep(ed, "人事备案");
    // The box itself, not the recording, so that its keys are the ones a person presses.
    auto recording = Services::SetPrompt(nullptr);
    const auto restore = ScopeExit([&] { Services::SetPrompt(std::move(recording)); });
    for (Qt::Key answer : {Qt::Key_Escape, Qt::Key_Return}) {
      bool asked = false;
      auto box = WhenModal<QMessageBox>([&](QMessageBox* b) {
        if (asked || !b->isVisible() || !b->windowHandle()) return;
        asked = true;
        defaults.push_back(b->defaultButton() ? b->defaultButton()->text() : QString());
        QTest::keyClick(b->windowHandle(), answer);
      });
      Key(ed->Chart, Qt::Key_Escape);
      ASSERT_TRUE(PumpUntil([&] { return asked && QApplication::activeModalWidget() == ed; }, 10000));
      ASSERT_TRUE(ed->isVisible());
      EXPECT_EQ(ed->Chart->ObjectCount(), 5);
    }
    SaveAndWaitForClose(ed);
  });
  EXPECT_EQ(defaults.size(), 2u);
  const TFlowMessage m = Stored();
  EXPECT_EQ(m.steps.size(), 5u);
  EXPECT_TRUE(StepNamed(m, "流程节点 5"));
}

// The save check names the step at fault: a step no connection touches, put first in the
// chart's order, and of two loose connections the one whose step comes first.
TEST_F(FlowEditorE2E, SaveCheckNamesTheStrayStepAndTheFirstLooseStepInChartOrder) {
  Edit([&](TFFlowEditor* ed) {
    QWidget* view = ed->Chart->viewport();
    Click(ed->btnCreateObject);
    Drag(view, kNewStep, kNewStep + QPoint(4, 4));
    ASSERT_EQ(ed->Chart->ObjectCount(), 5);
    TFcObject* stray = ed->Chart->Objects(4);
    Click(view, CentreOf(ed->Chart, stray));
    ChooseMenu(ed->MainMenu, ed->mEdit, ed->miSendToBack);
    ASSERT_EQ(ed->Chart->Objects(0), stray);
    Click(ed->BitBtn1);
    EXPECT_EQ(Prompted("[流程节点 5]流程节点没有连接"), 1u);
    EXPECT_EQ(Prompted("[填写申请]"), 0u);
    ASSERT_EQ(ed->Chart->SelectedObjects().size(), 1u);
    EXPECT_EQ(ed->Chart->SelectedObject(), stray);
    ChooseMenu(ed->MainMenu, ed->mEdit, ed->miDelete);
    ASSERT_EQ(ed->Chart->ObjectCount(), 4);

    // Loose connections drawn from the last step, then from the first.
    for (const char* from : {"人事备案", "填写申请"}) {
      Click(ed->btnCreateConnect);
      Drag(view, CentreOf(ed->Chart, Named(ed->Chart, from)), kEmpty);
    }
    ASSERT_EQ(ed->Chart->ConnectionCount(), 6);
    Click(ed->BitBtn1);
    EXPECT_EQ(Prompted("[填写申请]流程节点没有连接"), 1u);
    EXPECT_EQ(Prompted("[人事备案]"), 0u);
    ASSERT_TRUE(ed->Chart->SelectedConnection());
    EXPECT_EQ(ed->Chart->SelectedConnection()->Source(), Named(ed->Chart, "填写申请"));
    capture_.promptAnswers.push_back(MsgResult::Yes);
    Key(ed->Chart, Qt::Key_Escape);
  });
  const TFlowMessage stored = Stored();
  EXPECT_EQ(server_.Count("FLOW"), 0u);
  EXPECT_EQ(stored.steps.size(), 4u);
}

// Nested unions: a step is taken out of the union that holds it; an outer union that
// holds it only through an inner one is not offered.
TEST_F(FlowEditorE2E, RemovingFromANestedUnionTakesTheStepOut) {
  QStringList offered;
  Edit([&](TFFlowEditor* ed) {
    QWidget* view = ed->Chart->viewport();
    auto unite = [&](const char* main, const char* child) {
      Click(view, CentreOf(ed->Chart, Named(ed->Chart, main)));
      ShiftClick(view, CentreOf(ed->Chart, Named(ed->Chart, child)));
      ASSERT_EQ(ed->Chart->SelectedObjects().size(), 2u);
      ChooseMenu(ed->MainMenu, ed->mUnions, ed->miNewUnion);
    };
    unite("科室审核", "分管领导审批");
    unite("填写申请", "科室审核");
    TFcObject* inner = Named(ed->Chart, "科室审核");
    TFcObject* outer = Named(ed->Chart, "填写申请");
    TFcObject* step = Named(ed->Chart, "分管领导审批");
    ASSERT_TRUE(inner->UnionContains(step));
    ASSERT_TRUE(outer->UnionContains(step));
    Click(view, kEmpty);
    Click(view, CentreOf(ed->Chart, step));
    ASSERT_EQ(ed->Chart->SelectedObjects().size(), 1u);
    bool acted = false;
    auto pick = WhenModal<TFSelectUnion>([&](TFSelectUnion* d) {
      if (acted) return;
      acted = true;
      // The outer union when it is there, else the first one offered.
      int row = 0;
      for (int i = 0; i < d->lbUnions->count(); ++i) {
        offered << d->lbUnions->item(i)->text();
        if (d->lbUnions->item(i)->text().contains(U("填写申请"))) row = i;
      }
      ASSERT_GT(d->lbUnions->count(), 0);
      Click(d->lbUnions->viewport(), d->lbUnions->visualItemRect(d->lbUnions->item(row)).center());
      Click(d->btnOK);
    });
    ChooseMenu(ed->MainMenu, ed->mUnions, ed->miRemoveFromUnion);
    ASSERT_TRUE(PumpUntil([&] { return acted && QApplication::activeModalWidget() == ed; }, 10000));
    SaveAndWaitForClose(ed);
  });
  EXPECT_FALSE(offered.isEmpty());
  TFcChart chart;
  TMemoryStream stream{Stored().chart};
  chart.LoadFromStream(stream);
  const TFcObject* step = nullptr;
  const TFcObject* outer = nullptr;
  const TFcObject* inner = nullptr;
  for (int i = 0; i < chart.ObjectCount(); ++i) {
    const AnsiString& t = chart.Objects(i)->Text();
    if (t == A("分管领导审批")) step = chart.Objects(i);
    if (t == A("填写申请")) outer = chart.Objects(i);
    if (t == A("科室审核")) inner = chart.Objects(i);
  }
  ASSERT_TRUE(step && outer && inner);
  for (int i = 0; i < chart.ObjectCount(); ++i)
    EXPECT_FALSE(chart.Objects(i)->UnionContains(step)) << offered.join("; ").toStdString();
  // The unions themselves stay as they were.
  EXPECT_TRUE(outer->UnionContains(inner));
}

}  // namespace
