#pragma once
// Prints one image on the process's printer in one of six print-size modes,
// choosing the orientation and running its own print job unless told not to.
// The page is read from the printer the person chose (see PrintTarget).
#include <string>

#include "imaging/EnDiGrph.h"
#include "imaging/ui/EnImgScr.h"

class QPainter;

// The printer's page as the print arithmetic sees it, in printer pixels.
struct TPrintPageMetrics {
  int PageWidth = 0, PageHeight = 0;  // printable area
  int DpiX = 0, DpiY = 0;
  int OffsetY = 0, OffsetX = 0;  // printable area from the paper's edge
  int BottomStrip = 0, RightStrip = 0;
};

struct TPrintSizeParams {
  int PrintSize = 1;
  double Width = 5.0, Height = 5.0;  // inches, modes 2 to 4
  double LeftMargin = 0, TopMargin = 0;
};

// Where an image of w x h pixels at the given dots per inch lands on the page.
TRect PrintRect(const TPrintSizeParams& p, const TPrintPageMetrics& m, int imageWidth,
                int imageHeight, int imageDpiX, int imageDpiY);

class TDibGraphicPrinter {
 public:
  TDibGraphicPrinter();

  int PrintSize() const { return params_.PrintSize; }
  void SetPrintSize(int mode);
  double Width() const { return params_.Width; }
  void SetWidth(double v) { params_.Width = v; }
  double Height() const { return params_.Height; }
  void SetHeight(double v) { params_.Height = v; }
  double LeftMargin() const { return params_.LeftMargin; }
  void SetLeftMargin(double v) { params_.LeftMargin = v; }
  double TopMargin() const { return params_.TopMargin; }
  void SetTopMargin(double v) { params_.TopMargin = v; }
  bool OwnPrintJob() const { return ownPrintJob_; }
  void SetOwnPrintJob(bool v) { ownPrintJob_ = v; }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& v) { title_ = v; }
  const TPrintPageMetrics& Metrics() const { return metrics_; }

  // Without its own job the caller's painter, active on the process's printer, is used.
  void Print(const TDibGraphic& graphic, QPainter* callerPainter = nullptr);

 private:
  void ReadPageMetrics();

  TPrintSizeParams params_;
  bool ownPrintJob_ = true;
  TPrintPageMetrics metrics_;
  std::string title_;
};
