#pragma once
// The editor controls of the in-place editing host: text with an edit mask, numbers with
// increment, spin and formula input, dates with a calendar, multi-line text, pick lists
// offering the column's earlier texts, and fixed drop-down lists.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <optional>

#include "core/EditMask.h"

#include "grid/ui/GSCtrls.h"
#include "grid/ui/XLEdit.h"

class QKeyEvent;
class TXLSheet;

// The editor control for a registered editor class, nullptr for an unknown one.
TXLInplaceEditor* CreateXLEditor(const TXLClass* editorClass, TXLEdit* host);

class TXLMaskEdit : public TXLInplaceEditor {
 public:
  explicit TXLMaskEdit(TXLEdit* host);
  QLineEdit* Edit() const { return edit_; }
  QString Text() const override { return edit_->text(); }
  void SelectAllText() override { edit_->selectAll(); }
  // With a mask, typing fills only its input positions with the characters each accepts;
  // literals stay and empty positions show the mask's blank. "" takes the mask away.
  void SetEditMask(const AnsiString& mask);
  bool Masked() const { return mask_.has_value(); }

 protected:
  QWidget* FocusControl() override { return edit_; }
  int Load(TXLCell* cell) override;
  void Store(TXLCell* cell) override;
  void SetAlignment(TXLHorzAlign align, int indent) override;
  // Shows text without counting it as the person's change.
  void SetTextQuietly(const QString& text);
  void resizeEvent(QResizeEvent*) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

  QLineEdit* edit_;

 private:
  bool MaskKey(QKeyEvent* k);
  // Puts typed characters into the input positions from the caret (or the selection) on.
  void MaskType(const QString& chars);
  // Blanks the input positions of [from, to) in text.
  void MaskBlank(QString& text, int from, int to) const;
  void MaskApply(const QString& text, int caret);
  bool IsInput(int i) const;
  std::optional<TEditMask> mask_;
};

class TXLNumEdit : public TXLMaskEdit {
 public:
  explicit TXLNumEdit(TXLEdit* host);
  const AnsiString& Format() const { return format_; }
  void SetFormat(const AnsiString& format);
  bool IsInteger() const { return isInteger_; }
  double Increment() const { return increment_; }
  void SetValue(double v);
  // The value the text stands for; EConvertError or EXLGridError "Value out of range!".
  double ReadValue();
  double MinValue = 0, MaxValue = 0;
  bool FormulaMode() const { return formulaMode_; }

 protected:
  int Load(TXLCell* cell) override;
  void Store(TXLCell* cell) override;
  void ButtonClick(int style, bool lower) override;
  bool CellClick(TPoint cell, Qt::KeyboardModifiers mods) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void Spin(double delta);
  double value_ = 0;
  AnsiString format_ = "0";
  bool isInteger_ = true;
  double increment_ = 1;
  bool formulaMode_ = false;
  bool updating_ = false;
  TXLSheet* sheet_ = nullptr;
  TXLSection* section_ = nullptr;
};

class TXLPopupEdit : public TXLMaskEdit {
 public:
  explicit TXLPopupEdit(TXLEdit* host);
  TGSPopupPanel* PopupPanel() const { return popup_; }

 protected:
  void ButtonClick(int style, bool lower) override;
  virtual void BeforePopup() {}
  TGSPopupPanel* popup_;
};

class TXLDateTimeEdit : public TXLPopupEdit {
 public:
  explicit TXLDateTimeEdit(TXLEdit* host);
  TGSCalendar* Calendar() const { return calendar_; }
  int Kind() const { return kind_; }
  const AnsiString& DisplayFormat() const { return displayFormat_; }
  // The value the text stands for, keeping the other part of the old value for Kinds 1 and 2.
  TDateTime ReadValue() const;

 protected:
  int Load(TXLCell* cell) override;
  void Store(TXLCell* cell) override;
  void BeforePopup() override;

 private:
  TGSCalendar* calendar_;
  AnsiString displayFormat_;
  int kind_ = 0;
  TDateTime old_ = 0;
};

class TXLMemo : public TXLInplaceEditor {
 public:
  explicit TXLMemo(TXLEdit* host);
  QString Text() const override { return memo_->toPlainText(); }
  void SelectAllText() override { memo_->selectAll(); }

 protected:
  QWidget* FocusControl() override { return memo_; }
  int Load(TXLCell* cell) override;
  void Store(TXLCell* cell) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  QPlainTextEdit* memo_;
  bool loading_ = false;
};

class TXLPickEdit : public TXLInplaceEditor {
 public:
  explicit TXLPickEdit(TXLEdit* host);
  TGSPickList* PickList() const { return list_; }
  QString Text() const override { return list_->currentText(); }
  void SelectAllText() override;

 protected:
  QWidget* FocusControl() override;
  int Load(TXLCell* cell) override;
  void Store(TXLCell* cell) override;
  void ButtonClick(int style, bool lower) override { list_->showPopup(); }
  void resizeEvent(QResizeEvent*) override;
  TGSPickList* list_;
  bool loading_ = false;
  bool listCell_ = false;
};

class TXLComboBox : public TXLPickEdit {
 public:
  explicit TXLComboBox(TXLEdit* host);

 protected:
  int Load(TXLCell* cell) override;
  void Store(TXLCell* cell) override;
};

// The items a pick list offers for a text cell: the distinct texts of the column's cells
// above the edited one, sorted, at most 50.
std::vector<AnsiString> ColumnPickItems(TXLSection& section, TPoint cell);
