// Who handles the next step: the handlers of its step record, as the document's picked
// users. Free of the chart, so the form's sheet code can use it.
#pragma once

#include <cstdint>
#include <vector>

#include "control/wire/StepRecord.h"
#include "core/AnsiString.h"

// The next step's handlers as the picked users of the document (replacing them), and
// their names joined by ",". The author alone when the step makes the author the
// handler; with the department review on, a handler of another department only when
// its department list holds ",<sessionDept>,". No step: nobody.
AnsiString LoadNextHandlers(const TStepRecord* step, const AnsiString& authorId, const AnsiString& authorName,
                            int32_t sessionDept, std::vector<frames::PickedUser>& picked);
// Appends one handler; names joined by ",".
void AddNextHandler(const AnsiString& id, const AnsiString& name, std::vector<frames::PickedUser>& picked,
                    AnsiString& names);
