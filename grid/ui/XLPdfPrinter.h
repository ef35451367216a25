#pragma once
// Print jobs of sheets on a QPrinter: the process's printer, which the person points at a
// system printer or a PDF file before each print, or a PDF file of the caller's own.
#include <QPainter>
#include <QPrinter>
#include <QString>
#include <memory>

#include "grid/XLPrint.h"
#include "grid/ui/XLQtCanvas.h"

class QWidget;

// One job on a printer that outlives it.
class TXLQtPrinter : public IXLPrinter {
 public:
  explicit TXLQtPrinter(QPrinter& printer);
  ~TXLQtPrinter() override;

  // Raises EXLGridError when the printer cannot start (an unwritable file, a lost printer).
  IXLCanvas& BeginDoc(const AnsiString& title) override;
  void NewPage() override;
  void EndDoc() override;

  QPrinter& Printer() { return printer_; }

 private:
  QPrinter& printer_;
  QPainter painter_;
  std::unique_ptr<TXLQtCanvas> canvas_;
};

// A job written as PDF at 600 dpi on a page whose printable area is the no-printer page
// (4676 x 6744 dots), so the sheet's page layout fits exactly.
class TXLPdfPrinter : public IXLPrinter {
 public:
  explicit TXLPdfPrinter(QString fileName);

  IXLCanvas& BeginDoc(const AnsiString& title) override { return job_.BeginDoc(title); }
  void NewPage() override { job_.NewPage(); }
  void EndDoc() override { job_.EndDoc(); }

  QPrinter& Printer() { return printer_; }

 private:
  QPrinter printer_;
  TXLQtPrinter job_{printer_};
};

// Sheets print on the process's printer and lay their pages out by its page. Called again
// it changes nothing.
void XLUseSystemPrinter();
// Asks the person where the next sheet prints (Qt's print dialog with the system's
// printers, else a PDF file) and lays the sheets out by that printer's page; false when
// they cancelled.
bool XLChoosePrinter(QWidget* parent);
