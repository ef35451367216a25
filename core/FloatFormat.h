#pragma once
// Number text as the class framework writes and reads it: FormatFloat masks, the general
// 15-digit form, currency text and locale-aware parsing. Never the C locale: the
// separators come from TFormatSettings.
#include <cstdint>
#include <string_view>

#include "core/AnsiString.h"
#include "core/DateTime.h"

// The mask language: up to three sections "positive;negative;zero"; "0" a digit or zero,
// "#" a digit or nothing, "." the decimal separator, "," anywhere before it turns on
// thousands grouping, "E+"/"E-"/"e+"/"e-" followed by zeros an exponent, quoted text
// literal, any other character literal. An empty mask gives the general form.
AnsiString FormatFloat(std::string_view mask, double value,
                       const TFormatSettings& fs = DefaultFormatSettings());

// General form with 15 significant digits: fixed point while the integer part has at most
// 15 digits and the value is at least 0.0001, else scientific ("1E-5", "1.5E20").
AnsiString FloatToStr(double value, const TFormatSettings& fs = DefaultFormatSettings());

// Currency held as value x 10000, written with up to four decimals and no grouping.
AnsiString CurrToStr(int64_t scaled, const TFormatSettings& fs = DefaultFormatSettings());

// Blanks around the text, a sign, digits with the locale's decimal separator, an optional
// exponent. Raises EConvertError "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text, const TFormatSettings& fs = DefaultFormatSettings());
bool TryStrToFloat(std::string_view text, double& out,
                   const TFormatSettings& fs = DefaultFormatSettings());

