// The document form's workflow chart. Kept apart from the form's sheet code: the chart's
// geometry types share their names with the grid's, so no file includes both.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "control/wire/StepColors.h"
#include "control/wire/UnitCalculate.h"
#include "core/AnsiString.h"
#include "core/Colors.h"
#include "core/Streams.h"

class QWidget;
class TFlowChart;

// One entry of the flow strip: a step label (-1: "needs a manual choice") or an arrow.
struct TStripEntry {
  bool arrow = false;
  int stepNo = -1;
  bool passed = false;
};

class TFormChart {
 public:
  explicit TFormChart(QWidget* parent);
  ~TFormChart();
  QWidget* Widget() const;

  void LoadFromStream(TStream& stream);
  // Gives unnumbered objects the number of the first step (number, name) of their name.
  void NumberSteps(const std::vector<std::pair<int32_t, AnsiString>>& steps);
  int FindStartStep() const;
  int NextStep(int stepNo, const TConditionContext& context) const;
  bool IsEndStep(int stepNo) const;
  int IndexOfStep(int stepNo) const;
  AnsiString GetStepName(int stepNo) const;
  void ColorStep(int stepNo, int mode);
  // Candidate colour on the objects the current step may lead to.
  void MarkCandidates(int curStepNo);
  // Toggles the outline of every candidate object.
  void Blink();
  std::vector<TStripEntry> StripEntries(const std::vector<int32_t>& passed, int curStepNo, bool hasStoredNext,
                                        int storedNextNo, const TConditionContext& context) const;
  bool Hidden() const;
  void Repaint();

  // Choosing on the chart: freeChoice says whether any object may be chosen; onChoose
  // gets the chosen step's number.
  std::function<bool()> FreeChoice;
  std::function<void(int stepNo)> OnChoose;
  // Selects the object at index as a click does; false when the selection is refused.
  bool ClickObject(int index);
  int ObjectCount() const;
  TColor ObjectColor(int index) const;
  TColor ObjectShapeColor(int index) const;
  int ObjectStep(int index) const;

 private:
  TFlowChart* chart_;
  TColor chosenColor_ = 16777215;
  // The step last coloured current; shared with the chart, which may outlive this object.
  std::shared_ptr<int> currentStep_ = std::make_shared<int>(-1);
};
