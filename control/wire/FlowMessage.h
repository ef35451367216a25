// The workflow definition as it travels: an 808-byte header, the step records
// and the chart stream. The server sends it for "CHAT"; the editor sends it
// back to save.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/wire/StepRecord.h"

inline constexpr size_t kFlowHeaderSize = 808;

struct TFlowMessage {
  // The three header bytes at +5 no field uses: the mark of the definition an editor's
  // copy was made from (ContentToken's low 24 bits), so that a save from an older one is
  // told apart; 0 not said.
  uint32_t madeFrom = 0;
  uint32_t flowId = 0;
  uint32_t compId = 0;
  AnsiString flowName;  // s[60]
  AnsiString formFile;
  AnsiString database;
  AnsiString titleCell;
  uint8_t fullScreen = 0;
  AnsiString numberCell;
  uint32_t distributionType = 0;  // 0 none, 1 internal, 2 outside, 3 both
  AnsiString formList1;           // "|a|b|..." across the two s[255] parts
  AnsiString formList2;
  std::vector<TStepRecord> steps;
  std::string chart;  // chart stream; empty: no chart
};

std::string BuildFlowMessage(const TFlowMessage& m);
// Refuses (frames::EFrameError) a message whose record count or chart length
// reaches beyond its bytes; bytes after the chart are ignored.
TFlowMessage ParseFlowMessage(std::string_view frame);
// The mark of a definition as the server sends it, whatever madeFrom it carries.
uint32_t FlowToken(TFlowMessage m);
