#pragma once
// Shared by the printing end-to-end tests: what pdfinfo and pdftoppm say of a PDF, and a
// person answering message boxes and the save dialog through their windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ShellOutput.h"
#include "ModalDriver.h"
#include "WindowInput.h"

namespace print_e2e {

inline QApplication& App() { return E2eApp("e2e-print"); }

// One field of pdfinfo's report, without the padding.
inline std::string PdfInfo(const std::string& pdf, const std::string& field) {
  const std::string info = "\n" + Shell("pdfinfo '" + pdf + "'");
  const size_t at = info.find("\n" + field + ":");
  if (at == std::string::npos) return {};
  const size_t from = info.find_first_not_of(' ', at + field.size() + 2);
  return info.substr(from, info.find('\n', from) - from);
}

// The share of the first page's pixels that are not white, rendered at 20 dpi.
inline double InkShare(const std::string& pdf) {
  const std::string base = QDir::tempPath().toStdString() + "/ink";
  Shell("pdftoppm -r 20 -gray -singlefile '" + pdf + "' '" + base + "'");
  std::ifstream in(base + ".pgm", std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  in >> magic >> w >> h >> maxval;
  in.get();
  if (magic != "P5" || w <= 0 || h <= 0) return 0;
  std::string grey(size_t(w) * size_t(h), '\0');
  in.read(grey.data(), std::streamsize(grey.size()));
  size_t ink = 0;
  for (char c : grey) ink += uint8_t(c) < 200;
  return double(ink) / double(grey.size());
}

// Answers every message box through its window: Yes to the question named, No to the
// other one named, the first button to anything else; records the texts. A box still up
// long after its answer fails the test and is closed, so nothing waits for ever.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QString yesTo, QString noTo = {}) {
    QObject::connect(&timer_, &QTimer::timeout, [this, yesTo, noTo] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      if (box == last_) {
        if (clock_.elapsed() < 20000) return;
        ADD_FAILURE() << "a message box did not close: " << box->text().toStdString();
        ModalScript::CloseAllModal();
        return;
      }
      last_ = box;
      clock_.start();
      texts.push_back(box->text().toStdString());
      QAbstractButton* b = box->text() == yesTo  ? box->button(QMessageBox::Yes)
                           : box->text() == noTo ? box->button(QMessageBox::No)
                                                 : box->buttons().value(0);
      if (b) ClickThroughWindow(b);
    });
    timer_.start(50);
  }
  std::vector<std::string> texts;  // UTF-8

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  QPointer<QMessageBox> last_;
};

// Types the file's full name into the save dialog, as a person would, and presses Return.
[[nodiscard]] inline ModalScript SaveAs(const QString& path, QString* title) {
  auto typed = std::make_shared<bool>(false);
  return WhenModal<QFileDialog>(
      [path, title, typed](QFileDialog* dlg) {
        if (*typed) return;
        *typed = true;
        *title = dlg->windowTitle();
        auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        ClickThroughWindow(name);
        KeyThroughWindow(name, Qt::Key_A, Qt::ControlModifier);
        TypeThroughWindow(name, path);
        KeyThroughWindow(name, Qt::Key_Return);
      },
      std::chrono::seconds(60));
}



}  // namespace print_e2e
