#pragma once
// Print jobs written as PDF through QPrinter at 600 dpi on a page whose printable area is
// the no-printer fallback (4676 x 6744 dots), so the sheet's page layout fits exactly.
#include <QPainter>
#include <QPrinter>
#include <QString>
#include <memory>

#include "grid/XLPrint.h"
#include "grid/ui/XLQtCanvas.h"

class TXLPdfPrinter : public IXLPrinter {
 public:
  explicit TXLPdfPrinter(QString fileName);
  ~TXLPdfPrinter() override;

  // Raises EXLGridError when the file cannot be written.
  IXLCanvas& BeginDoc(const AnsiString& title) override;
  void NewPage() override;
  void EndDoc() override;

  QPrinter& Printer() { return printer_; }

 private:
  QPrinter printer_;
  QPainter painter_;
  std::unique_ptr<TXLQtCanvas> canvas_;
};

// Makes Print and PrintPages without a canvas write PDF files: the file name is asked for
// each job.
void XLUsePdfPrinter(std::function<QString()> fileName);
