#include "grid/ui/XLEdits.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <algorithm>
#include <cmath>
#include <set>

#include "core/DateParse.h"
#include "core/EditMask.h"
#include "core/Exception.h"
#include "core/FloatFormat.h"
#include "core/QtText.h"
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
  SetTextQuietly(ToQString(mask.empty() ? text : FormatMaskText(mask, text)));
  return esNormal;
}

void TXLMaskEdit::Store(TXLCell* cell) {
  AnsiString text = ToAnsi(edit_->text());
  const AnsiString mask = cell->GetFormatMask();
  if (!mask.empty()) {
    // A mask that does not save literals keeps only the typed characters.
    const TEditMask m = ParseEditMask(mask);
    if (!m.SaveLiterals) {
      AnsiString typed;
      for (size_t i = 0; i < text.size(); ++i)
        if (i >= m.Positions.size() || !m.Positions[i].Literal)
          if (text[i] != m.Blank) typed += text[i];
      text = typed;
    }
  }
  cell->SetAsString(text);
}

// ---- number edit ----

TXLNumEdit::TXLNumEdit(TXLEdit* host) : TXLMaskEdit(host) {
  edit_->installEventFilter(this);
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
  if (isInteger_) v = std::nearbyint(v);
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
    if (isInteger_) v = std::nearbyint(v);
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

void TXLDateTimeEdit::Store(TXLCell* cell) { cell->SetAsDateTime(ReadValue()); }

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
  return esDropDown;
}

void TXLPickEdit::Store(TXLCell* cell) {
  if (!listCell_) {
    cell->SetAsString(ToAnsi(list_->currentText()));
    return;
  }
  int index = list_->currentIndex();
  if (index < 0 || list_->itemText(index) != list_->currentText())
    index = list_->findText(list_->currentText(), Qt::MatchExactly);
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
