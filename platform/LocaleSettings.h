#pragma once
// The per-user locale settings (date and time formats and separators), kept in a small
// file: $TARVO_LOCALE_FILE, else ~/.config/tarvo/locale.ini. Load() applies the file to
// core's DefaultFormatSettings() when the control loads; the setters write the file and
// change DefaultFormatSettings() at once, so the running process sees the new value.
//
// File: "key=value" lines (UTF-8) under "[Locale]": sShortDate, sLongDate, sShortTime,
// sLongTime, sDate, sTime, s1159, s2359, sDecimal, sThousand. Lines and keys it does not
// know are kept as they are when the file is written.
#include <string>

#include "core/AnsiString.h"

namespace LocaleSettings {

std::string FilePath();

// Applies the values found in the file; a missing file or a bad line changes nothing.
// Returns false when the file exists but cannot be read.
bool Load();

// Stores a short date format in the file (e.g. "yyyy-MM-dd") and in
// DefaultFormatSettings(); the date separator follows the format's first separator
// character. Returns false when the file cannot be written (the in-process value is
// set regardless), which callers may ignore as the system always has.
bool SetShortDateFormat(const AnsiString& format);

// Any setting by its file key; the same rules as above.
bool SetValue(const std::string& key, const AnsiString& value);
AnsiString Value(const std::string& key);  // from the file; empty when absent

}  // namespace LocaleSettings
