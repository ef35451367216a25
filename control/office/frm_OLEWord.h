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
  bool SetUploader(Uploader upload) override;

  // Changed since the last save that was kept (by the server, when saves are uploaded).
  bool Changed() const;
  // A save is on its way to the server.
  bool Uploading() const { return uploading_; }

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
  // Saves, then uploads when saves are uploaded; closes afterwards when closeAfter is set
  // and the save was kept.
  void Save(bool closeAfter);
  void UploadEnded(int changes, bool kept);
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
  Uploader upload_;
  bool uploading_ = false;
  bool closeAfterUpload_ = false;
  bool closing_ = false;
  int keptChanges_ = 0;  // the document's change count at the last kept save
};
