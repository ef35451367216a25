// The attachment manager runs the scan form modally. The source's own dialog opens inside
// that modal loop, and a person's clicks and keys on it must arrive: sent through its
// window, Qt's modality decides as it would for a person.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>

#include "ModalDriver.h"
#include "SaneTestSupport.h"
#include "WindowInput.h"
#include "imaging/ui/DemoForm.h"
#include "platform/Services.h"

namespace {

QDialog* VisibleSourceDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<QDialog*>(w);
    if (d && d->isVisible() && d->windowTitle() == QStringLiteral("扫描")) return d;
  }
  return nullptr;
}

QPushButton* ButtonOf(QDialog* d, const QString& text) {
  for (QPushButton* b : d->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

// Acts once on the source dialog when it is up. A dialog still up at the deadline fails
// the test and is rejected, so the scanner's loop ends instead of waiting for ever.
class SourceDialogPerson {
 public:
  explicit SourceDialogPerson(std::function<void(QDialog*)> act) {
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this, act = std::move(act)] {
      QDialog* d = VisibleSourceDialog();
      if (clock_.elapsed() > 15000) {
        timer_.stop();
        ADD_FAILURE() << "the source dialog did not answer the person";
        if (d) d->reject();
        return;
      }
      if (d && !acted) {
        acted = true;
        act(d);
      }
    });
    timer_.start(50);
  }
  bool acted = false;

 private:
  QTimer timer_;
  QElapsedTimer clock_;
};

}  // namespace

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
      {"扫描", [](QDialog* d) { ClickThroughWindow(ButtonOf(d, QStringLiteral("扫描"))); }, 1},
      {"取消", [](QDialog* d) { ClickThroughWindow(ButtonOf(d, QStringLiteral("取消"))); }, 0},
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
          gone.push_back(VisibleSourceDialog() == nullptr);
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
