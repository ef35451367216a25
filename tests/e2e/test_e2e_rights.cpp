// Who may change a document, end to end: the page opens documents through the control,
// the person works the document form through its window, and the real oa-server keeps or
// refuses what the form sends.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "ControlFactory.h"
#include "ModalDriver.h"
#include "PageSession.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "apps/oa-server/OaDatabase.h"
#include "control/windows/frmPopup.h"
#include "control/session/frm_Main.h"
#include "control/form/frm_Template.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "e2e/E2eSupport.h"
#include "grid/ui/XLGridView.h"
#include "platform/Services.h"

namespace {

QApplication& App() { return E2eApp("e2e-rights"); }


// Input goes through the form's window, as a person's would.
void Click(QPushButton* b) {
  ASSERT_TRUE(b && b->isVisible()) << (b ? b->text().toStdString() : "no such button");
  ClickThroughWindow(b);
}
// The window's close box.
void CloseBox(QWidget* w) { w->window()->windowHandle()->close(); }

QPushButton* Button(TfrmTemplate& f, const char* caption) { return VisibleButton(&f, QString::fromUtf8(caption)); }

void Type(TfrmTemplate& f, const char* field, const char* text) { person::TypeInto(&f, field, text); }

class RightsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ClearSessionValues();
    page_ = std::make_unique<PageSession>();
    ASSERT_TRUE(page_->Start());
  }
  void TearDown() override {
    delete Tfrm_popup::Current();
    page_.reset();
    PumpFor(20);
    ClearSessionValues();
  }

  void LogIn(const char* name) { ASSERT_TRUE(page_->Login(name)); }

  // The page opens the leave request `id` (a new one for "") and act works its form; returns
  // once the form has closed.
  void WithForm(const std::string& id, const std::function<void(TfrmTemplate&)>& act) {
    ASSERT_TRUE(ActOnceOnModal<TfrmTemplate>(
        [&] { ASSERT_EQ(page_->driver->Call("GetStream", {"oa", id, "0", "请假单", "1", "", ""}), S_OK); }, act,
        std::chrono::seconds(30), 40000));
  }

  // admin asks for leave; it waits for zhangsan, the reviewer of admin's department.
  // Returns the record ID.
  std::string LeaveAtTheReview() {
    LogIn("admin");
    const size_t closed = page_->driver->CountEvents("OnDoit");
    WithForm("", [&](TfrmTemplate& f) {
      EXPECT_EQ(f.NextUserLabel()->text(), QString::fromUtf8("张三"));
      Type(f, "标题", "Trip");
      Click(f.SendButton());
    });
    // The form closes on the server's answer and reports the document to the page.
    if (!page_->driver->WaitForEvent("OnDoit", closed + 1, 20000)) {
      ADD_FAILURE() << "the new request was not submitted";
      return {};
    }
    return page_->driver->LastEvent("OnDoit")->args.at(1).value.AsUtf8();
  }
  // zhangsan then passes the short leave on to the filing step, which is chener's.
  std::string LeaveAtTheFilingStep() {
    const std::string id = LeaveAtTheReview();
    LogIn("zhangsan");
    WithForm(id, [&](TfrmTemplate& f) {
      EXPECT_EQ(f.CurStepNo(), 2);
      EXPECT_EQ(f.NextStepNo(), 4);
      Click(f.SendButton());
    });
    return id;
  }

  std::optional<oa::StoredDocument> Stored(const std::string& id) const { return page_->Stored(id); }
  static AnsiString Value(const oa::StoredDocument& d, const char* field) { return e2e::StoredValue(d, field); }
  // Sends a frame through the control's session, as a client that sends whatever it
  // likes would; returns once its reply was handled.
  void SendAnyway(std::string frame) {
    const size_t logged = page_->server.LogLines().size();
    frmMain()->SendToServer(std::move(frame));
    ASSERT_TRUE(page_->server.WaitForLogLines(logged + 1, 20000));
    ASSERT_TRUE(PumpUntil([] { return !frmMain()->Busy() && frmMain()->QueuedFrames() == 0; }, 20000));
  }
  // Rows the server keeps for records it holds no document for.
  int OrphanRows() {
    sqlite3* db = nullptr;
    if (sqlite3_open(page_->server.DatabasePath().c_str(), &db) != SQLITE_OK) return -1;
    int rows = 0;
    for (const char* table : {"comments", "attachments", "distributions", "bodies"}) {
      const std::string sql = std::string("SELECT COUNT(*) FROM ") + table +
                              " WHERE record_id NOT IN (SELECT record_id FROM documents)";
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        rows += sqlite3_column_int(st, 0);
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return rows;
  }
  std::vector<AnsiString> PromptTexts() const {
    std::vector<AnsiString> texts;
    for (const auto& p : capture_.prompts) texts.push_back(p.text);
    return texts;
  }

  ServiceCapture capture_;
  std::unique_ptr<PageSession> page_;
};

TEST_F(RightsE2E, ArchivingAfterAChangeKeepsTheChangeWithTheArchivedDocument) {
  const std::string id = LeaveAtTheFilingStep();
  LogIn("chener");
  const size_t sent = page_->driver->CountEvents("OnSendFile");
  WithForm(id, [&](TfrmTemplate& f) {
    EXPECT_EQ(f.CurStepNo(), 4);
    Type(f, "备案编号", "No.7");
    // The archive asks first (Yes); the close after it saves the change without asking.
    Click(Button(f, "归档"));
  });
  // The save's answer, or the message box of a refusal.
  ASSERT_TRUE(PumpUntil(
      [&] { return page_->driver->CountEvents("OnSendFile") > sent || capture_.prompts.size() > 1; }, 20000));
  EXPECT_EQ(PromptTexts(), std::vector<AnsiString>{Cp936("是否将此审批（文件）归档？")});
  const std::optional<oa::StoredDocument> d = Stored(id);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->state, "archived");
  EXPECT_EQ(Value(*d, "备案编号"), "No.7");
  EXPECT_EQ(d->currentStep, 4);
  // Opened again it is read-only, with the change.
  WithForm(id, [&](TfrmTemplate& f) {
    EXPECT_TRUE(f.ReadOnlyDoc());
    EXPECT_EQ(f.GetFieldValue(Cp936("备案编号")), "No.7");
    f.close();
  });
}

TEST_F(RightsE2E, SomeoneWhoDoesNotHandleTheStepReadsTheDocumentAndChangesNothing) {
  const std::string id = LeaveAtTheReview();
  LogIn("zhaoliu");
  const size_t updates = page_->Count("UPDA");
  TStream2Array seen;
  WithForm(id, [&](TfrmTemplate& f) {
    // Read-only: no command buttons, no opinion, no destroy.
    EXPECT_TRUE(f.ReadOnlyDoc());
    EXPECT_TRUE(f.TopPanel()->isHidden());
    EXPECT_TRUE(f.OpinionPanel()->isHidden());
    EXPECT_FALSE(f.DeleteMenuItem()->isEnabled());
    EXPECT_EQ(f.GetFieldValue(Cp936("标题")), "Trip");
    seen.Header = f.Doc().Header;
    CloseBox(&f);
  });
  EXPECT_TRUE(capture_.prompts.empty());  // closing a read-only form saves nothing

  // What the form does not offer, sent anyway, is refused with a message and changes nothing.
  seen.Fields = {{1, 1, Cp936("标题"), "", "Overwritten"}};
  seen.PickedUsers = {{SessionValues().UserGUID, Cp936("赵六"), 0, ""}};
  SendAnyway(seen.BuildUpdateFrame("oa_leave", id, 1, SessionValues()).Data());
  // Sent after the close, this one reached the server after anything the close queued.
  EXPECT_EQ(page_->Count("UPDA"), updates + 1);
  SendAnyway(frames::BuildDocCommandRequest(SessionValues().UserGUID, "oa_leave", id, "DELETE", 2, -1));
  SendAnyway(frames::BuildSignOffRequest(SessionValues().UserGUID, "oa_leave", id, "not mine to say"));
  SendAnyway(frames::BuildSignOffRequest("{00000000-0000-4000-8000-000000000000}", "oa_leave", id, "nobody"));
  // Nor does anything stay behind for a record the server never handed out.
  const std::string ghost = "{99999999-2222-4333-8444-555555555555}";
  TCopy2Files files;
  files.AddStream("a.txt", "alpha", fsAdded);
  SendAnyway(frames::BuildUploadRequest(ghost, "oa_leave", 1, files.SaveToBytes()));
  SendAnyway(frames::BuildSignOffRequest(SessionValues().UserGUID, "oa_leave", ghost, "orphan"));
  ASSERT_EQ(capture_.prompts.size(), 6u);
  EXPECT_EQ(capture_.prompts[0].text, Cp936("您不是该文档当前步骤的办理人，不能修改该文档！"));
  EXPECT_EQ(capture_.prompts[1].text, Cp936("您不是该文档当前步骤的办理人，不能修改该文档！"));
  EXPECT_EQ(capture_.prompts[2].text, Cp936("您不是该文档的办理人、起草人或分发对象，不能签批意见！"));
  EXPECT_EQ(capture_.prompts[3].text, Cp936("未能确认您的身份，请重新登录！"));
  EXPECT_EQ(capture_.prompts[4].text, Cp936("未找到该文档！"));
  EXPECT_EQ(capture_.prompts[5].text, Cp936("未找到该文档！"));
  std::optional<oa::StoredDocument> d = Stored(id);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->state, "open");
  EXPECT_EQ(d->currentStep, 2);
  EXPECT_EQ(Value(*d, "标题"), "Trip");
  EXPECT_EQ(OrphanRows(), 0);

  // The handler still can: he sees it open, comments in his own name and submits it.
  LogIn("zhangsan");
  SendAnyway(frames::BuildSignOffRequest(SessionValues().UserGUID, "oa_leave", id, "seen"));
  WithForm(id, [&](TfrmTemplate& f) {
    EXPECT_FALSE(f.ReadOnlyDoc());
    EXPECT_TRUE(f.DeleteMenuItem()->isEnabled());
    Click(f.SendButton());
  });
  EXPECT_EQ(capture_.prompts.size(), 6u);
  d = Stored(id);
  EXPECT_EQ(d->currentStep, 4);
  OaDatabase db;
  db.Open(page_->server.DatabasePath());
  const std::vector<frames::CommentRecord> comments = db.Comments(id);
  ASSERT_EQ(comments.size(), 1u);
  EXPECT_EQ(comments[0].authorName, Cp936("张三"));
  EXPECT_EQ(comments[0].text, "seen");
  EXPECT_EQ(OrphanRows(), 0);
}

}  // namespace
