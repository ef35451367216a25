#include "flowchart/ui/fcUndo.h"

#include <algorithm>
#include <string_view>

#include "flowchart/FcChart.h"

void TUndoManager::SetLimit(int v) { limit_ = std::clamp(v, 1, kMaxLimit); }

void TUndoManager::SaveState() {
  std::string s = WriteChartData(chart_->SaveToData(), chart_->Font().Name);
  if (!sizes_.empty() && sizes_.back() == s.size() &&
      std::string_view(store_).substr(store_.size() - s.size()) == s) {
    canUndo_ = Count() > 1;
    return;
  }
  while (Count() >= limit_) {
    store_.erase(0, sizes_.front());
    sizes_.erase(sizes_.begin());
  }
  store_ += s;
  sizes_.push_back(static_cast<uint32_t>(s.size()));
  canUndo_ = Count() > 1;
}

void TUndoManager::Undo() {
  if (!canUndo_ || Count() < 2) return;
  const size_t last = sizes_.back();
  const size_t prev = sizes_[sizes_.size() - 2];
  const size_t prevStart = store_.size() - last - prev;
  chart_->LoadFromData(ReadChartData(std::string_view(store_).substr(prevStart, prev)));
  sizes_.pop_back();
  store_.resize(store_.size() - last);
  canUndo_ = Count() >= 2;
}

void TUndoManager::Clear() {
  store_.clear();
  sizes_.clear();
  canUndo_ = false;
}
