// The document form's own services, offscreen, with the frames it sends caught by an
// in-test server and the replies handed to it as the dispatcher would: the number from
// the server's list, distribution (also when the form goes away under its dialog), the
// opinion phrases and approver panel, the sign-off comments and the grid's menu.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>

#include "ModalDriver.h"
#include "apps/oa-server/OaSampleData.h"
#include "apps/oa-server/OaService.h"
#include "control/ControlTestSupport.h"
#include "control/form/DocNumbering.h"
#include "control/form/DocOpinion.h"
#include "control/office/frame_w.h"
#include "control/form/frm_FenFa.h"
#include "control/session/frm_Main.h"
#include "control/form/frm_SelFenFa.h"
#include "control/select/frm_SelectUser.h"
#include "control/form/frm_Template.h"
#include "core/ByteIO.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "grid/ui/XLGridView.h"
#include "platform/Services.h"
#include "uikit/TFlatButtonUnit.h"

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

class DocForm : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSessionValues();
    SessionValues().UserGUID = "{me}";
    SessionValues().UserName = Cp936("张三");
    SessionValues().CompID = 1;
    capture_.now = EncodeDate(2026, 12, 7);
    session_.SetServer("127.0.0.1", server_.Port());
    db_.Open(":memory:");
  }
  void TearDown() override { ClearSessionValues(); }

  // The leave request loaded at `step`; adjust sets header values and records first.
  static void Load(TfrmTemplate& form, int step, const std::function<void(TStream2Array&)>& adjust = {}) {
    const oa::SampleTemplate t = oa::SampleTemplates()[0];
    const TFlowMessage wf = oa::SampleWorkflows()[0];
    TStream2Array d;
    d.Header.SetText(dh::TableName, "oa_leave");
    d.Header.SetText(dh::RecordId, "{R}");
    d.Header.SetText(dh::NumberField, t.numberField);
    d.Header.SetI32(dh::NumberType, -1);
    d.Header.SetI32(dh::CurrentStep, step);
    d.Header.SetI32(dh::NextStep, -1);
    d.Header.SetI32(dh::DistributionType, 3);
    d.Steps = wf.steps;
    d.FieldRecords = {{Cp936("请假天数"), "5"}, {"Status", "0"}};
    if (adjust) adjust(d);
    TMemoryStream reply{d.BuildDocumentReply(t.sheet, wf.chart)};
    form.Load(reply);
  }
  static void Give(TfrmTemplate& form, void (TfrmTemplate::*handler)(TMemoryStream&), const std::string& reply) {
    TMemoryStream s{reply};
    (form.*handler)(s);
  }
  // The frames that reached the server after waiting for `n` of them, without the
  // attachment queries each form sends as it opens.
  std::vector<std::string> Frames(size_t n = 0) {
    std::vector<std::string> out;
    WaitUntil([&] {
      out.clear();
      for (const auto& r : server_.requests)
        if (frames::FrameCode(r.frame) != "QUEY") out.push_back(r.frame);
      return out.size() >= n;
    });
    return out;
  }
  // A marker request's round trip: whatever the form queued before it has reached the
  // server, which saw the marker last.
  bool Settled() {
    const std::string marker = frames::BuildUnitsRequest(99);
    server_.QueueRaw({{Le32(0)}});
    return RoundTrip(session_, marker) && !server_.requests.empty() && server_.requests.back().frame == marker;
  }
  std::string Reply(const std::string& request) { return *oa::OaService(db_).Reply(request); }
  static AnsiString FieldText(TfrmTemplate& f, const char* name) { return f.GetFieldValue(Cp936(name)); }

  AppInit app_;
  ServiceCapture capture_;
  FrameServer server_;
  TfrmMain session_;
  OaDatabase db_;
};

TEST_F(DocForm, TheNumberTakenFromTheListGoesIntoTheNumberFieldAndTheHeader) {
  TfrmTemplate form;
  Load(form, 4);
  ASSERT_FALSE(form.NumberButton()->isHidden());
  form.NumberButton()->click();
  const auto sent = Frames(1);
  ASSERT_EQ(frames::FrameCode(sent.at(0)), "BHQZ");
  const std::vector<frames::NumberEntry> kinds = db_.NumberKinds(1);
  ASSERT_GE(kinds.size(), 2u);
  TNumberPanel* panel = form.NumberPanel();
  Give(form, &TfrmTemplate::ShowNumberList, Reply(sent[0]));
  ASSERT_FALSE(panel->isHidden());

  // "确定" with a number no integer holds: the click swallows the error and takes nothing.
  QPushButton* ok = nullptr;
  for (QPushButton* b : panel->findChildren<QPushButton*>())
    if (b->text() == U("确定")) ok = b;
  ASSERT_NE(ok, nullptr);
  panel->flbNO()->setCurrentRow(1);
  panel->edtNO()->setText("99999999999");
  ok->click();
  EXPECT_FALSE(panel->isHidden());
  EXPECT_EQ(form.Doc().Header.I32(dh::NumberType), -1);

  panel->edtNO()->setText("7");
  ok->click();
  EXPECT_TRUE(panel->isHidden());
  EXPECT_EQ(form.ChosenNumber(), 1);
  EXPECT_EQ(FieldText(form, "备案编号"), Trim(kinds[1].prefix) + Cp936("[2026]7号"));
  EXPECT_EQ(form.Doc().Header.I32(dh::NumberType), kinds[1].kindId);
  EXPECT_EQ(form.Doc().Header.I32(dh::Number), 7);
}

TEST_F(DocForm, ASaveCountsOnlyWhenTheServerTakesItAndClosingSavesADraftThatStaysWithItsAuthor) {
  auto form = std::make_unique<TfrmTemplate>();
  Load(*form, 1);
  form->show();
  const TFieldEntry* title = nullptr;
  for (const TFieldEntry& e : form->Doc().Fields)
    if (e.name == Cp936("标题")) title = &e;
  ASSERT_NE(title, nullptr);
  form->Sheet().SetAsString(title->col, title->row, "Trip");
  // The attachment query the form sends as it opens goes first.
  ASSERT_TRUE(WaitUntil([&] { return server_.requests.size() == 1 && !session_.Busy(); }));
  capture_.prompts.clear();
  auto updates = [&] {
    size_t n = 0;
    for (const std::string& f : Frames()) n += frames::FrameCode(f) == "UPDA";
    return n;
  };

  // Refused, cut off: still changed, and the next save sends the values again.
  server_.QueueReply(frames::BuildServerMessage(Cp936("|保存失败")));
  server_.QueueRaw({{Le32(100) + std::string(10, 'x')}, 0, true});
  form->btnTemporaryClick();
  ASSERT_TRUE(WaitUntil([&] { return updates() == 1 && capture_.prompts.size() == 1 && !session_.Busy(); }));
  EXPECT_TRUE(form->CollectFieldValues(false, false));
  form->btnTemporaryClick();
  ASSERT_TRUE(WaitUntil([&] { return updates() == 2 && capture_.prompts.size() == 2 && !session_.Busy(); }));
  EXPECT_TRUE(form->CollectFieldValues(false, false));

  // Taken: saved, but only once the reply is in.
  const std::string saved = frames::BuildServerMessage(Cp936("文件暂存成功！"));
  server_.QueueRaw({{Le32(int32_t(saved.size())), saved}, 300});
  form->btnTemporaryClick();
  ASSERT_TRUE(WaitUntil([&] { return updates() == 3; }));
  EXPECT_TRUE(form->CollectFieldValues(false, false));
  ASSERT_TRUE(WaitUntil([&] { return !session_.Busy(); }));
  EXPECT_FALSE(form->CollectFieldValues(false, false));
  EXPECT_EQ(form->Doc().Fields[size_t(title - form->Doc().Fields.data())].stored, "Trip");

  // 是 on closing: a temporary save; the form waits for the server's word.
  form->Sheet().SetAsString(title->col, title->row, "Trip 2");
  server_.QueueRaw({{Le32(int32_t(saved.size())), saved}, 300});
  form->close();
  ASSERT_EQ(capture_.prompts.back().text, Cp936("是否保存审批单？"));
  ASSERT_TRUE(WaitUntil([&] { return updates() == 4; }));
  EXPECT_TRUE(form->isVisible());
  const TUpdateFrame sent = ParseUpdateFrame(Frames().back());
  EXPECT_EQ(sent.header.U8(dh::TemporarySave), 1);
  ASSERT_GE(sent.records.size(), 2u);
  EXPECT_EQ(sent.records[sent.records.size() - 2].name, "Status");
  EXPECT_EQ(sent.records[sent.records.size() - 2].value, "0");
  ASSERT_TRUE(WaitUntil([&] { return !form->isVisible(); }));
  const size_t asked = capture_.prompts.size();

  // A submit that ends without a reply gives its button back.
  form->show();
  form->NextUserLabel()->setText("x");
  server_.QueueRaw({{Le32(100)}, 0, true});
  form->SendButton()->click();
  EXPECT_FALSE(form->SendButton()->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return updates() == 5 && !session_.Busy(); }));
  EXPECT_TRUE(WaitUntil([&] { return form->SendButton()->isEnabled(); }));
  EXPECT_EQ(capture_.prompts.size(), asked + 1);
  EXPECT_EQ(capture_.prompts.back().text, Cp936("服务器的答复不完整，操作可能没有完成，请重新打开文档查看。"));
}

TEST_F(DocForm, DistributionSavesFirstAsksWhereAndSurvivesTheFormGoingUnderItsDialog) {
  auto* form = new TfrmTemplate;
  const QPointer<TfrmTemplate> alive(form);
  Load(*form, 4);
  const TFieldEntry* number = nullptr;
  for (const TFieldEntry& e : form->Doc().Fields)
    if (e.name == Cp936("备案编号")) number = &e;
  ASSERT_NE(number, nullptr);
  form->Sheet().SetAsString(number->col, number->row, "1");
  {
    auto choice = WhenModal<TfrmSelFenFa>([](TfrmSelFenFa* d) { d->FlatSpeedButton1()->click(); });
    form->DistributionButton()->click();
  }
  const auto sent = Frames(2);
  ASSERT_EQ(sent.size(), 2u);
  ASSERT_EQ(frames::FrameCode(sent[0]), "UPDA");
  EXPECT_EQ(sent[0][dh::SavedForDistribution], 1);
  ASSERT_EQ(frames::FrameCode(sent[1]), "USER");
  EXPECT_EQ(sent[1][95], 1);  // the distribution list

  // A new document reply frees the form while the distribution dialog is up.
  auto users = WhenModal<TFrmFenFa>([&](TFrmFenFa*) { delete alive.data(); });
  Give(*form, &TfrmTemplate::ShowUserSelection, Reply(sent[1]));
  EXPECT_FALSE(alive);
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Frames().size(), 3u);  // and the marker: nothing sent for a dialog that went away
}

TEST_F(DocForm, PhrasesAndTheApproverPanelWriteTheOpinionAndALateApproverListIsDropped) {
  TfrmTemplate form;
  Load(form, 2, [](TStream2Array& d) { d.Phrases = {{"A", 0}, {"B", 1}, {"C", 0}}; });
  const QList<QAction*> items = form.PhraseMenu()->actions();
  ASSERT_EQ(items.size(), 8);
  EXPECT_EQ(items[3]->text() + items[5]->text(), "CB");
  items[0]->trigger();  // "签名"
  items[2]->trigger();  // "A"
  EXPECT_EQ(form.OpinionMemo()->toPlainText(), U("张三，A"));
  EXPECT_TRUE(ToQString(FieldText(form, "科室意见")).endsWith(U("张三：张三，A")));

  // "审批意见合成": the approver list, one approver and "阅".
  form.PhraseMenu()->actions().back()->trigger();
  auto sent = Frames(1);
  EXPECT_EQ(sent.at(0)[95], 0);  // the approver list
  TPhrasePanel* panel = form.PhrasePanel();
  ASSERT_FALSE(panel->isHidden());
  form.OpinionMemo()->clear();
  Give(form, &TfrmTemplate::ShowUserSelection, Reply(sent[0]));
  ASSERT_FALSE(panel->Approvers().empty());
  const frames::UserRecord approver = panel->Approvers()[0];
  panel->SelectApprover(panel->treSP()->Find(approver.userId, nkUser));
  panel->AppendPhrase(Cp936("阅"));
  EXPECT_EQ(ToAnsi(form.OpinionMemo()->toPlainText()), Cp936("请") + approver.userName + Cp936("阅"));
  panel->Close();

  // The panel closed before its list came: the list is dropped, and the next-handler
  // list after it still opens the picker.
  form.PhraseMenu()->actions().back()->trigger();
  sent = Frames(2);
  panel->Close();
  Give(form, &TfrmTemplate::ShowUserSelection, Reply(sent.at(1)));
  EXPECT_EQ(panel->treSP()->NodeCount(), 0);
  form.btnNextUserClick();
  sent = Frames(3);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2][95], 2);
  auto picker = WhenModal<TfrmSelectUser>([](TfrmSelectUser* d) { d->reject(); });
  Give(form, &TfrmTemplate::ShowUserSelection, Reply(sent[2]));
  EXPECT_TRUE(picker.Acted());
}

TEST_F(DocForm, ASignOffTheServerDoesNotTakeKeepsTheFormAndTheComment) {
  auto form = std::make_unique<TfrmTemplate>();
  Load(*form, 2, [](TStream2Array& d) { d.Header.SetI32(dh::SignOffMode, 2); });
  form->show();
  ASSERT_TRUE(WaitUntil([&] { return server_.requests.size() == 1 && !session_.Busy(); }));
  form->CommentButton()->click();
  TFrameW* frame = form->CommentFrame();
  frame->rdtMsg()->setPlainText(U("已阅，同意"));
  auto signOffs = [&] {
    size_t n = 0;
    for (const std::string& f : Frames()) n += frames::FrameCode(f) == "QIAN";
    return n;
  };

  // Refused, then cut off: the form stays with the comment, and the button comes back.
  server_.QueueReply(frames::BuildServerMessage(Cp936("|不能签字")));
  server_.QueueRaw({{Le32(100)}, 0, true});
  for (size_t sent = 1; sent <= 2; ++sent) {
    frame->btnOK()->Click();
    ASSERT_TRUE(WaitUntil([&] { return signOffs() == sent && !session_.Busy(); }));
    ASSERT_TRUE(PostedEventsHandled());
    EXPECT_TRUE(form->isVisible()) << sent;
    EXPECT_EQ(frame->rdtMsg()->toPlainText(), U("已阅，同意"));
    EXPECT_TRUE(frame->btnOK()->isEnabled());
  }

  // Taken: the form closes.
  server_.QueueReply(frames::BuildServerMessage(Cp936("签字成功")));
  frame->btnOK()->Click();
  EXPECT_TRUE(WaitUntil([&] { return !form->isVisible(); }));
  EXPECT_EQ(signOffs(), 3u);
}

TEST_F(DocForm, TheSignOffModeShowsTheCommentFrameAndTheGridMenuFollowsReadOnly) {
  for (const int mode : {0, 1, 2}) {
    TfrmTemplate form;
    Load(form, 2, [&](TStream2Array& d) {
      d.Header.SetI32(dh::SignOffMode, mode);
      d.Comments = {{"{other}", Cp936("李四"), EncodeDate(2008, 3, 5), Cp936("已阅")}, {"{me}", Cp936("张三"), 0, Cp936("我的意见")}};
    });
    TFrameW* frame = form.CommentFrame();
    EXPECT_TRUE(frame->isHidden());
    EXPECT_EQ(form.CommentButton()->isHidden(), mode == 0) << mode;
    if (mode == 0) continue;
    form.CommentButton()->click();
    EXPECT_FALSE(frame->isHidden());
    EXPECT_EQ(frame->ReplyVisible(), mode == 2) << mode;
    EXPECT_NE(frame->Page().find(Cp936("李四")), std::string::npos);
    EXPECT_EQ(frame->rdtMsg()->toPlainText(), U("我的意见"));
    form.CommentButton()->click();
    EXPECT_TRUE(frame->isHidden());
  }

  TfrmTemplate editable;
  Load(editable, 2);
  TfrmTemplate readOnly;
  Load(readOnly, 2, [](TStream2Array& d) { d.Header.SetU8(dh::ReadOnly, 1); });
  EXPECT_EQ(editable.Grid()->PopupMenu(), editable.FormMenu());
  EXPECT_TRUE(editable.DeleteMenuItem()->isEnabled());
  EXPECT_FALSE(readOnly.DeleteMenuItem()->isEnabled());
  capture_.promptAnswers.push_back(MsgResult::No);
  editable.DeleteMenuItem()->trigger();
  ASSERT_FALSE(capture_.prompts.empty());
  EXPECT_EQ(capture_.prompts.back().text, Cp936("是否销毁此审批单？"));
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Frames().size(), 1u);  // only the marker: "No" sends nothing
}

TEST_F(DocForm, TheAttachmentButtonsAskForTheListWithTheManagerOrForTheBody) {
  auto lastRequest = [&](const char* code, size_t n) {
    std::vector<std::string> found;
    WaitUntil([&] {
      found.clear();
      for (const auto& r : server_.requests)
        if (frames::FrameCode(r.frame) == code) found.push_back(r.frame);
      return found.size() >= n;
    });
    return found.size() >= n ? frames::ReadQueryRequest(found[n - 1]) : frames::QueryRecord{};
  };
  size_t queries = 0;
  // No body, or the placeholder that stands for none: the list, with the manager asked
  // for, read-only as the step has it (the start step may change attachments).
  for (const auto& [body, step, readOnly] : {std::tuple{"", 1, 0}, std::tuple{"无公文模版.doc", 2, 1}}) {
    TfrmTemplate form;
    Load(form, step, [&](TStream2Array& d) {
      d.Header.SetText(dh::BodyFile, Cp936(body));
      d.Header.SetI32(dh::ObjectNumber, 7);
    });
    queries += 1;  // the one each form sends as it opens
    EXPECT_FALSE(form.ManagerRequested());
    form.AttachmentButton()->click();
    EXPECT_TRUE(form.ManagerRequested()) << body;
    const frames::QueryRecord q = lastRequest("QUEY", ++queries);
    EXPECT_EQ(q.tableName, "oa_leave");
    EXPECT_EQ(q.recordId, "{R}");
    EXPECT_EQ(q.objectNumber, 7);
    EXPECT_EQ(q.commandFlag, 1);
    EXPECT_EQ(q.readOnlyFlag, readOnly) << body;
  }

  // A real body opens in the Word editor: "FILE" for it, no manager.
  TfrmTemplate withBody;
  Load(withBody, 1, [](TStream2Array& d) { d.Header.SetText(dh::BodyFile, Cp936("正文.doc")); });
  queries += 1;
  withBody.AttachmentButton()->click();
  EXPECT_FALSE(withBody.ManagerRequested());
  const frames::QueryRecord file = lastRequest("FILE", 1);
  EXPECT_EQ(file.templateName, Cp936("正文.doc"));
  EXPECT_EQ(file.recordId, "{R}");

  // A read-only document's own button: the manager, always read-only.
  TfrmTemplate readOnlyDoc;
  Load(readOnlyDoc, 1, [](TStream2Array& d) {
    d.Header.SetU8(dh::ReadOnly, 1);
    d.AttachmentNames = {"a.txt"};
  });
  queries += 1;
  ASSERT_FALSE(readOnlyDoc.FileReadonlyButton()->isHidden());
  readOnlyDoc.FileReadonlyButton()->click();
  EXPECT_TRUE(readOnlyDoc.ManagerRequested());
  EXPECT_EQ(lastRequest("QUEY", ++queries).readOnlyFlag, 1);
}

TEST_F(DocForm, TheNextHandlerPickerAsksForItsOtherPagesAsNextHandlerLists) {
  TfrmTemplate form;
  Load(form, 1);
  form.btnNextUserClick();
  const auto first = Frames(1);
  ASSERT_EQ(frames::FrameCode(first.at(0)), "USER");
  std::vector<std::pair<int, int32_t>> asked;  // mode, list
  auto picker = WhenModal<TfrmSelectUser>([&](TfrmSelectUser* d) {
    for (const int page : {TfrmSelectUser::pgGroup, TfrmSelectUser::pgOther, TfrmSelectUser::pgGroup})
      d->pgcUser()->setCurrentIndex(page);
    const auto sent = Frames(3);
    for (size_t i = 1; i < sent.size(); ++i) asked.emplace_back(sent[i][95], GetI32LE(sent[i].data() + 140));
    d->reject();
  });
  Give(form, &TfrmTemplate::ShowUserSelection, Reply(first[0]));
  EXPECT_TRUE(picker.Acted());
  // Each page once, for the chosen next step, as the next-handler list.
  EXPECT_EQ(asked, (std::vector<std::pair<int, int32_t>>{{2, 5}, {2, 2}}));
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Frames().size(), 4u);  // and the marker
}

}  // namespace
