#include "grid/ui/XLPdfPrinter.h"

#include <QPageLayout>
#include <QPageSize>

#include "core/QtText.h"
#include "grid/XLManager.h"
#include "grid/XLSheet.h"

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

TXLPdfPrinter::~TXLPdfPrinter() {
  if (painter_.isActive()) painter_.end();
}

IXLCanvas& TXLPdfPrinter::BeginDoc(const AnsiString& title) {
  printer_.setDocName(ToQString(title));
  if (!painter_.begin(&printer_))
    throw EXLGridError("Cannot write " + ToAnsi(printer_.outputFileName()));
  canvas_ = std::make_unique<TXLQtCanvas>(painter_, QRect(0, 0, printer_.width(), printer_.height()));
  return *canvas_;
}

void TXLPdfPrinter::NewPage() {
  if (!printer_.newPage()) throw EXLGridError("Cannot start a new page");
  canvas_->ResetClip();
}

void TXLPdfPrinter::EndDoc() {
  canvas_.reset();
  if (!painter_.end()) throw EXLGridError("Cannot write " + ToAnsi(printer_.outputFileName()));
}

void XLUsePdfPrinter(std::function<QString()> fileName) {
  TXLSheet::PrinterFactory() = [fileName = std::move(fileName)]() -> std::unique_ptr<IXLPrinter> {
    return std::make_unique<TXLPdfPrinter>(fileName());
  };
}
