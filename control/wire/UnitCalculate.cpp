#include "control/wire/UnitCalculate.h"

#include <optional>

#include "core/SysUtils.h"

namespace {

AnsiString Word(bool b) { return AnsiString(b ? cond::True : cond::False); }

// 1-based position of needle in text, 0 when absent (the form every rule is written in).
size_t Pos(std::string_view needle, std::string_view text) {
  size_t p = text.find(needle);
  return p == std::string_view::npos ? 0 : p + 1;
}

struct Group {
  size_t start;  // 0-based offset of '['
  size_t end;    // 0-based offset one past ']'
  std::string_view Inner(std::string_view s) const { return s.substr(start + 1, end - start - 2); }
};

// The first group of s: from the first '[' to the first ']'. A ']' before the '[' or a
// missing ']' makes the condition malformed.
std::optional<Group> FirstGroup(std::string_view s) {
  size_t open = s.find('[');
  size_t close = s.find(']');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  return Group{open, close + 1};
}

// Takes the first group out of s and returns its text (brackets included when whole).
std::optional<AnsiString> TakeGroup(AnsiString& s, bool whole) {
  auto g = FirstGroup(s);
  if (!g) return std::nullopt;
  AnsiString text(whole ? std::string_view(s).substr(g->start, g->end - g->start) : g->Inner(s));
  s.erase(g->start, g->end - g->start);
  return text;
}

// Step 1: every comparison replaced by its result word, the text around it kept.
bool ReduceComparisons(AnsiString& s, const TConditionContext& context) {
  while (s.find('[') != AnsiString::npos) {
    auto kind = TakeGroup(s, true);
    if (!kind) return false;
    auto name = TakeGroup(s, false);
    if (!name) return false;
    auto op = TakeGroup(s, false);
    if (!op) return false;
    auto literal = FirstGroup(s);
    if (!literal) return false;
    AnsiString result = EvalComparison(*kind, *name, *op, literal->Inner(s), context);
    s.replace(literal->start, literal->end - literal->start, result);
  }
  return true;
}

// Step 2: the innermost parentheses first, each pair replaced by the value of its content.
void ReduceParentheses(AnsiString& s) {
  while (size_t close = Pos(cond::Close, s)) {
    size_t open = InnerOpen(s, close);
    AnsiString inner = s.substr(open, close - open - 1);
    size_t from = open == 0 ? 0 : open - 1;
    s.replace(from, close - from, EvalPair(inner));
  }
}

// Step 3: "&&" and "||" folded strictly left to right.
void ReduceOperators(AnsiString& s) {
  while (size_t p = FirstBoolOp(s)) {
    size_t rest = p - 1 + 2;  // 0-based offset after the operator
    size_t next = FirstBoolOp(std::string_view(s).substr(rest));
    if (next == 0) {
      s = EvalPair(s);
      continue;
    }
    size_t upTo = rest + next - 1;  // 0-based offset of the next operator
    s.replace(0, upTo, EvalPair(std::string_view(s).substr(0, upTo)));
  }
}

AnsiString SessionValue(const AnsiString& name, const TSessionValues* session) {
  if (!session) return {};
  if (name == cond::LoginName) return session->LoginName;
  if (name == cond::UserName) return session->UserName;
  if (name == cond::DeptName) return session->DeptName;
  if (name == cond::RoleName) return session->RoleName;
  if (name == cond::DutyName) return session->DutyName;
  return {};
}

}  // namespace

size_t FirstBoolOp(std::string_view text) {
  size_t a = Pos(cond::And, text);
  size_t b = Pos(cond::Or, text);
  if (a == 0) return b;
  if (b == 0) return a;
  return std::min(a, b);
}

size_t InnerOpen(std::string_view text, size_t closePos) {
  if (closePos <= 1) return 0;
  size_t p = text.substr(0, closePos - 1).rfind('(');
  return p == std::string_view::npos ? 0 : p + 1;
}

AnsiString EvalPair(std::string_view text) {
  size_t p = FirstBoolOp(text);
  if (p == 0) return (text == cond::True || text == cond::False) ? AnsiString(text) : AnsiString();
  const bool isAnd = text.substr(p - 1, 2) == cond::And;
  const bool left = Trim(text.substr(0, p - 1)) == cond::True;
  const bool right = Trim(text.substr(p + 1)) == cond::True;
  return Word(isAnd ? (left && right) : (left || right));
}

AnsiString CompareNumbers(std::string_view literal, std::string_view actual, std::string_view op) {
  int32_t lit = 0, act = 0;
  // Text that is no integer compares as false: the conversion error is not the user's concern.
  if (!TryStrToInt(literal, lit) || !TryStrToInt(actual, act)) return Word(false);
  if (op == cond::Greater) return Word(act > lit);
  if (op == cond::Less) return Word(act < lit);
  if (op == cond::GreaterEqual) return Word(act >= lit);
  if (op == cond::LessEqual) return Word(act <= lit);
  return Word(false);
}

AnsiString CompareValues(std::string_view literal, std::string_view actual, std::string_view op) {
  // std::string_view compares bytes as unsigned, the ordinal order of the texts.
  if (op == cond::Equal) return Word(actual == literal);
  if (op == cond::NotEqual) return Word(actual != literal);
  if (op == cond::TextGreater) return Word(actual > literal);
  if (op == cond::TextLess) return Word(actual < literal);
  if (op == cond::TextGreaterEqual) return Word(actual >= literal);
  if (op == cond::TextLessEqual) return Word(actual <= literal);
  if (op == cond::Like) return Word(!actual.empty() && literal.find(actual) != std::string_view::npos);
  return CompareNumbers(literal, actual, op);
}

AnsiString EvalComparison(std::string_view kind, std::string_view name, std::string_view op,
                          std::string_view literal, const TConditionContext& context) {
  const AnsiString k = AnsiUpperCase(kind);
  AnsiString actual;
  if (k >= cond::KindSession) {
    actual = SessionValue(Trim(AnsiUpperCase(name)), context.session);
  } else if (k >= cond::KindField && context.fieldValue) {
    actual = context.fieldValue(Trim(name));
  }
  return CompareValues(literal, actual, op);
}

bool EvalCondition(std::string_view condition, const TConditionContext& context) {
  AnsiString s(condition);
  if (!ReduceComparisons(s, context)) return false;
  ReduceParentheses(s);
  ReduceOperators(s);
  return s == cond::True;
}
