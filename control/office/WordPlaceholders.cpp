#include "control/office/WordPlaceholders.h"

#include "platform/office/OfficeDocument.h"

namespace {
TPlaceholderSource& Source() {
  static TPlaceholderSource source;
  return source;
}
}  // namespace

void SetPlaceholderSource(TPlaceholderSource source) { Source() = std::move(source); }
const TPlaceholderSource& PlaceholderSource() { return Source(); }

AnsiString TextBeforeBar(const AnsiString& value) {
  size_t bar = value.find('|');
  return bar == AnsiString::npos ? value : value.substr(0, bar);
}

void FillWordPlaceholders(IOfficeDocument& doc, const TFieldValues& fields) {
  for (const auto& [name, value] : fields) {
    if (value.empty()) continue;
    // Replaced literally and whole: no pattern characters, no length cap.
    doc.ReplaceAll(Cp936ToUtf8("[" + name + "]"), Cp936ToUtf8(TextBeforeBar(value)));
  }
}
