// The workflow editor against the real oa-server: a definition is opened as the dispatcher
// opens it, edited with the editor's own tools and panels, and saved; the server then
// holds it and new documents route by it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <cstdlib>

#include "ModalDriver.h"
#include "control/session/Un_function.h"
#include "control/windows/frmPopup.h"
#include "control/select/frm_SelectUser.h"
#include "control/select/UnitTree.h"
#include "control/flow/fcEditFlow.h"
#include "control/session/frm_Main.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/FlowRouting.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "platform/QtText.h"
#include "e2e/AdminSession.h"
#include "e2e/E2eSupport.h"
#include "platform/Services.h"

namespace {

QApplication& App() { return E2eApp("e2e-editor"); }

const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";

// Input goes through the widget's window, as a person's would, so modality applies.
QWindow* WindowOf(QWidget* w) { return w->window()->windowHandle(); }
QPoint InWindow(QWidget* w, QPoint local) { return w->mapTo(w->window(), local); }
void ClickThroughWindow(QWidget* w) {
  QTest::mouseClick(WindowOf(w), Qt::LeftButton, {}, InWindow(w, w->rect().center()));
}
void TypeThroughWindow(QWidget* w, const QString& text) {
  for (QChar c : text) QTest::sendKeyEvent(QTest::Click, WindowOf(w), Qt::Key_unknown, QString(c), Qt::NoModifier);
}

class EditorE2E : public AdminSessionTest {
 protected:
  void SetUp() override {
    App();
    AdminSessionTest::SetUp();
    if (HasFatalFailure()) return;
    ReplyWindowFactories() = TReplyWindowFactories{};
    RegisterChartEditor();  // with the user dialog as handler picker
  }
  void TearDown() override {
    ReplyWindowFactories() = TReplyWindowFactories{};
    delete Tfrm_popup::Current();
    AdminSessionTest::TearDown();
  }
  // Requests the definition through the dispatcher, which opens the editor on it.
  void OpenEditor() {
    session_->OnReply = [this](TMemoryStream& reply) { DispatchReply(*session_, reply); };
    session_->RequestFlowChart("1");
  }
  // Takes the replies back from the dispatcher, then exchanges as the fixture does.
  std::string Exchange(std::string frame) {
    session_->OnReply = [this](TMemoryStream& reply) { replies_.push_back(reply.Data()); };
    return AdminSessionTest::Exchange(std::move(frame));
  }
  TFlowMessage Stored() { return ParseFlowMessage(Exchange(frames::BuildChatRequest(1))); }
  bool SavedOnServer() {
    return PumpUntil([&] {
             for (const std::string& l : server_.LogLines())
               if (l.rfind("FLOW", 0) == 0) return true;
             return false;
           }, 10000) &&
           PumpUntil([&] { return !session_->Busy() && session_->QueuedFrames() == 0; }, 10000);
  }

};

TEST_F(EditorE2E, AddedStepWithHandlerAndBranchIsStoredAndRoutesNewDocuments) {
  int stage = 0;
  int32_t saved = 0;
  // One script for both windows: the editor, and the user dialog its handler button opens.
  auto script = WhenModal<QDialog>(
      [&](QDialog* window) {
        if (auto* users = qobject_cast<TfrmSelectUser*>(window)) {
          TUserTree* self = users->Tree(TfrmSelectUser::pgSelf);
          self->setCurrentItem(self->Find(kZhang, nkUser));
          users->AddSelected(false);
          users->accept();
          return;
        }
        auto* ed = qobject_cast<TFFlowEditor*>(window);
        if (!ed) return;
        TFlowChart* chart = ed->Chart;
        QWidget* view = chart->viewport();
        if (stage == 0 && chart->ObjectCount() == 4) {
          chart->SetZoom(50);
          // A new step beside the first, drawn with the step tool, then a connection from
          // the last step to it with the connection tool.
          ed->btnCreateObject->click();
          QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(200, 10));
          ASSERT_EQ(chart->ObjectCount(), 5);
          ed->btnCreateConnect->click();
          const TRect last = chart->Objects(3)->ZoomedRect(), added = chart->Objects(4)->ZoomedRect();
          const QPoint from((last.Left + last.Right) / 2, (last.Top + last.Bottom) / 2);
          const QPoint to((added.Left + added.Right) / 2, (added.Top + added.Bottom) / 2);
          QTest::mousePress(view, Qt::LeftButton, {}, from);
          QTest::mouseMove(view, to);
          QTest::mouseRelease(view, Qt::LeftButton, {}, to);
          ASSERT_EQ(chart->ConnectionCount(), 5);
          chart->Connections(4)->SetText(Cp936("[F][请假天数][>][10]"));
          chart->ClearSelection();
          chart->Objects(4)->SetSelected(true);
          ed->btnOpUser->click();  // "USER" to the server; its reply comes to the editor
          stage = 1;
        } else if (stage == 1 && ed->WorkRecord(ed->CurrentRecord()).handlerCount == 1) {
          const QString dir = qEnvironmentVariable("TARVO_BUILD_DIR");
          if (!dir.isEmpty()) ed->grab().save(dir + "/editor-sample.png");
          stage = 2;
          ed->BitBtn1->click();
          saved = 1;
        }
      },
      std::chrono::seconds(30));
  OpenEditor();
  ASSERT_TRUE(PumpUntil([&] { return saved == 1 && !ChartEditor(*session_); }, 30000));
  ASSERT_TRUE(SavedOnServer());

  const TFlowMessage m = Stored();
  ASSERT_EQ(m.steps.size(), 5u);
  const TStepRecord& added = m.steps[4];
  EXPECT_EQ(added.name, Cp936("流程节点 5"));
  EXPECT_EQ(added.id, 5);
  ASSERT_EQ(added.handlerCount, 1u);
  EXPECT_EQ(added.handlers[0].userId, kZhang);
  EXPECT_EQ(added.incomingBranches, Cp936("人事备案@[F][请假天数][>][10];"));
  EXPECT_EQ(m.steps[3].nextSteps, Cp936("流程节点 5"));

  // A new document of that workflow carries the new chart, and past the last old step the
  // branch is taken when the condition holds.
  frames::QueryRecord q;
  q.userId = SessionValues().UserGUID;
  q.recordId = "{B0000000-1111-4222-8333-444444444444}";
  q.templateName = Cp936("请假单");
  q.commandFlag = 1;
  const std::string reply = Exchange(frames::BuildQueryRequest(q));
  ASSERT_EQ(frames::FrameCode(reply), "EXCE");
  TStream2Array document;
  document.LoadFromBytes(reply);
  TFcChart chart;
  TMemoryStream chartStream{std::string(TStream2Array::ChartPart(reply))};
  chart.LoadFromStream(chartStream);
  // As the document form numbers its chart: a step new to the server gets its number here.
  std::vector<TStepName> names;
  for (const TStepRecord& s : document.Steps) names.push_back({s.id, s.name});
  NumberChartSteps(chart, names);
  AnsiString days;
  TConditionContext context{&SessionValues(), [&](const AnsiString&) { return days; }};
  days = "15";
  EXPECT_EQ(NextStep(chart, 4, context), 5);
  days = "2";
  EXPECT_EQ(NextStep(chart, 4, context), -1);
}

TEST_F(EditorE2E, NameTypedRightAfterDrawingAStepIsSaved) {
  const QString name = QString::fromUtf8("收文登记2");
  bool done = false;
  auto script = WhenModal<TFFlowEditor>(
      [&](TFFlowEditor* ed) {
        if (done || ed->Chart->ObjectCount() != 4) return;
        // Draw a step with the step tool, then fill the panel it brings up.
        ClickThroughWindow(ed->btnCreateObject);
        ASSERT_TRUE(ed->btnCreateObject->isChecked());
        QWidget* view = ed->Chart->viewport();
        const QPoint at = InWindow(view, view->rect().center());
        QTest::mousePress(WindowOf(view), Qt::LeftButton, {}, at);
        QTest::mouseMove(WindowOf(view), at + QPoint(4, 4));
        QTest::mouseRelease(WindowOf(view), Qt::LeftButton, {}, at + QPoint(4, 4));
        ASSERT_EQ(ed->Chart->ObjectCount(), 5);
        ASSERT_TRUE(ed->edt_StepName->isEnabled());
        ClickThroughWindow(ed->edt_StepName);
        QTest::keyClick(WindowOf(ed->edt_StepName), Qt::Key_A, Qt::ControlModifier);
        TypeThroughWindow(ed->edt_StepName, name);
        ClickThroughWindow(ed->edtWFValue);
        TypeThroughWindow(ed->edtWFValue, "7");
        ClickThroughWindow(ed->chb_LockOpUser);
        // The flow reaches the new step from its last one, or it is not saved.
        ClickThroughWindow(ed->btnCreateConnect);
        const TRect last = ed->Chart->Objects(3)->ZoomedRect(), added = ed->Chart->Objects(4)->ZoomedRect();
        const QPoint from = InWindow(view, QPoint((last.Left + last.Right) / 2, (last.Top + last.Bottom) / 2));
        const QPoint to = InWindow(view, QPoint((added.Left + added.Right) / 2, (added.Top + added.Bottom) / 2));
        QTest::mousePress(WindowOf(view), Qt::LeftButton, {}, from);
        QTest::mouseMove(WindowOf(view), to);
        QTest::mouseRelease(WindowOf(view), Qt::LeftButton, {}, to);
        ASSERT_EQ(ed->Chart->ConnectionCount(), 5);
        done = true;
        ClickThroughWindow(ed->BitBtn1);
      },
      std::chrono::seconds(30));
  OpenEditor();
  ASSERT_TRUE(PumpUntil([&] { return done && !ChartEditor(*session_); }, 30000));
  ASSERT_TRUE(SavedOnServer());
  EXPECT_TRUE(capture_.prompts.empty()) << Cp936ToUtf8(capture_.prompts.front().text);

  const TFlowMessage m = Stored();
  ASSERT_EQ(m.steps.size(), 5u);
  EXPECT_EQ(m.steps[4].name, ToAnsi(name));
  EXPECT_EQ(m.steps[4].daysToHandle, "7");
  EXPECT_EQ(m.steps[4].lockHandlers, 1);
  TFcChart chart;
  TMemoryStream chartStream{m.chart};
  chart.LoadFromStream(chartStream);
  ASSERT_EQ(chart.ObjectCount(), 5);
  EXPECT_EQ(chart.Objects(4)->Text(), ToAnsi(name));
}

TEST_F(EditorE2E, DeletionUndoneBeforeSavingKeepsEveryStep) {
  bool done = false;
  auto script = WhenModal<TFFlowEditor>(
      [&](TFFlowEditor* ed) {
        if (done || ed->Chart->ObjectCount() != 4) return;
        ed->Chart->ClearSelection();
        ed->Chart->Objects(1)->SetSelected(true);
        ed->DeleteSelection();
        ed->Undo();
        ASSERT_EQ(ed->Chart->ObjectCount(), 4);
        done = true;
        ed->BitBtn1->click();
      },
      std::chrono::seconds(30));
  OpenEditor();
  ASSERT_TRUE(PumpUntil([&] { return done && !ChartEditor(*session_); }, 30000));
  ASSERT_TRUE(SavedOnServer());
  const TFlowMessage m = Stored();
  ASSERT_EQ(m.steps.size(), 4u);
  EXPECT_EQ(m.steps[1].name, Cp936("科室审核"));
  EXPECT_EQ(m.steps[1].handlerCount, 2u);
}

}  // namespace
