#pragma once
// The scan form: pages scanned or opened into a list with thumbnails, edited
// in the viewer, printed, and turned into one Word document that the caller
// (the attachment manager) takes as a stream after the modal loop.
#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Streams.h"
#include "imaging/EnDiGrph.h"
#include "imaging/ui/EnImgScr.h"
#include "imaging/ui/EnScan.h"

// The picture's place in a thumbnail cell: the cell inset by 5 pixels, the
// image's shape kept, centred across its short side.
TRect ThumbnailRect(const TRect& cell, int imageWidth, int imageHeight);

struct TPageRecord {
  int Index = 0;
  int Height = 0, Width = 0;
  std::unique_ptr<TDibGraphic> Image;
};

class TPageGrid;
class TXPStyler;

class TScanForm : public QDialog {
  Q_OBJECT

 public:
  // Escape ends the dialog without a close event: it asks the same question first.
  void reject() override;
  explicit TScanForm(QWidget* owner = nullptr);
  ~TScanForm() override;

  // The converted Word document, or nullptr before a conversion succeeded.
  // It belongs to the form: read it before the form is freed.
  TMemoryStream* GetResultStream();

  // Saves the flat document text (first argument) as a Word 97 file (second),
  // raising with a message on failure. The office worker by default; nullptr
  // restores it.
  using TDocumentConverter = std::function<void(const std::string&, const std::string&)>;
  static void SetDocumentConverter(TDocumentConverter converter);

  TImageScrollBox* ImageScrollBox;
  QLineEdit* PageEdit;
  QLineEdit* ZoomEdit;
  QProgressBar* ProgressBar;
  // Shown beside the progress bar while a long edit runs; a click ends the edit.
  QPushButton* CancelButton;
  QAction *OpenMenu, *SaveMenu, *SaveAsMenu, *PrintMenu, *PrintSetupMenu, *ScanMenu,
      *HSpeedScanMenu, *SelectScannerMenu, *ExitMenu;
  QAction *UndoMenu, *CopyMenu, *PasteMenu, *CopySelectionMenu, *PasteIntoSelectionMenu,
      *CroptoSelectionMenu;
  QAction *CenteredMenu, *DragMenu, *QuickSelectMenu, *SelectMenu, *ActualSizeMenu,
      *FullPageMenu, *FitWidthMenu, *FitHeightMenu, *FitToPageMenu;
  QAction *Rotate90Menu, *Rotate180Menu, *Rotate270Menu, *RotateArbitraryMenu,
      *FlipHorizontalMenu, *FlipVerticalMenu, *NegativeMenu, *CropMenu, *SharpenMenu,
      *SmoothMenu, *IncreassBrightnessMenu, *DecreaseBrightnessMenu, *IncreaseContrastMenu,
      *DecreaseContrastMenu, *EdgeDetectionMenu, *EmbossMenu, *GammaMenu, *ConvertToGrayMenu,
      *FormatConversionMenu, *ResizeMenu;
  QAction *Btn_delImg, *btn_SaveAll, *Btn_Scan, *Btn_Copy, *Btn_Paste;
  // Gives the menus and the tool bar their XP look; active from creation.
  TXPStyler* XPStyler1;

  // How the modal run went: whether the window was ever on the screen, and whether
  // the person closed it (close box, Escape, 退出) rather than something else ending it.
  bool WasShown() const { return shown_; }
  bool ClosedByPerson() const { return closedByPerson_; }

  int PageCount() const { return int(pages_.size()); }
  int CurrentPage() const { return current_; }
  const TPageRecord& Page(int i) const { return *pages_[size_t(i)]; }
  TScanner& Scanner() { return *scanner_; }
  bool Changed() const { return changed_; }

  // The commands, callable as the menu runs them.
  void OpenFile(const std::string& fileName);
  void Scan(bool highSpeed);
  // False when it failed; the person has been told why.
  bool ConvertToWord();
  void DeletePage();
  void ShowPage(int n, bool force);
  void SavePage();
  void Undo();
  void Copy();
  void Paste();
  void PasteIntoSelection();

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  void BuildMenus();
  QAction* Command(QMenu* menu, const QString& caption, std::function<void()> run,
                   const QKeySequence& key = {});
  void Edit(TImageTransform& t);
  void AddPage();
  void ApplyZoomEdit();
  // False when the person cancels the question.
  [[nodiscard]] bool CloseCheck();
  void SaveAs();
  void Print();
  void Open();
  void Crop();
  void FormatConversion();
  void Resize();
  void SetMouseMode(int mode);
  void SetZoomMode(TZoomMode mode);
  void Progress(uint8_t percent);
  void SetScanning(bool on);
  // Shrinks the window when its frame is larger than the screen's free area.
  void FitFrameToScreen();
  // While an edit runs, input to anything but its 取消 is dropped.
  bool BlockedWhileEditing(QObject* watched, QEvent* e) const;

  TPageGrid* grid_;
  QScrollArea* gridScroll_;
  std::vector<std::unique_ptr<TPageRecord>> pages_;
  int current_ = 0;
  bool changed_ = false;
  bool scanning_ = false;
  bool editing_ = false, cancelRequested_ = false;
  bool shown_ = false, closedByPerson_ = false;
  std::string fileName_, multiFileName_;
  TDibGraphic undo_;
  std::unique_ptr<TScanner> scanner_;
  TMemoryStream result_;
};
