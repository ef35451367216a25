// The leave request against the real oa-server under locales whose decimal point is a
// comma: the form shows, sends and shows again the same numbers as under zh_CN.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <map>

#include "ForeignLocale.h"
#include "ModalDriver.h"
#include "SessionForm.h"
#include "control/form/TemplateFields.h"
#include "control/form/frm_Template.h"
#include "control/session/Un_function.h"
#include "control/session/frm_Main.h"
#include "control/wire/Un_type.h"
#include "e2e/E2eSupport.h"
#include "grid/ui/XLEdit.h"
#include "grid/ui/XLGridView.h"
#include "platform/QtText.h"
#include "platform/Services.h"

namespace {


// What the form's cells show, by field name, as a screen reader reads them.
std::map<QString, std::string> Shown(TfrmTemplate& f) {
  std::map<QString, std::string> out;
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(f.Grid()->View(sClient));
  if (!table) return out;
  for (int i = 0; i < table->childCount(); ++i)
    out[table->child(i)->text(QAccessible::Name)] = table->child(i)->text(QAccessible::Value).toStdString();
  return out;
}

QString U(const char* s) { return QString::fromUtf8(s); }

void Type(TfrmTemplate& f, const char* field, const char* text) { TypeIntoField(f, field, text); }

class LocaleE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    E2eApp("e2e-locale");
    ClearSessionValues();
    RegisterTemplateForm();
  }
  void TearDown() override {
    if (session_) FreeDocumentForm(*session_);
    PumpFor(50);
    session_.reset();
    ClearSessionValues();
  }

  void Login(const char* name) { LogInSession(*session_, name); }

  void WithForm(bool newDoc, const std::function<void(TfrmTemplate&)>& act) { WithLeaveForm(*session_, newDoc, act); }

  ServiceCapture capture_;
  std::unique_ptr<TfrmMain> session_;
};

TEST_F(LocaleE2E, TheLeaveRequestShowsAndStoresTheSameNumbersUnderCommaLocales) {
  for (const char* name : kCommaLocales) {
    SCOPED_TRACE(name);
    // The program and the server it talks to both run under the locale.
    ForeignLocale locale(name);
    ASSERT_TRUE(locale.Active()) << name << " is not installed (scripts/install-deps)";
    qputenv("LC_ALL", name);
    OaServerProcess server;
    qunsetenv("LC_ALL");
    ASSERT_TRUE(server.Started());
    session_ = std::make_unique<TfrmMain>();
    session_->SetServer("127.0.0.1", server.Port());

    Login("admin");
    WithForm(true, [&](TfrmTemplate& f) {
      std::map<QString, std::string> shown = Shown(f);
      EXPECT_EQ(shown[U("请假天数")], "3");
      EXPECT_EQ(shown[U("日扣款")], "120.50");
      EXPECT_EQ(shown[U("扣款合计")], "361.50");
      Type(f, "标题", "德文环境");
      Type(f, "日扣款", "80.25");
      f.btnSendClick();
    });
    // What the server keeps reads back the same for the next handler.
    Login("zhangsan");
    WithForm(false, [&](TfrmTemplate& f) {
      EXPECT_EQ(f.GetFieldValue(Utf8ToCp936("标题")), Utf8ToCp936("德文环境"));
      std::map<QString, std::string> shown = Shown(f);
      EXPECT_EQ(shown[U("请假天数")], "3");
      EXPECT_EQ(shown[U("日扣款")], "80.25");
      f.close();
    });
    FreeDocumentForm(*session_);
    session_.reset();
  }
}

}  // namespace
