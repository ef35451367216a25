#include "Intent.h"

#include <QString>
#include <algorithm>
#include <map>

#include "ServerState.h"
#include "core/AnsiString.h"

namespace walk {
namespace {

// A multi-line box sends CR LF; trailing blanks are nobody's meaning.
std::string Plain(std::string s) {
  std::erase(s, '\r');
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

bool ListHas(const std::string& list, const std::string& name) {
  size_t from = 0;
  for (;;) {
    const size_t comma = list.find(',', from);
    if (list.substr(from, comma == std::string::npos ? std::string::npos : comma - from) == name) return true;
    if (comma == std::string::npos) return false;
    from = comma + 1;
  }
}

std::string Lower(const std::string& s) { return QString::fromStdString(s).toLower().toStdString(); }

}  // namespace

std::vector<std::string> CommentDifferences(const std::string& db, const std::string& recordId, std::string sent) {
  sent = Plain(sent);
  // The request carries 255 bytes of code page 936: a longer comment is cut, not compared.
  if (Utf8ToCp936(sent).size() >= 255) return {};
  const std::vector<std::string> held = ReadComments(db, recordId);
  for (const std::string& c : held)
    if (Plain(c) == sent) return {};
  std::string last = held.empty() ? "none" : "\"" + Plain(held.back()) + "\"";
  return {"the sign-off sent \"" + sent + "\", and among the " + std::to_string(held.size()) +
          " comments the server holds for " + recordId + " none is that text (the last: " + last + ")"};
}

std::vector<std::string> FlowDifferences(const std::string& db, const FlowSeen& seen) {
  const std::vector<StoredFlow> flows = ReadWorkflows(db);
  const auto flow = std::find_if(flows.begin(), flows.end(), [&](const StoredFlow& f) { return f.name == seen.flowName; });
  if (flow == flows.end()) return {"the server holds no workflow named \"" + seen.flowName + "\""};
  std::vector<std::string> out;
  std::map<std::string, int> count;
  for (const std::string& s : seen.steps) ++count[s];
  for (const StoredStep& s : flow->steps) --count[s.name];
  for (const auto& [name, n] : count)
    if (n > 0) out.push_back("the chart shows step \"" + name + "\" " + std::to_string(n) + " more time(s) than the server holds it");
    else if (n < 0) out.push_back("the server holds step \"" + name + "\" " + std::to_string(-n) + " more time(s) than the chart shows it");
  const auto named = [&](const std::string& name) -> const StoredStep* {
    if (std::count_if(flow->steps.begin(), flow->steps.end(), [&](const StoredStep& s) { return s.name == name; }) != 1)
      return nullptr;
    return &*std::find_if(flow->steps.begin(), flow->steps.end(), [&](const StoredStep& s) { return s.name == name; });
  };
  if (seen.panel)
    if (const StoredStep* s = named(seen.name)) {
      const auto field = [&](const char* what, const std::string& shown, const std::string& held) {
        if (shown != held)
          out.push_back("step \"" + seen.name + "\": its " + what + " showed \"" + shown + "\", the server holds \"" + held + "\"");
      };
      field("handlers", seen.handlers, s->handlers);
      field("days", seen.days, s->days);
      field("editable cells", seen.editableCells, s->editableCells);
      field("opinion cell", seen.opinionCell, s->opinionCell);
    }
  for (const auto& [from, to] : seen.drawn) {
    const StoredStep* a = named(from);
    const StoredStep* b = named(to);
    if (!a || !b) continue;  // a name the chart holds twice: which one is not known
    if (!ListHas(a->nextSteps, to) || !ListHas(b->previousSteps, from))
      out.push_back("the person connected \"" + from + "\" to \"" + to + "\"; the server holds next steps \"" + a->nextSteps +
                    "\" for the first and previous steps \"" + b->previousSteps + "\" for the second");
  }
  return out;
}

std::vector<std::string> BodyDifferences(const std::string& db, const std::string& recordId,
                                         const std::vector<std::string>& words) {
  if (words.empty()) return {};
  std::vector<std::string> texts;
  if (const std::optional<std::string> body = ReadBody(db, recordId))
    if (const std::optional<std::string> t = DocxText(*body)) texts.push_back(Lower(*t));
  for (const std::string& file : ReadAttachmentData(db, recordId))
    if (const std::optional<std::string> t = DocxText(file)) texts.push_back(Lower(*t));
  std::vector<std::string> out;
  // No .docx held: what was typed went into a file whose text is not read back.
  if (texts.empty()) return out;
  for (const std::string& w : words)
    // The office suite may capitalise the first letter of a sentence.
    if (std::none_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(Lower(w)) != std::string::npos; }))
      out.push_back("the person typed \"" + w + "\" into the Word document of " + recordId + " and saved it, and none of the " +
                    std::to_string(texts.size()) + " Word files the server holds for it (its body, its .docx attachments) has that text");
  return out;
}

}  // namespace walk
