// Where a document goes next, read from its workflow chart: chart objects are the steps
// (their StepId holds the step number in decimal), connections the transitions, a
// connection's text its branch condition. Free of Qt so the server and tests use it alone.
#pragma once

#include <cstdint>
#include <vector>

#include "control/wire/NextHandlers.h"
#include "control/wire/StepColors.h"
#include "control/wire/UnitCalculate.h"
#include "core/Colors.h"
#include "flowchart/FcChart.h"

// The object that no connection enters (the only object of a one-object chart); -1 when none.
int FindStartStep(const TFcChart& chart);
// The destination of the first leaving connection whose condition holds; else the one
// unconditional connection's destination; nullptr when the user must choose.
TFcObject* ChooseNext(const TFcObject& object, const TConditionContext& context);
// The step after stepNo by the branch rules; -1 when the user must choose or no such step.
int NextStep(const TFcChart& chart, int stepNo, const TConditionContext& context);
// True when no connection leaves the step, or the chart has no such step.
bool IsEndStep(const TFcChart& chart, int stepNo);
int IndexOfStep(const TFcChart& chart, int stepNo);
AnsiString GetStepName(const TFcChart& chart, int stepNo);
// Colours every object with the number (every object for -1); other modes change nothing.
void ColorStep(TFcChart& chart, int stepNo, int mode);

struct TStepName {
  int32_t number;
  AnsiString name;
};
// Objects without a number take the first step whose name equals their text.
void NumberChartSteps(TFcChart& chart, const std::vector<TStepName>& steps);

// The objects to mark as candidates when the next step is open: for each connection that
// leaves the current step, its destination when that end has an arrow, else its source
// when the source end has one.
std::vector<TFcObject*> CandidateObjects(const TFcChart& chart, int curStepNo);

// The flow strip as a sequence of step and arrow entries: passed steps, then the walk from
// the current step through the stored next step and the automatic choices to the end. The
// walk stops where a step would repeat (a cycle in the chart).
struct TFlowStripEntry {
  bool arrow = false;
  int stepNo = -1;      // -1: "needs a manual choice"
  bool passed = false;  // a passed step's label
};
std::vector<TFlowStripEntry> BuildFlowStripEntries(const TFcChart& chart, const std::vector<int32_t>& passedSteps,
                                                   int curStepNo, bool hasStoredNext, int storedNextNo,
                                                   const TConditionContext& context);
