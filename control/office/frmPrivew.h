// The document preview: a Word or Excel file shown read-only, with zoom buttons, page fits
// and wheel scrolling, and the comment frame above it.
#pragma once

#include <QDialog>
#include <string>

class QImage;
class QLineEdit;
class QWidget;
class TFrameW;
class TOfficeContainer;
class TFlatButton;
class TFlatSpeedButton;

// The viewers' button pictures, 16 x 16 on the fuchsia ground the flat buttons mask out.
enum class ViewerGlyph { Save, Print, ActualSize, ZoomOut, ZoomIn, FitWidth, FitHeight };
QImage DrawViewerGlyph(ViewerGlyph g);

class Tfrm_Priview : public QDialog {
  Q_OBJECT
 public:
  explicit Tfrm_Priview(QWidget* owner = nullptr);
  ~Tfrm_Priview() override;

  // Opens the file; raises EOfficeError when it cannot be shown. name (UTF-8) is the
  // document's own name, proposed by 文件另存为; empty: the file's.
  void OpenDocument(const std::string& path, const std::string& name = {});
  const std::string& FileName() const { return fileName_; }

  int ZoomPercent() const { return zoom_; }
  bool IsWord() const { return isWord_; }
  TOfficeContainer* OleContainer() const { return ole_; }
  TFrameW* FrameW() const { return frameW_; }
  QLineEdit* edtZoom() const { return edtZoom_; }
  TFlatButton* Btn_SetFlag() const { return btnSetFlag_; }

  void btn_BestSzieClick();
  void btnSmallClick();
  void btnBigClick();
  void btn_PageFitBestFitClick();
  void btn_PageFitFullPageClick();
  void Btn_PrintClick();
  void Btn_SaveClick();
  void Btn_SetFlagClick();

 protected:
  void resizeEvent(QResizeEvent*) override;
  void closeEvent(QCloseEvent*) override;

 private:
  void ShowZoom(int zoom);
  void SaveWholeThroughCopy(const std::string& path);
  void WorkerLost();

  QWidget* pnlBtn_;
  TFrameW* frameW_;
  TOfficeContainer* ole_;
  QLineEdit* edtZoom_;
  TFlatButton* btnSetFlag_;
  TFlatButton* btnExit_;
  bool isWord_ = false;
  std::string fileName_;
  int zoom_ = 100;
};
