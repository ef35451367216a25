#pragma once
// Input sent as a person sends it: to the QWindow that holds the widget, at the widget's
// place in that window. Qt's modality then decides whether it arrives, as it does for a
// person's click or key; an event for a blocked window is dropped.
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QWidget>
#include <QWindow>

// Clicks w at pos (its centre when pos is null).
inline void ClickThroughWindow(QWidget* w, QPoint pos = {}, Qt::MouseButton button = Qt::LeftButton) {
  if (pos.isNull()) pos = w->rect().center();
  QWidget* top = w->window();
  QTest::mouseClick(top->windowHandle(), button, {}, w->mapTo(top, pos));
}

// A key pressed and released in w's window: it goes to the window's focus widget.
inline void KeyThroughWindow(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
  QTest::keyClick(w->window()->windowHandle(), key, mods);
}

// Types plain ASCII text into w's window, key by key.
inline void TypeThroughWindow(QWidget* w, const QString& text) {
  for (QChar c : text) QTest::keyClick(w->window()->windowHandle(), char(c.toLatin1()));
}

// The visible button under w with that caption, as a person finds it on screen.
inline QPushButton* VisibleButton(QWidget* w, const QString& text) {
  for (QPushButton* b : w->findChildren<QPushButton*>())
    if (b->text() == text && b->isVisible()) return b;
  return nullptr;
}
