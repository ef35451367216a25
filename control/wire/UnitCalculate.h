// Branch conditions of workflow connections: comparisons of session values or form fields
// with literals, written as four bracket groups "[kind][name][operator][literal]", joined
// by "&&" and "||" (folded left to right, no precedence) and grouped by parentheses. The
// rules are textual and must match what stored workflow definitions expect byte for byte.
#pragma once

#include <functional>
#include <string_view>

#include "control/wire/Un_type.h"

// What a condition reads. fieldValue is empty when no document form is open; it returns
// empty text for a field the form does not have.
struct TConditionContext {
  const TSessionValues* session = nullptr;  // nullptr reads as all-empty values
  std::function<AnsiString(const AnsiString& name)> fieldValue;
};

// True when the condition reduces to exactly "true". A malformed condition (brackets that
// do not form complete groups of four) is false; the reduction always terminates.
bool EvalCondition(std::string_view condition, const TConditionContext& context);

// The reduction steps, exposed for tests. Positions are 1-based, 0 meaning "none".
AnsiString EvalComparison(std::string_view kind, std::string_view name, std::string_view op,
                          std::string_view literal, const TConditionContext& context);
AnsiString CompareValues(std::string_view literal, std::string_view actual, std::string_view op);
AnsiString CompareNumbers(std::string_view literal, std::string_view actual, std::string_view op);
AnsiString EvalPair(std::string_view text);
size_t FirstBoolOp(std::string_view text);
size_t InnerOpen(std::string_view text, size_t closePos);
