#pragma once
// Whole-chart snapshots for the workflow editor's undo: each snapshot is the chart stream,
// kept end to end in one store; a snapshot equal to the last one is not stored.
#include <cstdint>
#include <string>
#include <vector>

class TFcChart;

class TUndoManager {
 public:
  static constexpr int kMaxLimit = 200;
  explicit TUndoManager(TFcChart* chart) : chart_(chart) {}

  int Limit() const { return limit_; }
  // Above 200 stores 200; below 1 stores 1, so the oldest snapshot can always make room.
  void SetLimit(int v);
  bool CanUndo() const { return canUndo_; }
  int Count() const { return static_cast<int>(sizes_.size()); }
  size_t StoreSize() const { return store_.size(); }

  // Stores the chart as it is now, unless it equals the last snapshot.
  void SaveState();
  // Loads the snapshot before the last one into the chart and forgets the last.
  void Undo();
  void Clear();

 private:
  TFcChart* chart_;
  std::string store_;
  std::vector<uint32_t> sizes_;
  int limit_ = 10;
  bool canUndo_ = false;
};
