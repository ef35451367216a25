#include "control/form/TemplateFields.h"

#include <algorithm>

#include "core/SysUtils.h"
#include "grid/XLCells.h"
#include "grid/XLManager.h"
#include "grid/XLSections.h"

namespace {

std::vector<AnsiString> Lines(std::string_view text) {
  std::vector<AnsiString> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    out.emplace_back(text.substr(pos, end - pos));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    pos = end + 1;
  }
  return out;
}

const TComboSource* FindSource(const std::vector<TComboSource>& sources, const AnsiString& name) {
  const AnsiString upper = AnsiUpperCase(name);
  for (const TComboSource& s : sources)
    if (s.name == upper) return &s;
  return nullptr;
}

int IndexIn(const std::vector<AnsiString>& list, const AnsiString& value) {
  const auto it = std::find(list.begin(), list.end(), value);
  return it == list.end() ? -1 : int(it - list.begin());
}

template <class F>
void ForEachClientCell(TXLSheet& sheet, F&& fn) {
  for (int32_t c = 0; c < sheet.ColCount(); ++c)
    for (int32_t r = 0; r < sheet.RowCount(); ++r)
      if (TXLCell* cell = sheet.FindCell(c, r)) fn(*cell, c, r);
}

}  // namespace

void JoinName(AnsiString& names, const AnsiString& name) {
  if (!names.empty()) names += ',';
  names += name;
}

std::vector<TFieldEntry> ScanCellFields(const TXLSheet& sheet) {
  std::vector<TFieldEntry> fields;
  for (int32_t c = 0; c < sheet.ColCount(); ++c)
    for (int32_t r = 0; r < sheet.RowCount(); ++r) {
      const TXLCell* cell = sheet.FindCell(c, r);
      if (!cell) continue;
      const AnsiString name = Trim(cell->Hint());
      if (name.empty()) continue;
      if (std::none_of(fields.begin(), fields.end(), [&](const TFieldEntry& f) { return f.name == name; }))
        fields.push_back({r, c, name, {}, {}});
    }
  return fields;
}

std::pair<AnsiString, AnsiString> SplitValueHint(std::string_view stored) {
  const size_t bar = stored.find('|');
  if (bar == std::string_view::npos) return {AnsiString(stored), {}};
  return {AnsiString(stored.substr(0, bar)), AnsiString(stored.substr(bar + 1))};
}

std::optional<AnsiString> AutoValue(std::string_view text, char open, char close, const TAutoValues& values) {
  if (text.size() < 3 || text.front() != open || text.back() != close) return std::nullopt;
  const std::string_view word = text.substr(1, text.size() - 2);
  static const TSessionValues kNobody;
  const TSessionValues& s = values.session ? *values.session : kNobody;
  const TFormatSettings& fs = DefaultFormatSettings();
  if (word == "UserName") return s.UserName;
  if (word == "UserGUID") return s.UserGUID;
  if (word == "CompName") return s.CompName;
  if (word == "DeptName") return s.DeptName;
  if (word == "DutyName") return s.DutyName;
  if (word == "DateTime") return DateTimeToStr(values.now, fs);
  if (word == "Date") return DateToStr(values.now, fs);
  if (word == "Time") return TimeToStr(values.now, fs);
  if (word == "DateChina") return FormatDateTime("dddddd", values.now, fs);
  return std::nullopt;
}

int ComboIndexOf(const std::vector<TComboSource>& sources, const AnsiString& sourceName, const AnsiString& cellText,
                 const AnsiString& value) {
  if (!sourceName.empty()) {
    const TComboSource* s = FindSource(sources, sourceName);
    return s ? IndexIn(Lines(s->values), value) : -1;
  }
  return IndexIn(Lines(cellText), value);
}

AnsiString ComboStoredValue(const std::vector<TComboSource>& sources, const AnsiString& sourceName,
                            const AnsiString& displayText) {
  if (sourceName.empty()) return displayText;
  const TComboSource* s = FindSource(sources, sourceName);
  if (!s) return {};
  const int i = IndexIn(Lines(s->items), displayText);
  const std::vector<AnsiString> values = Lines(s->values);
  return i >= 0 && size_t(i) < values.size() ? values[size_t(i)] : AnsiString();
}

bool IsComboCell(const TXLCell& cell) {
  const TXLEditorClass* editor = cell.GetEditorClass();
  if (!editor) return false;
  if (editor->ClassName() == "TXLComboBox") return true;
  // A list cell picked from a pick list holds its choice as an item index, like a combo.
  return editor->ClassName() == "TXLPickEdit" && dynamic_cast<const TXLCStrings*>(&cell) != nullptr;
}

bool IsDateCell(const TXLCell& cell) { return dynamic_cast<const TXLCDateTime*>(&cell) != nullptr; }

TXLCell* TTemplateFields::CellOf(const TFieldEntry& f) const {
  return cells_ ? sheet_.GetCell(f.col, f.row) : nullptr;
}

const TFieldEntry* TTemplateFields::Find(const AnsiString& name) const {
  for (const TFieldEntry& f : doc_.Fields)
    if (f.name == name) return &f;
  return nullptr;
}

void TTemplateFields::FillDefaults(bool newDoc, const TAutoValues& values) {
  const bool draft = doc_.Header.U8(dh::UnsavedDraft) != 0;
  for (TFieldEntry& f : doc_.Fields) {
    TXLCell* cell = CellOf(f);
    if (!cell) continue;
    if (newDoc) {
      if (auto v = AutoValue(cell->GetAsString(), '[', ']', values)) cell->SetAsString(*v);
      continue;
    }
    const auto [value, hint] = SplitValueHint(f.stored);
    if (!value.empty()) {
      if (IsComboCell(*cell))
        cell->SetAsInteger(ComboIndexOf(doc_.ComboSources, cell->GetFormatSuffix(), cell->GetAsString(), value));
      else
        cell->SetAsString(value);
    } else if (IsDateCell(*cell) && !draft) {
      // Every save sends every field, so a saved document without a date here had it left
      // empty: the template's date is not the document's.
      cell->SetAsDateTime(0);
    }
    cell->SetHint(hint);
  }
}

void TTemplateFields::ApplyStepPermissions(const TStepRecord* step, int32_t userLevel, bool readOnly,
                                           const TAutoValues& values) {
  std::vector<AnsiString> editable;
  if (step && !step->editableCells.empty()) {
    const AnsiString& text = step->editableCells;
    size_t pos = 0;
    for (size_t comma; (comma = text.find(',', pos)) != AnsiString::npos; pos = comma + 1)
      editable.push_back(text.substr(pos, comma - pos));
    if (pos < text.size()) editable.push_back(text.substr(pos));
  }
  const int32_t numberType = doc_.Header.I32(dh::NumberType);
  const AnsiString numberField = doc_.Header.Text(dh::NumberField);
  for (TFieldEntry& f : doc_.Fields) {
    TXLCell* cell = CellOf(f);
    if (!cell) continue;
    if (numberType != -1 && step && step->showNumbering && !numberField.empty() && f.name == numberField) {
      cell->RefreshEditor();
      int year = 0, month = 0, day = 0;
      DecodeDate(values.now, year, month, day);
      cell->SetAsString(doc_.Header.Text(dh::NumberPrefix) + "[" + IntToStr(year) + "]" +
                        IntToStr(doc_.Header.I32(dh::Number)) + Cp936("号"));
    }
    const std::optional<AnsiString> token = AutoValue(cell->GetAsString(), '(', ')', values);
    if (!editable.empty()) {
      if (std::find(editable.begin(), editable.end(), f.name) != editable.end()) {
        cell->SetColor(kEditableCellColor);
        if (token) f.stored = *token;
      } else {
        if (userLevel != 1 && userLevel != 2 && !readOnly)
          cell->SetStyles(TXLCellStyles(cell->Styles() | CellStyleBit(csReadOnly)));
        if (token && f.stored.empty()) cell->SetAsString("");
      }
    }
    if (IsComboCell(*cell) && !cell->GetFormatSuffix().empty())
      if (const TComboSource* s = FindSource(doc_.ComboSources, cell->GetFormatSuffix())) cell->SetAsString(s->items);
  }
}

void TTemplateFields::LockLabels() {
  if (!cells_) return;
  // By the cell, not its position: a merged field is found again at every position it covers.
  std::vector<const TXLCell*> fields;
  for (const TFieldEntry& f : doc_.Fields)
    if (const TXLCell* cell = sheet_.FindCell(f.col, f.row)) fields.push_back(cell);
  ForEachClientCell(sheet_, [&](TXLCell& cell, int32_t, int32_t) {
    if (std::find(fields.begin(), fields.end(), &cell) == fields.end())
      cell.SetStyles(TXLCellStyles(cell.Styles() | CellStyleBit(csReadOnly)));
  });
}

void TTemplateFields::ClearCellHints() {
  ForEachClientCell(sheet_, [](TXLCell& cell, int32_t, int32_t) {
    if (!cell.Hint().empty()) cell.SetHint("");
  });
}

void TTemplateFields::FillAttachmentCells() {
  AnsiString names;
  for (const AnsiString& n : doc_.AttachmentNames) JoinName(names, n);
  ForEachClientCell(sheet_, [&](TXLCell& cell, int32_t, int32_t) {
    if (cell.GetAsString() == "[Attach]") cell.SetAsString(names);
  });
}

AnsiString TTemplateFields::CellValue(TXLCell& cell) const {
  if (IsComboCell(cell)) return ComboStoredValue(doc_.ComboSources, cell.GetFormatSuffix(), cell.GetDisplayText());
  // A date cell shows day zero of the calendar blank: it holds no date.
  if (IsDateCell(cell) && cell.GetAsDateTime() == 0) return {};
  return cell.GetAsString();
}

bool TTemplateFields::CollectFieldValues(bool changed, bool commit) {
  for (TFieldEntry& f : doc_.Fields) {
    if (TXLCell* cell = CellOf(f)) {
      f.edited = CellValue(*cell);
      const AnsiString hint = cell->Hint();
      if (!hint.empty()) f.edited += "|" + hint;
    } else {
      f.edited = f.stored;
    }
    if (f.edited != f.stored) {
      changed = true;
      if (commit) f.stored = f.edited;
    }
  }
  return changed;
}

AnsiString TTemplateFields::GetFieldValue(const AnsiString& name) const {
  const TFieldEntry* f = Find(name);
  if (!f) return {};
  TXLCell* cell = CellOf(*f);
  if (!cell) return Trim(SplitValueHint(f->stored).first);
  cell->RefreshEditor();
  if (IsComboCell(*cell)) {
    const AnsiString source = cell->GetFormatSuffix();
    return source.empty() ? Trim(cell->GetDisplayText())
                          : ComboStoredValue(doc_.ComboSources, source, cell->GetDisplayText());
  }
  if (IsDateCell(*cell)) return CellValue(*cell);
  return Trim(cell->GetAsString());
}

AnsiString TTemplateFields::CheckTitle(const AnsiString& titleField) const {
  if (titleField.empty()) return {};
  const TFieldEntry* f = Find(titleField);
  TXLCell* cell = f ? CellOf(*f) : nullptr;
  if (!cell || !cell->GetDisplayText().empty()) return {};
  return Cp936("请输入标题");
}

void TTemplateFields::HideFilledRows() {
  std::vector<int32_t> rows;
  ForEachClientCell(sheet_, [&](TXLCell& cell, int32_t, int32_t r) {
    if ((cell.Styles() & CellStyleBit(csHidden)) && !cell.GetAsString().empty()) rows.push_back(r);
  });
  for (int32_t r : rows) sheet_.SetVisible(r, sRows, false);
}

TCommandButtons ArrangeButtonSet(const TStepRecord* step, bool isStartStep, int32_t status) {
  TCommandButtons b;
  b.temporary = isStartStep;
  b.distribution = step && step->showDistribute;
  b.archive = step && step->showArchive;
  b.number = step && step->showNumbering;
  b.send = status != 2;
  const int shown = int(b.number) + int(b.temporary) + int(b.distribution) + int(b.send) + int(b.archive);
  b.panelWidth = (shown + 2) * kCommandButtonWidth;
  return b;
}
