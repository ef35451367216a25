// Handing files to the desktop: a file no program takes is said, whether the launcher is
// missing or finds no program for the type.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "TestUtil.h"
#include "core/AnsiString.h"
#include "platform/Services.h"
#include "platform/Shell.h"

namespace {

// PATH holding only a launcher that ends with the given code (none: no launcher at all).
class FakeLauncher {
 public:
  // A launcher that waits `seconds` for the program it started, as xdg-open does without a desktop.
  explicit FakeLauncher(int exitCode, int seconds = 0) : old_(std::getenv("PATH") ? std::getenv("PATH") : "") {
    if (exitCode >= 0) {
      const std::string script = dir_.File("xdg-open");
      std::ofstream(script) << "#!/bin/sh\n/bin/sleep " << seconds << "\necho \"$1\" > " << dir_.File("asked")
                            << "\nexit " << exitCode << "\n";
      QFile::setPermissions(QString::fromStdString(script), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    setenv("PATH", dir_.Path().c_str(), 1);
  }
  ~FakeLauncher() { setenv("PATH", old_.c_str(), 1); }
  std::string Asked() const { return ReadFile(dir_.File("asked")); }

 private:
  TempDir dir_;
  std::string old_;
};

bool WaitFor(const std::function<bool()>& pred) {
  QElapsedTimer t;
  t.start();
  while (!pred() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  return pred();
}

TEST(DesktopShell, AFileNoProgramTakesIsSaid) {
  TestApp();
  ServiceCapture cap;
  Services::SetShell(nullptr);  // the desktop's own launcher; prompts stay captured
  const AnsiString name = Cp936("扫描件1.tif");
  {
    FakeLauncher none(-1);
    OpenWithDesktop("/tmp/no-launcher.tif", name, nullptr);
    ASSERT_EQ(cap.prompts.size(), 1u);  // at once: nothing could even try
    EXPECT_EQ(cap.prompts[0].text, Cp936("没有可以打开此文件的程序：扫描件1.tif"));
    EXPECT_EQ(cap.prompts[0].caption, Cp936("系统提示"));
  }
  // No program for the type (3), or one picked that cannot run (4): found only later.
  for (int code : {3, 4}) {
    SCOPED_TRACE(code);
    const size_t before = cap.prompts.size();
    FakeLauncher noProgram(code);
    OpenWithDesktop("/tmp/unknown.tif", name, nullptr);
    ASSERT_TRUE(WaitFor([&] { return cap.prompts.size() == before + 1; }));
    EXPECT_EQ(noProgram.Asked(), "/tmp/unknown.tif\n");
    EXPECT_EQ(cap.prompts.back().text, NoProgramText(name));
  }
}

// Processes whose parent is this test program.
int OwnChildren() {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(e.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    int ppid = 0;
    if (rest >> state >> ppid && ppid == getpid()) ++n;
  }
  return n;
}

// A host that ends while a viewer it opened is still up frees the launch, and the viewer stays.
TEST(DesktopShell, AHostEndingLeavesTheViewerOpenAndKeepsNothing) {
  QApplication& app = TestApp();
  ServiceCapture cap;
  Services::SetShell(nullptr);
  FakeLauncher viewer(0, 2);
  const int before = OwnChildren();
  OpenWithDesktop("/tmp/open-at-exit.doc", Cp936("a.doc"), nullptr);
  ASSERT_TRUE(WaitFor([&] { return OwnChildren() > before; }));
  QTimer::singleShot(100, &app, &QCoreApplication::quit);
  app.exec();
  EXPECT_EQ(OwnChildren(), before);  // nothing of the launch is left to this program
  ASSERT_TRUE(WaitFor([&] { return viewer.Asked() == "/tmp/open-at-exit.doc\n"; }));
  EXPECT_TRUE(cap.prompts.empty());
}

}  // namespace
