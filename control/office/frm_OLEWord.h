// The Word editor: one Word or Excel file edited in place, with revisions, printing
// options, printing, and saving into a result the caller uploads.
#pragma once

#include <QDialog>
#include <string>

#include "control/session/ReplyWindows.h"
#include "core/Streams.h"

class QAction;
class QMenu;
class QStatusBar;
class TOfficeContainer;

class TfrmOLEWord : public QDialog, public IWordEditor {
  Q_OBJECT
 public:
  explicit TfrmOLEWord(QWidget* owner = nullptr);
  ~TfrmOLEWord() override;

  // IWordEditor
  QWidget* AsWidget() override { return this; }
  void OpenDocument(const std::string& path, bool revisions, bool fillPlaceholders) override;
  int ShowModal() override;
  TMemoryStream* GetResultStream() override;

  TOfficeContainer* OleContainer() const { return ole_; }
  bool IsWord() const { return isWord_; }
  bool WorkerGone() const { return lost_; }
  QAction* nAcpXD() const { return nAcpXD_; }
  QAction* nXD() const { return nXD_; }
  QAction* nNotPH() const { return nNotPH_; }
  QAction* nOpen() const { return nOpen_; }

  // Menu commands.
  void nAcpXDClick();
  void nXDClick();
  void nNotPHClick();
  void nPrintClick();
  void nSaveClick();
  void nOpenClick();
  void nSaveToPCClick();

 protected:
  void closeEvent(QCloseEvent*) override;

 private:
  void SaveToResult();
  void WorkerLost();

  TOfficeContainer* ole_;
  QStatusBar* statusBar_;
  QAction* nAcpXD_;
  QAction* nXD_;
  QAction* nNotPH_;
  QAction* nOpen_;
  bool isWord_ = false;
  bool revisions_ = false;
  bool lost_ = false;
  std::string fileName_;
  TMemoryStream result_;
};
