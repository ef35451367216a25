// The document form against the real oa-server, through the control's session and reply
// dispatcher: open a document, type into its cells, write an opinion, submit it down the
// branch its values choose, and open it again as the next handler.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextEdit>

#include "ModalDriver.h"
#include "SessionForm.h"
#include "grid/ui/XLEdit.h"
#include "grid/ui/XLGridView.h"
#include "control/session/Un_function.h"
#include "control/session/frm_Main.h"
#include "control/attachments/AttachmentList.h"
#include "control/select/frm_SelectUser.h"
#include "apps/oa-server/OaDatabase.h"
#include "control/form/DocDistribution.h"
#include "control/form/DocNumbering.h"
#include "control/form/frm_FenFa.h"
#include "control/form/frm_SelFenFa.h"
#include "control/select/frm_SelectUnit.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/form/TemplateFields.h"
#include "control/form/frm_Template.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "e2e/E2eSupport.h"
#include "platform/QtText.h"
#include "platform/Services.h"

namespace {

QApplication& App() { return E2eApp("e2e-form"); }

const char* kRecord = kLeaveRecord;
const char* kLisi = "{A3B4C5D6-1E2F-4A5B-8C7D-9E0F1A2B3C4D}";
const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";


class FormE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ClearSessionValues();
    RegisterTemplateForm();
    ASSERT_TRUE(server_.Started());
    session_ = std::make_unique<TfrmMain>();
    session_->SetServer("127.0.0.1", server_.Port());
    Login("zhangsan");
  }
  void TearDown() override {
    // A reply still on its way must not leave a window nobody answers.
    ModalScript stray(
        [] {
          if (!QApplication::activeModalWidget()) return false;
          ADD_FAILURE() << "a window opened after the test";
          ModalScript::CloseAllModal();
          return true;
        },
        std::chrono::seconds(5), "stray window");
    FreeDocumentForm(*session_);
    PumpFor(50);
    session_.reset();
    ClearSessionValues();
  }

  void Login(const char* name) { LogInSession(*session_, name); }

  void WithForm(bool newDoc, const std::function<void(TfrmTemplate&)>& act) { WithLeaveForm(*session_, newDoc, act); }

  static void Type(TfrmTemplate& f, const char* field, const char* text) { TypeIntoField(f, field, text); }

  // admin submits a new leave request of `days` days; the document then waits at step 2
  // for zhangsan, who is logged in afterwards.
  void SubmitNewRequest(const char* days) {
    Login("admin");
    WithForm(true, [&](TfrmTemplate& f) {
      EXPECT_EQ(f.CurStepNo(), 1);
      EXPECT_TRUE(f.IsStartStep());
      EXPECT_TRUE(f.Buttons().temporary);
      EXPECT_EQ(f.NextStepNo(), 2);
      EXPECT_EQ(f.NextStepLabel()->text(), QString::fromUtf8("科室审核"));
      // Department review: zhangsan reviews admin's department, lisi does not.
      EXPECT_EQ(f.NextUserLabel()->text(), QString::fromUtf8("张三"));
      EXPECT_EQ(f.GetFieldValue(Cp936("申请日期")), DateToStr(Services::Clock().Now()));
      Type(f, "标题", "出差三天");
      Type(f, "请假天数", days);
      f.btnSendClick();
    });
    Login("zhangsan");
  }

  // The stored document as the server sends it, without a form.
  TStream2Array RawOpen() {
    std::string reply;
    const auto dispatch = session_->OnReply;
    // Replies still on their way (a message for an earlier frame) go where they would.
    session_->OnReply = [&](TMemoryStream& r) {
      if (frames::FrameCode(r.Data()) == "EXCE") {
        reply = r.Data();
      } else if (dispatch) {
        dispatch(r);
      }
    };
    frames::QueryRecord q;
    q.userId = SessionValues().UserGUID;
    q.recordId = kRecord;
    session_->SendToServer(frames::BuildQueryRequest(q));
    EXPECT_TRUE(PumpUntil([&] { return !reply.empty(); }, 10000));
    session_->OnReply = dispatch;
    TStream2Array d;
    d.LoadFromBytes(reply);
    return d;
  }

  // A units request's round trip through the session: it goes out after whatever was
  // queued before it, and the server logs each request before answering it.
  bool Settled() {
    auto ended = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, ended] { session_->SendToServer(frames::BuildUnitsRequest(1), [ended](auto, const std::string&) { *ended = true; }); },
        Qt::QueuedConnection);
    if (!PumpUntil([&] { return *ended; }, 20000)) return false;
    const std::vector<std::string> log = server_.LogLines();
    return !log.empty() && log.back().rfind("COMP", 0) == 0;
  }
  size_t Updates() const {
    size_t n = 0;
    for (const std::string& line : server_.LogLines()) n += line.rfind("UPDA", 0) == 0;
    return n;
  }

  ServiceCapture capture_;
  OaServerProcess server_;
  std::unique_ptr<TfrmMain> session_;
};

TEST_F(FormE2E, SubmitMovesTheDocumentDownTheBranchItsValuesChoose) {
  SubmitNewRequest("5");
  ASSERT_EQ(Updates(), 1u);

  // Step 2 as its handler: the typed values are back, and more than three days leads to
  // the leader's step.
  WithForm(false, [&](TfrmTemplate& f) {
    EXPECT_EQ(f.CurStepNo(), 2);
    EXPECT_FALSE(f.IsStartStep());
    EXPECT_FALSE(f.Buttons().temporary);
    EXPECT_EQ(f.GetFieldValue(Cp936("标题")), Cp936("出差三天"));
    EXPECT_EQ(f.GetFieldValue(Cp936("请假天数")), "5");
    EXPECT_EQ(f.NextStepNo(), 3);
    EXPECT_EQ(f.NextUserLabel()->text(), QString::fromUtf8("赵六"));
    EXPECT_FALSE(f.OpinionPanel()->isHidden());
    f.OpinionMemo()->setPlainText(QString::fromUtf8("同意"));
    // The opinion line stands in the step's opinion cell.
    EXPECT_TRUE(ToQString(f.GetFieldValue(Cp936("科室意见"))).endsWith(QString::fromUtf8("张三：同意")));
    f.btnSendClick();
  });
  ASSERT_EQ(Updates(), 2u);

  WithForm(false, [&](TfrmTemplate& f) {
    EXPECT_EQ(f.CurStepNo(), 3);
    EXPECT_EQ(ToQString(f.Doc().Header.Text(dh::Opinion)), QString::fromUtf8("同意"));
    EXPECT_TRUE(ToQString(f.GetFieldValue(Cp936("科室意见"))).endsWith(QString::fromUtf8("张三：同意")));
    f.close();
  });
}

TEST_F(FormE2E, AShortLeaveSkipsTheLeaderAndClosingAsksBeforeSaving) {
  SubmitNewRequest("2");
  WithForm(false, [&](TfrmTemplate& f) {
    EXPECT_EQ(f.NextStepNo(), 4);
    EXPECT_EQ(f.NextStepLabel()->text(), QString::fromUtf8("人事备案"));
    Type(f, "科室意见", "changed");
    capture_.promptAnswers.push_back(MsgResult::No);
    f.close();
  });
  ASSERT_FALSE(capture_.prompts.empty());
  EXPECT_EQ(capture_.prompts.back().text, Cp936("是否保存审批单？"));
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Updates(), 1u);  // "No" sent nothing

  // Nothing typed: closing neither asks nor saves.
  const size_t asked = capture_.prompts.size();
  WithForm(false, [&](TfrmTemplate& f) { f.close(); });
  EXPECT_EQ(capture_.prompts.size(), asked);
}

TEST_F(FormE2E, SubmitWithoutATitleIsRefusedAndSendsNothing) {
  WithForm(true, [&](TfrmTemplate& f) {
    const TFieldEntry* title = nullptr;
    for (const TFieldEntry& x : f.Doc().Fields)
      if (x.name == Cp936("标题")) title = &x;
    ASSERT_NE(title, nullptr);
    f.Sheet().SetAsString(title->col, title->row, "");
    f.btnSendClick();
    ASSERT_FALSE(capture_.prompts.empty());
    EXPECT_EQ(capture_.prompts.back().text, Cp936("请输入标题"));
    f.close();  // nothing was typed: it closes without a question and saves nothing
  });
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Updates(), 0u);
}

// A date cleared with Backspace is the empty date, not day zero of the calendar: the save
// stores nothing made up, the document opens with the date blank, and closing it untouched
// asks nothing. Text that is no date is refused in Chinese, and closing keeps it.
TEST_F(FormE2E, AClearedDateIsStoredEmptyAndOpensBlank) {
  Login("admin");
  WithForm(true, [&](TfrmTemplate& f) {
    Type(f, "标题", "t");
    Type(f, "结束日期", "明天");
    ASSERT_FALSE(capture_.prompts.empty());
    EXPECT_EQ(capture_.prompts.back().text, Cp936("“明天”不是有效的日期，请重新输入。"));
    const size_t refused = capture_.prompts.size();
    f.close();
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(capture_.prompts.size(), refused + 1);
    EXPECT_EQ(capture_.prompts.back().text, capture_.prompts[refused - 1].text);
    ASSERT_TRUE(f.Grid()->Editor()->Shown());
    EXPECT_EQ(f.Grid()->Editor()->EditorControl()->Text(), QString::fromUtf8("明天"));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
    QApplication::sendEvent(f.Grid()->Editor()->FocusControl(), &escape);
    ClearField(f, "开始日期");
    EXPECT_EQ(f.GetFieldValue(Cp936("开始日期")), "");
    capture_.promptAnswers.push_back(MsgResult::Yes);  // "是否保存审批单？"
    f.close();
  });
  EXPECT_EQ(Updates(), 1u);
  const TStream2Array stored = RawOpen();
  for (const TFieldRecord& r : stored.FieldRecords) {
    if (r.name == Cp936("开始日期")) {
      EXPECT_EQ(r.value.substr(0, r.value.find('|')), "");
    }
  }
  const size_t asked = capture_.prompts.size();
  WithForm(false, [&](TfrmTemplate& f) {
    EXPECT_EQ(f.GetFieldValue(Cp936("开始日期")), "");
    EXPECT_EQ(f.GetFieldValue(Cp936("结束日期")), "2026-01-07");  // the untouched date as it was
    f.close();
  });
  EXPECT_EQ(capture_.prompts.size(), asked);
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Updates(), 1u);
}

TEST_F(FormE2E, TheNextHandlerPickerOffersTheStepsHandlersAndTheSubmitCarriesThem) {
  bool picked = false;
  ModalScript picker(
      [&] {
        auto* dialog = qobject_cast<TfrmSelectUser*>(QApplication::activeModalWidget());
        if (!dialog) return false;
        if (picked) return true;
        // The current handler comes pre-chosen; the person adds the other one.
        EXPECT_EQ(dialog->treSelectedUser()->NodeCount(), 1);
        TUserTree* tree = dialog->CurrentTree();
        TUserNode* lisi = tree ? tree->Find(kLisi, nkUser) : nullptr;
        EXPECT_NE(lisi, nullptr);
        if (lisi) {
          tree->setCurrentItem(lisi);
          dialog->AddSelected(false);
        }
        picked = true;
        dialog->accept();
        return true;
      },
      std::chrono::seconds(20), "next handler picker");
  Login("admin");  // whom zhangsan reviews: the picker offers both reviewers
  WithForm(true, [&](TfrmTemplate& f) {
    Type(f, "标题", "t");
    f.btnNextUserClick();
    ASSERT_TRUE(PumpUntil([&] { return picked && !f.NextUsersCombo()->isHidden(); }, 10000));
    EXPECT_EQ(f.NextUsersCombo()->count(), 2);
    EXPECT_EQ(f.Doc().PickedUsers.size(), 2u);
    f.btnSendClick();
  });
  // The document now holds both handlers.
  const TStream2Array stored = RawOpen();
  ASSERT_EQ(stored.PickedUsers.size(), 2u);
  EXPECT_EQ(stored.PickedUsers[1].userName, Cp936("李四"));
}

TEST_F(FormE2E, AtTheFilingStepTheFormNumbersTheDocumentAndDistributesItInsideAndOutside) {
  SubmitNewRequest("1");
  WithForm(false, [&](TfrmTemplate& f) { f.btnSendClick(); });
  Login("chener");  // the filing step's handler
  frames::NumberEntry entry;
  WithForm(false, [&](TfrmTemplate& f) {
    ASSERT_EQ(f.CurStepNo(), 4);
    ASSERT_FALSE(f.NumberButton()->isHidden());
    ASSERT_FALSE(f.DistributionButton()->isHidden());

    f.NumberButton()->click();
    TNumberPanel* panel = f.NumberPanel();
    ASSERT_TRUE(PumpUntil([&] { return !panel->isHidden() && panel->flbNO()->count() > 0; }, 10000));
    entry = panel->Entries()[0];
    panel->flbNO()->setCurrentRow(0);
    panel->Confirm();
    EXPECT_EQ(f.GetFieldValue(Cp936("备案编号")),
              FormatDocNumber(entry.prefix, ToAnsi(panel->edtYear()->text()), entry.nextNumber));

    // Inside: the choice, then two colleagues.
    auto inside = WhenModal<TfrmSelFenFa>([](TfrmSelFenFa* d) { d->FlatSpeedButton1()->click(); });
    auto users = WhenModal<TFrmFenFa>([](TFrmFenFa* d) {
      TUserTree* self = d->Tree(TfrmSelectUser::pgSelf);
      for (const char* id : {kZhang, kLisi}) {
        self->setCurrentItem(self->Find(id, nkUser));
        d->AddSelected(false);
      }
      d->accept();
    });
    f.DistributionButton()->click();
    ASSERT_TRUE(PumpUntil([&] { return f.Distribution().Distributed(); }, 10000));

    // Outside: the choice, then one unit.
    auto outside = WhenModal<TfrmSelFenFa>([](TfrmSelFenFa* d) { d->FlatSpeedButton2()->click(); });
    auto units = WhenModal<TfrmSelectUnit>([](TfrmSelectUnit* d) {
      d->treSelf()->setCurrentItem(d->treSelf()->Find("2", nkUnit));
      d->AddSelected();
      d->accept();
    });
    f.DistributionButton()->click();
    ASSERT_TRUE(PumpUntil([&] { return f.Distribution().SentOutside(); }, 10000));
    f.close();
  });
  ASSERT_TRUE(PumpUntil([&] {
    const auto lines = server_.LogLines();
    return !lines.empty() && lines.back().rfind("OTFF", 0) == 0;
  }, 10000));
  // The server logs a request before storing it: a later round trip proves it stored.
  ASSERT_TRUE(Settled());

  OaDatabase db;
  db.Open(server_.DatabasePath());
  EXPECT_EQ(db.DistributionTargets(kRecord, "FEFA"), (std::vector<AnsiString>{kZhang, kLisi}));
  EXPECT_EQ(db.DistributionTargets(kRecord, "OTFF"), (std::vector<AnsiString>{Cp936("市财政局")}));
  // The save before distributing carried the number.
  const TStream2Array stored = RawOpen();
  EXPECT_EQ(stored.Header.I32(dh::NumberType), entry.kindId);
  EXPECT_EQ(stored.Header.I32(dh::Number), entry.nextNumber);
}

TEST_F(FormE2E, ArchivingAtTheLastStepSendsInboxAndLeavesTheDocumentReadOnly) {
  SubmitNewRequest("1");
  WithForm(false, [&](TfrmTemplate& f) {
    ASSERT_EQ(f.NextStepNo(), 4);
    f.btnSendClick();
  });
  Login("chener");  // the filing step's handler
  WithForm(false, [&](TfrmTemplate& f) {
    EXPECT_EQ(f.CurStepNo(), 4);
    EXPECT_TRUE(f.Buttons().archive);
    EXPECT_TRUE(f.Buttons().number);
    // The last step is its own next step, handled by the user.
    EXPECT_EQ(f.NextStepNo(), 4);
    EXPECT_EQ(f.NextUserLabel()->text(), QString::fromUtf8("陈二"));
    f.btnFileClick();
  });
  EXPECT_EQ(capture_.prompts.back().text, Cp936("是否将此审批（文件）归档？"));
  ASSERT_TRUE(PumpUntil([&] {
    const auto lines = server_.LogLines();
    return !lines.empty() && lines.back().rfind("DCMD", 0) == 0;
  }));
  WithForm(false, [&](TfrmTemplate& f) {
    EXPECT_TRUE(f.ReadOnlyDoc());
    EXPECT_TRUE(f.TopPanel()->isHidden());
    f.close();
  });
}

TEST_F(FormE2E, TheDocumentsAttachmentsAreListedOnTheForm) {
  SubmitNewRequest("2");
  TCopy2Files files;
  files.AddStream("a.txt", "alpha", fsFromServer);
  files.AddStream("b.txt", "beta", fsFromServer);
  const auto dispatch = session_->OnReply;
  std::string reply;
  session_->OnReply = [&](TMemoryStream& r) { reply = r.Data(); };
  session_->SendToServer(frames::BuildUploadRequest(kRecord, "oa_leave", 2, files.SaveToBytes()));
  ASSERT_TRUE(PumpUntil([&] { return !reply.empty(); }, 10000));
  session_->OnReply = dispatch;
  WithForm(false, [&](TfrmTemplate& f) {
    // The list comes with the attachment query the form sends as it opens.
    EXPECT_TRUE(PumpUntil([&] { return f.AttachmentList()->ListView()->count() == 2; }, 10000));
    f.close();
  });
}

}  // namespace
