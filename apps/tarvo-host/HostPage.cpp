#include "apps/tarvo-host/HostPage.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/Guard.h"
#include "platform/Registry.h"
#include "platform/Services.h"
#include "platform/com/ComLoader.h"
#include "platform/com/ComServer.h"
#include "platform/com/Registration.h"

namespace {

std::vector<std::string> SplitCommas(const std::string& s) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (true) {
    size_t comma = s.find(',', pos);
    out.push_back(s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
    if (comma == std::string::npos) return out;
    pos = comma + 1;
  }
}

std::string ValueText(const EventArg& a) {
  std::string text = "?";
  Guarded([&] { text = a.value.AsUtf8(); });
  return text;
}

// Said to the person as well: a host started from a desktop has no terminal.
void Fail(const std::string& what) {
  std::fprintf(stderr, "tarvo-host: %s\n", what.c_str());
  ShowMessageBox(Utf8ToCp936("tarvo-host: " + what), Cp936("系统提示"), MsgIcon::Warning);
}

}  // namespace

const char* HostUsage() {
  return "Usage: tarvo-host [options]\n"
         "Hosts the TarvoX control in a window, as the office-automation web page does.\n"
         "\n"
         "  --server HOST:PORT        server the control logs in to\n"
         "  --login NAME              login name sent once the control asks for it\n"
         "  --open DB,ID,CMD,TEMPLATE,OBJECT,INITTABLE,INITRECORD\n"
         "                            opens a document after the login (GetStream)\n"
         "  --flow ID                 opens a workflow definition after the login\n"
         "  --exit-after-login        exits once the login is answered\n"
         "  --screenshot FILE         saves a PNG of the window, then exits\n"
         "  --screenshot-delay MS     waits MS milliseconds before the screenshot (1500)\n"
         "  --registry FILE           registry file instead of the default one\n"
         "  --library PATH            control library to register and load; \"\" uses the\n"
         "                            registration already in the registry\n"
         "  -h, --help                prints this text\n"
         "\n"
         "Every event of the control is printed on standard output.\n";
}

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& out, std::string* error) {
  auto fail = [&](const std::string& m) {
    if (error) *error = m;
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& dst) {
      if (i + 1 >= args.size()) return false;
      dst = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      out.help = true;
      return true;
    } else if (a == "--exit-after-login") {
      out.exitAfterLogin = true;
    } else if (a == "--server") {
      if (!value(v)) return fail("--server needs HOST:PORT");
      size_t colon = v.rfind(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == v.size()) return fail("--server needs HOST:PORT");
      out.host = v.substr(0, colon);
      out.port = v.substr(colon + 1);
    } else if (a == "--login") {
      if (!value(out.login)) return fail("--login needs a name");
    } else if (a == "--open") {
      if (!value(v)) return fail("--open needs DB,ID,CMD,TEMPLATE,OBJECT,INITTABLE,INITRECORD");
      std::vector<std::string> parts = SplitCommas(v);
      if (parts.size() > 7) return fail("--open takes at most seven values");
      parts.resize(7);
      out.open = parts;
    } else if (a == "--flow") {
      if (!value(v)) return fail("--flow needs an ID");
      out.flow = v;
    } else if (a == "--screenshot") {
      if (!value(out.screenshot)) return fail("--screenshot needs a file");
    } else if (a == "--screenshot-delay") {
      if (!value(v)) return fail("--screenshot-delay needs milliseconds");
      char* end = nullptr;
      long ms = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || ms < 0 || ms > 600000) return fail("--screenshot-delay needs milliseconds");
      out.screenshotDelay = static_cast<int>(ms);
    } else if (a == "--registry") {
      if (!value(out.registry)) return fail("--registry needs a file");
    } else if (a == "--library") {
      if (!value(v)) return fail("--library needs a path");
      out.library = v;
    } else {
      return fail("unknown option " + a);
    }
  }
  return true;
}

HostPage::HostPage(HostOptions options) : options_(std::move(options)) {
  window_.setWindowTitle(QStringLiteral("tarvo-host"));
  auto* layout = new QVBoxLayout(&window_);
  layout->setContentsMargins(0, 0, 0, 0);
  BuildMenu();
}

void HostPage::BuildMenu() {
  auto* bar = new QMenuBar(&window_);
  QMenu* help = bar->addMenu(QString::fromUtf8("帮助(&H)"));
  QAction* about = help->addAction(QString::fromUtf8("关于本程序(&A)..."));
  // Through the dispatch interface, as the page calls it; the box is modal.
  QObject::connect(about, &QAction::triggered, &window_, GuardSlot([this](bool) {
                     if (control_) Call(u"ShowAbort", {});
                   }));
  window_.layout()->setMenuBar(bar);
}

HostPage::~HostPage() { Stop(); }

bool HostPage::Start() {
  // The library writes its registration where the registry's default path points.
  if (!options_.registry.empty()) setenv("TARVO_REGISTRY", options_.registry.c_str(), 1);
  Registry registry;
  std::string error;
  if (options_.library && !options_.library->empty()) {
    auto lib = LoadInprocLibrary(*options_.library, &error);
    if (!lib) {
      Fail("cannot load the control library: " + error);
      return false;
    }
    HRESULT hr = lib->RegisterServer();
    if (Failed(hr)) {
      Fail("DllRegisterServer failed (" + HResultText(hr) + ")");
      return false;
    }
  }
  try {
    registry.Load();
  } catch (const ERegistryException& e) {
    Fail(e.Message());
    return false;
  }
  TGUID clsid;
  if (!ClsidFromProgId(registry, kControlProgId, clsid)) {
    Fail(std::string("the control ") + kControlProgId + " is not registered in " + registry.Path());
    return false;
  }
  HRESULT hr = CreateInstanceFromRegistry(registry, clsid, &window_, IID_IDispatch, control_.PutVoid(), &error);
  if (Failed(hr)) {
    Fail(error);
    return false;
  }
  if (auto w = control_.As<IWidgetObject>(IID_IWidgetObject)) {
    QWidget* widget = w->Widget();
    window_.layout()->addWidget(widget);
    // The control keeps its own size below the menu.
    const int menu = window_.layout()->menuBar() ? window_.layout()->menuBar()->sizeHint().height() : 0;
    window_.resize(widget->size().expandedTo(QSize(338, 44)) + QSize(0, menu));
  }
  // The sink goes in before the control is shown: its first event comes with the show.
  source_ = control_.As<IEventSource>(IID_IEventSource);
  if (!source_) {
    Fail("the control has no events");
    return false;
  }
  sink_ = FunctionEventSink::Create(
      [this](DISPID id, const std::string& name, std::vector<EventArg>& args) { OnEvent(id, name, args); });
  hr = source_->Advise(sink_.Get(), &cookie_);
  if (Failed(hr)) {
    Fail("connecting the event sink failed (" + HResultText(hr) + ")");
    return false;
  }
  if (!options_.screenshot.empty()) {
    QTimer::singleShot(options_.screenshotDelay, &window_, GuardSlot([this] {
                         bool saved = Screenshot().save(QString::fromStdString(options_.screenshot), "PNG");
                         if (!saved) Fail("cannot write " + options_.screenshot);
                         QCoreApplication::exit(saved ? 0 : 1);
                       }));
  }
  return true;
}

// On a real display the whole screen is taken, so the windows the control opens (the
// message popup, forms) are in the picture too; elsewhere only the page's window.
QPixmap HostPage::Screenshot() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen && QGuiApplication::platformName() == QLatin1String("xcb")) {
    QPixmap all = screen->grabWindow(0);
    if (!all.isNull()) return all;
  }
  return window_.grab();
}

void HostPage::OnEvent(DISPID id, const std::string& name, std::vector<EventArg>& args) {
  std::string line = "event " + name;
  for (const EventArg& a : args) line += " " + a.name + "=" + ValueText(a);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);

  if (name == "OnDoLogin") {
    if (!options_.host.empty())
      Call(u"SetServer", {Variant::FromUtf8(options_.host), Variant::FromUtf8(options_.port)});
    if (!options_.login.empty()) Call(u"Login", {Variant::FromUtf8(options_.login)});
  } else if (name == "OnAfterLogin") {
    // Answered once: a refused login comes back here after every request, and
    // answering each time would log in again and again. Coming back means the
    // server named nobody: said once.
    if (answeredLogin_) {
      if (!std::exchange(toldRefusal_, true))
        ShowMessageBox(Cp936("用户名不存在或无权登录：") + Utf8ToCp936(options_.login), Cp936("系统提示"),
                       MsgIcon::Information, MsgButtons::Ok, &window_);
      return;
    }
    answeredLogin_ = true;
    if (options_.open) {
      std::vector<Variant> a;
      for (const std::string& s : *options_.open) a.push_back(Variant::FromUtf8(s));
      Call(u"GetStream", std::move(a));
    } else if (options_.flow) {
      Call(u"GetFlowChart", {Variant::FromUtf8(*options_.flow)});
    }
    if (options_.exitAfterLogin) QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  }
}

void HostPage::Call(const char16_t* name, std::vector<Variant> args) {
  AnsiString message;
  HRESULT hr = InvokeByName(control_.Get(), name, DISPATCH_METHOD, std::move(args), nullptr, &message);
  if (Failed(hr)) Fail(Utf16ToUtf8(name) + " failed (" + HResultText(hr) + ") " + Cp936ToUtf8(message));
}

void HostPage::Stop() {
  if (source_ && cookie_) source_->Unadvise(cookie_);
  cookie_ = 0;
  source_ = nullptr;
  sink_ = nullptr;
  control_ = nullptr;
  FreeUnusedLibraries();
}
