#pragma once
// What the end-to-end tests of the Word editor share: its window closed and its menu used
// as a person does, and what the worker painted or saved looked at.
#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QWidget>
#include <QWindow>
#include <string>
#include <string_view>

#include "control/office/frm_OLEWord.h"

namespace word_e2e {

// Closes a window as its title bar's close button does.
inline void CloseThroughWindow(QWidget* w) { w->window()->windowHandle()->close(); }

// A menu command of the editor, chosen as a person picks it from the 文件 menu.
inline void ChooseMenu(TfrmOLEWord* ed, const char* text) {
  for (QAction* a : ed->findChildren<QAction*>())
    if (a->text() == QString::fromUtf8(text)) return a->trigger();
  ADD_FAILURE() << "no menu command " << text;
}

// Text drawn on the page the worker last painted.
inline int DarkPixels(QWidget* w) {
  const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += qGray(img.pixel(x, y)) < 100;
  return n;
}

// Word keeps text in 8 or 16 bits a character.
inline bool HoldsText(std::string_view bytes, const std::string& ascii) {
  std::string wide;
  for (char c : ascii) wide += std::string{c, '\0'};
  return bytes.find(ascii) != std::string::npos || bytes.find(wide) != std::string::npos;
}

}  // namespace word_e2e
