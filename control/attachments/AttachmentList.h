// The document form's attachment list ("附件列表"): the attachments of the document as
// icons or rows, opened read-only on a double click, saved as a copy from its menu.
#pragma once

#include <QWidget>
#include <string>

#include "control/wire/Un_CopyFiles.h"
#include "core/Streams.h"

class QAction;
class QLabel;
class QListWidget;
class QMenu;

class TAttachmentList : public QWidget {
  Q_OBJECT
 public:
  explicit TAttachmentList(QWidget* parent = nullptr);

  // Rows below the sheet (40 px each) rather than icons beside it.
  void SetAttachBelow(bool v) { attachBelow_ = v; }
  // The height the panel takes beside the sheet.
  void SetGridPanelHeight(int h) { gridPanelHeight_ = h; }

  // Fills the container and the list from an attachment-list reply; hides the panel
  // when the reply is empty or lists nothing.
  void LoadAttachments(TMemoryStream& reply);
  // The container as the attachment manager left it.
  void RefreshFromContainer(const std::string& container, int slotCount);

  void OpenSelected();       // double click
  void mniSaveAsClick();     // "另存为..."

  const TCopy2Files& Files() const { return files_; }
  const std::string& AttachHeader() const { return header_; }
  QListWidget* ListView() const { return listView_; }
  QAction* mniSaveAs() const { return mniSaveAs_; }

 private:
  void FillList();
  int SelectedIndex() const;

  QLabel* title_;
  QListWidget* listView_;
  QMenu* pmFile_;
  QAction* mniSaveAs_;
  TCopy2Files files_;
  std::string header_;
  bool attachBelow_ = false;
  int gridPanelHeight_ = 200;
};
