// The attachment manager runs the scan form modally. The source's own dialog opens inside
// that modal loop, and a person's clicks and keys on it must arrive: sent through its
// window, Qt's modality decides as it would for a person.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
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
      {"扫描", [](QDialog* d) { ClickThroughWindow(DialogButton(d, QString::fromUtf8("扫描"))); }, 1},
      {"取消", [](QDialog* d) { ClickThroughWindow(DialogButton(d, QString::fromUtf8("取消"))); }, 0},
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
  // Nothing went wrong on the way; closing with unsaved pages asks about them.
  ASSERT_EQ(services.prompts.size(), 1u);
  EXPECT_EQ(Cp936ToUtf8(services.prompts[0].text), "图像还没有保存，是否保存?");
  ASSERT_EQ(form.PageCount(), 2);
  EXPECT_NEAR(form.Page(1).Width, 210 / 25.4 * 200, 2);
}

namespace {
QDialog* VisibleScanProgress() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<QDialog*>(w);
    if (d && d->isVisible() && d->windowTitle() == QString::fromUtf8("正在扫描")) return d;
  }
  return nullptr;
}

// Counts the paints of one widget that happen while a scan's progress window is up.
class PaintsDuringScan : public QObject {
 public:
  explicit PaintsDuringScan(QWidget* w) { w->installEventFilter(this); }
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint && VisibleScanProgress()) ++count;
    return false;
  }
};
}  // namespace

TEST(ScanFormModal, AFeederScanPaintsTakesNoKeyAndStopsAfterThePageOnCancel) {
  SaneTestApp();
  // Ten slow pages from the feeder: small reads with a pause after each.
  SetScanOptions("Grid", {{"source", "Automatic Document Feeder"},
                          {"read-limit", "yes"},
                          {"read-limit-size", "65536"},
                          {"read-delay", "yes"},
                          {"read-delay-duration", "40000"}});
  ServiceCapture services;
  TScanForm form;
  form.resize(900, 700);
  PaintsDuringScan paints(form.ImageScrollBox->viewport());
  bool keysSent = false, cancelled = false, visibleAfter = false;
  int pagesAtCancel = -1, pagesAfter = -1;
  size_t promptsAfter = 99;
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    QDialog* progress = VisibleScanProgress();
    if (!progress) return;
    if (!keysSent) {
      // A person's Escape and Return, to the form and to the progress window.
      KeyThroughWindow(&form, Qt::Key_Escape);
      KeyThroughWindow(progress, Qt::Key_Escape);
      KeyThroughWindow(progress, Qt::Key_Return);
      KeyThroughWindow(progress, Qt::Key_Space);
      form.ImageScrollBox->viewport()->update();
      keysSent = true;
      return;
    }
    if (!cancelled && form.PageCount() >= 1 && paints.count > 0) {
      QPushButton* cancel = VisibleButton(progress, QString::fromUtf8("取消"));
      ASSERT_NE(cancel, nullptr);
      pagesAtCancel = form.PageCount();
      ClickThroughWindow(cancel);
      cancelled = true;
    }
  });
  person.start(20);
  ExecWithScript(
      form,
      [&] {
        form.HSpeedScanMenu->trigger();
        person.stop();
        pagesAfter = form.PageCount();
        visibleAfter = form.isVisible();
        promptsAfter = services.prompts.size();
        services.promptAnswers = {MsgResult::No};
        form.reject();
      },
      std::chrono::seconds(120));
  EXPECT_TRUE(keysSent);
  EXPECT_TRUE(cancelled);
  EXPECT_GT(paints.count, 0);
  // The page being read when 取消 was clicked is kept; the feeder stops there.
  EXPECT_GE(pagesAfter, pagesAtCancel);
  EXPECT_LE(pagesAfter, pagesAtCancel + 1);
  EXPECT_LT(pagesAfter, 10);
  // No key closed the form or asked about closing it.
  EXPECT_TRUE(visibleAfter);
  EXPECT_EQ(promptsAfter, 0u);
  EXPECT_EQ(VisibleScanProgress(), nullptr);
  EXPECT_TRUE(form.ScanMenu->isEnabled());
}
