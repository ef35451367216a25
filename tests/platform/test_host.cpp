#include <gtest/gtest.h>

#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "ModalDriver.h"
#include "TestUtil.h"
#include "apps/tarvo-host/HostPage.h"
#include "core/AnsiString.h"
#include "platform/Services.h"

namespace {

struct HostRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// This process's standard output goes to a file while the object lives, so that what a
// page in this process prints can be read as it runs.
class CapturedStdout {
 public:
  explicit CapturedStdout(std::string path) : path_(std::move(path)) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
  }
  ~CapturedStdout() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  std::string Text() const {
    std::fflush(stdout);
    return ReadFile(path_);
  }

 private:
  std::string path_;
  int saved_ = -1;
};

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// Runs the host with the test control library and a registry of the test's own; on
// the offscreen platform unless platform names another.
HostRun Host(const TempDir& dir, QStringList args, bool withLibrary = true, const QString& platform = "offscreen") {
  args << "--registry" << QString::fromStdString(dir.File("registry.ini"));
  args << "--library" << (withLibrary ? FAKE_CONTROL_PATH : "");
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", platform);
  // What the host says in boxes is recorded there, and the box takes its first button.
  env.insert("TARVO_PROMPT_LOG", QString::fromStdString(dir.File("prompts.log")));
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  p.setProcessEnvironment(env);
  p.start(TARVO_HOST_PATH, args);
  HostRun r;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    ADD_FAILURE() << "host did not finish";
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

TEST(Host, LogsInAndOpensADocumentAsThePageDoes) {
  TempDir dir;
  HostRun r = Host(dir, {"--server", "127.0.0.1:9000", "--login", "admin", "--open",
                     QString::fromUtf8("公文库,{ID},0,,3,,"), "--exit-after-login"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // The sink is connected before the show, so OnDoLogin is seen; values print as UTF-8.
  EXPECT_EQ(r.out, "event OnDoLogin\nevent OnAfterLogin\nevent OnDoit Table=公文库 ID={ID}\n");
}

TEST(Host, OpensAWorkflowDefinitionAndReportsFailedCalls) {
  TempDir dir;
  HostRun flow = Host(dir, {"--server", "h:1", "--login", "admin", "--flow", "12", "--exit-after-login"});
  EXPECT_EQ(flow.exitCode, 0) << flow.err;
  EXPECT_EQ(flow.out, "event OnDoLogin\nevent OnAfterLogin\nevent OnDoit Table=flow ID=12\n");

  HostRun bad = Host(dir, {"--server", "h:1", "--login", "admin", "--open", "db,,,,x", "--exit-after-login"});
  EXPECT_EQ(bad.exitCode, 0);
  EXPECT_EQ(bad.out, "event OnDoLogin\nevent OnAfterLogin\n");
  EXPECT_NE(bad.err.find("GetStream failed (0x80020009) 'x' is not a valid integer value"), std::string::npos)
      << bad.err;
}

TEST(Host, AnswersOnlyTheFirstLoginSoARefusedLoginDoesNotLoop) {
  TestApp();
  TempDir dir;
  HostOptions options;
  options.host = "h";
  options.port = "1";
  options.login = "nobody";
  options.open = std::vector<std::string>{"relogin", "", "", "", "1", "", ""};
  options.registry = dir.File("registry.ini");
  options.library = FAKE_CONTROL_PATH;
  bool seen = false;
  std::string out;
  ServiceCapture capture;
  {
    CapturedStdout captured(dir.File("stdout.txt"));
    HostPage page(options);
    if (page.Start()) {
      page.Window()->show();
      // The refused login comes back as a second OnAfterLogin; an answer to it would
      // print its OnDoit at once, from within that event.
      seen = QTest::qWaitFor([&] { return Occurrences(captured.Text(), "event OnAfterLogin\n") == 2; }, 20000);
    }
    out = captured.Text();
  }
  EXPECT_TRUE(seen) << out;
  EXPECT_EQ(out, "event OnDoLogin\nevent OnAfterLogin\nevent OnDoit Table=relogin ID=\nevent OnAfterLogin\n");
  // Coming back means the server named nobody: the person is told, once.
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].text, Cp936("用户名不存在或无权登录：nobody"));
  EXPECT_EQ(capture.prompts[0].caption, Cp936("系统提示"));
}

TEST(Host, ScreenshotOfTheHostWindow) {
  TempDir dir;
  const std::string png = dir.File("shot.png");
  HostRun r = Host(dir, {"--screenshot", QString::fromStdString(png), "--screenshot-delay", "100"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "event OnDoLogin\n");  // no server given: no login follows
  QImage img(QString::fromStdString(png));
  ASSERT_FALSE(img.isNull());
  // The control's 338 x 44 below the page's menu.
  EXPECT_EQ(img.width(), 338);
  EXPECT_GT(img.height(), 44);
}

TEST(Host, HelpPrintsTheOptionsWithoutADisplay) {
  TempDir dir;
  // No display to open: the usage needs none.
  for (const char* option : {"--help", "-h"}) {
    HostRun r = Host(dir, {"--server", "h:1", option, "--bogus"}, true, "xcb");
    EXPECT_EQ(r.exitCode, 0) << option << ": " << r.err;
    EXPECT_EQ(r.out.rfind("Usage: tarvo-host", 0), 0u) << r.out;
    for (const char* name : {"--server", "--login", "--open", "--flow", "--exit-after-login", "--screenshot",
                             "--screenshot-delay", "--registry", "--library", "--help"})
      EXPECT_NE(r.out.find(std::string(" ") + name + " "), std::string::npos) << name;
    EXPECT_EQ(r.err, "");
  }
  // Still an error when it comes as another option's value.
  EXPECT_EQ(Host(dir, {"--login", "--help", "--bogus"}).exitCode, 2);
}

TEST(Host, RefusesBadOptionsAndMissingRegistrations) {
  TempDir dir;
  EXPECT_EQ(Host(dir, {"--open", "1,2,3,4,5,6,7,8"}).exitCode, 2);
  EXPECT_EQ(Host(dir, {"--server", "nohostport"}).exitCode, 2);
  EXPECT_EQ(Host(dir, {"--bogus"}).exitCode, 2);

  HostRun missing = Host(dir, {}, false);
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("not registered"), std::string::npos) << missing.err;
  // Started from a desktop nobody reads standard error: the failure is said in a box.
  EXPECT_NE(ReadFile(dir.File("prompts.log")).find("not registered"), std::string::npos);

  WriteFile(dir.File("registry.ini"), "garbage\n");
  HostRun corrupt = Host(dir, {});
  EXPECT_EQ(corrupt.exitCode, 1);
  EXPECT_NE(corrupt.err.find("DllRegisterServer failed"), std::string::npos) << corrupt.err;
  EXPECT_EQ(ReadFile(dir.File("registry.ini")), "garbage\n");
}

// The page's own window with the real control in it, in this process.
class HostWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    HostOptions options;
    options.registry = dir_.File("registry.ini");
    options.library = TARVO_CONTROL_PATH;
    page_ = std::make_unique<HostPage>(options);
    ASSERT_TRUE(page_->Start());
    page_->Window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page_->Window()));
  }
  void TearDown() override { page_.reset(); }

  static void ClickThroughWindow(QWidget* w, QPoint local) {
    QTest::mouseClick(w->window()->windowHandle(), Qt::LeftButton, {}, w->mapTo(w->window(), local));
  }

  TempDir dir_;
  std::unique_ptr<HostPage> page_;
};

TEST_F(HostWindow, HelpMenuOpensTheControlsAboutBox) {
  QWidget* window = page_->Window();
  auto* bar = window->findChild<QMenuBar*>();
  ASSERT_TRUE(bar);
  // The control keeps its size below the menu.
  ASSERT_EQ(window->layout()->count(), 1);
  EXPECT_EQ(window->layout()->itemAt(0)->widget()->size(), QSize(338, 44));
  EXPECT_EQ(window->height(), 44 + bar->height());

  ASSERT_EQ(bar->actions().size(), 1);
  QAction* help = bar->actions()[0];
  EXPECT_EQ(help->text(), QString::fromUtf8("帮助(&H)"));
  ClickThroughWindow(bar, bar->actionGeometry(help).center());
  QMenu* menu = help->menu();
  ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 10000));
  ASSERT_EQ(menu->actions().size(), 1);
  QAction* about = menu->actions()[0];
  EXPECT_EQ(about->text(), QString::fromUtf8("关于本程序(&A)..."));

  // The box is modal: it is read and closed by a person's click on its button.
  QPointer<QDialog> box;
  QString title;
  QStringList texts;
  auto script = WhenModal<QDialog>(
      [&](QDialog* d) {
        if (box) return;
        box = d;
        title = d->windowTitle();
        for (QLabel* l : d->findChildren<QLabel*>()) texts << l->text();
        for (QPushButton* b : d->findChildren<QPushButton*>())
          if (b->text() == QString::fromUtf8("确定(&Y)")) ClickThroughWindow(b, b->rect().center());
      },
      std::chrono::seconds(20));
  ClickThroughWindow(menu, menu->actionGeometry(about).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return script.Acted() && !box; }, 20000)) << "the about box did not close";
  EXPECT_EQ(title, QString::fromUtf8("关于本程序..."));
  EXPECT_TRUE(texts.contains(QString::fromUtf8("Calvessa 网络办公自动化系统组件"))) << texts.join('|').toStdString();
  EXPECT_TRUE(texts.filter(QString::fromUtf8("版本号：")).size() == 1) << texts.join('|').toStdString();
  EXPECT_FALSE(QApplication::activeModalWidget());
  EXPECT_TRUE(window->isVisible());
}

TEST_F(HostWindow, QtsOwnButtonsSpeakChineseOnceTheControlIsCreated) {
  // Nothing in this process loads Qt's translations but the control's creation.
  QString yes, no;
  auto script = WhenModal<QMessageBox>(
      [&](QMessageBox* box) {
        QAbstractButton* y = box->button(QMessageBox::Yes);
        QAbstractButton* n = box->button(QMessageBox::No);
        if (!y || !n) return;
        yes = y->text();
        no = n->text();
        ClickThroughWindow(n, n->rect().center());
      },
      std::chrono::seconds(20));
  EXPECT_FALSE(ConfirmYesNo(Utf8ToCp936("是否保存文档?"), Utf8ToCp936("系统提示"), page_->Window()));
  EXPECT_EQ(yes, QString::fromUtf8("是(&Y)"));
  EXPECT_EQ(no, QString::fromUtf8("否(&N)"));
}

}  // namespace
