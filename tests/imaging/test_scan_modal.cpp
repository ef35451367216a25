// The attachment manager runs the scan form modally. The source's own dialog opens inside
// that modal loop, and a person's clicks and keys on it must arrive: sent through its
// window, Qt's modality decides as it would for a person.
#include <gtest/gtest.h>

#include <QApplication>
#include <QToolBar>

#include "ModalDriver.h"
#include "SaneTestSupport.h"
#include "SourceDialogPerson.h"
#include "WindowInput.h"
#include "imaging/ui/DemoForm.h"
#include "platform/Services.h"

TEST(ScanFormModal, TheSourceDialogTakesClicksAndKeysUnderTheModalForm) {
  SaneTestApp();
  SetScanOptions("Color pattern", {});
  ServiceCapture services;
  TScanForm form;
  form.resize(900, 700);
  struct Case {
    const char* what;
    std::function<void(QDialog*)> act;
    int pages;
  };
  const Case cases[] = {
      {"扫描", [](QDialog* d) { ClickThroughWindow(DialogButton(d, QStringLiteral("扫描"))); }, 1},
      {"取消", [](QDialog* d) { ClickThroughWindow(DialogButton(d, QStringLiteral("取消"))); }, 0},
      {"Escape", [](QDialog* d) { KeyThroughWindow(d, Qt::Key_Escape); }, 0},
      {"Return", [](QDialog* d) { KeyThroughWindow(d, Qt::Key_Return); }, 1},
  };
  std::vector<int> added;
  std::vector<bool> gone;
  ExecWithScript(
      form,
      [&] {
        auto* tools = form.findChild<QToolBar*>();
        ASSERT_NE(tools, nullptr);
        QWidget* scanButton = tools->widgetForAction(form.Btn_Scan);
        ASSERT_NE(scanButton, nullptr);
        for (const Case& c : cases) {
          const int before = form.PageCount();
          SourceDialogPerson person(c.act);
          ClickThroughWindow(scanButton);
          EXPECT_TRUE(person.acted) << c.what;
          added.push_back(form.PageCount() - before);
          gone.push_back(VisibleScanSourceDialog() == nullptr);
          EXPECT_TRUE(form.ScanMenu->isEnabled()) << c.what;
        }
        form.reject();
      },
      std::chrono::seconds(100));
  EXPECT_EQ(added, (std::vector<int>{1, 0, 0, 1}));
  EXPECT_EQ(gone, (std::vector<bool>{true, true, true, true}));
  EXPECT_TRUE(services.prompts.empty());
  ASSERT_EQ(form.PageCount(), 2);
  EXPECT_NEAR(form.Page(1).Width, 210 / 25.4 * 200, 2);
}
