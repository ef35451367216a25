#include "control/form/FormChart.h"

#include "control/wire/FlowRouting.h"
#include "core/SysUtils.h"
#include "flowchart/ui/FlowChart.h"
#include "platform/Guard.h"

TFormChart::TFormChart(QWidget* parent) : chart_(new TFlowChart(parent)) {
  chart_->IsObjectChecked = [current = currentStep_](const TFcObject* o) {
    return *current != -1 && StrToIntDef(o->StepId(), -1) == *current;
  };
  chart_->OnSelection = [this](TFcChart*, TFcItem* item, bool& allow) {
    auto* o = dynamic_cast<TFcObject*>(item);
    allow = o && chart_->SelectedCount() == 0 &&
            ((FreeChoice && FreeChoice()) || o->BkColor() == StepColors[scmCandidate]);
  };
  chart_->OnSelected = [this](TFcChart*, TFcItem*) {
    Guarded([this] {
      if (chart_->SelectedObjects().empty()) return;  // a deselection
      for (int i = 0; i < chart_->ObjectCount(); ++i)
        if (chart_->Objects(i)->BkColor() == StepColors[scmChosen]) chart_->Objects(i)->SetBkColor(chosenColor_);
      for (TFcItem* item : std::vector<TFcItem*>(chart_->SelectedObjects())) {
        auto* o = dynamic_cast<TFcObject*>(item);
        if (!o) continue;
        chosenColor_ = o->BkColor();
        o->SetBkColor(StepColors[scmChosen]);
        if (OnChoose) OnChoose(StrToIntDef(o->StepId(), -1));
      }
      Repaint();
    });
  };
}

TFormChart::~TFormChart() = default;

QWidget* TFormChart::Widget() const { return chart_; }
void TFormChart::LoadFromStream(TStream& stream) { chart_->LoadFromStream(stream); }

void TFormChart::NumberSteps(const std::vector<std::pair<int32_t, AnsiString>>& steps) {
  std::vector<TStepName> names;
  for (const auto& [n, name] : steps) names.push_back({n, name});
  NumberChartSteps(*chart_, names);
}

int TFormChart::FindStartStep() const { return ::FindStartStep(*chart_); }
int TFormChart::NextStep(int stepNo, const TConditionContext& c) const { return ::NextStep(*chart_, stepNo, c); }
bool TFormChart::IsEndStep(int stepNo) const { return ::IsEndStep(*chart_, stepNo); }
int TFormChart::IndexOfStep(int stepNo) const { return ::IndexOfStep(*chart_, stepNo); }
AnsiString TFormChart::GetStepName(int stepNo) const { return ::GetStepName(*chart_, stepNo); }
void TFormChart::ColorStep(int stepNo, int mode) {
  ::ColorStep(*chart_, stepNo, mode);
  if (mode == scmCurrent) *currentStep_ = stepNo;
  else if (mode == scmReset && (stepNo == -1 || stepNo == *currentStep_)) *currentStep_ = -1;
  else if (stepNo == *currentStep_ && mode >= scmPassed && mode < scmReset) *currentStep_ = -1;
}

void TFormChart::MarkCandidates(int curStepNo) {
  for (TFcObject* o : CandidateObjects(*chart_, curStepNo)) o->SetBkColor(StepColors[scmCandidate]);
}

void TFormChart::Blink() {
  for (int i = 0; i < chart_->ObjectCount(); ++i) {
    TFcObject* o = chart_->Objects(i);
    if (o->BkColor() == StepColors[scmCandidate]) o->SetShapeColor(o->ShapeColor() != 0 ? TColor(0) : BlinkOffColor);
  }
  Repaint();
}

std::vector<TStripEntry> TFormChart::StripEntries(const std::vector<int32_t>& passed, int curStepNo,
                                                  bool hasStoredNext, int storedNextNo,
                                                  const TConditionContext& context) const {
  std::vector<TStripEntry> out;
  for (const TFlowStripEntry& e :
       BuildFlowStripEntries(*chart_, passed, curStepNo, hasStoredNext, storedNextNo, context))
    out.push_back({e.arrow, e.stepNo, e.passed});
  return out;
}

bool TFormChart::Hidden() const { return chart_->isHidden(); }
void TFormChart::Repaint() { chart_->viewport()->update(); }

bool TFormChart::ClickObject(int index) {
  if (index < 0 || index >= chart_->ObjectCount()) return false;
  chart_->ClearSelection();
  chart_->Objects(index)->SetSelected(true);
  return chart_->Objects(index)->Selected();
}

int TFormChart::ObjectCount() const { return chart_->ObjectCount(); }
TColor TFormChart::ObjectColor(int index) const { return chart_->Objects(index)->BkColor(); }
TColor TFormChart::ObjectShapeColor(int index) const { return chart_->Objects(index)->ShapeColor(); }
int TFormChart::ObjectStep(int index) const { return StrToIntDef(chart_->Objects(index)->StepId(), -1); }
