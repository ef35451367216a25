#pragma once
// The grid's in-place editing host, the messages it exchanges with the editor controls,
// the glyph button at its right edge and the cell hint window.
#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <utility>

#include "grid/XLGrids.h"

class TXLGrid;
class TXLView;
class TXLEdit;

// Private messages between the host and its editor (numbers fixed).
enum : int {
  XLM_HINTCLOSE = 2897,     // the hint memo frees itself
  XLM_FOCUSCONTROL = 2898,  // which control takes the keys
  XLM_LOAD = 2899,          // load from the cell: button style | 65536 when clicks are wanted
  XLM_STORE = 2900,         // store into the cell
  XLM_ALIGNMENT = 2901,     // horizontal alignment and indent
  XLM_BUTTONCLICK = 2903,   // the host's button: style, lower half
  XLM_CELLCLICK = 2904,     // a cell clicked while editing; non-zero result: consumed
};
constexpr int XLWantsCellClicks = 65536;

class TXLEditorMessage : public QEvent {
 public:
  TXLEditorMessage(int message, TXLCell* cell = nullptr, intptr_t wparam = 0, intptr_t lparam = 0)
      : QEvent(QEvent::Type(message)), Cell(cell), WParam(wparam), LParam(lparam) {}
  TXLCell* Cell;
  intptr_t WParam, LParam;
  intptr_t Result = 0;
  QWidget* Control = nullptr;
};

// Base of the editor controls: answers the host's messages.
class TXLInplaceEditor : public QWidget {
 public:
  explicit TXLInplaceEditor(TXLEdit* host);
  TXLEdit* Host() const { return host_; }
  // True once the person changed the content after loading: only then is it stored.
  bool UserChanged() const { return userChanged_; }
  void SetUserChanged(bool v) { userChanged_ = v; }
  // Selects the whole text so that typing replaces it.
  virtual void SelectAllText() {}
  // The text as shown (tests and the grid's typing path).
  virtual QString Text() const { return {}; }
  // The message of the last failed store (and forgets it).
  AnsiString TakeFailure() { return std::exchange(failure_, AnsiString()); }

 protected:
  bool event(QEvent* e) override;
  virtual QWidget* FocusControl() = 0;
  virtual int Load(TXLCell* cell) = 0;
  virtual void Store(TXLCell* cell) = 0;
  virtual void SetAlignment(TXLHorzAlign align, int indent) {}
  virtual void ButtonClick(int style, bool lower) {}
  virtual bool CellClick(TPoint cell, Qt::KeyboardModifiers mods) { return false; }
  // Text height of the editor's font: the host's height follows it.
  int TextHeight() const;

 private:
  TXLEdit* host_;
  bool userChanged_ = false;
  AnsiString failure_;
};

// The small glyph button: style 0 plain, 1 spinner halves that repeat, 2 "...", 3 drop-down.
class TXLButton : public QWidget {
 public:
  explicit TXLButton(QWidget* parent);
  int Style() const { return style_; }
  void SetStyle(int style);
  bool Flat = false;
  // lower: the lower half of a spinner was hit.
  std::function<void(bool lower)> OnClick;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void timerEvent(QTimerEvent* e) override;

 private:
  void Click();
  int style_ = 0;
  bool down_ = false;
  bool lower_ = false;
  int repeat_ = -1;
  int timer_ = 0;
};

// The hint of a cell: a small window next to the cell's top-right corner.
class TXLHintWindow : public QLabel {
 public:
  explicit TXLHintWindow(QWidget* grid);
  void ShowHint(const QString& text, QPoint marker);
  QPoint Marker() const { return marker_; }

 private:
  QPoint marker_;
};

// Edits the hint of one cell in place. Closing stores the text (carriage returns removed,
// trailing blanks trimmed) as the cell's hint, gives the focus back to the grid and frees the
// memo through the message it posts to itself.
class TXLHintMemo : public QPlainTextEdit {
 public:
  TXLHintMemo(TXLGrid* grid, TXLView* pane, TPoint cell);
  TXLView* Pane() const { return pane_; }
  TPoint CellPos() const { return pos_; }
  // Closes; store false when the cell is going away.
  void Close(bool store = true);

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  TXLGrid* grid_;
  TXLView* pane_;
  TPoint pos_;
  bool closing_ = false;
};

class TXLEdit : public QWidget {
 public:
  explicit TXLEdit(QWidget* owner);
  ~TXLEdit() override;

  TXLGrid* Grid() const { return grid_; }
  TXLView* Pane() const { return pane_; }
  void SetPane(TXLView* pane);
  TXLInplaceEditor* EditorControl() const { return editor_; }
  QWidget* FocusControl() const { return focus_; }
  TXLButton* Button() const { return button_; }
  TXLCell* Cell() const { return cell_; }
  TPoint CellPos() const { return pos_; }
  bool Shown() const { return shown_; }
  bool Browsing() const { return browsing_; }
  void SetBrowsing(bool v) { browsing_ = v; }
  bool PickThrough() const { return pickThrough_; }

  // Switches to the editor of the cell at pos and attaches it (storing into the old cell);
  // false when the old cell refused the editor's text (the editor stays).
  bool SetCell(TXLView* pane, TPoint pos);
  // Stores the value into the cell when the person changed it. A conversion error is shown
  // and the editor keeps the cell: false.
  bool StoreValue();
  void Show(bool visible);
  // Hides without storing.
  void Cancel();
  // Re-reads the cell.
  void Reload();
  // Places the host over its cell again (after scrolling, zoom or sizing).
  void Reposition();
  // Leaves the cell without storing (it is being freed).
  void Release();
  // A click on a cell while editing: true when the editor consumed it.
  bool CellClick(TPoint cell, Qt::KeyboardModifiers mods);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void resizeEvent(QResizeEvent*) override { LayoutChildren(); }

 private:
  void SwitchEditor(const TXLClass* editorClass);
  void Load();
  void LayoutChildren();
  TXLCell* CellAtPos(bool create) const;

  TXLGrid* grid_;
  TXLView* pane_ = nullptr;
  TXLInplaceEditor* editor_ = nullptr;
  const TXLClass* editorClass_ = nullptr;
  QPointer<QWidget> focus_;
  TXLButton* button_;
  TXLCell* cell_ = nullptr;
  TPoint pos_{-1, -1};
  bool shown_ = false;
  bool browsing_ = false;
  bool pickThrough_ = false;
  int vertAlign_ = 0;
  int editorHeight_ = 0;
};
