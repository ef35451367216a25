#pragma once
// Document numbers: the server's number list ("BHQZ"), the number taken from it and the
// formatted number written into the form's number field.
#include <QFrame>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "control/wire/Frames.h"

class QLineEdit;
class QListWidget;

// Trimmed prefix "[" trimmed year "]" number "号".
AnsiString FormatDocNumber(const AnsiString& prefix, const AnsiString& year, int32_t number);
// One list line per entry: trimmed type name " | " next free number.
std::vector<AnsiString> NumberListLines(const std::vector<frames::NumberEntry>& entries);

struct TTakenNumber {
  int index = -1;       // ChosenNumber
  int32_t typeId = 0;   // header +248
  int32_t number = 0;   // header +252
  AnsiString text;      // the number field's text
};
// The number for list line `selected`: the typed number when there is one, else the
// entry's next free number. Nothing for no or a stale selection; a typed text that is not
// a decimal integer raises EConvertError.
std::optional<TTakenNumber> TakeNumber(const std::vector<frames::NumberEntry>& entries, int selected,
                                       const AnsiString& typed, const AnsiString& year);

// pnlNO: year, typed number, the number list, "确定" and "取消".
class TNumberPanel : public QFrame {
 public:
  explicit TNumberPanel(QWidget* parent);

  // "编号": this year, no typed number.
  void Open(int year);
  // A "BHQZ" reply: fills the list and shows the panel. Raises frames::EFrameError and
  // changes nothing when it does not parse.
  void ShowNumberList(std::string_view reply);
  // "确定": takes the number (see TakeNumber) and hides the panel; does nothing without a
  // valid selection.
  void Confirm();

  std::function<void(const TTakenNumber&)> OnNumberTaken;

  QLineEdit* edtYear() const { return year_; }
  QLineEdit* edtNO() const { return number_; }
  QListWidget* flbNO() const { return list_; }
  const std::vector<frames::NumberEntry>& Entries() const { return entries_; }

 private:
  QLineEdit* year_;
  QLineEdit* number_;
  QListWidget* list_;
  std::vector<frames::NumberEntry> entries_;
};
