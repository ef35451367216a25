// Branch conditions: the textual reduction rules that stored workflow definitions rely on.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "control/wire/UnitCalculate.h"

namespace {

struct Conditions : ::testing::Test {
  TSessionValues session;
  std::map<AnsiString, AnsiString> fields{{Cp936("金额"), "1500"}, {Cp936("类型"), Cp936("请假")}};
  TConditionContext context;

  Conditions() {
    session.LoginName = "zhang";
    session.UserName = Cp936("张三");
    session.DeptName = Cp936("办公室");
    session.RoleName = "clerk";
    session.DutyName = "head";
    context.session = &session;
    context.fieldValue = [this](const AnsiString& name) {
      auto it = fields.find(name);
      return it == fields.end() ? AnsiString() : it->second;
    };
  }
  bool Eval(const char* utf8) { return EvalCondition(Cp936(utf8), context); }
};

TEST_F(Conditions, ComparisonsOfSessionValuesAndFields) {
  const std::pair<const char*, bool> table[] = {
      {"[S][LOGINNAME][=][zhang]", true},
      {"[S][LOGINNAME][=][Zhang]", false},          // values compare case-sensitively
      {"[S][deptment][=][办公室]", true},            // names match in any case
      {"[s][ USERNAME ][<>][李四]", true},           // kind in any case, name trimmed
      {"[S][LOGINNAME][ = ][zhang]", false},        // the operator is taken as written
      {"[S][NOSUCH][=][]", true},                   // an unknown name reads as empty
      {"[S][LOGINNAME][LIKE][li,zhang,wang]", true},
      {"[S][LOGINNAME][LIKE][li,wang]", false},
      {"[S][NOSUCH][LIKE][li,wang]", false},        // an empty value is inside nothing
      {"[F][金额][>][1000]", true},                  // integers
      {"[F][金额][<=][1000]", false},
      {"[F][金额][>=][1500]", true},
      {"[F][金额][S>][2]", false},                   // the same values as text
      {"[F][金额][S<][2]", true},
      {"[F][类型][S>][zzz]", true},                  // double-byte text orders above ASCII
      {"[F][类型][>][1]", false},                    // no integer: false, not an error
      {"[F][金额][~][1500]", false},                 // unknown operator
      {"[G][金额][=][1500]", true},                  // kinds from [F] up to [S] read fields
      {"[A][LOGINNAME][=][]", true},                // kinds before [F] read nothing
      {"[X][LOGINNAME][=][zhang]", true},           // kinds from [S] on read the session
  };
  for (const auto& [text, expected] : table) EXPECT_EQ(Eval(text), expected) << text;
}

TEST_F(Conditions, OperatorsFoldLeftToRightAndParenthesesInnermostFirst) {
  const char* T = "[S][LOGINNAME][=][zhang]";
  const char* F = "[S][LOGINNAME][=][li]";
  auto join = [](std::initializer_list<std::string> parts) {
    std::string s;
    for (const auto& p : parts) s += p;
    return s;
  };
  EXPECT_TRUE(Eval(join({T, "&&", F, "||", T}).c_str()));   // (T && F) || T
  EXPECT_FALSE(Eval(join({T, "||", F, "&&", F}).c_str()));  // (T || F) && F
  EXPECT_TRUE(Eval(join({"(((", T, ")))"}).c_str()));
  EXPECT_TRUE(Eval(join({"(", F, " || ", T, ") && ", T}).c_str()));
  EXPECT_FALSE(Eval(join({"( ", T, " )"}).c_str()));        // " true " is no result word
  EXPECT_FALSE(Eval(join({"[S] [LOGINNAME] [=] [zhang]"}).c_str()));  // blanks stay: "   true"
  EXPECT_TRUE(Eval(join({T, ")"}).c_str()));                // a lone ')' takes what precedes it

  EXPECT_EQ(FirstBoolOp("a||b&&c"), 2u);
  EXPECT_EQ(FirstBoolOp("a&&b||c"), 2u);
  EXPECT_EQ(FirstBoolOp("abc"), 0u);
  EXPECT_EQ(InnerOpen("(a(b)c)", 5), 3u);
  EXPECT_EQ(InnerOpen("ab)", 3), 0u);
  EXPECT_EQ(EvalPair("true"), "true");
  EXPECT_EQ(EvalPair(" true"), "");
  EXPECT_EQ(EvalPair(" true && false "), "false");
  EXPECT_EQ(EvalPair("false||true"), "true");
  EXPECT_EQ(EvalPair("true || false && true"), "true");  // one operator per pair
}

TEST_F(Conditions, WithoutAFormFieldsReadEmpty) {
  context.fieldValue = nullptr;
  EXPECT_FALSE(Eval("[F][金额][>][1000]"));
  EXPECT_TRUE(Eval("[F][金额][=][]"));
}

// Malformed texts end as false, and any text reduces in finite time.
TEST_F(Conditions, MalformedTextIsFalseAndEveryTextTerminates) {
  for (const char* text : {"[S][LOGINNAME][=]", "[S][LOGINNAME", "]x[", "(((", "&&||", "", "[[[[", "true&&"})
    EXPECT_FALSE(Eval(text)) << text;
  EXPECT_TRUE(Eval("true"));
  std::mt19937 rng(7);
  const std::string alphabet = "[]()&|SF=<>LIKE truefals";
  for (int i = 0; i < 20000; ++i) {
    std::string s(rng() % 40, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    EvalCondition(s, context);  // must return; the sanitizers watch every access
  }
}

}  // namespace
