// Printing end to end: 打印 ... on the scan form that the attachment manager opened from
// the 附件 of a document the server sent. The options dialog, the save dialog and the close question are
// the real windows, answered through them; the PDF lands where the person typed its name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QToolBar>
#include <cstdlib>

#include "ControlFactory.h"
#include "E2eSupport.h"
#include "PageSession.h"
#include "PrintE2eSupport.h"
#include "control/form/frm_Template.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/wire/Un_type.h"
#include "imaging/ui/DemoForm.h"
#include "imaging/ui/POptForm.h"
#include "imaging/ui/SaneDsm.h"
#include "imaging/SaneTestSupport.h"
#include "imaging/SourceDialogPerson.h"
#include "uikit/TFlatButtonUnit.h"

namespace print_e2e {

TEST(PrintE2E, PrintingAScannedPageWritesItWhereThePersonChose) {
  UseSaneTestPage();
  App();
  ClearSessionValues();
  PageSession page;
  ASSERT_TRUE(page.Start());
  ASSERT_TRUE(page.Login("zhangsan"));
  QPointer<TfrmTemplate> document;

  const QString pdf = QDir::tempPath() + "/printed/scan.pdf";
  QDir().mkpath(QFileInfo(pdf).path());
  QString dialogTitle;
  BoxAnswerer boxes({}, QString::fromUtf8("图像还没有保存，是否保存?"));
  int pages = 0;
  bool scanned = false, managerDone = false, asked = false;
  auto options = WhenModal<TPrintOptionForm>([](TPrintOptionForm* o) {
    ClickThroughWindow(VisibleButton(o, QString::fromUtf8("打印")));
  }, std::chrono::seconds(120));
  auto scan = WhenModal<TScanForm>(
      [&](TScanForm* f) {
        if (scanned) return;
        scanned = true;
        auto* tools = f->findChild<QToolBar*>();
        ASSERT_NE(tools, nullptr);
        {
          SourceDialogPerson person(
              [](QDialog* d) { ClickThroughWindow(DialogButton(d, QString::fromUtf8("扫描"))); });
          ClickThroughWindow(tools->widgetForAction(f->Btn_Scan));
          EXPECT_TRUE(person.acted);
        }
        pages = f->PageCount();
        auto save = SaveAs(pdf, &dialogTitle);
        ClickThroughWindow(tools->widgetForAction(f->PrintMenu));
        EXPECT_TRUE(save.Acted());
        f->close();
      },
      std::chrono::seconds(120));
  auto manager = WhenModal<TfrmSetLoadFiles>(
      [&](TfrmSetLoadFiles* m) {
        if (managerDone) return;
        managerDone = true;
        ClickThroughWindow(m->btn_Copy2());
        m->close();
        QTimer::singleShot(300, [&document] {
          if (document) ClickThroughWindow(document->CloseButton());
        });
      },
      std::chrono::seconds(150));
  // A new leave request: it has no Word body, so its 附件 opens the attachment manager.
  auto list = WhenModal<TfrmTemplate>(
      [&](TfrmTemplate* f) {
        if (asked) return;
        document = f;
        ClickThroughWindow(f->AttachmentButton());
        asked = true;
      },
      std::chrono::seconds(180));

  ASSERT_TRUE(page.Open("请假单", ""));
  ASSERT_TRUE(PumpUntil([&] { return managerDone && (!document || !document->isVisible()); }, 170000));
  ASSERT_TRUE(scanned);
  EXPECT_EQ(pages, 1);
  EXPECT_TRUE(options.Acted());
  EXPECT_EQ(boxes.texts, std::vector<std::string>{"图像还没有保存，是否保存?"});
  EXPECT_EQ(dialogTitle.toStdString(), "打印到文件");
  ASSERT_TRUE(QFile::exists(pdf));
  EXPECT_EQ(PdfInfo(pdf.toStdString(), "Pages"), "1");
  EXPECT_EQ(PdfInfo(pdf.toStdString(), "Page size"), "595 x 842 pts (A4)");
  EXPECT_EQ(PdfInfo(pdf.toStdString(), "Title"), "Ruvi");
  // The scanned page fills the paper but for its margins.
  EXPECT_GT(InkShare(pdf.toStdString()), 0.5);
}

}  // namespace print_e2e
