#include "imaging/ui/EnPrint.h"

#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <algorithm>

#include "core/ScopeGuard.h"
#include "imaging/ui/EnDibQt.h"
#include "platform/PrintTarget.h"

namespace {
// An image without a resolution prints as a screen image would.
constexpr int kDefaultImageDpi = 96;
}  // namespace

TRect PrintRect(const TPrintSizeParams& p, const TPrintPageMetrics& m, int iw, int ih,
                int dpiX, int dpiY) {
  // An image without pixels has nowhere to go (and would divide by zero).
  if (iw <= 0 || ih <= 0) return TRect{0, 0, 0, 0};
  const int pw = m.PageWidth, ph = m.PageHeight;
  int w = 0, h = 0;
  switch (p.PrintSize) {
    case 0: {
      // A 0-dpi image would divide by zero.
      const int dx = uint16_t(dpiX) ? uint16_t(dpiX) : kDefaultImageDpi;
      const int dy = uint16_t(dpiY) ? uint16_t(dpiY) : kDefaultImageDpi;
      double fw = double(iw) * m.DpiX / dx, fh = double(ih) * m.DpiY / dy;
      if (fw > pw || fh > ph) {
        const double f = std::min(pw / fw, ph / fh);
        fw *= f;
        fh *= f;
      }
      w = int(RoundHalfEven(fw));
      h = int(RoundHalfEven(fh));
      break;
    }
    case 2:
      w = int(RoundHalfEven(m.DpiX * p.Width));
      h = int(RoundHalfEven(double(ih) * w / iw));
      break;
    case 3:
      h = int(RoundHalfEven(m.DpiY * p.Height));
      w = int(RoundHalfEven(double(iw) * h / ih));
      break;
    case 4:
      w = int(RoundHalfEven(m.DpiX * p.Width));
      h = int(RoundHalfEven(m.DpiY * p.Height));
      break;
    case 5:
      w = pw - 1;
      h = ph - 1;
      break;
    default:
      w = pw;
      h = int(RoundHalfEven(double(ih) * pw / iw));
      if (h >= ph) {
        h = ph;
        w = int(RoundHalfEven(double(iw) * ph / ih));
      }
      break;
  }
  TRect r{0, 0, w, h};
  if (p.PrintSize != 1 && p.PrintSize != 5 && p.PrintSize >= 0 && p.PrintSize <= 5) {
    const int dx = std::max(0, int(RoundHalfEven(m.DpiX * p.LeftMargin)) - m.OffsetX);
    const int dy = std::max(0, int(RoundHalfEven(m.DpiY * p.TopMargin)) - m.OffsetY);
    r = TRect{dx, dy, dx + w, dy + h};
  }
  return r;
}

TDibGraphicPrinter::TDibGraphicPrinter() { SetPrintSize(1); }

void TDibGraphicPrinter::ReadPageMetrics() {
  // The chosen printer's page as it is turned now; the no-printer page before a choice.
  const TPrinterPage pg = PrintTarget::Page();
  metrics_.PageWidth = pg.PageWidth;
  metrics_.PageHeight = pg.PageHeight;
  metrics_.DpiX = pg.DpiX;
  metrics_.DpiY = pg.DpiY;
  metrics_.OffsetX = pg.OffsetX;
  metrics_.OffsetY = pg.OffsetY;
  metrics_.BottomStrip = std::max(0, pg.PaperHeight - pg.OffsetY - pg.PageHeight);
  metrics_.RightStrip = std::max(0, pg.PaperWidth - pg.OffsetX - pg.PageWidth);
}

void TDibGraphicPrinter::SetPrintSize(int mode) {
  if (params_.PrintSize == 4 && ownPrintJob_)
    PrintTarget::Printer().setPageOrientation(
        params_.Width <= params_.Height ? QPageLayout::Portrait : QPageLayout::Landscape);
  ReadPageMetrics();
  params_.PrintSize = mode;
}

void TDibGraphicPrinter::Print(const TDibGraphic& graphic, QPainter* callerPainter) {
  // Nothing to print: no job, so no blank page.
  if (graphic.IsEmpty()) return;
  QPrinter& pr = PrintTarget::Printer();
  // The orientation is this job's own: later prints find the printer as it was.
  const QPageLayout::Orientation before = pr.pageLayout().orientation();
  auto restore = ScopeExit([&pr, before, own = ownPrintJob_] {
    if (own) pr.setPageOrientation(before);
  });
  if (ownPrintJob_) {
    const bool portrait = params_.PrintSize == 4 ? params_.Width <= params_.Height
                                                 : graphic.Width() <= graphic.Height();
    pr.setPageOrientation(portrait ? QPageLayout::Portrait : QPageLayout::Landscape);
  }
  ReadPageMetrics();
  const TRect r = PrintRect(params_, metrics_, graphic.Width(), graphic.Height(),
                            graphic.XDotsPerInch(), graphic.YDotsPerInch());
  BeginWaitCursor();
  auto done = ScopeExit([] { EndWaitCursor(); });
  QPainter own;
  QPainter* painter = callerPainter;
  if (ownPrintJob_) {
    pr.setDocName(QString::fromStdString(title_));
    if (!own.begin(&pr)) throw EImagingError("Printing failed");
    painter = &own;
  }
  if (!painter) throw EImagingError("Printing failed");
  // A failed drawing abandons the job, so no half-written document is left.
  auto abort = ScopeFail([&] {
    if (ownPrintJob_) {
      pr.abort();
      if (own.isActive()) own.end();
    }
  });
  painter->setRenderHint(QPainter::SmoothPixmapTransform, graphic.ImageFormat() != ifTrueColor);
  painter->drawImage(QRect(r.Left, r.Top, r.Width(), r.Height()), DibToQImage(graphic));
  if (ownPrintJob_ && !own.end()) throw EImagingError("Printing failed");
}
