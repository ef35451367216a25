#include "grid/ui/XLPdfPrinter.h"

#include <QPageLayout>
#include <QPageSize>

#include "platform/QtText.h"
#include "grid/XLManager.h"
#include "grid/XLSheet.h"
#include "platform/PrintTarget.h"

TXLQtPrinter::TXLQtPrinter(QPrinter& printer) : printer_(printer) {}

TXLQtPrinter::~TXLQtPrinter() {
  if (painter_.isActive()) painter_.end();
}

IXLCanvas& TXLQtPrinter::BeginDoc(const AnsiString& title) {
  printer_.setDocName(ToQString(title));
  if (!painter_.begin(&printer_)) {
    const QString target = printer_.outputFileName().isEmpty() ? printer_.printerName() : printer_.outputFileName();
    throw EXLGridError("Cannot print to " + ToAnsi(target));
  }
  canvas_ = std::make_unique<TXLQtCanvas>(painter_, QRect(0, 0, printer_.width(), printer_.height()));
  return *canvas_;
}

void TXLQtPrinter::NewPage() {
  if (!printer_.newPage()) throw EXLGridError("Cannot start a new page");
  canvas_->ResetClip();
}

void TXLQtPrinter::EndDoc() {
  canvas_.reset();
  if (!painter_.end()) throw EXLGridError("Cannot print to " + ToAnsi(printer_.outputFileName()));
}

TXLPdfPrinter::TXLPdfPrinter(QString fileName) : printer_(QPrinter::HighResolution) {
  printer_.setOutputFormat(QPrinter::PdfFormat);
  printer_.setOutputFileName(fileName);
  printer_.setResolution(600);
  const TXLPrinterInfo fallback;
  // A PDF page is sized in whole points: round up, so the laid-out area always fits.
  auto points = [](int32_t dots, int32_t dpi) { return int((int64_t(dots) * 72 + dpi - 1) / dpi); };
  const QPageSize size(QSize(points(fallback.PageWidth, fallback.DpiX), points(fallback.PageHeight, fallback.DpiY)),
                       QStringLiteral("Sheet"), QPageSize::ExactMatch);
  printer_.setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
  printer_.setFullPage(true);
}

void XLUseSystemPrinter() {
  TXLSheet::PrinterFactory() = []() -> std::unique_ptr<IXLPrinter> {
    return std::make_unique<TXLQtPrinter>(PrintTarget::Printer());
  };
  XLManager().SetPrinterQuery([]() -> std::optional<TXLPrinterInfo> {
    const std::optional<TPrinterPage> page = PrintTarget::KnownPage();
    if (!page) return std::nullopt;
    return TXLPrinterInfo{page->DpiX, page->DpiY, page->PageWidth, page->PageHeight};
  });
  static const bool following = [] {
    // A new choice or page set-up lays every sheet out again.
    PrintTarget::OnChanged([] { XLManager().Update(); });
    return true;
  }();
  (void)following;
}

bool XLChoosePrinter(QWidget* parent) {
  XLUseSystemPrinter();
  return PrintTarget::Choose(parent);
}
