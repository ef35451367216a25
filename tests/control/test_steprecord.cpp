// The step record and the workflow definition message around it.
#include <gtest/gtest.h>

#include "control/wire/FlowMessage.h"
#include "control/wire/StepRecord.h"
#include "core/ByteIO.h"

namespace {

TStepRecord FullRecord() {
  TStepRecord r;
  r.id = 7;
  r.name = "draft";
  r.attachmentsReadOnly = 0;
  r.handlerCount = 2;
  r.handlers[0] = {"{11111111-2222-3333-4444-555555555555}", "zhang", 10, ",10,12,"};
  r.handlers[1] = {"{AAAAAAAA-2222-3333-4444-555555555555}", "li", 11, ",11,"};
  r.lockHandlers = 1;
  r.allowStepJumps = 1;
  r.showDistribute = 1;
  r.showArchive = 1;
  r.departmentReview = 1;
  r.incomingBranches = "start@amount>100;";
  r.daysToHandle = "3";
  r.editableCells = "title,amount";
  r.showNumbering = 1;
  r.opinionCell = "opinion1";
  r.authorIsHandler = 1;
  r.eraseRevisions = 1;
  r.changeState = stepKept;
  r.previousSteps = "start";
  r.nextSteps = "review,archive";
  return r;
}

}  // namespace

TEST(StepRecord, FieldsSitAtTheirOffsetsAndRoundTripByteForByte) {
  const std::string b = WriteStepRecord(FullRecord());
  ASSERT_EQ(b.size(), kStepRecordSize);
  EXPECT_EQ(GetI32LE(b.data()), 7);
  EXPECT_EQ(b.substr(4, 6), "\x05" "draft");
  EXPECT_EQ(GetI32LE(b.data() + 56), 2);
  EXPECT_EQ(b.substr(64 + 352 + 39, 3), "\x02li");
  EXPECT_EQ(GetI32LE(b.data() + 64 + 92), 10);
  EXPECT_EQ(b.substr(64 + 96, 8), "\x07,10,12,");
  EXPECT_EQ(b.substr(10976, 5), std::string(5, '\x01'));
  EXPECT_EQ(b.substr(10981, 2), "\x11s");
  EXPECT_EQ(b.substr(11237, 2), "\x01" "3");
  EXPECT_EQ(uint8_t(b[11749]), 1);
  EXPECT_EQ(b.substr(11750, 2), "\x08o");
  EXPECT_EQ(uint8_t(b[11853]), stepKept);
  EXPECT_EQ(b.substr(12110, 2), "\x0er");
  EXPECT_EQ(b.substr(12366), std::string(2, '\0'));
  EXPECT_EQ(b.substr(60, 4), std::string(4, '\0'));

  const TStepRecord back = ReadStepRecord(b);
  EXPECT_TRUE(back == FullRecord());
  EXPECT_EQ(WriteStepRecord(back), b);
}

TEST(StepRecord, NewRecordIsAnAddedStepWithReadOnlyAttachments) {
  const std::string b = WriteStepRecord(NewStepRecord());
  EXPECT_EQ(GetI32LE(b.data()), -1);
  EXPECT_EQ(uint8_t(b[55]), 1);
  EXPECT_EQ(uint8_t(b[11853]), stepAdded);
  EXPECT_EQ(b.substr(4, 51), std::string(51, '\0'));
}

TEST(StepRecord, DamagedCountsAndLengthsStayInsideTheRecord) {
  std::string b = WriteStepRecord(FullRecord());
  PutI32LE(b.data() + 56, 5000);
  b[4] = char(200);          // name length beyond s[50]
  b[64 + 39] = char(255);    // handler name length beyond s[50]
  const TStepRecord r = ReadStepRecord(b);
  EXPECT_EQ(r.handlerCount, kMaxHandlers);
  EXPECT_EQ(r.name.size(), 50u);
  EXPECT_EQ(r.handlers[0].userName.size(), 50u);
  EXPECT_THROW(ReadStepRecord(b.substr(0, kStepRecordSize - 1)), frames::EFrameError);
}

TEST(FlowMessage, RoundTripsAndRefusesCountsBeyondItsBytes) {
  TFlowMessage m;
  m.flowId = 3;
  m.compId = 1;
  m.flowName = "purchase";
  m.formFile = "purchase.xls";
  m.distributionType = 2;
  m.formList1 = "|purchase.xls|leave.xls|";
  m.steps = {FullRecord(), NewStepRecord()};
  m.chart = "chart-bytes";
  const std::string b = BuildFlowMessage(m);
  ASSERT_EQ(b.size(), kFlowHeaderSize + 2 * kStepRecordSize + 11);
  EXPECT_EQ(b.substr(0, 5), "\x04" "FLOW");
  EXPECT_EQ(GetI32LE(b.data() + 288), 2);
  EXPECT_EQ(GetI32LE(b.data() + 292), 11);
  const TFlowMessage back = ParseFlowMessage(b);
  EXPECT_EQ(back.flowName, "purchase");
  EXPECT_EQ(back.distributionType, 2u);
  ASSERT_EQ(back.steps.size(), 2u);
  EXPECT_TRUE(back.steps[0] == FullRecord());
  EXPECT_EQ(back.chart, "chart-bytes");
  EXPECT_EQ(BuildFlowMessage(back), b);

  for (auto [at, v] : {std::pair<size_t, int32_t>{288, 3}, {288, -1}, {292, 12}, {292, -1}}) {
    std::string bad = b;
    PutI32LE(bad.data() + at, v);
    EXPECT_THROW(ParseFlowMessage(bad), frames::EFrameError) << at << " " << v;
  }
  EXPECT_THROW(ParseFlowMessage(b.substr(0, 807)), frames::EFrameError);
}
