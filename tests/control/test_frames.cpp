// Frame layouts: golden bytes for every request and bounds checks for every reply.
#include <gtest/gtest.h>

#include "control/wire/Frames.h"
#include "control/wire/RecordReader.h"
#include "control/wire/SingleFileContainer.h"
#include "control/wire/Un_type.h"

using namespace frames;

namespace {

int32_t I32At(const std::string& b, size_t at) { return wire::RecordReader(b, at + 4, "Test").I32(at); }

// The s[N] at `at` holds exactly `text` and zeros after it.
void ExpectField(const std::string& frame, size_t at, size_t n, const std::string& text) {
  ASSERT_LE(at + n + 1, frame.size());
  EXPECT_EQ(uint8_t(frame[at]), text.size()) << "length byte at " << at;
  EXPECT_EQ(frame.substr(at + 1, text.size()), text) << "text at " << at;
  EXPECT_EQ(frame.substr(at + 1 + text.size(), n - text.size()), std::string(n - text.size(), '\0'))
      << "padding at " << at;
}

// Every byte outside the named ranges is zero.
void ExpectZeroExcept(const std::string& frame, std::vector<std::pair<size_t, size_t>> named) {
  for (size_t i = 0; i < frame.size(); ++i) {
    bool inField = false;
    for (auto [from, len] : named) inField |= i >= from && i < from + len;
    if (!inField) {
      EXPECT_EQ(frame[i], '\0') << "unnamed byte " << i;
    }
  }
}

}  // namespace

TEST(FrameFields, TextIsCutAtTheFieldSizeInBytes) {
  const std::string sixty(60, 'x');
  std::string f = FrameWriter(51).Text(0, 50, sixty).Take();
  EXPECT_EQ(uint8_t(f[0]), 50);
  EXPECT_EQ(f.substr(1), std::string(50, 'x'));

  // A double-byte character cut by the limit stays cut, as the server expects.
  const AnsiString chinese = Cp936("中文");  // 4 bytes
  f = FrameWriter(4).Text(0, 3, chinese).Take();
  EXPECT_EQ(uint8_t(f[0]), 3);
  EXPECT_EQ(f.substr(1), chinese.substr(0, 3));
  EXPECT_EQ(wire::RecordReader(f, 4, "Test").Text(0, 3), chinese.substr(0, 3));
}

TEST(FrameFields, ReaderRefusesLyingLengthsAndShortInput) {
  std::string f = FrameWriter(11).Text(0, 10, "abc").Take();
  f[0] = 11;  // longer than its field
  wire::RecordReader r(f, 11, "Test");
  EXPECT_THROW(r.Text(0, 10), EFrameError);
  EXPECT_EQ(r.ClampedText(0, 10), std::string("abc") + std::string(7, '\0'));
  // Reads past the end are refused as a bad frame, whatever the reader was told to expect.
  EXPECT_THROW(r.I32(8), EFrameError);
  EXPECT_THROW(r.F64(4), EFrameError);
  EXPECT_THROW(r.View(size_t(-1), 2), EFrameError);
  EXPECT_THROW(r.Text(10, 10), EFrameError);
  EXPECT_THROW(wire::RecordReader(f, 12, "Test"), EFrameError);
  EXPECT_EQ(FrameCode(std::string("\x09LOGN", 5)), "");
  EXPECT_EQ(FrameCode("\x04LO"), "");
  EXPECT_EQ(FrameCode(BuildUnitsRequest(1)), "COMP");
}

TEST(RequestFrames, LoginIsExact) {
  const std::string f = BuildLoginRequest("abc");
  std::string expected(380, '\0');
  expected.replace(0, 9, std::string("\x04LOGN\x03" "abc", 9));
  EXPECT_EQ(f, expected);
  // The server's side of the same frame.
  EXPECT_EQ(ParseLoginRequest(f), "abc");
  EXPECT_THROW(ParseLoginRequest(f.substr(0, 379)), EFrameError);
  std::string lying = f;
  lying[5] = 39;
  EXPECT_THROW(ParseLoginRequest(lying), EFrameError);
}

TEST(RequestFrames, QueryAndFileLayouts) {
  QueryRecord q;
  q.database = "db";
  q.userId = "{U}";
  q.objectNumber = 0x01020304;
  q.tableName = "t";
  q.recordId = "{R}";
  q.commandFlag = 1;
  q.templateName = "tpl";
  q.userLevel = -2;
  q.readOnlyFlag = 1;
  q.initTable = "it";
  q.initRecord = "ir";
  q.loginName = "ln";
  q.userName = "un";
  q.deptName = "dn";
  q.roleName = "rn";
  q.dutyName = "du";
  const std::string f = BuildQueryRequest(q);
  ASSERT_EQ(f.size(), 596u);
  ExpectField(f, 0, 4, "QUEY");
  ExpectField(f, 5, 50, "db");
  ExpectField(f, 56, 38, "{U}");
  EXPECT_EQ(f.substr(96, 4), std::string("\x04\x03\x02\x01", 4));
  ExpectField(f, 100, 50, "t");
  ExpectField(f, 151, 38, "{R}");
  EXPECT_EQ(f[190], 1);
  ExpectField(f, 191, 50, "tpl");
  EXPECT_EQ(I32At(f, 244), -2);
  EXPECT_EQ(f[248], 1);
  ExpectField(f, 249, 50, "it");
  ExpectField(f, 300, 38, "ir");
  ExpectField(f, 339, 50, "ln");
  ExpectField(f, 390, 50, "un");
  ExpectField(f, 441, 50, "dn");
  ExpectField(f, 492, 50, "rn");
  ExpectField(f, 543, 50, "du");
  EXPECT_EQ(f.substr(594), std::string(2, '\0'));

  const std::string file = BuildFileRequest("{U}", "tab", "{R}", "body.doc");
  ASSERT_EQ(file.size(), 596u);
  ExpectField(file, 0, 4, "FILE");
  ExpectField(file, 56, 38, "{U}");
  ExpectField(file, 100, 50, "tab");
  ExpectField(file, 151, 38, "{R}");
  ExpectField(file, 191, 50, "body.doc");
  ExpectZeroExcept(file, {{0, 5}, {56, 39}, {100, 51}, {151, 39}, {191, 51}});
}

TEST(RequestFrames, ChatUserDocCommandNumbersUnitsSignOff) {
  const std::string chat = BuildChatRequest(4711);
  ASSERT_EQ(chat.size(), 808u);
  ExpectField(chat, 0, 4, "CHAT");
  EXPECT_EQ(I32At(chat, 8), 4711);
  ExpectZeroExcept(chat, {{0, 5}, {8, 4}});

  const std::string user = BuildUserRequest("tab", "7", UserListMode::NextHandler, 12, "{U}", 3);
  ASSERT_EQ(user.size(), 144u);
  ExpectField(user, 0, 4, "USER");
  ExpectField(user, 5, 50, "tab");
  ExpectField(user, 56, 38, "7");
  EXPECT_EQ(user[95], 2);
  EXPECT_EQ(I32At(user, 96), 12);
  ExpectField(user, 100, 38, "{U}");
  EXPECT_EQ(user[139], 0);
  EXPECT_EQ(I32At(user, 140), 3);

  const std::string dcmd = BuildDocCommandRequest("{U}", "tab", "{R}", "SENDFIAG", 3, -1);
  ASSERT_EQ(dcmd.size(), 156u);
  ExpectField(dcmd, 0, 4, "DCMD");
  ExpectField(dcmd, 5, 38, "{U}");
  ExpectField(dcmd, 44, 50, "tab");
  ExpectField(dcmd, 95, 38, "{R}");
  ExpectField(dcmd, 134, 10, "SENDFIAG");
  EXPECT_EQ(I32At(dcmd, 148), 3);
  EXPECT_EQ(I32At(dcmd, 152), -1);
  ExpectZeroExcept(dcmd, {{0, 5}, {5, 39}, {44, 51}, {95, 39}, {134, 11}, {148, 8}});

  const std::string bhqz = BuildNumbersRequest(9, "tab");
  ASSERT_EQ(bhqz.size(), 104u);
  ExpectField(bhqz, 0, 4, "BHQZ");
  EXPECT_EQ(I32At(bhqz, 8), 9);
  ExpectField(bhqz, 12, 50, "tab");
  ExpectZeroExcept(bhqz, {{0, 5}, {8, 4}, {12, 51}});

  const std::string comp = BuildUnitsRequest(9);
  EXPECT_EQ(comp, std::string("\x04" "COMP\0\0\0\x09\0\0\0\0\0\0\0", 16));

  const std::string qian = BuildSignOffRequest("{U}", "tab", "{R}", Cp936("同意"));
  ASSERT_EQ(qian.size(), 390u);
  ExpectField(qian, 0, 4, "QIAN");
  ExpectField(qian, 5, 38, "{U}");
  ExpectField(qian, 44, 50, "tab");
  ExpectField(qian, 95, 38, "{R}");
  ExpectField(qian, 134, 255, Cp936("同意"));
}

TEST(RequestFrames, FramesWithItems) {
  const std::string fefa = BuildDistributionRequest("FEFA", "tab", "{R}", "{U}", {{"{A}", false}, {"{B}", true}});
  ASSERT_EQ(fefa.size(), 140u + 2 * 304u);
  ExpectField(fefa, 0, 4, "FEFA");
  ExpectField(fefa, 5, 50, "tab");
  ExpectField(fefa, 56, 38, "{R}");
  EXPECT_EQ(I32At(fefa, 96), 2);
  ExpectField(fefa, 100, 38, "{U}");
  ExpectField(fefa, 140, 38, "{A}");
  EXPECT_EQ(fefa[140 + 302], 0);
  ExpectField(fefa, 444, 38, "{B}");
  EXPECT_EQ(fefa[444 + 302], 1);
  ExpectZeroExcept(fefa, {{0, 5}, {5, 51}, {56, 39}, {96, 4}, {100, 39}, {140, 39}, {444, 39}, {746, 1}});

  const std::string fefb = BuildDistributionRequest("FEFB", "tab", "{R}", "{U}", {});
  EXPECT_EQ(fefb, FrameWriter(fefa.substr(0, 140)).Code("FEFB").I32(96, 0).Take());

  const std::string otff = BuildOutsideDistributionRequest("{R}", "tab", {{5, "unit"}});
  ASSERT_EQ(otff.size(), 156u);
  ExpectField(otff, 0, 4, "OTFF");
  ExpectField(otff, 5, 38, "{R}");
  ExpectField(otff, 44, 50, "tab");
  EXPECT_EQ(I32At(otff, 96), 1);
  EXPECT_EQ(I32At(otff, 100), 5);
  ExpectField(otff, 104, 50, "unit");
  EXPECT_EQ(BuildOutsideDistributionRequest("{R}", "tab", {}).size(), 100u);

  const std::string sabb = BuildUploadRequest("{R}", "tab", 1, "CONTAINER");
  ASSERT_EQ(sabb.size(), 112u + 9);
  ExpectField(sabb, 0, 4, "SABB");
  ExpectField(sabb, 12, 38, "{R}");
  ExpectField(sabb, 51, 50, "tab");
  EXPECT_EQ(I32At(sabb, 104), 1);
  EXPECT_EQ(sabb.substr(112), "CONTAINER");
  ExpectZeroExcept(sabb.substr(0, 112), {{0, 5}, {12, 39}, {51, 51}, {104, 4}});
}

TEST(Records, FieldsAtTheirOffsets) {
  UserRecord u;
  u.userId = "{U}";
  u.userName = "name";
  u.unitNumber = 3;
  u.deptName = std::string(100, 'd');
  u.parentDeptNumber = 5;
  u.marker = 1;
  u.groups = ",g1,g2,";
  u.groupPages = "p1,p2";
  u.listUnderGroups = 1;
  u.listKind = 5;
  const std::string ub = WriteUserRecord(u);
  ASSERT_EQ(ub.size(), 832u);
  ExpectField(ub, 90, 50, "name");
  EXPECT_EQ(I32At(ub, 144), 3);
  ExpectField(ub, 204, 100, u.deptName);
  EXPECT_EQ(I32At(ub, 308), 5);
  EXPECT_EQ(ub[312], 1);
  ExpectField(ub, 313, 255, ",g1,g2,");
  ExpectField(ub, 569, 255, "p1,p2");
  EXPECT_EQ(ub[825], 1);
  EXPECT_EQ(I32At(ub, 828), 5);
  EXPECT_EQ(ReadUserRecord(ub).groupPages, "p1,p2");
  EXPECT_THROW(ReadUserRecord(ub.substr(0, 831)), EFrameError);

  const std::string cb = WriteCommentRecord({"{A}", "author", 40000.5, "text"});
  ASSERT_EQ(cb.size(), 360u);
  ExpectField(cb, 39, 50, "author");
  EXPECT_EQ(wire::RecordReader(cb, 104, "Test").F64(96), 40000.5);
  ExpectField(cb, 104, 255, "text");

  const std::string pb = WritePickedUser({"{P}", "picked", 7, "1,2"});
  ASSERT_EQ(pb.size(), 352u);
  ExpectField(pb, 39, 50, "picked");
  EXPECT_EQ(I32At(pb, 92), 7);
  ExpectField(pb, 96, 255, "1,2");
}

TEST(ReplyFrames, LoginAndServerMessage) {
  LoginReply l;
  l.UserGUID = "{USER}";
  l.LoginName = "admin";
  l.UserName = Cp936("管理员");
  l.CompID = 1;
  l.CompName = "comp";
  l.DeptID = 2;
  l.DeptName = "dept";
  l.RoleID = 3;
  l.RoleName = "role";
  l.DutyID = 4;
  l.DutyName = "duty";
  l.UserLevel = 9;
  l.Flag = 1;
  const std::string f = BuildLoginReply(l);
  ASSERT_EQ(f.size(), 380u);
  EXPECT_EQ(I32At(f, 148), 1);
  EXPECT_EQ(I32At(f, 372), 9);
  ExpectField(f, 320, 50, "duty");
  EXPECT_THROW(ParseLoginReply(std::string_view(f).substr(0, 379)), EFrameError);

  // Session values, field by field, from the reply's own offsets.
  UnpackLoginReply(f);
  const TSessionValues& s = SessionValues();
  EXPECT_EQ(s.UserGUID, "{USER}");
  EXPECT_EQ(s.LoginName, "admin");
  EXPECT_EQ(s.UserName, Cp936("管理员"));
  EXPECT_EQ(s.CompID, 1);
  EXPECT_EQ(s.CompName, "comp");
  EXPECT_EQ(s.DeptID, 2);
  EXPECT_EQ(s.DeptName, "dept");
  EXPECT_EQ(s.RoleID, 3);
  EXPECT_EQ(s.RoleName, "role");
  EXPECT_EQ(s.DutyID, 4);
  EXPECT_EQ(s.DutyName, "duty");
  EXPECT_EQ(s.UserLevel, 9);
  EXPECT_EQ(s.Flag, 1);
  // A refused short reply keeps the session as it was.
  EXPECT_THROW(UnpackLoginReply(std::string_view(f).substr(0, 200)), EFrameError);
  EXPECT_EQ(SessionValues().UserGUID, "{USER}");
  // A later reply replaces everything, an empty user ID logs out.
  UnpackLoginReply(BuildLoginReply({}));
  EXPECT_EQ(SessionValues().UserGUID, "");
  EXPECT_EQ(SessionValues().CompID, 0);

  const std::string m = BuildServerMessage(Cp936("文件操作成功！"));
  ASSERT_EQ(m.size(), 106u);
  EXPECT_EQ(ParseServerMessage(m), Cp936("文件操作成功！"));
  EXPECT_THROW(ParseServerMessage(m.substr(0, 105)), EFrameError);
  // A whole message that is not a refusal is the server taking the request.
  EXPECT_TRUE(IsAcceptedReply(m));
  EXPECT_TRUE(IsAcceptedReply(BuildServerMessage("")));
  EXPECT_FALSE(IsAcceptedReply(BuildServerMessage("|" + Cp936("保存失败"))));
  EXPECT_FALSE(IsAcceptedReply(m.substr(0, 105)));
  EXPECT_FALSE(IsAcceptedReply(BuildLoginReply({})));
  EXPECT_FALSE(IsAcceptedReply(""));

  // Text longer than its field is cut to the field's bytes and spills into nothing.
  const std::string sixty(60, 'x');
  const std::string cut = BuildServerMessage(sixty + sixty);
  ASSERT_EQ(cut.size(), 106u);
  EXPECT_EQ(uint8_t(cut[5]), 100);
  EXPECT_EQ(cut.substr(6, 100), std::string(100, 'x'));
  LoginReply longName;
  longName.UserName = sixty;
  const std::string reply = BuildLoginReply(longName);
  ASSERT_EQ(reply.size(), 380u);
  EXPECT_EQ(uint8_t(reply[95]), 50);
  EXPECT_EQ(reply[146], 0);
}

TEST(ReplyFrames, AttachmentsReplyChecksOffsetsAndCounts) {
  AttachmentsReply a;
  a.recordId = "{R}";
  a.tableName = "tab";
  a.readOnly = 1;
  a.slotCount = 4;
  a.comments = {{"{A}", "a", 1.0, "one"}, {"{B}", "b", 0, "two"}};
  std::string f = BuildAttachmentsReply(a, "CONT");
  AttachmentsReply p = ParseAttachmentsReply(f);
  EXPECT_EQ(p.containerOffset, 112 + 2 * 360);
  EXPECT_EQ(p.container, "CONT");
  ASSERT_EQ(p.comments.size(), 2u);
  EXPECT_EQ(p.comments[1].text, "two");
  EXPECT_EQ(p.readOnly, 1);
  EXPECT_EQ(p.slotCount, 4);

  // Container offset at the frame's end: comments and no container.
  f = BuildAttachmentsReply(a, "");
  p = ParseAttachmentsReply(f);
  EXPECT_TRUE(p.container.empty());
  EXPECT_EQ(p.comments.size(), 2u);

  auto lie = [&](size_t at, int32_t v) {
    std::string g = BuildAttachmentsReply(a, "CONT");
    return FrameWriter(std::move(g)).I32(at, v).Take();
  };
  EXPECT_THROW(ParseAttachmentsReply(lie(108, 3)), EFrameError);            // more comments than bytes
  EXPECT_THROW(ParseAttachmentsReply(lie(108, -1)), EFrameError);
  EXPECT_THROW(ParseAttachmentsReply(lie(108, 0x7fffffff)), EFrameError);
  EXPECT_THROW(ParseAttachmentsReply(lie(8, 112)), EFrameError);            // inside the comments
  EXPECT_THROW(ParseAttachmentsReply(lie(8, 2000)), EFrameError);           // past the end
  EXPECT_THROW(ParseAttachmentsReply(lie(8, -5)), EFrameError);
  EXPECT_THROW(ParseAttachmentsReply(lie(104, -1)), EFrameError);
  EXPECT_THROW(ParseAttachmentsReply(f.substr(0, 111)), EFrameError);
}

TEST(ReplyFrames, ListRepliesRefuseCountsBeyondTheirBytes) {
  std::vector<UserRecord> two(2);
  two[0].userId = "{A}";
  two[1].userId = "{B}";
  const std::string users = BuildUserListReply(two);
  ASSERT_EQ(users.size(), 12u + 2 * 832u);
  ASSERT_EQ(ParseUserListReply(users).size(), 2u);
  EXPECT_EQ(ParseUserListReply(users)[1].userId, "{B}");
  EXPECT_THROW(ParseUserListReply(users.substr(0, users.size() - 1)), EFrameError);
  EXPECT_THROW(ParseUserListReply(FrameWriter(users).I32(8, -1).Take()), EFrameError);
  EXPECT_THROW(ParseUserListReply(FrameWriter(users).I32(8, 0x7fffffff).Take()), EFrameError);

  const std::string numbers = BuildNumbersReply({{1, "NO-", 0, 17}});
  ASSERT_EQ(numbers.size(), 164u);
  EXPECT_EQ(I32At(numbers, 64), 1);
  const auto parsedNumbers = ParseNumbersReply(numbers);
  ASSERT_EQ(parsedNumbers.size(), 1u);
  EXPECT_EQ(parsedNumbers[0].prefix, "NO-");
  EXPECT_EQ(parsedNumbers[0].nextNumber, 17);
  EXPECT_THROW(ParseNumbersReply(FrameWriter(numbers).I32(64, 2).Take()), EFrameError);
  EXPECT_THROW(ParseNumbersReply(numbers.substr(0, 103)), EFrameError);

  const std::string units = BuildUnitsReply({{1, "a"}, {2, "b"}});
  ASSERT_EQ(units.size(), 16u + 112u);
  EXPECT_EQ(I32At(units, 12), 2);
  EXPECT_EQ(ParseUnitsReply(units)[1].name, "b");
  EXPECT_THROW(ParseUnitsReply(FrameWriter(units).I32(12, 3).Take()), EFrameError);
  // A lying text length inside an item refuses the whole reply.
  std::string badText = units;
  badText[16 + 4] = char(51);
  EXPECT_THROW(ParseUnitsReply(badText), EFrameError);
}

TEST(ReplyFrames, FileAndSheetReplies) {
  const std::string f = BuildFileReply("tab", "{R}", "body.doc", "BODY");
  const FileReply p = ParseFileReply(f);
  EXPECT_EQ(p.tableName, "tab");
  EXPECT_EQ(p.recordId, "{R}");
  EXPECT_EQ(p.fileName, "body.doc");
  EXPECT_EQ(p.body, "BODY");
  EXPECT_EQ(ReadQueryRequest(f).templateName, "body.doc");
  EXPECT_THROW(ParseFileReply(f.substr(0, 595)), EFrameError);

  const std::string s = BuildSheetReply("SHEET");
  EXPECT_EQ(FrameCode(s), "XSLF");
  EXPECT_EQ(ParseSheetReply(s), "SHEET");
  EXPECT_THROW(ParseSheetReply(s.substr(0, 143)), EFrameError);
}

TEST(SingleFileContainer, OneAddedFile) {
  const std::string c = BuildSingleFileContainer("C:\\docs\\body.doc", "0123456789", kAttachmentStateAdded);
  ASSERT_EQ(c.size(), 48u + 272u + 10u);
  EXPECT_EQ(I32At(c, 0), 1);
  EXPECT_EQ(I32At(c, 4), 320);
  ExpectField(c, 8, 4, "V1.0");
  ExpectField(c, 29, 4, "zelt");
  EXPECT_EQ(I32At(c, 48), 1);
  ExpectField(c, 52, 255, "body.doc");
  EXPECT_EQ(I32At(c, 48 + 260), 0);
  EXPECT_EQ(I32At(c, 48 + 264), 10);
  EXPECT_EQ(I32At(c, 48 + 268), 1);
  EXPECT_EQ(c.substr(320), "0123456789");
  ExpectZeroExcept(c.substr(0, 48), {{0, 8}, {8, 5}, {29, 5}});
}
