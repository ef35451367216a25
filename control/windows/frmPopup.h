#pragma once
// Message popup: rises (or fades in) at the bottom right of the work area,
// holds for three seconds and goes away again. Deletes itself when it closes.
#include <QWidget>

#include "core/AnsiString.h"

class QLabel;
class QTimer;
class TAlphaWindow;

class Tfrm_popup : public QWidget {
  Q_OBJECT
 public:
  explicit Tfrm_popup(QWidget* owner = nullptr);
  ~Tfrm_popup() override;

  // The open popup, or nullptr.
  static Tfrm_popup* Current();
  // Fade through window opacity (true, the default) or slide above the task bar.
  static bool AlphaModeDefault();
  static void SetAlphaModeDefault(bool v);

  void SetMessageText(const AnsiString& cp936);
  AnsiString MessageTextValue() const;
  // Appends "\r\n" + text.
  void AppendMessageText(const AnsiString& cp936);
  // A new message while open: a popup on its way out comes back and holds again.
  void RestartHold();

  bool AlphaMode() const { return alphaMode_; }
  TAlphaWindow* AlphaWindow() const { return alphaWindow_; }
  int TaskHeight() const { return taskHeight_; }
  int getTaskHeight();

  // Timer handlers: slide down, slide up, fade in, fade out, hold.
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void Timer4Timer();
  void Timer5Timer();
  void Image1Click();

  QLabel* MessageText;
  QTimer* Timer1;  // 30 ms slide down
  QTimer* Timer2;  // 30 ms slide up
  QTimer* Timer3;  // 20 ms fade in
  QTimer* Timer4;  // 20 ms fade out
  QTimer* Timer5;  // 3000 ms hold

  static constexpr int PopupWidth = 167;
  static constexpr int PopupHeight = 87;

 protected:
  void showEvent(QShowEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

 private:
  void StartHiding();
  void StartHold();
  QRect WorkArea() const;

  AnsiString text_;
  bool alphaMode_;
  TAlphaWindow* alphaWindow_ = nullptr;
  int taskHeight_ = 0;
  bool placed_ = false;
};
