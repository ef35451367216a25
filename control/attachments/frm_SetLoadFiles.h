// The attachment manager ("文件管理"): the user adds, scans, removes, opens, edits and saves
// a document's attachments; changes go to the server as one upload.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "control/session/ReplyWindows.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"

class QAction;
class QListWidget;
class QListWidgetItem;
class QMenu;
class TFlatButton;

class TfrmSetLoadFiles : public QDialog, public IAttachmentManager {
  Q_OBJECT
 public:
  explicit TfrmSetLoadFiles(QWidget* owner = nullptr);
  ~TfrmSetLoadFiles() override;

  // IAttachmentManager
  QWidget* AsWidget() override { return this; }
  void LoadFromReply(TMemoryStream& reply) override;
  int ShowModal() override { return exec(); }

  // Sends the container when it changed and the list is not read-only. The changes count
  // as saved only when the server's reply says so.
  void UploadFiles();

  // How a request ended: the reply, or null when none came.
  using RequestEnded = std::function<void(const TMemoryStream* reply)>;
  // Where frames go (the session form unless replaced, for tests); ended is called once.
  std::function<void(std::string, RequestEnded)> SendFrame;

  bool ReadOnly() const { return readOnly_; }
  // Nothing changed here that the server has not confirmed.
  bool Uploaded() const { return uploaded_; }
  const TCopy2Files& Files() const { return files_; }
  QListWidget* ListView() const { return listView_; }
  TFlatButton* btn_AddFile() const { return btnAddFile_; }
  TFlatButton* btn_MoveFile() const { return btnMoveFile_; }
  TFlatButton* btn_Copy2() const { return btnCopy2_; }
  TFlatButton* btn_Close() const { return btnClose_; }
  TFlatButton* Btn_Read() const { return btnRead_; }
  TFlatButton* Btn_Exit() const { return btnExit_; }
  TFlatButton* Btn_SaveAs() const { return btnSaveAs_; }

  void btn_AddFileClick();
  void btn_MoveFileClick();
  void btn_Copy2Click();
  void btn_CloseClick();
  void Btn_ReadClick();
  void nSaveAsClick();
  void nBigIconClick();
  void nDetailClick();

  // Escape and the close box: what is changed is saved first; when it cannot be, the
  // person is asked before it is thrown away.
  void reject() override;

 private:
  enum class CloseWish { None, Save, AskToDrop };

  void DescribeItem(QListWidgetItem* item) const;
  void AddListItem(int index);
  int SelectedIndex() const;
  void Changed();
  void RequestClose(CloseWish wish);
  void UploadEnded(int generation, const TMemoryStream* reply);
  // Hands the document form the list as the server holds it, then closes.
  void FinishClose(bool keepChanges);

  QListWidget* listView_;
  QMenu* popupMenu_;
  QAction* nSaveAs_;
  QAction* nBigIcon_;
  QAction* nDetail_;
  TFlatButton* btnAddFile_;
  TFlatButton* btnMoveFile_;
  TFlatButton* btnCopy2_;
  TFlatButton* btnClose_;
  TFlatButton* btnRead_;
  TFlatButton* btnExit_;
  TFlatButton* btnSaveAs_;

  bool readOnly_ = false;
  bool uploaded_ = true;
  int generation_ = 0;      // counts the changes, so a late reply confirms only what it carried
  int sentGeneration_ = -1;
  int uploadsInFlight_ = 0;
  CloseWish closeWish_ = CloseWish::None;
  bool closing_ = false;
  std::string savedContainer_;  // the list as the server last confirmed it
  AnsiString recordId_;
  AnsiString tableName_;
  std::vector<frames::CommentRecord> comments_;
  TCopy2Files files_;
};
