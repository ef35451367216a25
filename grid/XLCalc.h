#pragma once
// The formula language of the sheet: a recursive-descent reader over Variants with five
// operator levels, literals, function calls and variables. A text is read once into a
// postfix program (TXLFormulaCode) that keeps the text's order of evaluation, so a formula
// cell evaluates again without reading its text again.
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "core/AnsiString.h"
#include "core/DateTime.h"
#include "grid/Variant.h"

class TXLSheetHooks;
class TXLCell;
class TXLCFormula;

enum TXLToken : uint8_t {
  tkEnd, tkBad, tkLParen, tkRParen, tkListSeparator, tkNumber, tkReference, tkString, tkIdentifier,
  tkMultiply, tkDivide, tkDiv, tkMod, tkShl, tkShr, tkAnd, tkNot, tkPlus, tkMinus, tkOr, tkXor,
  tkEqual, tkLess, tkGreater, tkLessEqual, tkGreaterEqual, tkNotEqual,
};

inline constexpr const char* SXLSyntaxError = "Syntax Error";
inline constexpr const char* SXLSyntaxErrorFmt = "Syntax Error: %s";
inline constexpr const char* SXLUnknownIdentifierFmt = "Unknown Identifier: %s";
inline constexpr const char* SXLCircularReference = "Circular Reference";
inline constexpr const char* SXLMissingParen = "Missing ')'";
inline constexpr const char* SXLUnexpectedEnd = "Unexpected End";
inline constexpr const char* SXLTooManyParams = "Too Many Parameters";
inline constexpr const char* SXLUnterminatedString = "Unterminated String";
inline constexpr const char* SXLInvalidStringConst = "Invalid String Constant";
inline constexpr const char* SXLInvalidCharConst = "Invalid Character Constant";

// A formula text read into operations. Errors the reading found become operations too,
// raised at the point of evaluation where the text reached them.
class TXLFormulaCode {
 public:
  enum class Op : uint8_t { Push, Variable, Call, Binary, Unary, Compare, RaiseSyntax, RaiseConvert };
  struct Step {
    Op op;
    uint8_t token;   // operator of Binary, Unary and Compare
    uint8_t count;   // arguments of Call
    int32_t index;   // into constants (Push) or names (Variable, Call, Raise*)
    int32_t position;
  };

  // True when the text starts with no token (empty or blanks): evaluation changes nothing.
  bool Empty() const { return steps_.empty(); }
  char DecimalSeparator() const { return decimalSeparator_; }
  size_t MaxStack() const { return maxStack_; }

 private:
  friend class TXLCalculator;
  friend class TXLCompiler;
  std::vector<Step> steps_;
  std::vector<TXLVariant> constants_;
  // Per name: the upper-cased name offered for lookup, then the name as written. Raise
  // steps keep their message in the first.
  std::vector<std::pair<AnsiString, AnsiString>> names_;
  char decimalSeparator_ = '.';
  size_t maxStack_ = 0;
};

class TXLCalculator {
 public:
  // Deeper nesting of parentheses, signs and calls is a syntax error, not a deep stack.
  static constexpr int MaxDepth = 200;

  explicit TXLCalculator(TXLSheetHooks* sheet) : sheet_(sheet) {}

  // Operators are read but not applied; functions and variables are still looked up.
  bool CheckOnly = false;

  // Raises EXLSyntax, EXLUnknown, EZeroDivide, EXLVariantError or EConvertError. An
  // empty text leaves the result as it was (cleared first when CheckOnly).
  void Evaluate(std::string_view text, TXLVariant& result);
  void Evaluate(const TXLFormulaCode& code, TXLVariant& result);

  // Reads a text with the separators of `fs`; never raises.
  static std::shared_ptr<const TXLFormulaCode> Compile(std::string_view text,
                                                       const TFormatSettings& fs = DefaultFormatSettings());

 private:
  TXLSheetHooks* sheet_;
};

// What a sheet keeps for formula evaluation: the cells being evaluated now and the pass
// that decides whether a formula cell's value is current.
struct TXLEvaluationState {
  std::vector<TXLCell*> guard;
  uint32_t pass = 1;
  int32_t batch = 0;      // open TXLRecalcBatch scopes
  int32_t resolving = 0;  // an outermost evaluation is running
  bool Evaluating() const { return resolving > 0 || !guard.empty(); }
};

// The evaluation behind the sheet's Calculate: with a cell, under the circular-reference
// guard. A formula cell read by an evaluation is evaluated again, once per pass; a new pass
// starts with every outermost evaluation unless a batch is open.
void XLCalculate(TXLSheetHooks& sheet, TXLEvaluationState& state, const AnsiString& text, TXLCell* cell,
                 TXLVariant& result, bool checkOnly);

// A formula cell read by an evaluation: evaluated again unless current in this pass; its
// error, if any, is raised again for the reader.
void XLReadFormulaCell(TXLEvaluationState& state, TXLCFormula& cell);

// Recalculating many cells at once: within the scope each formula cell is evaluated at
// most once, so a chain of cells costs its length, not its length squared. Nothing but
// formula results may change while it is open.
class TXLRecalcBatch {
 public:
  explicit TXLRecalcBatch(TXLEvaluationState& state);
  ~TXLRecalcBatch();
  TXLRecalcBatch(const TXLRecalcBatch&) = delete;
  TXLRecalcBatch& operator=(const TXLRecalcBatch&) = delete;

 private:
  TXLEvaluationState& state_;
};
