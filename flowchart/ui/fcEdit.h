#pragma once
// The workflow-definition editor's chart side: a tool bar whose buttons carry the values new
// and selected items get, a colour palette, creation tools, rubber band, zoom, undo by
// whole-chart snapshots, an internal clipboard, unions, chart files and help. The flow
// definition (steps and their records, the server's messages) is added by a derived form
// through the step hooks below.
#include <QDialog>
#include <QPointer>
#include <memory>
#include <vector>

#include "flowchart/ui/FlowChart.h"
#include "flowchart/ui/fcControls.h"
#include "flowchart/ui/fcUndo.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QToolButton;
class QVBoxLayout;
class TXPStyler;

// An entry of the internal clipboard: a copy owned by the editor's hidden chart.
struct TBuferItem {
  TFcItem* Item = nullptr;
  uint8_t Kind = 0;  // 0 object, 1 connection
};

// Screen cursors of the zoom tool, drawn here: 2001 zoom in, 2002 zoom out.
enum : int { crZoomIn = 2001, crZoomOut = 2002 };
QCursor ScreenCursor(int id);

class TFChartEditor : public QDialog {
  Q_OBJECT
 public:
  explicit TFChartEditor(QWidget* parent = nullptr);
  ~TFChartEditor() override;

  // Menus.
  QMenuBar* MainMenu;
  QMenu *mFile, *mEdit, *mUnions, *mView, *mHelp, *ChartPopup;
  QAction *miOpen, *miSaveAs, *miSaveToServer, *miExit;
  QAction *miUndo, *miCut, *miCopy, *miPaste, *miDelete, *miSelectAll, *miClearSelection, *miBringToFront, *miSendToBack;
  QAction *miNewUnion, *miAddToUnion, *miRemoveFromUnion, *miClearUnion, *miClearAllUnions;
  QAction *miZoomIn, *miZoomOut, *miFit, *miActualSize, *Contens1, *XP1, *iEdit, *iRemovePoint;
  // Tool bar: a button's "Tag" is the value it stands for.
  QToolButton *btnCreateObject, *btnCreateConnect, *sbShape, *sbLine, *sbTextPosition, *sbImagePosition, *sbStyle,
      *sbSourceArrow, *sbDestArrow, *sbSArrowSize, *sbDArrowSize, *sbSPoint, *sbDPoint, *sbObjectFont, *sbConnectFont,
      *sbZoom, *sbFit;
  TFcColorPanel *pColor, *pBkColor;
  std::vector<TFcColorPanel*> Palette;  // pBlack .. pFuchsia
  TFlowChart* Chart;
  TFcImageList* Images;
  QLabel *lblBanner, *lblTip;
  QLabel* lblStatus;  // beside the save button: what the editor is waiting for
  QPushButton* BitBtn1;  // save to the server
  // The right-hand column where the flow's own property groups go.
  QVBoxLayout* PropertyColumn;
  TXPStyler* XPStyler;

  int ShowModal() { return exec(); }
  TUndoManager& UndoManager() { return undo_; }
  const std::vector<TBuferItem>& Clipboard() const { return clipboard_; }
  TFcFont ObjectFont() const { return objectFont_; }
  TFcFont ConnectFont() const { return connectFont_; }
  void SetObjectFont(const TFcFont& f) { objectFont_ = f; }
  void SetConnectFont(const TFcFont& f) { connectFont_ = f; }
  const QString& Hint() const { return hint_; }

  // Takes a snapshot when snapshots are enabled, and sets the undo command.
  void TakeSnapshot();
  void Undo();
  void ApplyObjectProperties(int which);
  void ApplyConnectionProperties(int which);
  // A tool bar menu item's value: sets the button's Tag and caption and applies it.
  void PickTool(QToolButton* button, int tag);
  void CopySelection();
  void CutSelection();
  void Paste();
  void DeleteSelection();
  void NewUnion();
  void AddToUnion();
  void RemoveFromUnion();
  void ClearUnion();
  void ClearAllUnions();
  void OpenChart();
  void SaveChartAs();
  // Loads a chart file; a file that cannot be read is reported and changes nothing.
  bool OpenChartFile(const std::string& path);
  void ZoomIn();
  void ZoomOut();
  void ToggleFit();
  void ActualSize();
  void ShowHelp();
  void EditSelected(uint8_t hitCode);
  // The hint of the object under the mouse: its union and the unions it belongs to.
  AnsiString UnionHint(const TFcObject* o) const;

 protected:
  // Step hooks of the flow definition.
  virtual bool CanAddStep() { return true; }
  virtual void StepAdded(TFcObject* object) {}
  virtual void StepDeleted(TFcObject* object) {}
  // A single selected object (or null when the selection is anything else).
  virtual void StepSelected(TFcObject* object) {}
  // pasted is a copy of source (the clipboard's copy, with the original's tie).
  virtual void StepPasted(TFcObject* pasted, const TFcObject* source) {}
  // The object's properties were edited; oldText is its text before.
  virtual void StepEdited(TFcObject* object, const AnsiString& oldText) {}
  virtual void ChartFileOpened() {}
  virtual void ChartReloaded() {}
  virtual bool SaveToServer() { return false; }
  // False keeps the selection where it is (a step whose panel holds a bad value).
  virtual bool CanLeaveStep() { return true; }
  // Whether closing now would throw away changes; asked before the window closes.
  virtual bool CanClose() { return true; }

  void reject() override;
  void keyPressEvent(QKeyEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  // Applies properties only while set (cleared while a new item takes its own).
  bool applyProperties_ = true;
  bool snapshots_ = true;

 private:
  enum TToolDrag { tdNone, tdCreateObject, tdCreateConnection, tdRubberBand };
  void BuildMenus();
  void BuildToolBar(QWidget* bar, QWidget* palette);
  QToolButton* TagButton(QWidget* parent, const char* name, const QString& caption,
                         const std::vector<std::pair<QString, int>>& items, int initial);
  void RefreshTools();
  void ShowToolValue(QToolButton* b);
  void UpdateZoomCommands();
  bool ToolActive() const;
  void SetToolMode(QToolButton* pressed);
  void CreateStepAt(TPoint client);
  void CreateConnectionBetween(TPoint from, TPoint to);
  void ConnectSelectedPair();
  void FinishRubberBand(TPoint from, TPoint to, bool shift);
  void ApplyObjectTo(TFcObject* o, int which);
  void ApplyConnectionTo(TFcConnection* c, int which);
  void ClearClipboard();
  void ScheduleSnapshot();
  void PaintOverlay(QPainter& p);
  void UpdateHint(int x, int y);

  TUndoManager undo_;
  TFcChart buffer_;  // owns the clipboard's copies
  std::vector<TBuferItem> clipboard_;
  TFcFont objectFont_, connectFont_;
  TToolDrag toolDrag_ = tdNone;
  TPoint pressPos_{}, curPos_{};
  TPoint lastPress_{};
  bool fit_ = false;
  bool snapshotPending_ = false;
  bool refreshing_ = false;
  QString hint_;
};
