#include "grid/XLCalc.h"

#include <algorithm>
#include <exception>

#include "core/FloatFormat.h"
#include "core/ScopeGuard.h"
#include "grid/XLCells.h"
#include "grid/XLManager.h"

// ---- reading a text into a program ----

namespace {

// Thrown only inside the compiler: the text has an error at this point.
struct TCompileStop {
  TXLFormulaCode::Op op;
  AnsiString message;
  int32_t position;
};

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) { return c == '$' || IsDigit(c) || IsLetter(c); }

}  // namespace

class TXLCompiler {
 public:
  TXLCompiler(std::string_view text, const TFormatSettings& fs, TXLFormulaCode& code)
      : text_(text), fs_(fs), code_(code) {
    decimal_ = fs.DecimalSeparator;
    listSeparator_ = decimal_ == ',' ? ';' : ',';
    otherSeparator_ = decimal_ == ',' ? ',' : ';';
    code_.decimalSeparator_ = decimal_;
  }

  void Run() {
    try {
      NextToken();
      if (token_ == tkEnd) return;
      Relation();
      if (token_ != tkEnd) SyntaxError(SXLUnexpectedEnd);
    } catch (const TCompileStop& stop) {
      code_.names_.emplace_back(stop.message, AnsiString());
      Emit(stop.op, 0, 0, static_cast<int32_t>(code_.names_.size() - 1), stop.position);
    }
  }

 private:
  int32_t Position() const { return static_cast<int32_t>(cursor_); }
  char At(size_t i) const { return i < text_.size() ? text_[i] : '\0'; }
  bool AtEnd(size_t i) const { return i >= text_.size(); }

  // An empty message raises the bare "Syntax Error".
  [[noreturn]] void SyntaxError(const char* message = "") {
    throw TCompileStop{TXLFormulaCode::Op::RaiseSyntax, message, Position()};
  }

  void Emit(TXLFormulaCode::Op op, uint8_t token, uint8_t count, int32_t index, int32_t position) {
    code_.steps_.push_back({op, token, count, index, position});
    using Op = TXLFormulaCode::Op;
    switch (op) {
      case Op::Push:
      case Op::Variable: ++depth_; break;
      case Op::Call: depth_ = depth_ - count + 1; break;
      case Op::Binary:
      case Op::Compare: --depth_; break;
      default: break;
    }
    code_.maxStack_ = std::max(code_.maxStack_, depth_);
  }

  int32_t AddName(const AnsiString& name) {
    code_.names_.emplace_back(AnsiUpperCase(name), name);
    return static_cast<int32_t>(code_.names_.size() - 1);
  }

  // ---- tokenizer ----

  void NextToken() {
    while (At(cursor_) == ' ') ++cursor_;
    tokenText_.clear();
    if (AtEnd(cursor_)) {
      token_ = tkEnd;
      return;
    }
    const char c = text_[cursor_];
    if (IsDigit(c)) return ReadNumber();
    if (c == '#' || c == '\'' || c == '^') return ReadString();
    if (c == '$' || c == '_' || IsLetter(c)) return ReadName();
    if (c == listSeparator_) {
      ++cursor_;
      token_ = tkListSeparator;
      return;
    }
    if (c == otherSeparator_) {
      token_ = tkBad;  // the cursor stays on it
      return;
    }
    const char next = At(cursor_ + 1);
    switch (c) {
      case '(': Single(tkLParen); return;
      case ')': Single(tkRParen); return;
      case '*': Single(tkMultiply); return;
      case '/': Single(tkDivide); return;
      case '+': Single(tkPlus); return;
      case '-': Single(tkMinus); return;
      case '=': Single(tkEqual); return;
      case '<':
        if (next == '=') return Double(tkLessEqual);
        if (next == '>') return Double(tkNotEqual);
        return Single(tkLess);
      case '>':
        if (next == '=') return Double(tkGreaterEqual);
        return Single(tkGreater);
      default:
        // A character that starts no token would otherwise end the formula silently.
        SyntaxError();
    }
  }

  void Single(TXLToken t) {
    token_ = t;
    cursor_ += 1;
  }
  void Double(TXLToken t) {
    token_ = t;
    cursor_ += 2;
  }

  void ReadNumber() {
    const size_t start = cursor_;
    size_t i = cursor_;
    while (IsDigit(At(i))) ++i;
    if (!AtEnd(i) && At(i) == decimal_) {
      ++i;
      while (IsDigit(At(i))) ++i;
    }
    if (At(i) == 'E' || At(i) == 'e') {
      ++i;
      if (At(i) == '+' || At(i) == '-') ++i;
      if (!IsDigit(At(i))) {
        cursor_ = i;
        token_ = tkBad;
        return;
      }
      while (IsDigit(At(i))) ++i;
    }
    cursor_ = i;
    double v = 0;
    if (!TryStrToFloat(text_.substr(start, i - start), v, fs_)) {
      // Only an exponent beyond the range of a double gets here.
      throw TCompileStop{TXLFormulaCode::Op::RaiseConvert,
                         "'" + AnsiString(text_.substr(start, i - start)) + "' is not a valid floating point value",
                         Position()};
    }
    token_ = tkNumber;
    number_ = v;
  }

  void ReadString() {
    for (;;) {
      const char c = At(cursor_);
      if (c == '\'') {
        ++cursor_;
        for (;;) {
          // Blanks belong to the text; control characters and the end do not.
          if (AtEnd(cursor_) || static_cast<unsigned char>(text_[cursor_]) < ' ') SyntaxError(SXLUnterminatedString);
          if (text_[cursor_] == '\'') {
            ++cursor_;
            if (At(cursor_) != '\'') break;
          }
          tokenText_.push_back(text_[cursor_++]);
        }
      } else if (c == '#') {
        ++cursor_;
        uint32_t n = 0;
        bool digits = false;
        while (IsDigit(At(cursor_))) {
          n = std::min<uint32_t>(n * 10 + (At(cursor_) - '0'), 65536);
          digits = true;
          ++cursor_;
        }
        if (!digits || n >= 65536) SyntaxError(SXLInvalidStringConst);
        tokenText_.push_back(static_cast<char>(n & 0xFF));
      } else if (c == '^') {
        ++cursor_;
        const char letter = At(cursor_);
        if (!IsLetter(letter)) SyntaxError(SXLInvalidCharConst);
        const char upper = letter >= 'a' ? static_cast<char>(letter - 32) : letter;
        tokenText_.push_back(static_cast<char>(upper - 64));
        ++cursor_;
      } else {
        break;
      }
    }
    token_ = tkString;
  }

  void ReadName() {
    const size_t start = cursor_;
    size_t i = cursor_ + 1;
    while (IsNameChar(At(i))) ++i;
    bool range = false;
    if (At(i) == ':') {
      range = true;
      ++i;
      while (IsNameChar(At(i))) ++i;
    }
    cursor_ = i;
    tokenText_.assign(text_.substr(start, i - start));
    if (text_[start] == '$' || range) {
      token_ = tkReference;
      return;
    }
    static constexpr std::pair<const char*, TXLToken> kWords[] = {
        {"OR", tkOr},   {"DIV", tkDiv}, {"MOD", tkMod}, {"NOT", tkNot},
        {"SHL", tkShl}, {"SHR", tkShr}, {"AND", tkAnd}, {"XOR", tkXor}};
    if (tokenText_.size() <= 3) {
      const AnsiString upper = AnsiUpperCase(tokenText_);
      for (const auto& [word, t] : kWords)
        if (upper == word) {
          token_ = t;
          return;
        }
    }
    token_ = tkIdentifier;
  }

  // ---- grammar ----

  // Nesting of parentheses, signs and calls; each level costs stack while reading.
  [[nodiscard]] auto Nest() {
    if (nesting_ >= TXLCalculator::MaxDepth) SyntaxError();
    ++nesting_;
    return ScopeExit([this] { --nesting_; });
  }

  void Relation() {
    Simple();
    if (token_ >= tkEqual && token_ <= tkNotEqual) {
      const TXLToken op = token_;
      NextToken();
      Simple();
      Emit(TXLFormulaCode::Op::Compare, op, 0, 0, Position());
    }
  }

  void Simple() {
    Term();
    while (token_ == tkPlus || token_ == tkMinus || token_ == tkOr || token_ == tkXor) {
      const TXLToken op = token_;
      NextToken();
      Term();
      Emit(TXLFormulaCode::Op::Binary, op, 0, 0, Position());
    }
  }

  void Term() {
    Unary();
    while (token_ >= tkMultiply && token_ <= tkAnd) {
      const TXLToken op = token_;
      NextToken();
      Unary();
      Emit(TXLFormulaCode::Op::Binary, op, 0, 0, Position());
    }
  }

  void Unary() {
    if (token_ == tkNot || token_ == tkMinus || token_ == tkPlus) {
      auto nest = Nest();
      const TXLToken op = token_;
      NextToken();
      Unary();
      if (op != tkPlus) Emit(TXLFormulaCode::Op::Unary, op, 0, 0, Position());
      return;
    }
    Factor();
  }

  void Factor() {
    using Op = TXLFormulaCode::Op;
    switch (token_) {
      case tkLParen: {
        auto nest = Nest();
        NextToken();
        Relation();
        if (token_ != tkRParen) SyntaxError(SXLMissingParen);
        NextToken();
        return;
      }
      case tkNumber:
        code_.constants_.emplace_back(number_);
        Emit(Op::Push, 0, 0, static_cast<int32_t>(code_.constants_.size() - 1), Position());
        NextToken();
        return;
      case tkString:
      case tkReference:
        code_.constants_.emplace_back(tokenText_);
        Emit(Op::Push, 0, 0, static_cast<int32_t>(code_.constants_.size() - 1), Position());
        NextToken();
        return;
      case tkIdentifier: {
        const AnsiString name = tokenText_;
        NextToken();
        if (token_ == tkLParen) return Call(name);
        Emit(Op::Variable, 0, 0, AddName(name), Position());
        return;
      }
      default:
        SyntaxError();
    }
  }

  void Call(const AnsiString& name) {
    auto nest = Nest();
    uint8_t count = 0;
    NextToken();
    for (;;) {
      Relation();
      ++count;
      if (token_ != tkListSeparator) break;
      if (count == 10) SyntaxError(SXLTooManyParams);
      NextToken();
    }
    if (token_ != tkRParen) SyntaxError(SXLMissingParen);
    NextToken();
    Emit(TXLFormulaCode::Op::Call, 0, count, AddName(name), Position());
  }

  std::string_view text_;
  const TFormatSettings& fs_;
  TXLFormulaCode& code_;
  char decimal_, listSeparator_, otherSeparator_;
  size_t cursor_ = 0;
  TXLToken token_ = tkEnd;
  AnsiString tokenText_;
  double number_ = 0;
  int nesting_ = 0;
  size_t depth_ = 0;  // values on the evaluation stack after the steps so far
};

std::shared_ptr<const TXLFormulaCode> TXLCalculator::Compile(std::string_view text, const TFormatSettings& fs) {
  auto code = std::make_shared<TXLFormulaCode>();
  TXLCompiler(text, fs, *code).Run();
  return code;
}

// ---- running a program ----

namespace {

TXLVariant ApplyBinary(uint8_t op, const TXLVariant& a, const TXLVariant& b) {
  switch (op) {
    case tkPlus: return VarAdd(a, b);
    case tkMinus: return VarSub(a, b);
    case tkOr: return VarOr(a, b);
    case tkXor: return VarXor(a, b);
    case tkMultiply: return VarMul(a, b);
    case tkDivide: return VarDiv(a, b);
    case tkDiv: return VarIntDiv(a, b);
    case tkMod: return VarMod(a, b);
    case tkShl: return VarShl(a, b);
    case tkShr: return VarShr(a, b);
    default: return VarAnd(a, b);
  }
}

bool ApplyCompare(uint8_t op, const TXLVariant& a, const TXLVariant& b) {
  const int c = VarCompare(a, b);
  switch (op) {
    case tkEqual: return c == 0;
    case tkLess: return c < 0;
    case tkGreater: return c > 0;
    case tkLessEqual: return c <= 0;
    case tkGreaterEqual: return c >= 0;
    default: return c != 0;
  }
}

// An empty operand counts as 0.
void ZeroIfEmpty(TXLVariant& v) {
  if (v.IsEmpty()) v = TXLVariant(0);
}

}  // namespace

void TXLCalculator::Evaluate(std::string_view text, TXLVariant& result) {
  Evaluate(*Compile(text), result);
}

void TXLCalculator::Evaluate(const TXLFormulaCode& code, TXLVariant& result) {
  if (CheckOnly) result.Clear();
  if (code.Empty()) return;

  // Most formulas need a few slots; keep them off the heap.
  constexpr size_t kInline = 8;
  TXLVariant inlineStack[kInline];
  std::vector<TXLVariant> heapStack;
  TXLVariant* stack = inlineStack;
  if (code.maxStack_ > kInline) {
    heapStack.resize(code.maxStack_);
    stack = heapStack.data();
  }
  size_t top = 0;

  using Op = TXLFormulaCode::Op;
  for (const TXLFormulaCode::Step& s : code.steps_) {
    switch (s.op) {
      case Op::Push:
        stack[top++] = code.constants_[s.index];
        break;
      case Op::Variable: {
        const auto& [upper, written] = code.names_[s.index];
        TXLVariant& v = stack[top++];
        v.Clear();
        if (!XLManager().GetVariable(sheet_, upper, v))
          throw EXLUnknown(SXLUnknownIdentifierFmt, {written}, s.position);
        break;
      }
      case Op::Call: {
        const auto& [upper, written] = code.names_[s.index];
        top -= s.count;
        std::vector<TXLVariant> args(std::make_move_iterator(stack + top),
                                     std::make_move_iterator(stack + top + s.count));
        TXLVariant& v = stack[top++];
        v.Clear();
        if (!XLManager().CallFunction(sheet_, upper, TXLVariant::FromArray(std::move(args)), v))
          throw EXLUnknown(SXLUnknownIdentifierFmt, {written + "()"}, s.position);
        break;
      }
      case Op::Binary:
      case Op::Compare: {
        --top;
        if (CheckOnly) break;
        TXLVariant& a = stack[top - 1];
        ZeroIfEmpty(a);
        ZeroIfEmpty(stack[top]);
        if (s.op == Op::Binary)
          a = ApplyBinary(s.token, a, stack[top]);
        else
          a = TXLVariant(ApplyCompare(s.token, a, stack[top]));
        break;
      }
      case Op::Unary: {
        if (CheckOnly) break;
        TXLVariant& a = stack[top - 1];
        ZeroIfEmpty(a);
        a = s.token == tkNot ? VarNot(a) : VarNeg(a);
        break;
      }
      case Op::RaiseSyntax: {
        const AnsiString& message = code.names_[s.index].first;
        if (message.empty()) throw EXLSyntax(SXLSyntaxError, s.position);
        throw EXLSyntax(SXLSyntaxErrorFmt, {message}, s.position);
      }
      case Op::RaiseConvert:
        throw EConvertError(code.names_[s.index].first);
    }
  }
  result = std::move(stack[0]);
}

// ---- the sheet's evaluation ----

namespace {

// A formula cell read this many cells deep is brought current from an empty stack first,
// so a long chain of references never recurses deeply.
constexpr size_t kMaxCellDepth = 64;

// Not an Exception: no cell may take it for its own error.
struct TDeferred {
  TXLCFormula* cell;
};

bool Guarded(const TXLEvaluationState& state, const TXLCell* cell) {
  return std::find(state.guard.begin(), state.guard.end(), cell) != state.guard.end();
}

void EvaluateGuarded(TXLSheetHooks& sheet, TXLEvaluationState& state, const AnsiString& text, TXLCell* cell,
                     TXLVariant& result, bool checkOnly) {
  TXLCalculator calc(&sheet);
  calc.CheckOnly = checkOnly;
  auto* formula = dynamic_cast<TXLCFormula*>(cell);
  if (!cell) {
    calc.Evaluate(text, result);
    return;
  }
  if (Guarded(state, cell)) throw EXLCircular(SXLCircularReference, 0);
  state.guard.push_back(cell);
  auto leave = ScopeExit([&] { state.guard.pop_back(); });
  if (formula && formula->Formula() == text) {
    const auto code = formula->Code();  // the cell may be given a new formula meanwhile
    calc.Evaluate(*code, result);
  } else
    calc.Evaluate(text, result);
}

}  // namespace

TXLRecalcBatch::TXLRecalcBatch(TXLEvaluationState& state) : state_(state) {
  if (state_.batch++ == 0 && ++state_.pass == 0) state_.pass = 1;
}

TXLRecalcBatch::~TXLRecalcBatch() { --state_.batch; }

void XLCalculate(TXLSheetHooks& sheet, TXLEvaluationState& state, const AnsiString& text, TXLCell* cell,
                 TXLVariant& result, bool checkOnly) {
  if (checkOnly) result.Clear();
  if (!state.guard.empty() || state.resolving) {
    EvaluateGuarded(sheet, state, text, cell, result, checkOnly);
    return;
  }
  // The outermost evaluation: everything it reads is evaluated in one pass.
  TXLRecalcBatch pass(state);
  ++state.resolving;
  auto resolved = ScopeExit([&] { --state.resolving; });
  std::vector<TXLCFormula*> pending;
  for (;;) {
    try {
      EvaluateGuarded(sheet, state, text, cell, result, checkOnly);
      return;
    } catch (const TDeferred& d) {
      pending.push_back(d.cell);
    }
    // Bring the deep cells current from the bottom up, each from an empty guard.
    while (!pending.empty()) {
      try {
        pending.back()->Recalc();
        pending.pop_back();
      } catch (const TDeferred& d) {
        // A cell that waits for itself: the references run in a circle.
        if (d.cell == cell || std::find(pending.begin(), pending.end(), d.cell) != pending.end())
          throw EXLCircular(SXLCircularReference, 0);
        pending.push_back(d.cell);
      }
    }
  }
}

void XLReadFormulaCell(TXLEvaluationState& state, TXLCFormula& cell) {
  if (cell.EvaluatedPass() != state.pass) {
    if (Guarded(state, &cell)) throw EXLCircular(SXLCircularReference, 0);
    if (state.guard.size() >= kMaxCellDepth) throw TDeferred{&cell};
    cell.Recalc();
  }
  if (cell.Error()) std::rethrow_exception(cell.Error());
}
