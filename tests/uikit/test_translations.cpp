#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include "TestApp.h"
#include "uikit/QtTranslations.h"

TEST(QtTranslations, QtsOwnButtonsSpeakChineseAndLoadOnce) {
  QApplication& app = TestApp();
  // Nothing else in this program loads them.
  ASSERT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Yes"));
  ASSERT_TRUE(LoadQtChineseTranslations());
  EXPECT_TRUE(LoadQtChineseTranslations());
  EXPECT_EQ(app.findChildren<QTranslator*>(Qt::FindDirectChildrenOnly).size(), 1);
  QMessageBox box(QMessageBox::Question, "t", "q", QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QString::fromUtf8("是(&Y)"));
  EXPECT_EQ(box.button(QMessageBox::No)->text(), QString::fromUtf8("否(&N)"));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:"), QString::fromUtf8("文件名称(&N)："));
}
