#include "apps/oa-server/OaRights.h"

#include <algorithm>
#include <map>

namespace oa {

namespace {

bool Contains(const std::vector<AnsiString>& ids, const AnsiString& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

const TStepRecord* FindStep(const TFlowMessage& wf, int32_t id) {
  for (const TStepRecord& s : wf.steps)
    if (s.id == id) return &s;
  return nullptr;
}

int32_t StartStep(const TFlowMessage& wf) {
  for (const TStepRecord& s : wf.steps)
    if (s.previousSteps.empty()) return s.id;
  return wf.steps.empty() ? 0 : wf.steps.front().id;
}

bool HandlesCurrentStep(const StoredDocument& d, const TFlowMessage& wf, const AnsiString& userId) {
  if (userId.empty()) return false;
  if (!d.stepHandlers.empty()) return Contains(d.stepHandlers, userId);
  const TStepRecord* step = FindStep(wf, d.currentStep);
  if (!step) return false;
  if (step->authorIsHandler && userId == d.authorId) return true;
  const uint32_t count = std::min<uint32_t>(step->handlerCount, uint32_t(std::size(step->handlers)));
  for (uint32_t i = 0; i < count; ++i)
    if (step->handlers[i].userId == userId) return true;
  return false;
}

bool MayChange(const StoredDocument& d, const TFlowMessage& wf, const AnsiString& userId) {
  if (d.state != "open" || userId.empty()) return false;
  if (userId == d.authorId && d.currentStep == StartStep(wf)) return true;
  return HandlesCurrentStep(d, wf, userId);
}

bool MayComment(const StoredDocument& d, const TFlowMessage& wf, const AnsiString& userId,
                const std::vector<AnsiString>& holders) {
  if (d.state == "destroyed" || userId.empty()) return false;
  return userId == d.authorId || Contains(holders, userId) || HandlesCurrentStep(d, wf, userId);
}

std::vector<AnsiString> Holders(const std::vector<AnsiString>& given, const std::vector<AnsiString>& taken) {
  std::map<AnsiString, int64_t> balance;
  for (const AnsiString& id : given) ++balance[id];
  for (const AnsiString& id : taken) --balance[id];
  std::vector<AnsiString> holders;
  for (const auto& [id, n] : balance)
    if (n > 0) holders.push_back(id);
  return holders;
}

}  // namespace oa
