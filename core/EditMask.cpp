#include "core/EditMask.h"

#include "core/AnsiString.h"

namespace {

bool IsInputChar(char c) {
  switch (c) {
    case 'L':
    case 'l':
    case 'A':
    case 'a':
    case 'C':
    case 'c':
    case '0':
    case '9':
    case '#':
      return true;
    default:
      return false;
  }
}

// The body ends at the first unescaped ';'; the fields after it are read from there.
size_t BodyEnd(std::string_view mask) {
  for (size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] == '\\') {
      ++i;
      continue;
    }
    if (mask[i] == ';') return i;
  }
  return mask.size();
}

char ApplyCase(char c, int mode) {
  if (mode > 0 && c >= 'a' && c <= 'z') return static_cast<char>(c - 32);
  if (mode < 0 && c >= 'A' && c <= 'Z') return static_cast<char>(c + 32);
  return c;
}

}  // namespace

TEditMask ParseEditMask(std::string_view mask, const TFormatSettings& fs) {
  TEditMask m;
  const size_t end = BodyEnd(mask);
  if (end < mask.size()) {
    std::string_view rest = mask.substr(end + 1);
    const size_t semi = rest.find(';');
    std::string_view save = rest.substr(0, semi);
    m.SaveLiterals = !(save.size() == 1 && save[0] == '0');
    if (semi != std::string_view::npos && semi + 1 < rest.size()) m.Blank = rest[semi + 1];
  }
  int caseMode = 0;
  for (size_t i = 0; i < end; ++i) {
    const char c = mask[i];
    if (c == '!') {
      m.RightAlign = true;
      continue;
    }
    if (c == '<' && i + 1 < end && mask[i + 1] == '>') {
      caseMode = 0;
      ++i;
      continue;
    }
    if (c == '>') {
      caseMode = 1;
      continue;
    }
    if (c == '<') {
      caseMode = -1;
      continue;
    }
    TEditMaskPosition p;
    p.Case = caseMode;
    if (c == '\\' && i + 1 < end) {
      p.Literal = true;
      p.Char = mask[++i];
    } else if (IsInputChar(c)) {
      p.Char = c;
    } else {
      p.Literal = true;
      p.Char = c == ':' ? fs.TimeSeparator : c == '/' ? fs.DateSeparator : c == '_' ? ' ' : c;
    }
    m.Positions.push_back(p);
  }
  return m;
}

bool MaskCharAccepted(char kind, char c) {
  const auto u = static_cast<unsigned char>(c);
  const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || u >= 0x80;
  const bool digit = c >= '0' && c <= '9';
  switch (kind) {
    case 'L':
    case 'l':
      return letter;
    case 'A':
    case 'a':
      return letter || digit;
    case '0':
    case '9':
      return digit;
    case '#':
      return digit || c == '+' || c == '-';
    default:
      return u >= 0x20;
  }
}

AnsiString FormatMaskText(std::string_view mask, std::string_view text, const TFormatSettings& fs) {
  const TEditMask m = ParseEditMask(mask, fs);
  std::string value(text);
  if (m.RightAlign && !m.SaveLiterals) {
    size_t inputs = 0;
    for (const auto& p : m.Positions) inputs += !p.Literal;
    if (value.size() < inputs) value.insert(0, inputs - value.size(), ' ');
  }
  AnsiString out;
  size_t j = 0;
  for (const auto& p : m.Positions) {
    if (p.Literal) {
      out.push_back(p.Char);
      // A saved literal stands in the text at its own position.
      if (m.SaveLiterals && j < value.size() && value[j] == p.Char) ++j;
      continue;
    }
    out.push_back(j < value.size() ? ApplyCase(value[j++], p.Case) : ' ');
  }
  return out;
}
