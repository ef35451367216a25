#include "GridUiApp.h"

#include <QColor>

QGuiApplication& GridUiApp() {
  static int argc = 1;
  static char name[] = "grid_ui_tests";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  return *app;
}

TColor PixelAt(const QImage& img, int x, int y) {
  const QColor c(img.pixel(x, y));
  return RGB(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
}

int DarkPixels(const QImage& img, int x, int y, int w, int h) {
  int n = 0;
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) {
      const QColor c(img.pixel(i, j));
      if (c.red() + c.green() + c.blue() < 250) ++n;
    }
  return n;
}
