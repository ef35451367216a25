// The document record: the "EXCE" reply parsed into its arrays, split values
// joined, and the "UPDA" frame with its header fields and 255-byte pieces.
#include <gtest/gtest.h>

#include "control/wire/Class_StoExcel.h"
#include "control/wire/Un_type.h"
#include "core/ByteIO.h"

namespace {

TStream2Array SampleDocument() {
  TStream2Array d;
  d.Header.SetText(dh::TableName, "docs");
  d.Header.SetText(dh::RecordId, "{00000000-0000-0000-0000-000000000001}");
  d.Header.SetI32(dh::CurrentStep, 2);
  d.Header.SetI32(dh::ObjectNumber, 77);
  TStepRecord s = NewStepRecord();
  s.id = 2;
  s.name = "review";
  d.Steps = {s};
  d.FieldRecords = {{"title", "A"}, {"body", std::string(255, 'x')}, {"body", "yz"}, {"Status", "1"}};
  d.PassedSteps = {{1, 0}, {2, 5}};
  d.Phrases = {{"agree", 0}, {"read", 1}};
  d.Comments = {{"{U}", "zhang", 45000.5, "fine"}};
  d.PickedUsers = {{"{P}", "li", 3, ",3,"}};
  d.AttachmentNames = {"a.doc"};
  d.ComboSources = {{"KIND", "one\r\ntwo", "1\r\n2"}};
  return d;
}

}  // namespace

TEST(DocumentRecord, ReplyParsesBackToTheSameArraysSheetAndChart) {
  const std::string reply = SampleDocument().BuildDocumentReply("SHEET", "CHART");
  EXPECT_EQ(reply.substr(0, 5), "\x04" "EXCE");
  TStream2Array d;
  TMemoryStream s{reply};
  d.LoadFromStream(s);
  const TStream2Array want = SampleDocument();
  EXPECT_TRUE(d.Steps == want.Steps);
  EXPECT_EQ(d.FieldRecords, want.FieldRecords);
  EXPECT_EQ(d.PassedSteps, want.PassedSteps);
  EXPECT_EQ(d.Phrases, want.Phrases);
  ASSERT_EQ(d.Comments.size(), 1u);
  EXPECT_EQ(d.Comments[0].text, "fine");
  EXPECT_EQ(d.Comments[0].dateTime, 45000.5);
  ASSERT_EQ(d.PickedUsers.size(), 1u);
  EXPECT_EQ(d.PickedUsers[0].deptNumbers, ",3,");
  EXPECT_EQ(d.AttachmentNames, want.AttachmentNames);
  EXPECT_EQ(d.ComboSources, want.ComboSources);
  EXPECT_EQ(d.Header.I32(dh::ObjectNumber), 77);
  EXPECT_EQ(d.Status, 1);
  EXPECT_EQ(TStream2Array::SheetPart(reply), "SHEET");
  EXPECT_EQ(TStream2Array::ChartPart(reply), "CHART");
  TMemoryStream body, tail;
  TStream2Array::ReadBody(s, body);
  TStream2Array::ReadTail(s, tail);
  EXPECT_EQ(body.Data(), "SHEET");
  EXPECT_EQ(tail.Data(), "CHART");

  // Without a form's field table: one entry per name, the split value joined,
  // and the workflow's own records left out.
  ASSERT_EQ(d.Fields.size(), 2u);
  EXPECT_EQ(d.Fields[0].name, "title");
  EXPECT_EQ(d.Fields[1].stored, std::string(255, 'x') + "yz");
}

TEST(DocumentRecord, FormFieldTableTakesTheLastRunOfItsName) {
  TStream2Array src = SampleDocument();
  src.FieldRecords = {{"a", "1"}, {"b", "p"}, {"b", "q"}, {"a", "2"}, {"a", "3"}};
  TStream2Array d;
  d.Fields = {{4, 2, "a", "", ""}, {5, 2, "b", "", ""}, {6, 2, "c", "keep", ""}};
  d.LoadFromBytes(src.BuildDocumentReply("", ""));
  EXPECT_EQ(d.Fields[0].stored, "23");
  EXPECT_EQ(d.Fields[0].row, 4);
  EXPECT_EQ(d.Fields[1].stored, "pq");
  EXPECT_EQ(d.Fields[2].stored, "keep");
  EXPECT_EQ(d.Status, -1);
}

TEST(DocumentRecord, UpdateFrameSplitsLongValuesAndAddsStatusAndStep) {
  SessionValues().UserGUID = "{USER-GUID}";
  TStream2Array d = SampleDocument();
  d.Fields.clear();
  for (int i = 0; i < 10; ++i) d.Fields.push_back({0, 0, "f" + std::to_string(i), "", "v"});
  d.PickedUsers = {{"{A}", "a", 0, ""}, {"{B}", "b", 0, ""}};
  // Ten short fields and two picked users: 12 records, length 792 + 12 x 308 + 2 x 352.
  EXPECT_EQ(GetI32LE(d.BuildUpdateFrame("docs", "{REC}", 0, SessionValues()).Data().data() + dh::SheetOffset), 5192);

  d.Fields[3].edited = std::string(600, 'L');
  d.Fields[4].edited = std::string(255, 'M');
  d.Fields[5].edited = std::string(256, 'N');
  const std::string f = d.BuildUpdateFrame("docs", "{REC}", 1, SessionValues()).Data();
  // 600 bytes in 3 pieces, 255 in 1, 256 in 2, seven short ones, Status, StepID.
  EXPECT_EQ(GetI32LE(f.data() + dh::FieldCount), 15);
  EXPECT_EQ(GetI32LE(f.data() + dh::PickedCount), 2);
  const size_t want = 792 + 15 * 308 + 2 * 352;
  EXPECT_EQ(GetI32LE(f.data() + dh::SheetOffset), int32_t(want));
  ASSERT_EQ(f.size(), want);
  EXPECT_EQ(f.substr(0, 5), "\x04" "UPDA");
  EXPECT_EQ(f.substr(184, 5), "\x04V1.0");
  EXPECT_EQ(f.substr(205, 12), "\x0b{USER-GUID}");
  EXPECT_EQ(f.substr(58, 6), "\x05{REC}");

  const TUpdateFrame u = ParseUpdateFrame(f);
  ASSERT_EQ(u.records.size(), 15u);
  EXPECT_EQ(u.records[3].value.size(), 255u);
  EXPECT_EQ(u.records[4].value.size(), 255u);
  EXPECT_EQ(u.records[5].value.size(), 90u);
  EXPECT_EQ(u.records[6].value.size(), 255u);  // exactly 255: one record
  EXPECT_EQ(u.records[8].value, "N");          // 256: 255 and 1
  EXPECT_EQ(u.records[13].name, "Status");
  EXPECT_EQ(u.records[13].value, "1");
  EXPECT_EQ(u.records[14].name, "StepID");
  EXPECT_EQ(u.records[14].value, "2");
  const auto joined = JoinSplitValues(u.records);
  EXPECT_EQ(joined[3].value, std::string(600, 'L'));
  EXPECT_EQ(joined[5].value, std::string(256, 'N'));
  EXPECT_EQ(u.pickedUsers[1].userId, "{B}");
  ClearSessionValues();
}

TEST(DocumentRecord, HostileRepliesAreRefusedAndChangeNothing) {
  const std::string good = SampleDocument().BuildDocumentReply("SHEET", "CHART");
  auto with = [&](size_t at, int32_t v) {
    std::string b = good;
    PutI32LE(b.data() + at, v);
    return b;
  };
  std::string badStatus = SampleDocument().BuildDocumentReply("", "");
  {
    TStream2Array t = SampleDocument();
    t.FieldRecords.back().value = "1x";
    badStatus = t.BuildDocumentReply("", "");
  }
  std::string badText = good;
  badText[7] = char(51);  // table name longer than s[50]
  const std::string hostile[] = {
      good.substr(0, 791),           with(dh::StepCount, 2),        with(dh::StepCount, -1),
      with(dh::FieldCount, 1 << 30), with(dh::ComboCount, 100000),  with(dh::AttachmentCount, 2),
      with(dh::SheetOffset, 10),     with(dh::SheetOffset, int32_t(good.size()) + 1),
      with(dh::SheetSize, 1 << 20),  with(dh::SheetSize, -1),       badStatus,
      badText,
  };
  TStream2Array d;
  d.LoadFromBytes(good);
  for (const std::string& h : hostile) {
    EXPECT_THROW(d.LoadFromBytes(h), frames::EFrameError);
    EXPECT_EQ(d.FieldRecords.size(), 4u);
    EXPECT_EQ(d.Status, 1);
  }
  EXPECT_THROW(TStream2Array::SheetPart(with(dh::SheetSize, 1 << 20)), frames::EFrameError);
  EXPECT_THROW(ParseUpdateFrame(good), frames::EFrameError);  // not an update
}
