// The step record: who handles a workflow step and what the document form may
// do at it. One fixed 12368-byte layout, shared by the workflow definition
// ("FLOW") and the document reply ("EXCE").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/wire/Frames.h"
#include "core/AnsiString.h"

inline constexpr size_t kStepRecordSize = 12368;
inline constexpr size_t kHandlerEntrySize = frames::kPickedUserSize;  // 352
inline constexpr size_t kHandlerSlots = 31;
inline constexpr uint32_t kMaxHandlers = 30;

// Change state of a step record in the workflow editor.
enum : uint8_t { stepUnchanged = 0, stepAdded = 1, stepKept = 2, stepDeleted = 3 };

// The handler entry is the picked-user entry of the document frames.
using THandlerEntry = frames::PickedUser;

struct TStepRecord {
  int32_t id = 0;  // -1: added in the editor
  AnsiString name;  // the Text of the step's chart object
  uint8_t attachmentsReadOnly = 1;
  uint32_t handlerCount = 0;  // 0..30
  std::array<THandlerEntry, kHandlerSlots> handlers;
  uint8_t lockHandlers = 0;
  uint8_t allowStepJumps = 0;
  uint8_t showDistribute = 0;
  uint8_t showArchive = 0;
  uint8_t departmentReview = 0;
  AnsiString incomingBranches;  // "source@condition;" entries, newest first
  AnsiString daysToHandle;
  AnsiString editableCells;  // field names joined by ","
  uint8_t showNumbering = 0;
  AnsiString opinionCell;
  uint8_t authorIsHandler = 0;
  uint8_t eraseRevisions = 0;
  uint8_t changeState = stepUnchanged;
  AnsiString previousSteps;  // names joined by ","
  AnsiString nextSteps;

  bool operator==(const TStepRecord&) const;
};

// A record as the editor creates it for a new step: id -1, attachments
// read-only, change state "added", every text empty.
TStepRecord NewStepRecord();

// Exactly kStepRecordSize bytes; unused bytes and texts' tails are zero.
std::string WriteStepRecord(const TStepRecord& r);
// Reads the first kStepRecordSize bytes; fewer throw frames::EFrameError.
// A handler count above 30 reads as 30 and a text length byte above its
// field's size as that size, so a damaged record never reaches beyond its
// tables.
TStepRecord ReadStepRecord(std::string_view bytes);
