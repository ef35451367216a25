// The document form's fields over its sheet, free of widgets: which cells are fields,
// what they show when the document opens, which of them the current step may edit, and
// what goes back to the server. The field table lives in the document record.
#pragma once

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "control/form/TemplateButtons.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/StepRecord.h"
#include "control/wire/Un_type.h"
#include "core/DateTime.h"
#include "grid/XLSheet.h"

inline constexpr TColor kEditableCellColor = 14150399;

// Appends name to a ","-joined list.
void JoinName(AnsiString& names, const AnsiString& name);

// The cells named by their hints become fields, columns outer and rows inner; the first
// cell of a name wins.
std::vector<TFieldEntry> ScanCellFields(const TXLSheet& sheet);

// "value|hint" split at the first "|"; no "|": all value, empty hint.
std::pair<AnsiString, AnsiString> SplitValueHint(std::string_view stored);

// What the automatic tokens stand for when the form opens.
struct TAutoValues {
  const TSessionValues* session = nullptr;
  TDateTime now = 0;
};
// The value of "[UserName]" and its kin (brackets '[' ']') or "(UserName)" and its kin
// (brackets '(' ')'); nothing when text is no token.
std::optional<AnsiString> AutoValue(std::string_view text, char open, char close, const TAutoValues& values);

// Index of value in the combo's stored values (the source of that name), or in the
// cell's own item lines when the format names no source; -1 when absent.
int ComboIndexOf(const std::vector<TComboSource>& sources, const AnsiString& sourceName,
                 const AnsiString& cellText, const AnsiString& value);
// The stored value behind a displayed item; without a source the text itself.
AnsiString ComboStoredValue(const std::vector<TComboSource>& sources, const AnsiString& sourceName,
                            const AnsiString& displayText);

// A cell whose value is the item a person picked: a combo box, or a list cell edited
// through a pick list.
bool IsComboCell(const TXLCell& cell);
// A date cell; day zero of the calendar is its empty date.
bool IsDateCell(const TXLCell& cell);

// The sheet side of the form's fields. Fields that came from the record (no cell named
// them) never touch the sheet.
class TTemplateFields {
 public:
  TTemplateFields(TXLSheet& sheet, TStream2Array& doc, bool fieldsHaveCells)
      : sheet_(sheet), doc_(doc), cells_(fieldsHaveCells) {}

  TXLCell* CellOf(const TFieldEntry& f) const;
  const TFieldEntry* Find(const AnsiString& name) const;

  // New document: exact bracket tokens replaced. Stored document: the stored value and
  // hint written into each cell (combo cells by item index); a date cell without a stored
  // date is blank, unless the document is a draft never saved.
  void FillDefaults(bool newDoc, const TAutoValues& values);
  // Colours and locks the cells of the current step (step null: no permissions).
  void ApplyStepPermissions(const TStepRecord* step, int32_t userLevel, bool readOnly, const TAutoValues& values);
  // Cells that are no field (labels, headings) take no typing: what is typed there
  // would be printed but never stored.
  void LockLabels();
  void ClearCellHints();
  void FillAttachmentCells();
  // Reads every field into its edited value; true when `changed` or some edited value
  // differs from the stored one; `commit` copies the differing ones into the stored value.
  bool CollectFieldValues(bool changed, bool commit);
  AnsiString GetFieldValue(const AnsiString& name) const;
  // "请输入标题" when the title field's cell shows nothing; else empty.
  AnsiString CheckTitle(const AnsiString& titleField) const;
  // Hides every row holding a hidden-style cell with text.
  void HideFilledRows();

 private:
  AnsiString CellValue(TXLCell& cell) const;
  TXLSheet& sheet_;
  TStream2Array& doc_;
  bool cells_;
};
