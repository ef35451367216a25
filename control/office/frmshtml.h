// The HTML viewer: a web page, picture, text or PDF file by its path, or an HTML text
// held in memory, read-only, with print and save-as and the comment frame above it.
#pragma once

#include <QDialog>
#include <string>

#include "core/Streams.h"

class QFrame;
class QWidget;
class TFrameW;
class TWebContainer;
class TFlatButton;
class TFlatSpeedButton;

class Tfrm_Shtml : public QDialog {
  Q_OBJECT
 public:
  explicit Tfrm_Shtml(QWidget* owner = nullptr);
  ~Tfrm_Shtml() override;

  // With no stream, shows the file at path; with one, shows its HTML (no file is written).
  void ShowContent(const std::string& path, TStream* stream);

  TFrameW* FrameW() const { return frameW_; }
  TWebContainer* WebBrowser() const { return web_; }
  TFlatButton* Btn_SetFlag() const { return btnSetFlag_; }
  TFlatButton* Btn_Exit() const { return btnExit_; }
  TFlatSpeedButton* Btn_Save() const { return btnSave_; }
  TFlatSpeedButton* Btn_Print() const { return btnPrint_; }

  void Btn_PrintClick();
  void Btn_SaveClick();
  void Btn_SetFlagClick();

 protected:
  void resizeEvent(QResizeEvent*) override;
  void showEvent(QShowEvent*) override;

 private:
  QFrame* splitter1_;
  TFrameW* frameW_;
  QWidget* panel1_;
  TWebContainer* web_;
  TFlatSpeedButton* btnSave_;
  TFlatSpeedButton* btnPrint_;
  TFlatButton* btnSetFlag_;
  TFlatButton* btnExit_;
  bool maximised_ = false;
};
