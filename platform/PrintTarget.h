#pragma once
// Where printing goes. The process has one printer, and the person says where it prints
// before each print: in Qt's print dialog when the system has printers (CUPS), else as a
// PDF file chosen in a save dialog. Page layouts read the page from that printer; until
// one is chosen (or its page set up) nothing is known of it and the no-printer page holds:
// 600 dpi with a printable area of 4676 x 6744 dots.
#include <functional>
#include <optional>

class QPrinter;
class QWidget;

// A printer's page, in printer pixels.
struct TPrinterPage {
  int DpiX = 600, DpiY = 600;
  int PageWidth = 4676, PageHeight = 6744;  // the printable area
  int OffsetX = 0, OffsetY = 0;             // the printable area's corner on the paper
  int PaperWidth = 4676, PaperHeight = 6744;
};

namespace PrintTarget {
// The process's printer. A painter on it starts at the printable area's corner.
QPrinter& Printer();
// The page of the printer the person chose; none before a choice or a page set-up.
std::optional<TPrinterPage> KnownPage();
// The known page, else the no-printer page turned as the printer is turned.
TPrinterPage Page();
// Asks the person where the next print goes; false when they cancelled.
bool Choose(QWidget* parent);
// The page set-up dialog on the printer; false when cancelled.
bool SetUp(QWidget* parent);
// Runs after every choice and page set-up: page layouts follow the printer.
void OnChanged(std::function<void()> listener);
}  // namespace PrintTarget
