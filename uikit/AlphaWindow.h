#pragma once
// Makes a top-level window semi-transparent (window opacity) or colour-keyed (a
// mask of the pixels that are not the key colour).
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>

#include "core/Colors.h"

enum TAlphaWindowFlags { awColorRef = 0, awAlpha = 1 };
// Set of TAlphaWindowFlags, one bit per flag.
using TAlphaWindowFlag = uint8_t;
constexpr TAlphaWindowFlag AlphaFlag(TAlphaWindowFlags f) { return uint8_t(1u << f); }

class TAlphaWindow : public QObject {
  Q_OBJECT
 public:
  explicit TAlphaWindow(QObject* owner = nullptr);
  ~TAlphaWindow() override;

  // Whether the platform can make windows translucent; when it cannot, every
  // request to enable is ignored and Enabled reads false.
  static bool LayeredWindowsAvailable();
  static void SetLayeredWindowsAvailable(bool v);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  uint8_t Alpha() const { return alpha_; }
  void SetAlpha(uint8_t v);
  TColor KeyColor() const { return keyColor_; }
  void SetKeyColor(TColor c);
  TAlphaWindowFlag Flag() const { return flag_; }
  void SetFlag(TAlphaWindowFlag f);
  QWidget* AlphaWin() const { return alphaWin_; }
  void SetAlphaWin(QWidget* w);

 private:
  void Apply();
  void Restore();

  bool enabled_ = false;
  uint8_t alpha_ = 220;
  TColor keyColor_ = clBlack;
  TAlphaWindowFlag flag_ = AlphaFlag(awAlpha);
  QPointer<QWidget> alphaWin_;
  double savedOpacity_ = 1.0;
  bool hadMask_ = false;
};
