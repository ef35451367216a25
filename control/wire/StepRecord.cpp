#include "control/wire/StepRecord.h"

#include <algorithm>
#include <string>
#include <utility>

#include "control/wire/RecordReader.h"

namespace {

constexpr size_t kHandlersAt = 64;

// Handler texts whose length bytes are clamped before the entry is read.
constexpr std::pair<size_t, size_t> kHandlerTexts[] = {{0, 38}, {39, 50}, {96, 255}};

THandlerEntry ReadHandler(std::string_view bytes) {
  std::string entry(bytes.substr(0, kHandlerEntrySize));
  for (const auto& [at, n] : kHandlerTexts)
    if (uint8_t(entry[at]) > n) entry[at] = char(n);
  return frames::ReadPickedUser(entry);
}

bool SameHandler(const THandlerEntry& a, const THandlerEntry& b) {
  return a.userId == b.userId && a.userName == b.userName && a.deptNumber == b.deptNumber &&
         a.deptNumbers == b.deptNumbers;
}

}  // namespace

bool TStepRecord::operator==(const TStepRecord& o) const {
  for (size_t i = 0; i < kHandlerSlots; ++i)
    if (!SameHandler(handlers[i], o.handlers[i])) return false;
  return id == o.id && name == o.name && attachmentsReadOnly == o.attachmentsReadOnly &&
         handlerCount == o.handlerCount && lockHandlers == o.lockHandlers && allowStepJumps == o.allowStepJumps &&
         showDistribute == o.showDistribute && showArchive == o.showArchive &&
         departmentReview == o.departmentReview && incomingBranches == o.incomingBranches &&
         daysToHandle == o.daysToHandle && editableCells == o.editableCells && showNumbering == o.showNumbering &&
         opinionCell == o.opinionCell && authorIsHandler == o.authorIsHandler &&
         eraseRevisions == o.eraseRevisions && changeState == o.changeState && previousSteps == o.previousSteps &&
         nextSteps == o.nextSteps;
}

TStepRecord NewStepRecord() {
  TStepRecord r;
  r.id = -1;
  r.attachmentsReadOnly = 1;
  r.changeState = stepAdded;
  return r;
}

std::string WriteStepRecord(const TStepRecord& r) {
  frames::FrameWriter w(kStepRecordSize);
  w.I32(0, r.id).Text(4, 50, r.name).U8(55, r.attachmentsReadOnly);
  w.I32(56, int32_t(r.handlerCount));
  for (size_t i = 0; i < kHandlerSlots; ++i)
    w.Bytes(kHandlersAt + i * kHandlerEntrySize, frames::WritePickedUser(r.handlers[i]));
  w.U8(10976, r.lockHandlers)
      .U8(10977, r.allowStepJumps)
      .U8(10978, r.showDistribute)
      .U8(10979, r.showArchive)
      .U8(10980, r.departmentReview)
      .Text(10981, 255, r.incomingBranches)
      .Text(11237, 255, r.daysToHandle)
      .Text(11493, 255, r.editableCells)
      .U8(11749, r.showNumbering)
      .Text(11750, 100, r.opinionCell)
      .U8(11851, r.authorIsHandler)
      .U8(11852, r.eraseRevisions)
      .U8(11853, r.changeState)
      .Text(11854, 255, r.previousSteps)
      .Text(12110, 255, r.nextSteps);
  return w.Take();
}

TStepRecord ReadStepRecord(std::string_view bytes) {
  wire::RecordReader f(bytes, kStepRecordSize, "Step record");
  TStepRecord r;
  r.id = f.I32(0);
  r.name = f.ClampedText(4, 50);
  r.attachmentsReadOnly = f.U8(55);
  r.handlerCount = std::min(f.U32(56), kMaxHandlers);
  for (size_t i = 0; i < kHandlerSlots; ++i)
    r.handlers[i] = ReadHandler(f.View(kHandlersAt + i * kHandlerEntrySize, kHandlerEntrySize));
  r.lockHandlers = f.U8(10976);
  r.allowStepJumps = f.U8(10977);
  r.showDistribute = f.U8(10978);
  r.showArchive = f.U8(10979);
  r.departmentReview = f.U8(10980);
  r.incomingBranches = f.ClampedText(10981, 255);
  r.daysToHandle = f.ClampedText(11237, 255);
  r.editableCells = f.ClampedText(11493, 255);
  r.showNumbering = f.U8(11749);
  r.opinionCell = f.ClampedText(11750, 100);
  r.authorIsHandler = f.U8(11851);
  r.eraseRevisions = f.U8(11852);
  r.changeState = f.U8(11853);
  r.previousSteps = f.ClampedText(11854, 255);
  r.nextSteps = f.ClampedText(12110, 255);
  return r;
}
