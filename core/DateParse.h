#pragma once
// Reading dates and times typed by a person or stored as text, the way the class framework
// reads them: numbers in the order of the short date format, separated by the locale's
// date separator; hours, minutes, seconds and milliseconds with an optional AM/PM mark.
#include <string_view>

#include "core/AnsiString.h"
#include "core/DateTime.h"

// Two numbers are month and day of the current year; a year of one or two digits is put in
// the century window. Raise EConvertError "'<text>' is not a valid date" / "... time" /
// "... date and time".
TDateTime StrToDate(std::string_view text, const TFormatSettings& fs = DefaultFormatSettings());
TDateTime StrToTime(std::string_view text, const TFormatSettings& fs = DefaultFormatSettings());
TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs = DefaultFormatSettings());
bool TryStrToDate(std::string_view text, TDateTime& out, const TFormatSettings& fs = DefaultFormatSettings());
bool TryStrToTime(std::string_view text, TDateTime& out, const TFormatSettings& fs = DefaultFormatSettings());
bool TryStrToDateTime(std::string_view text, TDateTime& out,
                      const TFormatSettings& fs = DefaultFormatSettings());
