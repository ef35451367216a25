#include "grid/ui/XLEdits.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTextBlock>
#include <algorithm>
#include <cmath>
#include <set>

#include "core/DateParse.h"
#include "core/EditMask.h"
#include "core/Exception.h"
#include "core/FloatFormat.h"
#include "core/Rounding.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/ui/XLGridView.h"

TXLInplaceEditor* CreateXLEditor(const TXLClass* editorClass, TXLEdit* host) {
  if (!editorClass) return nullptr;
  const AnsiString& name = editorClass->ClassName();
  if (name == "TXLMaskEdit") return new TXLMaskEdit(host);
  if (name == "TXLNumEdit") return new TXLNumEdit(host);
  if (name == "TXLDateTimeEdit") return new TXLDateTimeEdit(host);
  if (name == "TXLMemo") return new TXLMemo(host);
  if (name == "TXLPickEdit") return new TXLPickEdit(host);
  if (name == "TXLComboBox") return new TXLComboBox(host);
  return nullptr;
}

// ---- mask edit ----

TXLMaskEdit::TXLMaskEdit(TXLEdit* host) : TXLInplaceEditor(host), edit_(new QLineEdit(this)) {
  edit_->setFrame(false);
  edit_->installEventFilter(this);
  // Only what the person types counts as a change; loading sets the text quietly.
  QObject::connect(edit_, &QLineEdit::textEdited, this, [this] { SetUserChanged(true); });
}

void TXLMaskEdit::resizeEvent(QResizeEvent*) { edit_->setGeometry(rect()); }

void TXLMaskEdit::SetTextQuietly(const QString& text) {
  edit_->setText(text);
  edit_->selectAll();
}

void TXLMaskEdit::SetAlignment(TXLHorzAlign align, int indent) {
  edit_->setAlignment(align == haRight ? Qt::AlignRight : align == haCenter ? Qt::AlignHCenter : Qt::AlignLeft);
  edit_->setTextMargins(indent, 0, indent, 0);
}

int TXLMaskEdit::Load(TXLCell* cell) {
  const AnsiString mask = cell->GetFormatMask();
  const AnsiString text = cell->GetAsString();
  SetEditMask(mask);
  if (!mask_) {
    SetTextQuietly(ToQString(text));
    return esNormal;
  }
  // Empty input positions show the mask's blank while editing.
  QString shown = ToQString(FormatMaskText(mask, text));
  for (int i = 0; i < shown.size(); ++i)
    if (IsInput(i) && shown[i] == QLatin1Char(' ')) shown[i] = QLatin1Char(mask_->Blank);
  SetTextQuietly(shown);
  return esNormal;
}

void TXLMaskEdit::Store(TXLCell* cell) {
  const QString shown = edit_->text();
  if (!mask_) {
    cell->SetAsString(ToAnsi(shown));
    return;
  }
  // Blanks are spaces in a text that keeps its literals; a text without literals keeps only
  // what was typed.
  QString text;
  for (int i = 0; i < shown.size(); ++i) {
    const bool blank = IsInput(i) && shown[i] == QLatin1Char(mask_->Blank);
    if (mask_->SaveLiterals) text += blank ? QChar(QLatin1Char(' ')) : shown[i];
    else if (IsInput(i) && !blank) text += shown[i];
  }
  cell->SetAsString(ToAnsi(text));
}

void TXLMaskEdit::SetEditMask(const AnsiString& mask) {
  if (mask.empty()) mask_.reset();
  else mask_ = ParseEditMask(mask);
  // The line edit's own paste and drop would bypass the mask.
  edit_->setContextMenuPolicy(mask_ ? Qt::NoContextMenu : Qt::DefaultContextMenu);
  edit_->setAcceptDrops(!mask_);
}

bool TXLMaskEdit::IsInput(int i) const {
  return mask_ && i >= 0 && size_t(i) < mask_->Positions.size() && !mask_->Positions[size_t(i)].Literal;
}

void TXLMaskEdit::MaskBlank(QString& text, int from, int to) const {
  for (int i = std::max(0, from); i < std::min(to, int(text.size())); ++i)
    if (IsInput(i)) text[i] = QLatin1Char(mask_->Blank);
}

void TXLMaskEdit::MaskApply(const QString& text, int caret) {
  if (text != edit_->text()) SetUserChanged(true);
  edit_->setText(text);
  edit_->setCursorPosition(caret);
}

void TXLMaskEdit::MaskType(const QString& chars) {
  QString text = edit_->text();
  const int n = std::min(int(text.size()), int(mask_->Positions.size()));
  int pos = edit_->cursorPosition();
  if (edit_->hasSelectedText()) {
    pos = edit_->selectionStart();
    MaskBlank(text, pos, pos + int(edit_->selectedText().size()));
  }
  for (QChar ch : chars) {
    // Typing a literal steps over it (a "-" typed where the mask has one).
    int lit = pos;
    while (lit < n && !IsInput(lit) && mask_->Positions[size_t(lit)].Char != ch.toLatin1()) ++lit;
    if (lit < n && !IsInput(lit) && ch.unicode() < 0x80) {
      pos = lit + 1;
      continue;
    }
    int i = pos;
    while (i < n && !IsInput(i)) ++i;
    if (i >= n) break;
    const TEditMaskPosition& p = mask_->Positions[size_t(i)];
    const QChar c = p.Case > 0 ? ch.toUpper() : p.Case < 0 ? ch.toLower() : ch;
    // Characters beyond single bytes count as letters, as double-byte text does.
    const char probe = c.unicode() < 0x80 ? char(c.unicode()) : char(0x80);
    if (!MaskCharAccepted(p.Char, probe)) continue;
    text[i] = c;
    pos = i + 1;
  }
  while (pos < n && !IsInput(pos)) ++pos;
  MaskApply(text, pos);
}

bool TXLMaskEdit::MaskKey(QKeyEvent* k) {
  if (k->matches(QKeySequence::Paste)) {
    MaskType(QGuiApplication::clipboard()->text());
    return true;
  }
  QString text = edit_->text();
  const int caret = edit_->cursorPosition();
  const bool selected = edit_->hasSelectedText();
  const int from = selected ? edit_->selectionStart() : caret;
  if (k->matches(QKeySequence::Cut)) {
    if (!selected) return true;
    QGuiApplication::clipboard()->setText(edit_->selectedText());
    MaskBlank(text, from, from + int(edit_->selectedText().size()));
    MaskApply(text, from);
    return true;
  }
  if (k->key() == Qt::Key_Backspace || k->key() == Qt::Key_Delete) {
    if (selected) {
      MaskBlank(text, from, from + int(edit_->selectedText().size()));
      MaskApply(text, from);
    } else if (k->key() == Qt::Key_Backspace) {
      int i = caret - 1;
      while (i >= 0 && !IsInput(i)) --i;
      if (i >= 0) MaskBlank(text, i, i + 1);
      MaskApply(text, std::max(i, 0));
    } else {
      int i = caret;
      while (i < text.size() && !IsInput(i)) ++i;
      MaskBlank(text, i, i + 1);
      MaskApply(text, caret);
    }
    return true;
  }
  // Whole-word and line deletions and undo would leave the mask's shape.
  for (auto seq : {QKeySequence::Undo, QKeySequence::Redo, QKeySequence::DeleteEndOfLine, QKeySequence::DeleteEndOfWord,
                   QKeySequence::DeleteStartOfWord, QKeySequence::DeleteCompleteLine})
    if (k->matches(seq)) return true;
  const QString typed = k->text();
  if (typed.isEmpty() || !typed[0].isPrint() || (k->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
    return false;  // moving the caret, selecting and copying stay the line edit's
  MaskType(typed);
  return true;
}

bool TXLMaskEdit::eventFilter(QObject* watched, QEvent* e) {
  if (watched != edit_ || !mask_) return TXLInplaceEditor::eventFilter(watched, e);
  if (e->type() == QEvent::KeyPress) return MaskKey(static_cast<QKeyEvent*>(e));
  if (e->type() == QEvent::InputMethod) {
    MaskType(static_cast<QInputMethodEvent*>(e)->commitString());
    e->accept();
    return true;
  }
  return TXLInplaceEditor::eventFilter(watched, e);
}

// ---- number edit ----

TXLNumEdit::TXLNumEdit(TXLEdit* host) : TXLMaskEdit(host) {
  SetFormat("0");
}

void TXLNumEdit::SetFormat(const AnsiString& format) {
  AnsiString f = TextBefore(format, ';');
  isInteger_ = f.find('.') == AnsiString::npos;
  if (!isInteger_ && f.find('%') != AnsiString::npos) f += "##";
  increment_ = 1.0;
  if (const size_t dot = f.find('.'); dot != AnsiString::npos)
    for (size_t i = dot + 1; i < f.size(); ++i)
      if (f[i] == '#' || f[i] == '0') increment_ /= 10;
  format_ = f.empty() ? AnsiString("0") : f;
  updating_ = true;
  edit_->setText(ToQString(FormatFloat(format_, value_)));
  updating_ = false;
}

void TXLNumEdit::SetValue(double v) {
  if (MinValue < MaxValue) v = std::clamp(v, MinValue, MaxValue);
  if (isInteger_) v = RoundHalfEven(v);
  value_ = v;
  updating_ = true;
  edit_->setText(ToQString(FormatFloat(format_, v)));
  updating_ = false;
}

double TXLNumEdit::ReadValue() {
  if (updating_) return value_;
  const AnsiString text = ToAnsi(edit_->text());
  double v;
  if (formulaMode_ && !text.empty() && text[0] == '=' && sheet_) {
    TXLVariant result;
    sheet_->Calculate(text.substr(1), nullptr, result, false);
    v = result.AsFloat();
  } else {
    // Keep digits, signs, the decimal separator and the exponent: an integer format rounds
    // after converting, so "12.7" is 13, never 127.
    const char dec = DefaultFormatSettings().DecimalSeparator;
    AnsiString kept;
    for (char c : text)
      if (std::isdigit(uint8_t(c)) || c == '+' || c == '-' || c == dec || c == 'E' || c == 'e') kept += c;
    v = kept.empty() ? 0 : StrToFloat(kept);
    if (isInteger_) v = RoundHalfEven(v);
  }
  if (MinValue < MaxValue && (v < MinValue || v > MaxValue)) throw EXLGridError("Value out of range!");
  return v;
}

int TXLNumEdit::Load(TXLCell* cell) {
  AnsiString letters = cell->GetFormatSuffix();
  int result = esNormal;
  if (HasOption(letters, 's')) result = esSpinner;
  formulaMode_ = HasOption(letters, 'f');
  if (formulaMode_) result |= XLWantsCellClicks;
  sheet_ = cell->GetSheet();
  section_ = cell->GetSection();
  MinValue = MaxValue = 0;
  value_ = cell->GetAsFloat();
  SetFormat(cell->GetFormatMask());
  auto* formula = dynamic_cast<TXLCFormula*>(cell);
  if (formula && formulaMode_ && !formula->Formula().empty()) SetTextQuietly(ToQString(formula->GetAsString()));
  else SetValue(value_);
  edit_->selectAll();
  return result;
}

void TXLNumEdit::Store(TXLCell* cell) {
  const AnsiString text = ToAnsi(edit_->text());
  if (dynamic_cast<TXLCFormula*>(cell) && formulaMode_ && !text.empty() && text[0] == '=') {
    cell->SetAsString(text);
    return;
  }
  const double v = ReadValue();
  cell->SetAsFloat(v);
}

void TXLNumEdit::Spin(double delta) {
  SetValue(ReadValue() + delta);
  SetUserChanged(true);
}

void TXLNumEdit::ButtonClick(int, bool lower) { Spin(lower ? -increment_ : increment_); }

bool TXLNumEdit::eventFilter(QObject* watched, QEvent* e) {
  if (watched == edit_ && e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->modifiers() == Qt::ShiftModifier && (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down)) {
      Spin(k->key() == Qt::Key_Up ? increment_ : -increment_);
      return true;
    }
  }
  return TXLMaskEdit::eventFilter(watched, e);
}

bool TXLNumEdit::CellClick(TPoint cell, Qt::KeyboardModifiers) {
  if (!formulaMode_ || !edit_->text().startsWith(QLatin1Char('=')) || !section_) return false;
  const TPoint at = section_->ToSheet(cell);
  const QString name = ToQString(CellName(at.X, at.Y));
  int start = edit_->hasSelectedText() ? edit_->selectionStart() : edit_->cursorPosition();
  QString text = edit_->text();
  if (edit_->hasSelectedText()) text.remove(start, edit_->selectedText().size());
  text.insert(start, name);
  edit_->setText(text);
  edit_->setSelection(start, name.size());  // the next click replaces it
  SetUserChanged(true);
  return true;
}

// ---- pop-up edit ----

TXLPopupEdit::TXLPopupEdit(TXLEdit* host) : TXLMaskEdit(host), popup_(new TGSPopupPanel(this)) {}

void TXLPopupEdit::ButtonClick(int, bool) {
  if (popup_->IsOpen()) return;
  BeforePopup();
  popup_->Popup(this, 0);
}

// ---- date-time edit ----

TXLDateTimeEdit::TXLDateTimeEdit(TXLEdit* host) : TXLPopupEdit(host), calendar_(new TGSCalendar) {
  popup_->SetContent(calendar_);
  calendar_->OnClick = [this] {
    const TDateTime v = calendar_->Date();
    SetTextQuietly(v == 0 ? QString() : ToQString(FormatDateTime(displayFormat_, v)));
    SetUserChanged(true);
    popup_->ClosePopup();
  };
}

TDateTime TXLDateTimeEdit::ReadValue() const {
  const AnsiString text = ToAnsi(edit_->text());
  if (Trim(text).empty()) return 0;
  switch (kind_) {
    case 1: return ParseDate(text) + (old_ - std::floor(old_));
    case 2: return std::floor(old_) + ParseTime(text);
    default: {
      // The text was written with DisplayFormat (its "/" as the locale's separator): read the
      // date in that format's field order, not the short date's.
      TFormatSettings fs = DefaultFormatSettings();
      const AnsiString datePart = TextBefore(displayFormat_, ' ');
      if (datePart.find_first_of("dDmMyY") != AnsiString::npos) fs.ShortDateFormat = datePart;
      TDateTime v;
      if (TryStrToDateTime(text, v, fs)) return v;
      return StrToDateTime(text);
    }
  }
}

int TXLDateTimeEdit::Load(TXLCell* cell) {
  if (popup_->IsOpen()) popup_->hide();
  displayFormat_ = TextBefore(cell->Format(), ';');
  displayFormat_ = TextBefore(displayFormat_, '|');
  if (displayFormat_.empty()) displayFormat_ = DefaultFormatSettings().ShortDateFormat;
  AnsiString letters = cell->GetFormatSuffix();
  kind_ = HasOption(letters, 't') ? 2 : HasOption(letters, 'd') ? 1 : 0;
  const bool button = kind_ != 2 && HasOption(letters, 'c');
  old_ = cell->GetAsDateTime();
  calendar_->setFont(font());
  calendar_->SetDate(old_);
  SetTextQuietly(old_ == 0 ? QString() : ToQString(FormatDateTime(displayFormat_, old_)));
  return button ? esDropDown : esNormal;
}

void TXLDateTimeEdit::Store(TXLCell* cell) {
  TDateTime v = 0;
  try {
    v = ReadValue();
  } catch (const EConvertError&) {
    // The box the host shows speaks the person's language; the cell keeps its value.
    throw EConvertError(Utf8ToCp936("“") + ToAnsi(edit_->text()) + Utf8ToCp936("”不是有效的") +
                        Utf8ToCp936(kind_ == 2 ? "时间" : "日期") + Utf8ToCp936("，请重新输入。"));
  }
  cell->SetAsDateTime(v);
}

void TXLDateTimeEdit::BeforePopup() {
  TDateTime v = old_;
  try {
    v = ReadValue();
  } catch (const Exception&) {
  }
  calendar_->SetDate(v);
}

// ---- memo ----

TXLMemo::TXLMemo(TXLEdit* host) : TXLInplaceEditor(host), memo_(new QPlainTextEdit(this)) {
  memo_->setFrameShape(QFrame::NoFrame);
  QObject::connect(memo_, &QPlainTextEdit::textChanged, this, [this] {
    if (!loading_) SetUserChanged(true);
  });
}

void TXLMemo::resizeEvent(QResizeEvent*) { memo_->setGeometry(rect()); }

int TXLMemo::Load(TXLCell* cell) {
  loading_ = true;
  if (auto* list = dynamic_cast<TXLCStrings*>(cell)) {
    QStringList lines;
    for (const AnsiString& item : list->Items()) lines << ToQString(item);
    memo_->setPlainText(lines.join(QLatin1Char('\n')));
  } else {
    memo_->setPlainText(ToQString(cell->GetAsString()));
  }
  memo_->selectAll();
  loading_ = false;
  return esNormal;
}

void TXLMemo::Store(TXLCell* cell) { cell->SetAsString(ToAnsi(memo_->toPlainText().replace('\n', "\r\n"))); }

// ---- pick edit ----

std::vector<AnsiString> ColumnPickItems(TXLSection& section, TPoint cell) {
  std::set<AnsiString> seen;
  for (int32_t row = 0; row < cell.Y && int32_t(seen.size()) < 50; ++row) {
    TXLCell* c = section.FindCell(TPoint{cell.X, row});
    if (!c || c->Col() != cell.X) continue;
    const AnsiString text = c->GetAsString();
    if (!text.empty()) seen.insert(text);
  }
  return std::vector<AnsiString>(seen.begin(), seen.end());
}

TXLPickEdit::TXLPickEdit(TXLEdit* host) : TXLInplaceEditor(host), list_(new TGSPickList(this)) {
  // The host's button drops the list down; the list's own arrow stays hidden.
  list_->setStyleSheet(QStringLiteral("QComboBox { border: none; } QComboBox::drop-down { width: 0px; border: none; }"));
  QObject::connect(list_, &QComboBox::currentTextChanged, this, [this] {
    if (!loading_) SetUserChanged(true);
  });
}

void TXLPickEdit::resizeEvent(QResizeEvent*) { list_->setGeometry(rect()); }

QWidget* TXLPickEdit::FocusControl() {
  if (QLineEdit* edit = list_->lineEdit()) return edit;
  return list_;
}

void TXLPickEdit::SelectAllText() {
  if (list_->lineEdit()) list_->lineEdit()->selectAll();
}

int TXLPickEdit::Load(TXLCell* cell) {
  loading_ = true;
  list_->setFont(font());  // a styled list does not inherit it
  list_->clear();
  auto* strings = dynamic_cast<TXLCStrings*>(cell);
  listCell_ = strings != nullptr;
  if (strings) {
    for (const AnsiString& item : strings->Items()) list_->addItem(ToQString(item));
    list_->setCurrentIndex(strings->ItemIndex());
  } else {
    for (const AnsiString& item : ColumnPickItems(*cell->GetSection(), cell->Pos())) list_->addItem(ToQString(item));
    list_->setCurrentIndex(-1);
    list_->setEditText(ToQString(cell->GetAsString()));
  }
  SelectAllText();
  loading_ = false;
  // An arrow over an empty list would drop nothing down.
  return list_->count() > 0 ? esDropDown : esNormal;
}

void TXLPickEdit::Store(TXLCell* cell) {
  if (!listCell_) {
    cell->SetAsString(ToAnsi(list_->currentText()));
    return;
  }
  int index = list_->currentIndex();
  if (index < 0 || list_->itemText(index) != list_->currentText())
    index = list_->findText(list_->currentText(), Qt::MatchExactly);
  // Text that names no item keeps the item the cell shows; only an emptied text clears it.
  if (index < 0 && !list_->currentText().isEmpty()) return;
  cell->SetAsInteger(index);
}

TXLComboBox::TXLComboBox(TXLEdit* host) : TXLPickEdit(host) { list_->setEditable(false); }

int TXLComboBox::Load(TXLCell* cell) {
  loading_ = true;
  list_->clear();
  listCell_ = dynamic_cast<TXLCStrings*>(cell) != nullptr;
  if (auto* strings = dynamic_cast<TXLCStrings*>(cell)) {
    for (const AnsiString& item : strings->Items()) list_->addItem(ToQString(item));
    list_->setCurrentIndex(strings->ItemIndex());
  } else {
    list_->setCurrentIndex(list_->findText(ToQString(cell->GetAsString())));
  }
  loading_ = false;
  return esDropDown;
}

void TXLComboBox::Store(TXLCell* cell) { cell->SetAsInteger(list_->currentIndex()); }
