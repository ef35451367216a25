#include "control/wire/ReplyText.h"

#include "core/PrivateTemp.h"

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

bool IsDbcsPair(std::string_view s, size_t i) {
  if (i + 1 >= s.size() || !IsDbcsLeadByte(uint8_t(s[i]))) return false;
  const uint8_t trail = uint8_t(s[i + 1]);
  return trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

size_t LastComponentStart(std::string_view name) {
  // Scan by characters: a trail byte of a double-byte character may be '\',
  // but a lead byte before an invalid trail byte starts no character.
  size_t start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsDbcsPair(name, i)) {
      ++i;
      continue;
    }
    if (name[i] == '\\' || name[i] == '/') start = i + 1;
  }
  return start;
}

std::optional<AnsiString> ServerFileName(std::string_view name) {
  AnsiString last(name.substr(LastComponentStart(name)));
  if (last.empty() || last == "." || last == "..") return std::nullopt;
  if (last.find('\0') != AnsiString::npos) return std::nullopt;
  return last;
}

std::optional<std::string> LocalFileName(std::string_view name) {
  const std::optional<AnsiString> last = ServerFileName(name);
  if (!last) return std::nullopt;
  std::string local = Cp936ToUtf8(*last);
  if (!IsPlainFileName(local)) return std::nullopt;
  return local;
}
