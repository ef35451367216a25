#include "control/ReplyText.h"

namespace {
constexpr size_t kLineBytes = 18;
}  // namespace

AnsiString WrapMessageText(std::string_view text) {
  AnsiString out;
  size_t pos = 0;
  for (int line = 0; line < 2 && text.size() - pos > kLineBytes; ++line) {
    // A line that would end after a lead byte ends one byte earlier.
    const size_t len = Cp936SafeCut(text.substr(pos), kLineBytes);
    out.append(text.substr(pos, len));
    out.append("\r\n");
    pos += len;
  }
  out.append(text.substr(pos));
  return out;
}

std::optional<AnsiString> ServerFileName(std::string_view name) {
  // Scan by characters: a trail byte of a double-byte character may be '\'.
  size_t start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const uint8_t c = uint8_t(name[i]);
    if (IsDbcsLeadByte(c) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') start = i + 1;
  }
  AnsiString last(name.substr(start));
  if (last.empty() || last == "." || last == "..") return std::nullopt;
  if (last.find('\0') != AnsiString::npos) return std::nullopt;
  return last;
}
