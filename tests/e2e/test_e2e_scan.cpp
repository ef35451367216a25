// End to end against oa-server: the attachment manager opens the scan form, two pages are
// scanned from the SANE test backend, and closing the form attaches them as one Word
// document that the manager uploads.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <cstdlib>

#include "ControlFactory.h"
#include "E2eSupport.h"
#include "ModalDriver.h"
#include "control/AttachmentList.h"
#include "control/OfficeWindows.h"
#include "control/ReplyWindows.h"
#include "control/frmPopup.h"
#include "control/frm_Main.h"
#include "control/frm_SetLoadFiles.h"
#include "imaging/ui/DemoForm.h"
#include "imaging/ui/SaneDsm.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "core/AnsiString.h"
#include "platform/Services.h"
#include "tests/apps/RawClient.h"
#include "tests/e2e/AttachmentFormStandIn.h"

namespace scan_e2e {

const char* kRecord = "{7A0B1C2D-3E4F-4051-8263-748596A7B8C9}";
const char* kTable = "oa_incoming";

QApplication& App() { return E2eApp("e2e-scan"); }

using e2e::Ask;
using e2e::DocumentFormStandIn;


TEST(ScanE2E, TwoScannedPagesReachTheServerAsOneWordAttachment) {
  const char* src = std::getenv("TARVO_SOURCE_DIR");
  setenv("SANE_CONFIG_DIR", (std::string(src ? src : ".") + "/tests/sane").c_str(), 1);
  SetSaneSourceOptions({{"test-picture", "Color pattern"}, {"source", "Flatbed"},
                        {"read-return-value", "Default"}});
  App();
  ClearSessionValues();
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  ServiceCapture cap;
  RegisterOfficeWindows();
  QPointer<DocumentFormStandIn> form;
  ReplyWindowFactories().CreateTemplateForm = [&]() -> ITemplateForm* {
    form = new DocumentFormStandIn();
    return form.data();
  };

  QWidget page;
  ComPtr<IDispatch> control = CreateControlForPage(&page);
  ASSERT_TRUE(control);
  PageDriver driver(control);
  page.show();
  ASSERT_TRUE(driver.WaitForEvent("OnDoLogin"));
  ASSERT_EQ(driver.Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}), S_OK);
  ASSERT_EQ(driver.Call("Login", {"zhangsan"}), S_OK);
  ASSERT_TRUE(driver.WaitForEvent("OnAfterLogin"));

  bool managerDone = false, managerClosed = false, scanDone = false;
  int pages = 0;
  bool asked = false;
  auto scan = WhenModal<TScanForm>([&](TScanForm* f) {
    if (scanDone) return;
    scanDone = true;
    f->Scan(true);
    f->Scan(true);
    pages = f->PageCount();
    cap.promptAnswers.push_back(MsgResult::Yes);  // the close check converts
    f->close();
  }, std::chrono::seconds(120));
  auto manager = WhenModal<TfrmSetLoadFiles>([&](TfrmSetLoadFiles* m) {
    if (managerDone) return;
    managerDone = true;
    m->btn_Copy2Click();
    m->close();  // uploads the new attachment
    managerClosed = true;
    // The list window's modal loop holds the test's own: it is closed from the loop.
    QTimer::singleShot(500, [&form] {
      if (form) form->close();
    });
  }, std::chrono::seconds(180));
  // The list window asks for the manager once; the polling ends when the manager covers it.
  auto document = WhenModal<DocumentFormStandIn>([&](DocumentFormStandIn* f) {
    TfrmMain* session = frmMain();
    if (!session || asked) return;
    f->SetManagerRequested(true);
    frames::QueryRecord q;
    q.userId = SessionValues().UserGUID;
    q.tableName = kTable;
    q.recordId = kRecord;
    q.commandFlag = 1;
    session->SendToServer(frames::BuildQueryRequest(q));
    asked = true;
  }, std::chrono::seconds(240));

  ASSERT_EQ(driver.Call("GetStream", {"oa", kRecord, "0", "收文登记单", "3", "", ""}), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return managerClosed && (!form || !form->isVisible()); }, 240000));
  ASSERT_TRUE(scanDone);
  EXPECT_EQ(pages, 2);
  PumpFor(500);

  frames::QueryRecord q;
  q.userId = SessionValues().UserGUID;
  q.tableName = kTable;
  q.recordId = kRecord;
  q.commandFlag = 1;
  const std::string strm = Ask(server.Port(), frames::BuildQueryRequest(q));
  const frames::AttachmentsReply list = frames::ParseAttachmentsReply(strm);
  TCopy2Files files;
  files.LoadFromBytes(list.container);
  ASSERT_EQ(files.Count(), 1);
  EXPECT_EQ(files.GetFileName(0), Utf8ToCp936("扫描件1.doc"));
  EXPECT_EQ(std::string(files.FileData(0)).substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));
  EXPECT_TRUE(cap.prompts.size() == 1) << Cp936ToUtf8(cap.prompts.back().text);
}

}  // namespace scan_e2e

