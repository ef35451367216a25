#pragma once
// What the Word editor, the preview and the placeholder fill ask of an embedded Word or
// Excel document. The one backend is TOfficeContainer (the office worker's document shown
// in a widget); tests that only need to see the calls may record them instead.
//
// Texts here are UTF-8 (what the office suite speaks); paths are the file system's.
#include <string>

enum class TOfficeKind { Text, Spreadsheet, Other };

// Values of the page-fit command, as Word numbers them.
enum class TPageFit { None = 0, FullPage = 1, BestFit = 2 };

class IOfficeDocument {
 public:
  virtual ~IOfficeDocument() = default;

  // Opens a file (.doc, .docx, .rtf, .xls, .xlsx, ...). Raises EOfficeError.
  virtual void Open(const std::string& path) = 0;
  virtual bool IsOpen() const = 0;
  virtual TOfficeKind Kind() const = 0;

  // Revisions (Word files).
  virtual void SetTrackRevisions(bool on) = 0;
  virtual bool TrackRevisions() const = 0;
  virtual void SetShowRevisions(bool on) = 0;
  virtual void AcceptAllRevisions() = 0;
  // -1 when the document is not protected, as Word reports it.
  virtual int ProtectionType() const = 0;
  // Drawing objects (such as a red letterhead) are left out of printing when off.
  virtual bool PrintDrawingObjects() const = 0;
  virtual void SetPrintDrawingObjects(bool on) = 0;

  // Replaces every occurrence of find by replacement, literally; false when none.
  virtual bool ReplaceAll(const std::string& find, const std::string& replacement) = 0;

  // The view: zoom in percent, page fit, scrolling by lines.
  virtual int Zoom() const = 0;
  virtual void SetZoom(int percent) = 0;
  virtual void SetPageFit(TPageFit fit) = 0;
  virtual void SmallScroll(int lines) = 0;  // positive: down

  // Saves in the format the path's extension names.
  virtual void SaveAs(const std::string& path) = 0;
  // Prints to a PDF file.
  virtual void PrintToPdf(const std::string& pdfPath) = 0;
  virtual void Close() = 0;
};
