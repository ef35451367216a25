#pragma once
// Edit masks in the class framework's notation, "body;saveLiterals;blank": the body's
// input characters L l A a C c 0 9 # take typed characters, ">" "<" "<>" switch case
// conversion, "!" aligns short text to the right, "\" makes the next character literal,
// ":" and "/" stand for the locale's separators, "_" is a space; anything else is literal.
// A saveLiterals field of "0" means the text carries only the typed characters.
#include <string_view>
#include <vector>

#include "core/AnsiString.h"
#include "core/DateTime.h"

struct TEditMaskPosition {
  bool Literal = false;
  char Char = 0;   // the literal character, or the input character (L l A a C c 0 9 #)
  int Case = 0;    // 1 upper, -1 lower, 0 as typed
};

struct TEditMask {
  std::vector<TEditMaskPosition> Positions;
  bool SaveLiterals = true;
  bool RightAlign = false;  // "!"
  char Blank = '_';
};

TEditMask ParseEditMask(std::string_view mask, const TFormatSettings& fs = DefaultFormatSettings());

// Whether `c` may stand at an input position of the given kind.
bool MaskCharAccepted(char kind, char c);

// The text as the mask shows it: literals in place, the text's characters in the input
// positions (case converted), blanks where the text runs out.
AnsiString FormatMaskText(std::string_view mask, std::string_view text,
                          const TFormatSettings& fs = DefaultFormatSettings());
