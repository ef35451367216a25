// Printing end to end, as a person prints on a machine without printers: 打印表单 on a
// document form that the server's "EXCE" reply opened. The question, the save dialog and the
// form are the real windows, answered through them; the PDF lands where the person typed
// its name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPrinterInfo>

#include "E2eSupport.h"
#include "PrintE2eSupport.h"
#include "control/session/Un_function.h"
#include "control/session/frm_Main.h"
#include "control/form/frm_Template.h"
#include "platform/QtText.h"

namespace print_e2e {

const char* kLeave = "{B0000000-1111-4222-8333-444444444444}";

TEST(PrintE2E, PrintingTheFormWritesItsPagesWhereThePersonChose) {
  App();
  ASSERT_TRUE(QPrinterInfo::availablePrinters().isEmpty()) << "this test expects a machine without printers";
  ClearSessionValues();
  RegisterTemplateForm();
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  auto session = std::make_unique<TfrmMain>();
  session->SetServer("127.0.0.1", server.Port());
  session->SendLogin("zhangsan");
  ASSERT_TRUE(PumpUntil([] { return !SessionValues().UserGUID.empty(); }, 10000));

  const QString pdf = QDir::tempPath() + "/printed/leave form.pdf";
  QDir().mkpath(QFileInfo(pdf).path());
  QString dialogTitle;
  BoxAnswerer boxes(QString::fromUtf8("是否打印此审批单？"));
  bool printed = false;
  auto form = WhenModal<TfrmTemplate>(
      [&](TfrmTemplate* f) {
        if (printed) return;
        printed = true;
        QPushButton* print = VisibleButton(f, QString::fromUtf8("打印表单"));
        ASSERT_NE(print, nullptr);
        auto save = SaveAs(pdf, &dialogTitle);
        ClickThroughWindow(print);
        EXPECT_TRUE(save.Acted());
        f->close();  // nothing was typed: it closes without a question
      },
      std::chrono::seconds(90));
  NewDocumentFlag() = 1;
  session->SendQuery("oa", "", kLeave, 0, Cp936("请假单"), 1, 1, "", "");
  ASSERT_TRUE(PumpUntil([&] { return printed && !QApplication::activeModalWidget(); }, 100000));

  EXPECT_EQ(boxes.texts, std::vector<std::string>{"是否打印此审批单？"});
  EXPECT_EQ(dialogTitle.toStdString(), "打印到文件");
  ASSERT_TRUE(QFile::exists(pdf));
  EXPECT_EQ(PdfInfo(pdf.toStdString(), "Pages"), "1");
  EXPECT_EQ(PdfInfo(pdf.toStdString(), "Page size"), "595 x 842 pts (A4)");
  // The form's own texts are on the page.
  const std::string text = Shell("pdftotext '" + pdf.toStdString() + "' -");
  EXPECT_NE(text.find("请假"), std::string::npos) << text;
  EXPECT_GT(InkShare(pdf.toStdString()), 0.002);
  session.reset();
}

}  // namespace print_e2e
