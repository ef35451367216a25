// The document form's field values written into the Word document it opened: every
// "[" field name "]" becomes the field's edited value up to its first "|".
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "core/AnsiString.h"

class IOfficeDocument;

// Field name and edited value, code page 936.
using TFieldValues = std::vector<std::pair<AnsiString, AnsiString>>;

// The document form installs its field values here while it exists (empty: none).
using TPlaceholderSource = std::function<TFieldValues()>;
void SetPlaceholderSource(TPlaceholderSource source);
const TPlaceholderSource& PlaceholderSource();

// The text before the first "|" of a value, or the whole text when it has none.
AnsiString TextBeforeBar(const AnsiString& value);

// Replaces the placeholders of the fields whose value is not empty.
void FillWordPlaceholders(IOfficeDocument& doc, const TFieldValues& fields);
