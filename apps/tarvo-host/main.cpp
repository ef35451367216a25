// tarvo-host: a window that hosts the control the way the office-automation web page
// does. Usage:
//   tarvo-host [--server HOST:PORT] [--login NAME]
//              [--open DB,ID,CMD,TEMPLATE,OBJECT,INITTABLE,INITRECORD | --flow ID]
//              [--exit-after-login] [--screenshot FILE [--screenshot-delay MS]]
//              [--registry FILE] [--library PATH] [--help]
// Without --library the control library of this build is registered first; an empty
// --library "" uses the registration already in the registry.
#include <QApplication>
#include <cstdio>

#include "apps/tarvo-host/HostPage.h"
#include "platform/Guard.h"
#include "uikit/QtTranslations.h"

#ifndef TARVO_HOST_DEFAULT_LIBRARY
#define TARVO_HOST_DEFAULT_LIBRARY ""
#endif

namespace {
// Last line of defence: an exception that escaped a handler is dropped here instead of
// unwinding through Qt's event loop.
class HostApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    bool handled = false;
    Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
  }
};
}  // namespace

int main(int argc, char** argv) {
  // Help is answered before the application exists, so it needs no display; Qt's own
  // options are known only once the application has taken them out.
  {
    HostOptions early;
    if (ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc), early, nullptr) && early.help) {
      std::fputs(HostUsage(), stdout);
      return 0;
    }
  }
  // The control's HTML viewer renders through OpenGL contexts shared with the whole
  // application; Qt makes the shared one only when asked before the application exists.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  HostApplication app(argc, argv);
  // Qt's own dialogs and buttons speak Chinese like the rest of the program.
  LoadQtChineseTranslations();
  std::vector<std::string> args(argv + 1, argv + argc);
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(args, options, &error)) {
    std::fprintf(stderr, "tarvo-host: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(HostUsage(), stdout);
    return 0;
  }
  if (!options.library) options.library = TARVO_HOST_DEFAULT_LIBRARY;
  int rc = 1;
  {
    HostPage page(options);
    if (!page.Start()) return 1;
    page.Window()->show();
    rc = app.exec();
  }
  return rc;
}
