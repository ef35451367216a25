#include "TestApp.h"

#include "uikit/FlatUtilitys.h"

QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "uikit_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

QImage Grab(QWidget* w) {
  TestApp();
  return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TColor PixelAt(const QImage& img, int x, int y) { return TColorOf(QColor(img.pixel(x, y))); }
