#include "control/wire/FlowMessage.h"

#include "control/wire/Frames.h"
#include "control/wire/RecordReader.h"

std::string BuildFlowMessage(const TFlowMessage& m) {
  const size_t stepsEnd = kFlowHeaderSize + m.steps.size() * kStepRecordSize;
  frames::FrameWriter w(stepsEnd + m.chart.size());
  w.Code("FLOW")
      .U8(5, uint8_t(m.madeFrom))
      .U8(6, uint8_t(m.madeFrom >> 8))
      .U8(7, uint8_t(m.madeFrom >> 16))
      .I32(8, int32_t(m.flowId))
      .I32(12, int32_t(m.compId))
      .Text(16, 60, m.flowName)
      .Text(77, 50, m.formFile)
      .Text(128, 50, m.database)
      .Text(179, 50, m.titleCell)
      .U8(230, m.fullScreen)
      .Text(231, 50, m.numberCell)
      .I32(284, int32_t(m.distributionType))
      .I32(288, int32_t(m.steps.size()))
      .I32(292, int32_t(m.chart.size()))
      .Text(296, 255, m.formList1)
      .Text(552, 255, m.formList2);
  for (size_t i = 0; i < m.steps.size(); ++i) w.Bytes(kFlowHeaderSize + i * kStepRecordSize, WriteStepRecord(m.steps[i]));
  w.Bytes(stepsEnd, m.chart);
  return w.Take();
}

TFlowMessage ParseFlowMessage(std::string_view frame) {
  wire::RecordReader f(frame, kFlowHeaderSize, "Flow message");
  TFlowMessage m;
  m.madeFrom = uint32_t(f.U8(5)) | uint32_t(f.U8(6)) << 8 | uint32_t(f.U8(7)) << 16;
  m.flowId = f.U32(8);
  m.compId = f.U32(12);
  m.flowName = f.Text(16, 60);
  m.formFile = f.Text(77, 50);
  m.database = f.Text(128, 50);
  m.titleCell = f.Text(179, 50);
  m.fullScreen = f.U8(230);
  m.numberCell = f.Text(231, 50);
  m.distributionType = f.U32(284);
  m.formList1 = f.Text(296, 255);
  m.formList2 = f.Text(552, 255);
  const uint64_t count = f.U32(288);
  const uint64_t chartLength = f.U32(292);
  const uint64_t stepsEnd = kFlowHeaderSize + count * kStepRecordSize;
  if (stepsEnd > frame.size() || chartLength > frame.size() - stepsEnd)
    wire::Refuse("Flow message: steps or chart beyond its end");
  m.steps.reserve(size_t(count));
  for (uint64_t i = 0; i < count; ++i)
    m.steps.push_back(ReadStepRecord(frame.substr(kFlowHeaderSize + size_t(i) * kStepRecordSize, kStepRecordSize)));
  m.chart = std::string(frame.substr(size_t(stepsEnd), size_t(chartLength)));
  return m;
}

uint32_t FlowToken(TFlowMessage m) {
  m.madeFrom = 0;
  // What an editor marked changed is no part of the definition.
  for (TStepRecord& s : m.steps) s.changeState = stepUnchanged;
  const uint32_t t = frames::ContentToken(BuildFlowMessage(m)) & 0xFFFFFF;
  return t ? t : 1;
}
