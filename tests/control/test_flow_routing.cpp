// Routing over a workflow chart: start, next and end steps, colours, the flow strip.
#include <gtest/gtest.h>

#include "control/wire/FlowRouting.h"

namespace {

struct Routing : ::testing::Test {
  TFcChart chart;
  TSessionValues session;
  TConditionContext context{&session, nullptr};

  TFcObject* Step(int number, const char* name) {
    TFcObject* o = chart.CreateObject(10 + 100 * chart.ObjectCount(), 10, 80, 40, 0);
    o->SetStepId(number < 0 ? AnsiString() : IntToStr(number));
    o->SetText(name);
    return o;
  }
  TFcConnection* Link(TFcObject* from, TFcObject* to, const char* condition = "") {
    TFcConnection* c = chart.CreateConnection(from, to, 0, 0);
    c->DestArrow().SetArrowType(atArrow);
    c->SetText(condition);
    return c;
  }
  static AnsiString IntToStr(int n) { return std::to_string(n); }
};

TEST_F(Routing, StartStepIsTheObjectNothingEntersNotTheFirstObject) {
  TFcObject* review = Step(2, "review");
  TFcObject* draft = Step(1, "draft");
  TFcObject* done = Step(3, "done");
  Link(draft, review);
  Link(review, done);
  EXPECT_EQ(FindStartStep(chart), 1);
  Link(done, draft);  // every object entered: no start
  EXPECT_EQ(FindStartStep(chart), -1);

  TFcChart single;
  single.CreateObject(0, 0, 10, 10, 0)->SetStepId("7");
  EXPECT_EQ(FindStartStep(single), 7);
}

TEST_F(Routing, NextStepFollowsConditionsThenTheSingleUnconditionalTransition) {
  session.LoginName = "boss";
  TFcObject* a = Step(1, "a");
  TFcObject* b = Step(2, "b");
  TFcObject* c = Step(3, "c");
  TFcObject* d = Step(4, "d");
  Link(a, b);
  Link(a, c, "[S][LOGINNAME][=][boss]");  // listed after the unconditional one, still wins
  EXPECT_EQ(NextStep(chart, 1, context), 3);
  session.LoginName = "clerk";
  EXPECT_EQ(NextStep(chart, 1, context), 2);
  Link(a, d);  // two unconditional transitions: the user chooses
  EXPECT_EQ(NextStep(chart, 1, context), -1);
  Link(d, a);  // an entering connection is no choice of a's
  EXPECT_EQ(NextStep(chart, 1, context), -1);
  EXPECT_EQ(NextStep(chart, 4, context), 1);
  EXPECT_EQ(NextStep(chart, 99, context), -1);

  EXPECT_TRUE(IsEndStep(chart, 2));
  EXPECT_FALSE(IsEndStep(chart, 1));
  EXPECT_TRUE(IsEndStep(chart, 99));
  EXPECT_EQ(IndexOfStep(chart, 3), 2);
  EXPECT_EQ(IndexOfStep(chart, 99), -1);
  EXPECT_EQ(GetStepName(chart, 4), "d");
  EXPECT_EQ(GetStepName(chart, 99), "");

  const auto candidates = CandidateObjects(chart, 1);
  EXPECT_EQ(candidates, (std::vector<TFcObject*>{b, c, d}));
}

TEST_F(Routing, ColoursAndNumbering) {
  TFcObject* a = Step(1, "a");
  TFcObject* b = Step(-1, "b");
  TFcObject* c = Step(-1, "c");
  NumberChartSteps(chart, {{5, "x"}, {6, "b"}, {7, "b"}});
  EXPECT_EQ(b->StepId(), "6");
  EXPECT_EQ(c->StepId(), "");
  ColorStep(chart, 6, scmChosen);
  EXPECT_EQ(b->BkColor(), 5987327);
  ColorStep(chart, -1, scmPassed);
  EXPECT_EQ(a->BkColor(), 12254931);
  EXPECT_EQ(c->BkColor(), 12254931);
  ColorStep(chart, -1, 5);  // no such mode
  EXPECT_EQ(c->BkColor(), 12254931);
}

TEST_F(Routing, FlowStripWalksToTheEndAndStopsAtACycle) {
  TFcObject* a = Step(1, "a");
  TFcObject* b = Step(2, "b");
  TFcObject* c = Step(3, "c");
  Link(a, b);
  Link(b, c);
  auto steps = [](const std::vector<TFlowStripEntry>& e) {
    std::vector<int> out;
    for (const auto& x : e) out.push_back(x.arrow ? 0 : x.stepNo);
    return out;
  };
  EXPECT_EQ(steps(BuildFlowStripEntries(chart, {}, 1, false, -1, context)), (std::vector<int>{1, 0, 2, 0, 3}));
  auto withPassed = BuildFlowStripEntries(chart, {1}, 2, true, 3, context);
  EXPECT_EQ(steps(withPassed), (std::vector<int>{1, 0, 2, 0, 3}));
  EXPECT_TRUE(withPassed[0].passed);
  EXPECT_FALSE(withPassed[2].passed);

  Link(c, a);  // a cycle: the walk stops before repeating a step
  EXPECT_EQ(steps(BuildFlowStripEntries(chart, {}, 1, false, -1, context)), (std::vector<int>{1, 0, 2, 0, 3}));
  TFcObject* d = Step(4, "d");
  Link(c, d);  // c now has two unconditional exits: a manual choice ends the walk
  EXPECT_EQ(steps(BuildFlowStripEntries(chart, {}, 2, false, -1, context)), (std::vector<int>{2, 0, 3, 0, -1}));
  EXPECT_EQ(steps(BuildFlowStripEntries(chart, {}, 3, true, 3, context)), (std::vector<int>{3}));
}

}  // namespace
