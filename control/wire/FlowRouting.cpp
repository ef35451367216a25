#include "control/wire/FlowRouting.h"

#include <set>

#include "control/wire/StepRecord.h"
#include "core/SysUtils.h"

namespace {

TFcObject* FindObject(const TFcChart& chart, int stepNo) {
  const AnsiString id = IntToStr(stepNo);
  for (int i = 0; i < chart.ObjectCount(); ++i)
    if (chart.Objects(i)->StepId() == id) return chart.Objects(i);
  return nullptr;
}

int StepNumber(const TFcObject& o) { return StrToIntDef(o.StepId(), -1); }

bool Leaves(const TFcConnection& c, const TFcObject& o) { return c.Source() == &o; }

}  // namespace

int FindStartStep(const TFcChart& chart) {
  if (chart.ObjectCount() == 1) return StepNumber(*chart.Objects(0));
  for (int i = 0; i < chart.ObjectCount(); ++i) {
    const TFcObject& o = *chart.Objects(i);
    bool entered = false;
    for (int k = 0; k < o.ConnectionCount() && !entered; ++k) entered = !Leaves(*o.Connections(k), o);
    if (!entered) return StepNumber(o);
  }
  return -1;
}

TFcObject* ChooseNext(const TFcObject& object, const TConditionContext& context) {
  TFcObject* single = nullptr;
  int unconditional = 0;
  for (int k = 0; k < object.ConnectionCount(); ++k) {
    const TFcConnection& c = *object.Connections(k);
    if (!Leaves(c, object)) continue;
    if (c.Text().empty()) {
      if (++unconditional == 1) single = c.Dest();
      continue;
    }
    if (EvalCondition(c.Text(), context)) return c.Dest();
  }
  return unconditional == 1 ? single : nullptr;
}

int NextStep(const TFcChart& chart, int stepNo, const TConditionContext& context) {
  const TFcObject* o = FindObject(chart, stepNo);
  if (!o) return -1;
  const TFcObject* next = ChooseNext(*o, context);
  return next ? StepNumber(*next) : -1;
}

bool IsEndStep(const TFcChart& chart, int stepNo) {
  const TFcObject* o = FindObject(chart, stepNo);
  if (!o) return true;
  for (int k = 0; k < o->ConnectionCount(); ++k)
    if (Leaves(*o->Connections(k), *o)) return false;
  return true;
}

int IndexOfStep(const TFcChart& chart, int stepNo) {
  const TFcObject* o = FindObject(chart, stepNo);
  return o ? chart.IndexOfObject(o) : -1;
}

AnsiString GetStepName(const TFcChart& chart, int stepNo) {
  const TFcObject* o = FindObject(chart, stepNo);
  return o ? o->Text() : AnsiString();
}

void ColorStep(TFcChart& chart, int stepNo, int mode) {
  if (mode < scmPassed || mode > scmReset) return;
  const AnsiString id = IntToStr(stepNo);
  for (int i = 0; i < chart.ObjectCount(); ++i) {
    TFcObject* o = chart.Objects(i);
    if (stepNo == -1 || o->StepId() == id) o->SetBkColor(StepColors[mode]);
  }
}

void NumberChartSteps(TFcChart& chart, const std::vector<TStepName>& steps) {
  for (int i = 0; i < chart.ObjectCount(); ++i) {
    TFcObject* o = chart.Objects(i);
    if (!o->StepId().empty()) continue;
    for (const TStepName& s : steps) {
      if (s.name != o->Text()) continue;
      o->SetStepId(IntToStr(s.number));
      break;
    }
  }
}

std::vector<TFcObject*> CandidateObjects(const TFcChart& chart, int curStepNo) {
  std::vector<TFcObject*> out;
  const TFcObject* cur = FindObject(chart, curStepNo);
  if (!cur) return out;
  for (int k = 0; k < cur->ConnectionCount(); ++k) {
    const TFcConnection& c = *cur->Connections(k);
    if (!Leaves(c, *cur)) continue;
    if (c.DestArrow().ArrowType() == atArrow) {
      out.push_back(c.Dest());
    } else if (c.SourceArrow().ArrowType() == atArrow) {
      out.push_back(c.Source());
    }
  }
  return out;
}

std::vector<TFlowStripEntry> BuildFlowStripEntries(const TFcChart& chart, const std::vector<int32_t>& passedSteps,
                                                   int curStepNo, bool hasStoredNext, int storedNextNo,
                                                   const TConditionContext& context) {
  std::vector<TFlowStripEntry> out;
  auto arrow = [&] { out.push_back({true, -1, false}); };
  for (size_t i = 0; i < passedSteps.size(); ++i) {
    if (i > 0) arrow();
    out.push_back({false, passedSteps[i], true});
  }
  if (!passedSteps.empty()) arrow();

  std::set<int> walked;
  int s = curStepNo;
  out.push_back({false, s, false});
  walked.insert(s);
  while (s != -1) {
    if (s == curStepNo && hasStoredNext) {
      if (walked.count(storedNextNo)) break;
      arrow();
      s = storedNextNo;
      out.push_back({false, s, false});
      walked.insert(s);
      if (s == -1) break;
    }
    if (IsEndStep(chart, s)) break;
    const int next = NextStep(chart, s, context);
    if (next != -1 && walked.count(next)) break;  // a cycle: the walk would not end
    arrow();
    s = next;
    out.push_back({false, s, false});
    walked.insert(s);
  }
  return out;
}

void AddNextHandler(const AnsiString& id, const AnsiString& name, std::vector<frames::PickedUser>& picked,
                    AnsiString& names) {
  frames::PickedUser u;
  u.userId = id;
  u.userName = name;
  picked.push_back(std::move(u));
  if (!names.empty()) names += ',';
  names += name;
}

AnsiString LoadNextHandlers(const TStepRecord* step, const AnsiString& authorId, const AnsiString& authorName,
                            int32_t sessionDept, std::vector<frames::PickedUser>& picked) {
  picked.clear();
  AnsiString names;
  if (!step) return names;
  if (step->authorIsHandler) {
    AddNextHandler(authorId, authorName, picked, names);
    return names;
  }
  AnsiString dept(1, ',');
  dept += IntToStr(sessionDept);
  dept += ',';
  for (uint32_t i = 0; i < step->handlerCount && i < kMaxHandlers; ++i) {
    const frames::PickedUser& h = step->handlers[i];
    if (step->departmentReview && h.deptNumber != sessionDept && h.deptNumbers.find(dept) == AnsiString::npos)
      continue;
    picked.push_back(h);
    if (!names.empty()) names += ',';
    names += h.userName;
  }
  return names;
}
