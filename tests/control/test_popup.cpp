#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest/QTest>

#include "ModalDriver.h"
#include "uikit/TestApp.h"
#include "control/windows/frmPopup.h"
#include "control/windows/frm_Abort.h"
#include "platform/QtText.h"
#include "uikit/AlphaWindow.h"

namespace {
struct PopupFixture : ::testing::Test {
  void SetUp() override { TestApp(); }
  void TearDown() override {
    Tfrm_popup::SetAlphaModeDefault(true);
    if (Tfrm_popup::Current()) delete Tfrm_popup::Current();
  }
  static QRect Work() { return QGuiApplication::primaryScreen()->availableGeometry(); }
};
}  // namespace

TEST_F(PopupFixture, FadesInHoldsAndFadesOut) {
  QPointer<Tfrm_popup> popup = new Tfrm_popup;
  EXPECT_EQ(Tfrm_popup::Current(), popup.data());
  popup->SetMessageText(Cp936("新消息"));
  popup->show();
  ASSERT_TRUE(popup->AlphaMode());
  const QRect work = Work();
  EXPECT_EQ(popup->geometry(), QRect(work.right() + 1 - 167, work.bottom() + 1 - 87, 167, 87));
  EXPECT_EQ(popup->AlphaWindow()->Alpha(), 0);
  EXPECT_TRUE(popup->Timer3->isActive());
  for (int i = 0; i < 17; ++i) popup->Timer3Timer();
  EXPECT_EQ(popup->AlphaWindow()->Alpha(), 255);
  EXPECT_FALSE(popup->Timer5->isActive());
  popup->Timer3Timer();
  EXPECT_FALSE(popup->Timer3->isActive());
  EXPECT_TRUE(popup->Timer5->isActive());
  EXPECT_EQ(popup->Timer5->interval(), 3000);
  popup->Timer5Timer();
  EXPECT_TRUE(popup->Timer4->isActive());
  for (int i = 0; i < 50; ++i) popup->Timer4Timer();
  EXPECT_EQ(popup->AlphaWindow()->Alpha(), 5);
  EXPECT_TRUE(popup->isVisible());
  popup->Timer4Timer();  // the 51st step closes
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(popup.isNull());
  EXPECT_EQ(Tfrm_popup::Current(), nullptr);
}

TEST_F(PopupFixture, MessageDuringFadeOutComesBackAndHoldsAgain) {
  auto* popup = new Tfrm_popup;
  popup->SetMessageText(Cp936("第一条"));
  popup->show();
  for (int i = 0; i < 18; ++i) popup->Timer3Timer();
  popup->Timer5Timer();
  popup->Timer4Timer();  // alpha 250: not a multiple of 15 below 255
  EXPECT_EQ(popup->AlphaWindow()->Alpha(), 250);
  // What the dispatcher does for a second message.
  Tfrm_popup::Current()->RestartHold();
  Tfrm_popup::Current()->AppendMessageText(Cp936("第二条"));
  EXPECT_EQ(popup->MessageTextValue(), Cp936("第一条") + "\r\n" + Cp936("第二条"));
  EXPECT_EQ(popup->MessageText->text(), QString::fromUtf8("第一条\n第二条"));
  EXPECT_FALSE(popup->Timer4->isActive());
  EXPECT_TRUE(popup->Timer3->isActive());
  popup->Timer3Timer();
  EXPECT_EQ(popup->AlphaWindow()->Alpha(), 255);  // clamped, no wrap to a low value
  popup->Timer3Timer();
  EXPECT_TRUE(popup->Timer5->isActive());
  EXPECT_GT(popup->Timer5->remainingTime(), 2500);
}

TEST_F(PopupFixture, HoldRestartsForANewMessageAndClickHides) {
  auto* popup = new Tfrm_popup;
  popup->show();
  for (int i = 0; i < 18; ++i) popup->Timer3Timer();
  ASSERT_TRUE(popup->Timer5->isActive());
  EXPECT_TRUE(popup->Timer5->isSingleShot());
  // Once a good part of the hold has passed, a restart gives it back whole. A long hold,
  // so that a slow machine cannot see it end meanwhile.
  popup->Timer5->setInterval(60000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return popup->Timer5->remainingTime() < 59000; }, 20000));
  popup->RestartHold();
  EXPECT_GT(popup->Timer5->remainingTime(), 59000);

  // A click while rising starts the hiding at once and stops the rise.
  auto* second = popup;
  second->Timer5->stop();
  second->Timer3->start();
  second->Image1Click();
  EXPECT_FALSE(second->Timer3->isActive());
  EXPECT_TRUE(second->Timer4->isActive());
}

TEST_F(PopupFixture, SlideModeRisesHoldsAndSinks) {
  Tfrm_popup::SetAlphaModeDefault(false);
  QPointer<Tfrm_popup> popup = new Tfrm_popup;
  popup->show();
  EXPECT_FALSE(popup->AlphaMode());
  EXPECT_EQ(popup->AlphaWindow(), nullptr);
  const QRect work = Work();
  const int bottom = work.bottom() + 1;
  EXPECT_EQ(popup->y(), bottom);
  EXPECT_TRUE(popup->Timer2->isActive());
  int steps = 0;
  while (popup->Timer2->isActive() && steps < 100) {
    popup->Timer2Timer();
    ++steps;
  }
  EXPECT_LE(popup->y(), bottom - 87);
  EXPECT_GT(popup->y(), bottom - 87 - 5);
  EXPECT_TRUE(popup->Timer5->isActive());
  popup->Image1Click();
  ASSERT_TRUE(popup->Timer1->isActive());
  const int top = popup->y();
  popup->Timer1Timer();
  popup->Timer1Timer();
  EXPECT_EQ(popup->y(), top + 4);
  EXPECT_EQ(popup->height(), 83);
  // A message while sinking: full height back, rising again.
  popup->RestartHold();
  EXPECT_EQ(popup->height(), 87);
  EXPECT_TRUE(popup->Timer2->isActive());
  EXPECT_FALSE(popup->Timer1->isActive());
  popup->Image1Click();
  for (int i = 0; i < 60 && popup; ++i) popup->Timer1Timer();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(popup.isNull());
}

// Screen readers and UI automation read the whole message, appended lines too, and the
// reading follows each new message.
TEST_F(PopupFixture, ReadsAsANotificationNamedByItsWholeMessage) {
  auto* popup = new Tfrm_popup;
  popup->SetMessageText(Cp936("新消息"));
  popup->show();
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(popup);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->role(), QAccessible::Notification);
  EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8("新消息"));
  popup->AppendMessageText(Cp936("文件已保存"));
  EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8("新消息\r\n文件已保存"));
}

TEST(AboutBox, ContentAndClose) {
  TestApp();
  QPointer<TfrmAbort> box = new TfrmAbort(nullptr);
  EXPECT_EQ(TfrmAbort::Current(), box.data());
  EXPECT_EQ(box->windowTitle(), QString::fromUtf8("关于本程序..."));
  EXPECT_EQ(box->size(), QSize(350, 193));
  QStringList texts;
  for (QLabel* l : box->findChildren<QLabel*>()) texts << l->text();
  EXPECT_EQ(texts.count(QString::fromUtf8("Calvessa 网络办公自动化系统组件")), 2);
  EXPECT_TRUE(texts.contains(QStringLiteral("For Microsoft Internet Explorer ActiveX")));
  EXPECT_TRUE(texts.contains(QString::fromUtf8("版本号：") + TfrmAbort::VersionNumber()));
  EXPECT_EQ(box->Button1->text(), QString::fromUtf8("确定(&Y)"));
  ExecWithScript(*box, [&] { box->Button1->click(); });
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(box.isNull());
  EXPECT_EQ(TfrmAbort::Current(), nullptr);
}
