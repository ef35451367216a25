#pragma once
// The small string and number helpers the whole system leans on, with the class
// framework's behaviour and error texts.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/AnsiString.h"

AnsiString Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

AnsiString IntToStr(int64_t v);
AnsiString IntToHex(int64_t v, int digits);
// Accepts surrounding blanks before the number, a sign, and "$"/"0x" hex; raises
// EConvertError "'<text>' is not a valid integer value" otherwise or on 32-bit overflow.
int32_t StrToInt(std::string_view s);
bool TryStrToInt(std::string_view s, int32_t& out);
int32_t StrToIntDef(std::string_view s, int32_t def);

AnsiString Trim(std::string_view s);
AnsiString TrimLeft(std::string_view s);
AnsiString TrimRight(std::string_view s);
AnsiString UpperCase(std::string_view s);
AnsiString LowerCase(std::string_view s);

// A file name's extension with its dot: from the last '.' that follows the last '/' or '\\'
// to the end; empty when the name part has no dot. A name that starts with its only dot
// (".profile") is all extension, and a trailing dot gives ".", as the framework has it.
AnsiString ExtractFileExt(std::string_view fileName);

// The framework's texts of the variant conversion errors, given the type names.
AnsiString VariantCastErrorText(std::string_view from, std::string_view to);
AnsiString VariantOverflowErrorText(std::string_view from, std::string_view to);

// a * b / c with a 64-bit product, rounded half away from zero; -1 when c is 0 or the
// result does not fit 32 bits, as the desktop API does.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);
