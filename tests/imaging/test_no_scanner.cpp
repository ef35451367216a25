// A machine whose SANE configuration names no backend at all: choosing a scanner says so.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>

#include "platform/QtText.h"
#include "imaging/ui/DemoForm.h"
#include "platform/Services.h"

TEST(ScanFormWithoutScanner, ChoosingAScannerSaysThereIsNone) {
  const QString config = QDir::tempPath() + "/sane-empty";
  QDir().mkpath(config);
  QFile(config + "/dll.conf").open(QIODevice::WriteOnly);  // empty: no backend
  // No trailing ':', so the system's configuration is not read either.
  setenv("SANE_CONFIG_DIR", config.toUtf8().constData(), 1);
  unsetenv("TARVO_SANE_DEVICE");
  int argc = 1;
  char name[] = "imaging_no_scanner";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  ServiceCapture services;
  TScanForm form;
  form.SelectScannerMenu->trigger();
  ASSERT_EQ(services.prompts.size(), 1u);
  EXPECT_EQ(Cp936ToUtf8(services.prompts[0].text), "您的电脑没有正确连接扫描仪");
  // A scan says the scan's own text, and the form stays usable.
  form.ScanMenu->trigger();
  ASSERT_EQ(services.prompts.size(), 2u);
  EXPECT_EQ(Cp936ToUtf8(services.prompts[1].text), "您的电脑没有正确连接扫描仪！");
  EXPECT_TRUE(form.ScanMenu->isEnabled());
}
