// The real tarvo-host under a real X server (xvfb-run, the xcb platform), the control it
// loads from the build, and oa-server: a person adds a text file, a web page, a picture
// and a PDF in the leave request's attachment manager and reads each one with a double
// click. The viewer shows each, and the host lives on. Input goes through the X server
// (xdotool); what is seen is read from the screen.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <optional>

#include "E2eSupport.h"

namespace host_viewer_e2e {

// One X display of our own, with tarvo-host on it.
class HostOnDisplay {
 public:
  HostOnDisplay(const QString& work, const QStringList& hostArgs) : work_(work) {
    // xvfb-run picks a free display and its key; the shell tells both, and its pid is the
    // host's.
    const QString started = work + "/display";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("TARVO_REGISTRY", work + "/registry.ini");
    env.insert("TARVO_LOCALE_FILE", work + "/locale.ini");
    // Unattended: message boxes are logged and take their first button.
    env.insert("TARVO_PROMPT_LOG", work + "/prompts.log");
    // The browser engine frees some of its own objects through a base of another size.
    env.insert("ASAN_OPTIONS", "detect_leaks=0:new_delete_type_mismatch=0");
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(work + "/host.out");
    QStringList args{"-a", "-s", "-screen 0 1280x1024x24", "sh", "-c",
                     "echo \"$DISPLAY $$ $XAUTHORITY\" > \"$0\"; exec \"$@\"", started, QString::fromUtf8(TARVO_HOST_PATH)};
    process_.start("xvfb-run", args + hostArgs);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && process_.state() != QProcess::NotRunning) {
      QFile f(started);
      if (f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = f.readAll().trimmed().split(' ');
        if (parts.size() == 3) {
          display_ = QString::fromUtf8(parts[0]);
          hostPid_ = parts[1].toLongLong();
          xauthority_ = QString::fromUtf8(parts[2]);
          return;
        }
      }
      QThread::msleep(50);
    }
  }
  ~HostOnDisplay() {
    if (hostPid_ > 0 && HostAlive()) ::kill(static_cast<pid_t>(hostPid_), SIGTERM);
    if (!process_.waitForFinished(15000)) {
      process_.kill();
      process_.waitForFinished(3000);
    }
  }
  bool Started() const { return !display_.isEmpty(); }
  bool HostAlive() const { return hostPid_ > 0 && ::kill(static_cast<pid_t>(hostPid_), 0) == 0; }
  QString HostOutput() const {
    QFile f(work_ + "/host.out");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }
  // What to say when a step fails: whether the host lives, what it printed and was asked.
  std::string Diagnostics() const {
    QFile prompts(work_ + "/prompts.log");
    const QString asked = prompts.open(QIODevice::ReadOnly) ? QString::fromUtf8(prompts.readAll()) : QString();
    return QString("the host %1; its output:\n%2\nits messages:\n%3\nwindows: %4")
        .arg(HostAlive() ? "lives" : "is gone", HostOutput(), asked,
             QString::fromUtf8(Run("xdotool", {"search", "--name", "."}).replace('\n', ' ')))
        .toStdString();
  }

  // A tool run against the display; its output.
  QByteArray Run(const QString& program, const QStringList& args) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.insert("XAUTHORITY", xauthority_);
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(20000);
    return p.readAllStandardOutput();
  }
  QString Window(const QString& title) const {
    return QString::fromUtf8(Run("xdotool", {"search", "--name", "^" + title + "$"}).trimmed().split('\n').value(0));
  }
  QRect Geometry(const QString& window) const {
    QRect r;
    for (const QByteArray& line : Run("xdotool", {"getwindowgeometry", "--shell", window}).split('\n')) {
      const QList<QByteArray> kv = line.split('=');
      if (kv.size() != 2) continue;
      const int v = kv[1].toInt();
      if (kv[0] == "X") r.moveLeft(v);
      if (kv[0] == "Y") r.moveTop(v);
      if (kv[0] == "WIDTH") r.setWidth(v);
      if (kv[0] == "HEIGHT") r.setHeight(v);
    }
    return r;
  }
  QImage Shot(const QString& window) const {
    return QImage::fromData(Run("import", {"-window", window, "png:-"}), "PNG").convertToFormat(QImage::Format_RGB32);
  }
  void Click(QPoint at, int count = 1) const {
    Run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "--repeat",
                    QString::number(count), "--delay", "80", "1"});
  }
  // Types into a window once it has the keyboard.
  void Type(const QString& window, const QString& text) const {
    Run("xdotool", {"windowfocus", "--sync", window});
    Run("xdotool", {"type", "--delay", "20", text});
    Run("xdotool", {"key", "Return"});
  }

  // Waits for what must come, as long as the host lives.
  bool WaitFor(const std::function<bool()>& done, int timeoutMs = 60000) const {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
      if (done()) return true;
      if (!HostAlive()) return false;
      QThread::msleep(100);
    }
    return false;
  }

 private:
  QString work_;
  QProcess process_;
  QString display_;
  QString xauthority_;  // xvfb-run's own
  qint64 hostPid_ = 0;
};

// Pixels of an image that pass a test.
int Count(const QImage& img, const std::function<bool(QRgb)>& pass, int fromY = 0) {
  int n = 0;
  for (int y = fromY; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += pass(img.pixel(x, y));
  return n;
}

// The x centres of the items in the first row of the manager's list: runs of columns
// with something drawn on the pure white list, in the band where the icons sit (a page
// icon's light fill counts).
std::vector<int> IconCentres(const QImage& manager) {
  auto drawnAt = [&](int x) {
    for (int y = 18; y < 42; ++y)
      if (qGray(manager.pixel(x, y)) < 250) return true;
    return false;
  };
  // The list's frame comes first.
  int x = 4;
  while (x < manager.width() / 4 && !drawnAt(x)) ++x;
  while (x < manager.width() / 4 && drawnAt(x)) ++x;
  std::vector<int> centres;
  int runStart = -1, gap = 0;
  for (; x < manager.width() * 3 / 4; ++x) {
    const bool drawn = drawnAt(x);
    if (drawn) {
      if (runStart < 0) runStart = x;
      gap = 0;
    } else if (runStart >= 0 && ++gap >= 6) {
      centres.push_back((runStart + x - gap) / 2);
      runStart = -1;
    }
  }
  return centres;
}

void WritePdf(const QString& path) {
  QPdfWriter pdf(path);
  QPainter p(&pdf);
  p.fillRect(QRect(0, 0, pdf.width(), pdf.height() / 2), QColor(0, 0, 255));
}

TEST(HostViewerE2E, TheHostShowsTextPagePictureAndPdfAttachmentsAndLives) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  const QString dir = work.path();
  {
    QFile f(dir + "/a.txt");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Plain text of an attachment, to be read in the viewer.\n");
  }
  {
    QFile f(dir + "/b.htm");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html><head><meta charset=\"utf-8\"></head><body style=\"background:#ff0000\">页</body></html>");
  }
  {
    QImage green(400, 300, QImage::Format_RGB32);
    green.fill(QColor(0, 255, 0));
    ASSERT_TRUE(green.save(dir + "/c.jpg", "JPG"));
  }
  WritePdf(dir + "/d.pdf");

  HostOnDisplay host(dir, {"--server", "127.0.0.1:" + QString::number(server.Port()), "--login", "zhangsan",
                           "--open", "oa,,1,请假单,1,,"});
  ASSERT_TRUE(host.Started());
  QString form;
  ASSERT_TRUE(host.WaitFor([&] { return !(form = host.Window("表单显示")).isEmpty(); })) << host.Diagnostics();
  // The page is on screen once the leave request's buttons are drawn.
  const QRect formAt = host.Geometry(form);
  const QPoint attach = formAt.topLeft() + QPoint(formAt.width() - 193, 31);
  QString manager;
  ASSERT_TRUE(host.WaitFor([&] {
    host.Click(attach);
    return host.WaitFor([&] { return !(manager = host.Window("文件管理")).isEmpty(); }, 3000);
  })) << host.Diagnostics();
  const QRect managerAt = host.Geometry(manager);

  struct Case {
    const char* file;
    std::function<bool(QRgb)> shows;
    int atLeast;
  };
  const std::vector<Case> cases{
      {"a.txt", [](QRgb p) { return qGray(p) < 80; }, 100},
      {"b.htm", [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; }, 20000},
      {"c.jpg", [](QRgb p) { return qGreen(p) > 200 && qRed(p) < 60 && qBlue(p) < 60; }, 20000},
      {"d.pdf", [](QRgb p) { return qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60; }, 5000},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.file);
    const size_t uploads = [&] {
      size_t n = 0;
      for (const std::string& line : server.LogLines()) n += line.rfind("SABB", 0) == 0;
      return n;
    }();
    host.Click(managerAt.topLeft() + QPoint(managerAt.width() - 49, 23));  // 添加文件
    QString chooser;
    ASSERT_TRUE(host.WaitFor([&] { return !(chooser = host.Window("选择导入文件")).isEmpty(); }));
    host.Type(chooser, dir + "/" + c.file);
    // Added once the server has it.
    ASSERT_TRUE(host.WaitFor([&] {
      size_t n = 0;
      for (const std::string& line : server.LogLines()) n += line.rfind("SABB", 0) == 0;
      return n > uploads;
    }));
    std::vector<int> icons;
    ASSERT_TRUE(host.WaitFor([&] { return (icons = IconCentres(host.Shot(manager))).size() == i + 1; }, 20000))
        << icons.size() << " icons";
    host.Click(managerAt.topLeft() + QPoint(icons[i], 30), 2);
    QString viewer;
    ASSERT_TRUE(host.WaitFor([&] { return !(viewer = host.Window("显示文件")).isEmpty(); }))
        << host.Diagnostics();
    // Shown once its pixels are on screen (the engine paints a while after loading).
    int seen = 0;
    EXPECT_TRUE(host.WaitFor([&] { return (seen = Count(host.Shot(viewer), c.shows, 40)) >= c.atLeast; }))
        << seen << " pixels; " << host.Diagnostics();
    const QRect viewerAt = host.Geometry(viewer);
    host.Click(viewerAt.topLeft() + QPoint(viewerAt.width() - 50, 17));  // 关闭返回
    ASSERT_TRUE(host.WaitFor([&] { return host.Window("显示文件").isEmpty(); }));
  }
  EXPECT_TRUE(host.HostAlive());
  EXPECT_TRUE(host.HostOutput().contains("event OnAfterLogin"));
}

}  // namespace host_viewer_e2e
