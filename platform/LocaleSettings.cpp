#include "platform/LocaleSettings.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "core/DateTime.h"
#include "core/SysUtils.h"
#include "platform/ConfigFile.h"

namespace {

constexpr std::string_view kSection = "[Locale]";
constexpr std::uintmax_t kMaxFileSize = 1u << 20;

// Spaces, tabs and the CR of a CRLF file; any other byte belongs to the key or value.
std::string TrimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

// A missing file has no lines; false when the file is there but cannot be used.
bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
  const ConfigFileText file = ReadConfigFile(path, kMaxFileSize);
  lines = SplitLines(file.text);
  return file.status == ConfigFileText::Read || file.status == ConfigFileText::Missing;
}

bool IsSection(const std::string& line) {
  std::string t = TrimBlanks(line);
  return !t.empty() && t.front() == '[' && t.back() == ']';
}

// Index of the key's line in the Locale section, or -1.
int FindKey(const std::vector<std::string>& lines, const std::string& key, int& sectionEnd, int& sectionStart) {
  sectionStart = -1;
  sectionEnd = -1;
  int found = -1;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsSection(lines[i])) {
      inSection = LowerCase(TrimBlanks(lines[i])) == LowerCase(kSection);
      if (inSection && sectionStart < 0) sectionStart = static_cast<int>(i);
      continue;
    }
    if (!inSection) continue;
    sectionEnd = static_cast<int>(i);
    size_t eq = lines[i].find('=');
    if (eq != std::string::npos && LowerCase(TrimBlanks(lines[i].substr(0, eq))) == LowerCase(key)) found = static_cast<int>(i);
  }
  if (sectionEnd < 0) sectionEnd = sectionStart;
  return found;
}

bool SingleByte(const AnsiString& v, char& out) {
  if (v.size() != 1 || static_cast<unsigned char>(v[0]) >= 0x80) return false;
  out = v[0];
  return true;
}

// Puts one setting into the process-wide values; unknown keys and unusable values are
// left alone.
void Apply(const std::string& key, const AnsiString& value) {
  TFormatSettings& fs = DefaultFormatSettings();
  std::string k = LowerCase(key);
  if (k == "sshortdate") {
    if (!value.empty()) fs.ShortDateFormat = value;
  } else if (k == "slongdate") {
    if (!value.empty()) fs.LongDateFormat = value;
  } else if (k == "sshorttime") {
    if (!value.empty()) fs.ShortTimeFormat = value;
  } else if (k == "slongtime") {
    if (!value.empty()) fs.LongTimeFormat = value;
  } else if (k == "sdate") {
    SingleByte(value, fs.DateSeparator);
  } else if (k == "stime") {
    SingleByte(value, fs.TimeSeparator);
  } else if (k == "s1159") {
    fs.TimeAMString = value;
  } else if (k == "s2359") {
    fs.TimePMString = value;
  } else if (k == "sdecimal") {
    SingleByte(value, fs.DecimalSeparator);
  } else if (k == "sthousand") {
    SingleByte(value, fs.ThousandSeparator);
  }
}

// The separator a date format uses between its parts ('-' in "yyyy-MM-dd").
char DateSeparatorOf(const AnsiString& format) {
  bool quoted = false;
  char quote = 0;
  for (char c : format) {
    if (quoted) {
      if (c == quote) quoted = false;
      continue;
    }
    if (c == '\'' || c == '"') {
      quoted = true;
      quote = c;
      continue;
    }
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) return 0;
    if (!std::isalpha(u)) return c == ' ' ? 0 : c;
  }
  return 0;
}

}  // namespace

namespace LocaleSettings {

std::string FilePath() {
  if (const char* env = std::getenv("TARVO_LOCALE_FILE"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return std::string(xdg) + "/tarvo/locale.ini";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/tarvo/locale.ini";
}

bool Load() {
  std::vector<std::string> lines;
  if (!ReadLines(FilePath(), lines)) return false;
  bool inSection = false;
  for (const std::string& line : lines) {
    if (IsSection(line)) {
      inSection = LowerCase(TrimBlanks(line)) == LowerCase(kSection);
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    Apply(TrimBlanks(line.substr(0, eq)), Utf8ToCp936(TrimBlanks(line.substr(eq + 1))));
  }
  return true;
}

AnsiString Value(const std::string& key) {
  std::vector<std::string> lines;
  if (!ReadLines(FilePath(), lines)) return {};
  int start, end;
  int i = FindKey(lines, key, end, start);
  if (i < 0) return {};
  const std::string& line = lines[static_cast<size_t>(i)];
  return Utf8ToCp936(TrimBlanks(line.substr(line.find('=') + 1)));
}

bool SetValue(const std::string& key, const AnsiString& value) {
  Apply(key, value);
  const std::string path = FilePath();
  std::vector<std::string> lines;
  // An unreadable file is not replaced: what it holds would be lost.
  if (!ReadLines(path, lines)) return false;
  std::string entry = key + "=" + Cp936ToUtf8(value);
  int start, end;
  int i = FindKey(lines, key, end, start);
  if (i >= 0) {
    lines[static_cast<size_t>(i)] = entry;
  } else if (start >= 0) {
    lines.insert(lines.begin() + end + 1, entry);
  } else {
    lines.push_back(std::string(kSection));
    lines.push_back(entry);
  }
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return WriteConfigFileAtomically(path, text) == 0;
}

bool SetShortDateFormat(const AnsiString& format) {
  bool ok = SetValue("sShortDate", format);
  // As on the desktop, setting the short date also sets the date separator.
  if (char sep = DateSeparatorOf(format)) ok = SetValue("sDate", AnsiString(1, sep)) && ok;
  return ok;
}

}  // namespace LocaleSettings
