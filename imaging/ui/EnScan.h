#pragma once
// One scanner per process: it opens the source manager, negotiates the
// settings with the default source and hands every scanned page, a packed
// bitmap in a global block, to the caller's callback from its own event loop.
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "core/Exception.h"
#include "imaging/ui/EnTwain.h"

class EScannerError : public Exception {
 public:
  using Exception::Exception;
};
class ETwainError : public Exception {
 public:
  using Exception::Exception;
};

// (hDIB, XRes, YRes, Context): the block is freed when the callback returns.
using TImageCallback = std::function<void(HGLOBAL, int, int, void*)>;

class TScanner {
 public:
  TScanner();
  ~TScanner();
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  bool ShowUI() const { return showUI_; }
  void SetShowUI(bool v) { showUI_ = v; }
  uint16_t XResolution() const { return xres_; }
  void SetXResolution(uint16_t v) { xres_ = v; }
  uint16_t YResolution() const { return yres_; }
  void SetYResolution(uint16_t v) { yres_ = v; }
  int ImageFormat() const { return imageFormat_; }
  void SetImageFormat(int v) { imageFormat_ = v; }
  std::string ProductName() const { return link_.app.ProductName.text; }
  void SetProductName(const std::string& name);

  bool TwainAvailable();
  bool SelectSource();
  // After a SelectSource that returned false: true when there was no source to
  // choose from, false when the person cancelled.
  bool NoSourceFound() const { return noSource_; }
  void Acquire(void* context, TImageCallback callback);
  void OpenSourceManager();
  void CloseSourceManager();

  // The source manager every scanner opens: ours over SANE unless a test
  // installs another; nullptr stands for a machine without one.
  static void SetSourceManager(DSMENTRYPROC entry);

 private:
  void SetNoUICapabilities();
  void TwainMessageLoop(void* context, const TImageCallback& callback);
  bool ProcessTwainEvent(void* context, const TImageCallback& callback);
  void TransferImages(void* context, const TImageCallback& callback);

  TTwainLink link_;
  std::unique_ptr<QWidget> window_;
  bool showUI_ = true;
  uint16_t xres_ = 200, yres_ = 200;
  int imageFormat_ = 0;
  bool single_ = false;
  bool noSource_ = false;
};
