#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "ModalDriver.h"
#include "TestUtil.h"
#include "core/DateTime.h"
#include "core/Exception.h"
#include "platform/Guard.h"
#include "platform/LocaleSettings.h"
#include "platform/Registry.h"
#include "platform/Services.h"

namespace {

// Restores the process-wide format settings after a test changed them.
class LocaleTest : public ::testing::Test {
 protected:
  void TearDown() override { DefaultFormatSettings() = saved; }
  TFormatSettings saved = DefaultFormatSettings();
  TempDir dir;
  ScopedEnv env{"TARVO_LOCALE_FILE", dir.File("tarvo/locale.ini")};
};

TEST_F(LocaleTest, ShortDateWriteReachesFileAndRunningProcess) {
  DefaultFormatSettings().ShortDateFormat = "M/d/yyyy";
  DefaultFormatSettings().DateSeparator = '/';
  EXPECT_TRUE(LocaleSettings::SetShortDateFormat("yyyy-MM-dd"));
  EXPECT_EQ(DateToStr(EncodeDate(2026, 3, 7)), "2026-03-07");
  EXPECT_EQ(DefaultFormatSettings().DateSeparator, '-');
  EXPECT_EQ(ReadFile(LocaleSettings::FilePath()), "[Locale]\nsShortDate=yyyy-MM-dd\nsDate=-\n");

  // A later load (the next time the control loads) applies the file.
  DefaultFormatSettings() = saved;
  DefaultFormatSettings().ShortDateFormat = "d.M.yy";
  ASSERT_TRUE(LocaleSettings::Load());
  EXPECT_EQ(DefaultFormatSettings().ShortDateFormat, "yyyy-MM-dd");
  EXPECT_EQ(LocaleSettings::Value("sshortdate"), "yyyy-MM-dd");
}

TEST_F(LocaleTest, WriteKeepsWhatElseTheFileHolds) {
  WriteFile(LocaleSettings::FilePath(),
            "; user settings\n[Other]\nsShortDate=keep\n[Locale]\nsLongDate=yyyy'年'M'月'd'日'\nsShortDate=d/M/yy\n"
            "garbage line\nsFuture=1\n");
  EXPECT_TRUE(LocaleSettings::SetShortDateFormat("yyyy-MM-dd"));
  EXPECT_EQ(ReadFile(LocaleSettings::FilePath()),
            "; user settings\n[Other]\nsShortDate=keep\n[Locale]\nsLongDate=yyyy'年'M'月'd'日'\nsShortDate=yyyy-MM-dd\n"
            "garbage line\nsFuture=1\nsDate=-\n");
  ASSERT_TRUE(LocaleSettings::Load());
  // Texts in the file are UTF-8; the process holds code page 936.
  EXPECT_EQ(DefaultFormatSettings().LongDateFormat, Cp936("yyyy'年'M'月'd'日'"));
  EXPECT_EQ(FormatDateTime("dddddd", EncodeDate(2026, 3, 7)), Cp936("2026年3月7日"));
}

TEST_F(LocaleTest, UnusableValuesAndUnwritableFilesChangeNothingOnDisk) {
  WriteFile(LocaleSettings::FilePath(), "[Locale]\nsDate=--\nsTime=\xE5\x86\x92\nsShortDate=\n");
  DefaultFormatSettings().DateSeparator = '/';
  DefaultFormatSettings().ShortDateFormat = "yyyy/M/d";
  ASSERT_TRUE(LocaleSettings::Load());
  EXPECT_EQ(DefaultFormatSettings().DateSeparator, '/');
  EXPECT_EQ(DefaultFormatSettings().ShortDateFormat, "yyyy/M/d");

  // The path is a folder: nothing can be written, but the process still takes the value.
  ScopedEnv folder("TARVO_LOCALE_FILE", dir.Path());
  EXPECT_FALSE(LocaleSettings::SetShortDateFormat("yyyy-MM-dd"));
  EXPECT_EQ(DefaultFormatSettings().ShortDateFormat, "yyyy-MM-dd");
}

TEST(Services, FileFiltersBecomeQtFilters) {
  EXPECT_EQ(ConvertFileFilter("Word|*.doc;*.rtf|All|*.*"), "Word (*.doc *.rtf);;All (*.*)");
  EXPECT_EQ(ConvertFileFilter("Text files (*.txt)|*.txt"), "Text files (*.txt)");
  EXPECT_EQ(ConvertFileFilter(Cp936("图像|*.jpg|")), "图像 (*.jpg)");
  EXPECT_EQ(ConvertFileFilter("Lonely"), "Lonely (*)");
  EXPECT_EQ(ConvertFileFilter(""), "");
  EXPECT_EQ(NormalizeLineBreaks("a\r\rb\r\nc\nd\r"), "a\n\nb\nc\nd\n");
}

TEST(Services, CaptureRecordsExactTextsAndAnswersFromItsScript) {
  TestApp();
  IPromptService* real = &Services::Prompt();
  {
    ServiceCapture cap;
    cap.promptAnswers = {MsgResult::No};
    const AnsiString text = Cp936("是否移除文件 a.doc？");
    EXPECT_FALSE(ConfirmYesNo(text, Cp936("系统提示")));
    EXPECT_TRUE(ConfirmYesNo(text, Cp936("系统提示")));  // queue empty: the first button
    EXPECT_EQ(ShowMessageBox("x\ry", "c", MsgIcon::Error), MsgResult::Ok);
    ASSERT_EQ(cap.prompts.size(), 3u);
    EXPECT_EQ(cap.prompts[0].text, text);
    EXPECT_EQ(cap.prompts[0].caption, Cp936("系统提示"));
    EXPECT_EQ(cap.prompts[0].icon, MsgIcon::Question);
    EXPECT_EQ(cap.prompts[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(cap.prompts[2].text, "x\ry");  // kept as the system wrote it

    FileDialogOptions o;
    o.filter = "All|*.*";
    cap.saveAnswers = {std::string("/tmp/a.doc")};
    EXPECT_EQ(Services::FileDialogs().SaveFile(o, nullptr), std::optional<std::string>("/tmp/a.doc"));
    EXPECT_TRUE(Services::FileDialogs().OpenFiles(o, nullptr).empty());
    ASSERT_EQ(cap.fileDialogs.size(), 2u);
    EXPECT_TRUE(cap.fileDialogs[0].save);
    EXPECT_EQ(cap.fileDialogs[1].options.filter, "All|*.*");

    cap.shellResult = false;
    EXPECT_FALSE(Services::Shell().Open("/tmp/x.pdf"));
    EXPECT_EQ(cap.shellOpens, std::vector<std::string>{"/tmp/x.pdf"});

    cap.now = EncodeDate(2026, 1, 2);
    cap.tick = 0xFFFFFF00u;
    cap.Advance(0x200);
    EXPECT_EQ(Services::Clock().TickCount(), 0x100u);  // wraps like the desktop's count
    EXPECT_DOUBLE_EQ(Services::Clock().Now(), EncodeDate(2026, 1, 2) + 512.0 / MSecsPerDay);
  }
  EXPECT_EQ(&Services::Prompt(), real);
}

// The default box is a real QMessageBox with the caption, icon and buttons given and
// carriage returns shown as line breaks.
TEST(Services, DefaultPromptShowsAMessageBox) {
  TestApp();
  ScopedEnv noLog("TARVO_PROMPT_LOG", "");
  QString seenText, seenTitle;
  QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
  int seenButtons = 0;
  auto script = WhenModal<QMessageBox>([&](QMessageBox* box) {
    seenText = box->text();
    seenTitle = box->windowTitle();
    seenIcon = box->icon();
    seenButtons = static_cast<int>(box->standardButtons());
    box->button(QMessageBox::No)->click();
  });
  MsgResult r = ShowMessageBox(Cp936("无法连接远程服务器！\r\r原因："), Cp936("系统提示"), MsgIcon::Question,
                               MsgButtons::YesNo);
  EXPECT_EQ(r, MsgResult::No);
  EXPECT_EQ(seenText, QString::fromUtf8("无法连接远程服务器！\n\n原因："));
  EXPECT_EQ(seenTitle, QString::fromUtf8("系统提示"));
  EXPECT_EQ(seenIcon, QMessageBox::Question);
  EXPECT_EQ(seenButtons, static_cast<int>(QMessageBox::Yes | QMessageBox::No));
}

// A question about keeping work: Enter takes the button that keeps it, Escape and the
// close box take neither (the window that asked stays), whichever buttons are shown.
TEST(Services, KeepingWorkQuestionNeverLetsAKeyOrTheCloseBoxDiscard) {
  TestApp();
  ScopedEnv noLog("TARVO_PROMPT_LOG", "");
  struct Case {
    MsgButtons buttons;
    MsgResult keep;
    std::function<void(QMessageBox*)> act;
    MsgResult expected;
  };
  auto key = [](Qt::Key k) { return [k](QMessageBox* b) { QTest::keyClick(b->windowHandle(), k); }; };
  auto closeBox = [](QMessageBox* b) { b->close(); };
  const Case cases[] = {
      {MsgButtons::YesNo, MsgResult::Yes, key(Qt::Key_Escape), MsgResult::Cancel},
      {MsgButtons::YesNo, MsgResult::Yes, closeBox, MsgResult::Cancel},
      {MsgButtons::YesNo, MsgResult::Yes, key(Qt::Key_Return), MsgResult::Yes},
      {MsgButtons::YesNo, MsgResult::No, key(Qt::Key_Return), MsgResult::No},
      {MsgButtons::YesNo, MsgResult::No, key(Qt::Key_Escape), MsgResult::Cancel},
      {MsgButtons::YesNoCancel, MsgResult::Yes, key(Qt::Key_Escape), MsgResult::Cancel},
      {MsgButtons::YesNoCancel, MsgResult::Yes, key(Qt::Key_Enter), MsgResult::Yes},
  };
  for (const Case& c : cases) {
    int visibleButtons = 0;
    auto script = WhenModal<QMessageBox>([&](QMessageBox* box) {
      if (!box->windowHandle() || !box->isVisible()) return;
      visibleButtons = 0;
      for (QAbstractButton* b : box->buttons()) visibleButtons += b->isVisible();
      c.act(box);
    });
    const MsgResult r = AskKeepingWork(Cp936("是否保存审批单？"), Cp936("系统提示"), c.buttons, c.keep);
    EXPECT_EQ(r, c.expected) << static_cast<int>(c.buttons) << " keep " << static_cast<int>(c.keep);
    EXPECT_EQ(visibleButtons, c.buttons == MsgButtons::YesNo ? 2 : 3);
  }
}

// The default save dialog shows the converted filters, selects the filter by its
// 1-based index and adds the default extension to a name typed without one.
TEST(Services, DefaultSaveDialogUsesTheConvertedFilter) {
  TestApp();
  TempDir dir;
  QStringList filters;
  QString selected, title;
  auto script = WhenModal<QFileDialog>([&](QFileDialog* dlg) {
    filters = dlg->nameFilters();
    selected = dlg->selectedNameFilter();
    title = dlg->windowTitle();
    // Typed as a person would: selectFile() races the dialog's folder listing on a fresh
    // home and can leave only the folder selected.
    auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QStringLiteral("report"));
    static_cast<QDialog*>(dlg)->accept();
  });
  FileDialogOptions o;
  o.title = Cp936("另存为");
  o.filter = Cp936("文本|*.txt|Word|*.doc;*.rtf");
  o.filterIndex = 2;
  o.initialDir = dir.Path();
  o.defaultExt = "doc";
  auto chosen = Services::FileDialogs().SaveFile(o, nullptr);
  EXPECT_EQ(filters, QStringList({QString::fromUtf8("文本 (*.txt)"), "Word (*.doc *.rtf)"}));
  EXPECT_EQ(selected, "Word (*.doc *.rtf)");
  EXPECT_EQ(title, QString::fromUtf8("另存为"));
  EXPECT_EQ(chosen, std::optional<std::string>(dir.File("report.doc")));
}

TEST(Services, UnattendedPromptsAreLoggedAndTakeTheFirstButton) {
  TempDir dir;
  ScopedEnv log("TARVO_PROMPT_LOG", dir.File("prompts.log"));
  EXPECT_EQ(ShowMessageBox(Cp936("第一行\r第二行"), Cp936("系统提示"), MsgIcon::Information), MsgResult::Ok);
  EXPECT_TRUE(ConfirmYesNo("sure?", "c"));
  EXPECT_EQ(ReadFile(dir.File("prompts.log")),
            "prompt caption=系统提示 icon=1 buttons=0 text=第一行\\r第二行\n"
            "prompt caption=c icon=4 buttons=2 text=sure?\n");
}

}  // namespace

namespace {

// A name holding quotes is one file, typed alone or in a list of several; the dialog's own
// reading takes its quotes for the separators of a list.
TEST(Services, OpenDialogTakesNamesWithQuotesWhole) {
  TestApp();
  TempDir dir;
  const std::string quoted = dir.File("say \"hi\".txt");
  const std::string plain = dir.File("plain.txt");
  std::ofstream(quoted) << "q";
  std::ofstream(plain) << "p";
  struct Case {
    QString typed;
    std::vector<std::string> chosen;
  };
  for (const Case& c : {Case{QStringLiteral("say \"hi\".txt"), {quoted}},
                        Case{QStringLiteral("\"say \"hi\".txt\" \"plain.txt\""), {quoted, plain}}}) {
    SCOPED_TRACE(c.typed.toStdString());
    bool openEnabled = false;
    auto script = WhenModal<QFileDialog>([&](QFileDialog* dlg) {
      auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(name, nullptr);
      // A person types once the folder shows: its late listing may still move the name.
      auto* model = dlg->findChild<QFileSystemModel*>();
      ASSERT_NE(model, nullptr);
      const QModelIndex folder = model->index(QString::fromStdString(dir.Path()));
      for (QDeadlineTimer deadline(10000); model->rowCount(folder) < 2 && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QCoreApplication::processEvents();
      name->setFocus();
      name->setText(c.typed);
      auto* box = dlg->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
      ASSERT_NE(box, nullptr);
      QPushButton* open = box->button(QDialogButtonBox::Open);
      openEnabled = open && open->isEnabled();
      if (openEnabled) open->click();
      else dlg->reject();
    });
    FileDialogOptions o;
    o.initialDir = dir.Path();
    o.multiSelect = true;
    EXPECT_EQ(Services::FileDialogs().OpenFiles(o, nullptr), c.chosen);
    EXPECT_TRUE(openEnabled);
  }
}

// A failure caught at a handler reaches the person as a warning and the log; an
// observer already there (a test's own) is kept, and a failure while the box is up
// is only logged.
TEST(Services, TheFailureReporterShowsWhatAHandlerCaughtOnce) {
  TestApp();
  SetGuardObserver(nullptr);
  {
    ServiceCapture capture;
    InstallFailureReporter();
    EXPECT_FALSE(Guarded([] { throw EConvertError("'x' is not a valid integer value"); }));
    ASSERT_EQ(capture.prompts.size(), 1u);
    EXPECT_EQ(capture.prompts[0].text, "'x' is not a valid integer value");
    EXPECT_EQ(capture.prompts[0].caption, Cp936("系统提示"));
    EXPECT_EQ(capture.prompts[0].icon, MsgIcon::Warning);

    // Swallowed on purpose: nobody is told.
    EXPECT_FALSE(Swallowed([] { throw EConvertError("quiet"); }));
    EXPECT_EQ(capture.prompts.size(), 1u);
  }
  std::vector<AnsiString> seen;
  SetGuardObserver([&](HRESULT, const AnsiString& m) { seen.push_back(m); });
  InstallFailureReporter();
  Guarded([] { throw EConvertError("mine"); });
  SetGuardObserver(nullptr);
  EXPECT_EQ(seen, std::vector<AnsiString>{"mine"});
}

// The per-user files follow XDG_CONFIG_HOME when it is set to an absolute folder.
TEST(Services, ConfigFilesGoWhereXdgConfigHomeSays) {
  TempDir dir;
  ScopedEnv noRegistry("TARVO_REGISTRY", "");
  ScopedEnv noLocale("TARVO_LOCALE_FILE", "");
  ScopedEnv home("HOME", dir.File("home"));
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.File("cfg"));
    EXPECT_EQ(Registry::DefaultPath(), dir.File("cfg") + "/tarvo/registry.ini");
    EXPECT_EQ(LocaleSettings::FilePath(), dir.File("cfg") + "/tarvo/locale.ini");
  }
  ScopedEnv relative("XDG_CONFIG_HOME", "cfg");  // not absolute: ignored, as the rule says
  EXPECT_EQ(Registry::DefaultPath(), dir.File("home") + "/.config/tarvo/registry.ini");
}

}  // namespace
