// The document form's field values and their saves: reading and collecting the fields,
// the "UPDA" save and its reply, and whether closing must ask.
#pragma once

#include <cstdint>
#include <vector>

#include "control/office/WordPlaceholders.h"
#include "core/AnsiString.h"

class TTemplateFields;
class TfrmTemplate;

class TTemplateValues {
 public:
  explicit TTemplateValues(TfrmTemplate& form) : form_(form) {}

  TTemplateFields Fields() const;
  // Stores what the person typed into the open editor; false when the text does not
  // convert (the person has been told, and the editor keeps it).
  bool StoreEdit() const;
  AnsiString GetFieldValue(const AnsiString& name) const;
  bool CollectFieldValues(bool changed, bool commit) const;
  AnsiString CheckTitle() const;
  // The edited values the Word body's placeholders take.
  TFieldValues PlaceholderFields() const;
  // What the form showed once it had opened: no change of the person's.
  void RememberOpened();

  // Sends the "UPDA" frame when something changed (or forced); the values count
  // as saved only when the server's reply accepts them. False when nothing went out.
  bool SaveDocument(int32_t status, bool forced);
  bool SaveFields(uint8_t temporary, uint8_t distribution, int32_t status);
  // Whether closing must ask: some field differs from what the server holds, and the
  // person changed it since the form opened or a save of it was sent from here.
  bool HasUnsavedWork() const;

 private:
  // How a save's request ended; sent: the edited values it carried.
  void SaveEnded(const std::vector<AnsiString>& sent, bool accepted);

  TfrmTemplate& form_;
  // Each field's value as the form showed it when it had opened.
  std::vector<AnsiString> openedValues_;
  bool saveSent_ = false;
};
