// Who may change a document, end to end: the page opens documents through the control,
// the person works the document form through its window, and the real oa-server keeps or
// refuses what the form sends.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "ControlFactory.h"
#include "ModalDriver.h"
#include "apps/oa-server/OaDatabase.h"
#include "control/frmPopup.h"
#include "control/frm_Template.h"
#include "control/wire/Class_StoExcel.h"
#include "e2e/E2eSupport.h"
#include "grid/ui/XLGridView.h"
#include "platform/Services.h"

namespace {

QApplication& App() { return E2eApp("e2e-rights"); }

AnsiString A(const char* utf8) { return Cp936(utf8); }

// Input goes through the form's window, as a person's would.
QWindow* WindowOf(QWidget* w) { return w->window()->windowHandle(); }

void Click(QWidget* w, QPoint at) {
  QTest::mouseClick(WindowOf(w), Qt::LeftButton, {}, w->mapTo(w->window(), at));
}
void Click(QPushButton* b) {
  ASSERT_FALSE(b->isHidden()) << b->text().toStdString();
  Click(b, b->rect().center());
}

// The form's button with that caption.
QPushButton* Button(TfrmTemplate& f, const char* caption) {
  for (QPushButton* b : f.findChildren<QPushButton*>())
    if (b->text() == QString::fromUtf8(caption)) return b;
  return nullptr;
}

// Clicks a field's cell and types ASCII text into it, ending with Enter.
void Type(TfrmTemplate& f, const char* field, const char* text) {
  const TFieldEntry* e = nullptr;
  for (const TFieldEntry& x : f.Doc().Fields)
    if (x.name == A(field)) e = &x;
  ASSERT_NE(e, nullptr) << field;
  TXLView* pane = f.Grid()->EditPane();
  Click(pane, pane->CellRect(TPoint{e->col, e->row}).center());
  ASSERT_EQ(f.Grid()->GetCurCell(), (TPoint{e->col, e->row})) << field;
  for (const char* c = text; *c; ++c) QTest::keyClick(WindowOf(pane), *c);
  QTest::keyClick(WindowOf(pane), Qt::Key_Return);
}

class RightsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ClearSessionValues();
    ASSERT_TRUE(server_.Started());
    page_ = std::make_unique<QWidget>();
    ComPtr<IDispatch> control = CreateControlForPage(page_.get());
    ASSERT_TRUE(control);
    driver_ = std::make_unique<PageDriver>(control);
    page_->show();
    ASSERT_TRUE(driver_->WaitForEvent("OnDoLogin"));
    ASSERT_EQ(driver_->Call("SetServer", {"127.0.0.1", std::to_string(server_.Port())}), S_OK);
  }
  void TearDown() override {
    delete Tfrm_popup::Current();
    driver_.reset();
    page_.reset();
    PumpFor(20);
    ClearSessionValues();
  }

  void LogIn(const char* name) {
    const size_t before = driver_->CountEvents("OnAfterLogin");
    ASSERT_EQ(driver_->Call("Login", {name}), S_OK);
    ASSERT_TRUE(driver_->WaitForEvent("OnAfterLogin", before + 1, 20000));
  }

  // The page opens the leave request `id` (a new one for "") and act works its form; returns
  // once the form has closed.
  void WithForm(const std::string& id, const std::function<void(TfrmTemplate&)>& act) {
    bool acted = false;
    auto script = WhenModal<TfrmTemplate>(
        [&](TfrmTemplate* f) {
          if (acted) return;
          acted = true;
          act(*f);
        },
        std::chrono::seconds(30));
    ASSERT_EQ(driver_->Call("GetStream", {"oa", id, "0", "请假单", "1", "", ""}), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return acted && !QApplication::activeModalWidget(); }, 40000));
  }

  // admin asks for leave; zhangsan, the reviewer of his department, passes a short leave
  // on to the filing step, which is chener's. Returns the record ID.
  std::string LeaveAtTheFilingStep() {
    LogIn("admin");
    const size_t closed = driver_->CountEvents("OnDoit");
    WithForm("", [&](TfrmTemplate& f) {
      Type(f, "标题", "Trip");
      Click(f.SendButton());
    });
    EXPECT_TRUE(driver_->WaitForEvent("OnDoit", closed + 1));
    const std::string id = driver_->LastEvent("OnDoit")->args.at(1).value.AsUtf8();
    LogIn("zhangsan");
    WithForm(id, [&](TfrmTemplate& f) {
      EXPECT_EQ(f.CurStepNo(), 2);
      EXPECT_EQ(f.NextStepNo(), 4);
      Click(f.SendButton());
    });
    return id;
  }

  // The stored document as the server keeps it.
  std::optional<oa::StoredDocument> Stored(const std::string& id) {
    OaDatabase db;
    db.Open(server_.DatabasePath());
    return db.FindDocument(id);
  }
  static AnsiString Value(const oa::StoredDocument& d, const char* field) {
    for (const TFieldRecord& v : d.values)
      if (v.name == A(field)) return v.value;
    return "<none>";
  }
  std::vector<AnsiString> PromptTexts() const {
    std::vector<AnsiString> texts;
    for (const auto& p : capture_.prompts) texts.push_back(p.text);
    return texts;
  }

  ServiceCapture capture_;
  OaServerProcess server_;
  std::unique_ptr<QWidget> page_;
  std::unique_ptr<PageDriver> driver_;
};

TEST_F(RightsE2E, ArchivingAfterAChangeKeepsTheChangeWithTheArchivedDocument) {
  const std::string id = LeaveAtTheFilingStep();
  LogIn("chener");
  const size_t sent = driver_->CountEvents("OnSendFile");
  WithForm(id, [&](TfrmTemplate& f) {
    EXPECT_EQ(f.CurStepNo(), 4);
    Type(f, "备案编号", "No.7");
    // The archive asks first (Yes); the close after it saves the change without asking.
    Click(Button(f, "归档"));
  });
  // The save's answer, or the message box of a refusal.
  ASSERT_TRUE(PumpUntil([&] { return driver_->CountEvents("OnSendFile") > sent || capture_.prompts.size() > 1; },
                        20000));
  EXPECT_EQ(PromptTexts(), std::vector<AnsiString>{A("是否将此审批（文件）归档？")});
  const std::optional<oa::StoredDocument> d = Stored(id);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->state, "archived");
  EXPECT_EQ(Value(*d, "备案编号"), "No.7");
  EXPECT_EQ(d->currentStep, 4);
  // Opened again it is read-only, with the change.
  WithForm(id, [&](TfrmTemplate& f) {
    EXPECT_TRUE(f.ReadOnlyDoc());
    EXPECT_EQ(f.GetFieldValue(A("备案编号")), "No.7");
    f.close();
  });
}

}  // namespace
