// The oa-server program as its clients use it over TCP, alone and two at once: nothing a
// request replaces is lost, two saves do not undo each other, a number is held once, and
// what it answers and keeps holds.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "apps/RawClient.h"
#include "apps/ServerProgram.h"
#include "control/wire/AttachmentReply.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/FlowMessage.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace {

const char* kAdmin = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
const char* kZhao = "{1B2C3D4E-5F60-4718-8293-A4B5C6D7E8F9}";
const char* kRecord = "{11111111-2222-4333-8444-555555555555}";
const char* kOther = "{22222222-2222-4333-8444-555555555555}";

using Fields = std::vector<std::pair<const char*, std::string>>;

// "yyyy-mm-dd" followed by exactly rest.
bool IsDateThen(const std::string& s, const std::string& rest) {
  if (s.size() != 10 + rest.size() || s.compare(10, rest.size(), rest) != 0) return false;
  for (size_t i = 0; i < 10; ++i)
    if (i == 4 || i == 7 ? s[i] != '-' : !std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

class Keeping : public ::testing::Test {
 protected:
  void SetUp() override { Start({}); }
  void TearDown() override { ClearSessionValues(); }
  void Start(std::vector<std::string> extra) {
    server_.reset();
    std::vector<std::string> args = {"--port", "0", "--db", Db(), "--log", (dir_ / "requests.log").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    server_ = std::make_unique<ServerProgram>(args);
    ASSERT_NE(server_->Port(), 0);
  }
  std::string Db() const { return (dir_ / "oa.sqlite").string(); }

  std::string Ask(const std::string& frame) {
    RawClient c(server_->Port());
    if (!c.Connected() || !c.Send(WireRequest(frame))) return {};
    return ReplyPayload(c.ReadToClose()).value_or("");
  }
  static AnsiString Text(const std::string& reply) {
    return reply.size() >= 5 && frames::FrameCode(reply) == "SMSG" ? frames::ParseServerMessage(reply) : "";
  }
  static bool Refused(const std::string& reply) { return Text(reply).rfind("|", 0) == 0; }

  TStream2Array Open(const char* user, const char* record = kRecord) {
    frames::QueryRecord q;
    q.userId = user;
    q.recordId = record;
    q.templateName = Cp936("请假单");
    TStream2Array d;
    d.LoadFromBytes(Ask(frames::BuildQueryRequest(q)));
    return d;
  }
  // The form's save of the fields it shows, as `user` made it from the copy `seen`.
  std::string Save(const char* user, const TStream2Array& seen, const Fields& fields, int32_t next, int32_t status,
                   const char* record = kRecord) {
    TStream2Array d = seen;
    SessionValues().UserGUID = user;
    d.Fields.clear();
    for (const auto& [name, value] : fields) d.Fields.push_back({1, 1, Cp936(name), "", value});
    d.Header.SetI32(dh::NextStep, next);
    d.PickedUsers = {{kZhang, Cp936("张三"), 0, ""}};
    return Ask(d.BuildUpdateFrame("oa_leave", record, status, SessionValues()).Data());
  }
  std::map<AnsiString, AnsiString> Stored(const char* user, const char* record = kRecord) {
    std::map<AnsiString, AnsiString> values;
    for (const TFieldRecord& r : JoinSplitValues(Open(user, record).FieldRecords)) values[r.name] = r.value;
    return values;
  }
  // admin's request kRecord, submitted to the review step with zhangsan as its handler.
  void AtTheReview() {
    ASSERT_FALSE(Refused(Save(kAdmin, Open(kAdmin), {{"标题", "asked"}}, 2, 1)));
    ASSERT_EQ(Open(kZhang).Header.I32(dh::CurrentStep), 2);
  }
  // The attachment list as the server holds it: the reply without the number of the copy
  // it hands out each time.
  std::string Attachments(const char* record = kRecord) {
    std::string reply = ListReply(record);
    const frames::AttachmentsReply r = frames::ParseAttachmentsReply(reply);
    const size_t at = reply.size() - r.container.size() + kContainerCopyAt;
    if (r.container.size() >= kContainerHeaderSize) reply.replace(at, 4, 4, '\0');
    return reply;
  }
  std::string ListReply(const char* record = kRecord) {
    frames::QueryRecord q;
    q.tableName = "oa_leave";
    q.recordId = record;
    q.userId = kAdmin;
    return Ask(frames::BuildQueryRequest(q));
  }
  // An attachment manager's list: its own copy of what the server holds.
  TCopy2Files Window(const char* record = kRecord) {
    TCopy2Files files;
    LoadAttachmentsReply(ListReply(record), files);
    return files;
  }
  std::string Send(const TCopy2Files& files, const char* record = kRecord) {
    return Ask(frames::BuildUploadRequest(record, "oa_leave", files.Count(), files.SaveToBytes()));
  }
  std::vector<std::pair<AnsiString, std::string>> Files(const char* record = kRecord) {
    const TCopy2Files files = Window(record);
    std::vector<std::pair<AnsiString, std::string>> list;
    for (int i = 0; i < files.Count(); ++i) list.emplace_back(files.GetFileName(i), files.FileData(i));
    return list;
  }
  std::string Upload(const std::vector<std::pair<AnsiString, std::string>>& files, const char* record = kRecord,
                     uint32_t madeFrom = 0) {
    TCopy2Files c;
    for (const auto& [name, data] : files) c.AddStream(name, data, fsAdded);
    return Ask(frames::BuildUploadRequest(record, "oa_leave", int32_t(files.size()), c.SaveToBytes(), madeFrom));
  }
  // admin's incoming letter kOther, whose form has a Word body.
  std::string OpenIncoming() {
    frames::QueryRecord q;
    q.userId = kAdmin;
    q.recordId = kOther;
    q.templateName = Cp936("收文登记单");
    return Ask(frames::BuildQueryRequest(q));
  }
  TFlowMessage Workflow() { return ParseFlowMessage(Ask(frames::BuildChatRequest(1))); }
  // The ID the version list gives the last version of that kind.
  std::string LastVersion(const char* kind) {
    const ProgramRun run = RunServerProgram({"--db", Db(), "--versions"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    // Lines "ID  kind ...": the ID of the last line of that kind.
    const std::string tail = std::string(kind) + " ";
    std::istringstream lines(run.out);
    std::string id;
    for (std::string line; std::getline(lines, line);) {
      const size_t digits = line.find_first_not_of("0123456789");
      if (digits == 0 || digits == std::string::npos || line[digits] != ' ') continue;
      const size_t name = line.find_first_not_of(' ', digits);
      if (name != std::string::npos && line.compare(name, tail.size(), tail) == 0) id = line.substr(0, digits);
    }
    return id;
  }
  std::optional<std::string> Exchange(const std::string& wire) {
    RawClient c(server_->Port());
    if (!c.Connected() || !c.Send(wire)) return std::nullopt;
    return c.ReadToClose();
  }
  long MemoryKb(const char* field) const {
    std::ifstream status("/proc/" + std::to_string(server_->Pid()) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return -1;
  }
  void Restore(const std::string& id) {
    const ProgramRun run = RunServerProgram({"--db", Db(), "--restore", id});
    ASSERT_EQ(run.exitCode, 0) << run.out;
  }

  TempDir dir_;
  std::unique_ptr<ServerProgram> server_;
};

TEST_F(Keeping, AttachmentsAndBodiesReplacedByAnyoneComeBackFromTheCommandLine) {
  Open(kAdmin);
  ASSERT_FALSE(Refused(Upload({{"a.txt", "alpha"}, {"b.bin", std::string("\0\1\2", 3)}})));
  const std::string before = Attachments();
  // The request names nobody: a window removing every file erases the document's attachments.
  TCopy2Files all = Window();
  all.RemoveFile("a.txt");
  all.RemoveFile("b.bin");
  ASSERT_FALSE(Refused(Send(all)));
  ASSERT_NE(Attachments(), before);
  const std::string id = LastVersion("attachments");
  ASSERT_FALSE(id.empty());
  Restore(id);
  EXPECT_EQ(Attachments(), before);

  // The Word body of an incoming letter, overwritten, comes back; the overwriting one is kept.
  ASSERT_FALSE(Refused(OpenIncoming()));
  const AnsiString bodyName = Cp936("收文正文.docx");
  ASSERT_FALSE(Refused(Upload({{bodyName, "first body"}}, kOther)));
  ASSERT_FALSE(Refused(Upload({{bodyName, "overwritten"}}, kOther, frames::ContentToken("first body"))));
  const std::string body = LastVersion("body");
  Restore(body);
  const std::string file = Ask(frames::BuildFileRequest(kAdmin, "oa_incoming", kOther, bodyName));
  EXPECT_NE(file.find("first body"), std::string::npos);
  EXPECT_NE(LastVersion("body"), body);
  EXPECT_EQ(RunServerProgram({"--db", Db(), "--restore", "999999"}).exitCode, 1);
}

TEST_F(Keeping, AWorkflowSaveThatStrandsAnOpenDocumentChangesNothing) {
  AtTheReview();
  const TFlowMessage stored = Workflow();
  ASSERT_GE(stored.steps.size(), 3u);
  TFlowMessage dropped = stored;
  for (TStepRecord& s : dropped.steps)
    if (s.id == 2) s.changeState = stepDeleted;
  EXPECT_TRUE(Refused(Ask(BuildFlowMessage(dropped))));
  TFlowMessage none = stored;
  for (TStepRecord& s : none.steps) s.changeState = stepDeleted;
  EXPECT_TRUE(Refused(Ask(BuildFlowMessage(none))));
  EXPECT_EQ(BuildFlowMessage(Workflow()), BuildFlowMessage(stored));
  EXPECT_FALSE(Refused(Save(kZhang, Open(kZhang), {{"标题", "still his"}}, 2, 0)));

  // A change that strands nobody is kept, and the definition it replaced comes back.
  TFlowMessage renamed = stored;
  renamed.flowName = Cp936("改过的流程");
  ASSERT_FALSE(Refused(Ask(BuildFlowMessage(renamed))));
  ASSERT_EQ(Workflow().flowName, renamed.flowName);
  Restore(LastVersion("workflow"));
  // A stored definition's steps all read as unchanged.
  TFlowMessage expected = stored;
  for (TStepRecord& s : expected.steps) s.changeState = stepUnchanged;
  EXPECT_EQ(BuildFlowMessage(Workflow()), BuildFlowMessage(expected));
}

TEST_F(Keeping, TwoSavesFromCopiesOfOneDocumentKeepBothOrRefuseTheSecond) {
  ASSERT_FALSE(Refused(Save(kAdmin, Open(kAdmin), {{"标题", "t0"}, {"事由", "r0"}}, 2, 0)));
  const TStream2Array first = Open(kAdmin), second = Open(kAdmin);
  ASSERT_FALSE(Refused(Save(kAdmin, first, {{"标题", "t1"}, {"事由", "r0"}}, 2, 0)));
  ASSERT_FALSE(Refused(Save(kAdmin, second, {{"标题", "t0"}, {"事由", "r2"}}, 2, 0)));
  EXPECT_EQ(Stored(kAdmin)[Cp936("标题")], "t1");
  EXPECT_EQ(Stored(kAdmin)[Cp936("事由")], "r2");
  // The same field changed from a copy that did not see the other change: refused.
  const std::string late = Save(kAdmin, second, {{"标题", "t3"}, {"事由", "r2"}}, 2, 0);
  EXPECT_EQ(Text(late), "|" + Cp936("该文档已被他人修改，请关闭后重新打开。"));
  EXPECT_EQ(Stored(kAdmin)[Cp936("标题")], "t1");
  // One window saving again builds on its own earlier save, a change back included.
  ASSERT_FALSE(Refused(Save(kAdmin, first, {{"标题", "t0"}, {"事由", "r2"}}, 2, 0)));
  EXPECT_EQ(Stored(kAdmin)[Cp936("标题")], "t0");
  // A copy the server never handed out has nothing to be merged against.
  TStream2Array forged = Open(kAdmin);
  constexpr size_t kCopyAt = 192;  // header bytes no client field uses
  forged.Header.SetI32(kCopyAt, forged.Header.I32(kCopyAt) + 1000);
  EXPECT_TRUE(Refused(Save(kAdmin, forged, {{"标题", "forged"}}, 2, 0)));
}

TEST_F(Keeping, ANumberIsHeldByOneDocumentOfItsKind) {
  const auto kinds = frames::ParseNumbersReply(Ask(frames::BuildNumbersRequest(1, "oa_leave")));
  ASSERT_FALSE(kinds.empty());
  auto numbered = [&](const char* record) {
    TStream2Array d = Open(kAdmin, record);
    d.Header.SetI32(dh::NumberType, kinds[0].kindId);
    d.Header.SetI32(dh::Number, kinds[0].nextNumber);
    return Save(kAdmin, d, {{"标题", record}}, 2, 0, record);
  };
  ASSERT_FALSE(Refused(numbered(kRecord)));
  EXPECT_EQ(Text(numbered(kOther)), "|" + Cp936("该编号已被其他文档使用，请重新编号。"));
  EXPECT_EQ(Open(kAdmin, kOther).Header.I32(dh::Number), 0);
  EXPECT_GT(frames::ParseNumbersReply(Ask(frames::BuildNumbersRequest(1, "oa_leave")))[0].nextNumber,
            kinds[0].nextNumber);
}

TEST_F(Keeping, OnlyTheArchivingCopysSaveFollowsAnArchive) {
  AtTheReview();
  const TStream2Array stale = Open(kZhang);
  const TStream2Array archiving = Open(kZhang);
  ASSERT_FALSE(Refused(Save(kZhang, archiving, {{"标题", "checked"}}, 3, 0)));
  const TStream2Array current = Open(kZhang);
  ASSERT_FALSE(Refused(Ask(frames::BuildDocCommandRequest(kZhang, "oa_leave", kRecord, "INBOX", 2, -1,
                                                          current.Header.I32(dh::CopyNumber)))));
  EXPECT_TRUE(Refused(Save(kZhang, stale, {{"事由", "from another window"}}, 3, 1)));
  EXPECT_FALSE(Refused(Save(kZhang, current, {{"标题", "filed"}}, 3, 1)));
  EXPECT_TRUE(Refused(Save(kZhang, Open(kZhang), {{"标题", "again"}}, 3, 1)));
  EXPECT_EQ(Stored(kZhang)[Cp936("标题")], "filed");
  EXPECT_EQ(Stored(kZhang)[Cp936("事由")], "");
}

TEST_F(Keeping, ASaveForDistributionDoesNotRouteTheDocument) {
  TStream2Array d = Open(kAdmin);
  d.Header.SetU8(dh::SavedForDistribution, 1);
  const std::string reply = Save(kAdmin, d, {{"标题", "to share"}}, 2, 1);
  EXPECT_EQ(Text(reply), Cp936("文件暂存成功！"));
  const TStream2Array now = Open(kAdmin);
  EXPECT_EQ(now.Header.I32(dh::CurrentStep), 1);
  EXPECT_TRUE(now.PassedSteps.empty());
  EXPECT_EQ(Stored(kAdmin)[Cp936("标题")], "to share");
}

TEST_F(Keeping, AStoreThatCannotWriteIsAnsweredAndLosesNothing) {
  Open(kAdmin);
  ASSERT_FALSE(Refused(Upload({{"a.txt", "alpha"}})));
  const std::string before = Attachments();
  // No file of the server's may grow: the store's next write fails as on a full disk.
  const rlimit full{rlim_t(std::filesystem::file_size(Db())), RLIM_INFINITY};
  ASSERT_EQ(prlimit(server_->Pid(), RLIMIT_FSIZE, &full, nullptr), 0);
  const std::string reply = Upload({{"big.bin", std::string(4 << 20, 'x')}});
  EXPECT_TRUE(Refused(reply));
  const rlimit open{RLIM_INFINITY, RLIM_INFINITY};
  ASSERT_EQ(prlimit(server_->Pid(), RLIMIT_FSIZE, &open, nullptr), 0);
  EXPECT_EQ(Attachments(), before);
}

TEST_F(Keeping, ADraftNeverSavedOpensAsNewAndDraftsAreBounded) {
  Open(kAdmin);
  const std::map<AnsiString, AnsiString> values = Stored(kAdmin);
  EXPECT_EQ(values.at(Cp936("申请人")), Cp936("系统管理员|申请人"));
  EXPECT_EQ(values.at(Cp936("部门")), Cp936("信息中心|部门"));
  EXPECT_TRUE(IsDateThen(values.at(Cp936("申请日期")), "|" + Cp936("申请日期")));
  // A draft holding an attachment is kept however many the user opens; an empty one goes,
  // and its form's save is refused, never taken for a new document.
  ASSERT_FALSE(Refused(Upload({{"a.txt", "alpha"}})));
  const TStream2Array empty = Open(kAdmin, kOther);
  for (int i = 0; i < 12; ++i) {
    const std::string id = "{33333333-2222-4333-8444-5555555555" + std::to_string(10 + i) + "}";
    Open(kAdmin, id.c_str());
  }
  EXPECT_FALSE(Refused(Upload({{"b.txt", "beta"}})));
  EXPECT_EQ(Files().size(), 2u);
  const std::string lost = Save(kAdmin, empty, {{"标题", "typed into a dropped draft"}}, 2, 0, kOther);
  EXPECT_TRUE(Refused(lost)) << Cp936ToUtf8(Text(lost));
  EXPECT_EQ(Stored(kAdmin, kOther).count(Cp936("标题")), 0u);  // handed out anew, never saved
}

TEST_F(Keeping, ThePickerShowsEveryFieldsNameAndLabelsTakeNoTyping) {
  TXLSheet picker;
  std::string form(144, '\0');
  form[0] = 4;
  form.replace(1, 4, "XSLF");
  form[5] = char(Cp936("请假单").size());
  form.replace(6, form[5], Cp936("请假单"));
  {
    TMemoryStream s{std::string(frames::ParseSheetReply(Ask(form)))};
    picker.LoadFromStream(s);
  }
  int fields = 0;
  picker.Section(sClient)->ForEachStored([&](TXLCell* c) {
    if (c->Hint().empty()) return;
    ++fields;
    EXPECT_EQ(c->GetAsString(), c->Hint());
  });
  EXPECT_GE(fields, 10);

  TXLSheet sheet;
  {
    TMemoryStream s{std::string(TStream2Array::SheetPart(
        [&] {
          frames::QueryRecord q;
          q.userId = kAdmin;
          q.recordId = kRecord;
          q.templateName = Cp936("请假单");
          return Ask(frames::BuildQueryRequest(q));
        }()))};
    sheet.LoadFromStream(s);
  }
  int labels = 0;
  sheet.Section(sClient)->ForEachStored([&](TXLCell* c) {
    if (!c->Hint().empty() || c->GetAsString().empty()) return;
    ++labels;
    EXPECT_TRUE(c->GetStyles() & CellStyleBit(csReadOnly)) << c->GetAsString();
  });
  EXPECT_GE(labels, 10);
}

TEST_F(Keeping, FilesAreTheOwnersAndUnsafeAttachmentNamesAreRefused) {
  Open(kAdmin);
  ASSERT_FALSE(Refused(Upload({{"a.txt", "alpha"}})));
  const std::string before = Attachments();
  for (const char* name : {"..", ".", ""}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(Refused(Upload({{"ok.txt", "x"}, {name, "escape"}})));
  }
  EXPECT_EQ(Attachments(), before);
  for (const char* name : {"oa.sqlite", "requests.log"}) {
    struct stat st {};
    ASSERT_EQ(stat((dir_ / name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
}

TEST_F(Keeping, HelpIsAnsweredAndVersionsNeedAFile) {
  const ProgramRun help = RunServerProgram({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--restore"), std::string::npos);
  EXPECT_EQ(RunServerProgram({"--versions"}).exitCode, 2);
}

// Clients that ask for a large reply and never read it do not hold the budget from one
// that reads.
TEST_F(Keeping, RepliesNobodyReadsMakeRoomForOneThatIsRead) {
  // Freed memory goes back at once, so what the process holds is what the server holds.
  setenv("ASAN_OPTIONS", "quarantine_size_mb=0:detect_leaks=0", 1);
  Start({"--max-buffered", "24", "--idle-timeout", "3600000"});
  unsetenv("ASAN_OPTIONS");
  Open(kAdmin);
  std::string big(5 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7919 >> 3);
  ASSERT_FALSE(Refused(Upload({{"big.bin", big}})));
  frames::QueryRecord q;
  q.tableName = "oa_leave";
  q.recordId = kRecord;
  q.userId = kAdmin;
  const std::string ask = WireRequest(frames::BuildQueryRequest(q));
  ASSERT_EQ(frames::ParseAttachmentsReply(ReplyPayload(Exchange(ask)).value_or("")).slotCount, 1);
  const long before = MemoryKb("VmRSS:");
  std::vector<std::unique_ptr<RawClient>> hanging;
  for (int i = 0; i < 6; ++i) {
    hanging.push_back(std::make_unique<RawClient>(server_->Port()));
    ASSERT_TRUE(hanging.back()->Connected() && hanging.back()->Send(ask));
  }
  RawClient reader(server_->Port());
  ASSERT_TRUE(reader.Connected() && reader.Send(ask));
  const std::optional<std::string> reply = ReplyPayload(reader.ReadToClose());
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(frames::ParseAttachmentsReply(*reply).slotCount, 1);
  // The budget, and one request being answered beside it: the list read, parsed and built.
  EXPECT_LT(MemoryKb("VmHWM:") - before, (24 + 24) * 1024);
}

// Two windows on one document's attachments, Word body or workflow: neither undoes the other.
TEST_F(Keeping, TwoAttachmentWindowsKeepBothAddsAndRefuseAReplaceOrRemoveOfAChangedFile) {
  Open(kAdmin);
  TCopy2Files a = Window(), b = Window();
  a.AddStream("note.txt", "note", fsAdded);
  ASSERT_EQ(Text(Send(a)), Cp936("附件保存成功！"));
  b.AddStream("pic.jpg", "jpeg", fsAdded);
  ASSERT_FALSE(Refused(Send(b)));
  using Listing = std::vector<std::pair<AnsiString, std::string>>;
  ASSERT_EQ(Files(), (Listing{{"note.txt", "note"}, {"pic.jpg", "jpeg"}}));

  TCopy2Files c = Window(), d = Window(), e = Window();
  c.ReplaceFile("note.txt", "c's note");
  ASSERT_FALSE(Refused(Send(c)));
  const AnsiString changed = "|" + Cp936("附件已被他人修改，请关闭后重新打开。");
  d.ReplaceFile("note.txt", "d's note");
  d.AddStream("d.txt", "with the refused replace", fsAdded);
  EXPECT_EQ(Text(Send(d)), changed);
  EXPECT_EQ(Files(), (Listing{{"note.txt", "c's note"}, {"pic.jpg", "jpeg"}}));
  // A file nobody else changed is still this window's to remove; one changed since is not.
  e.RemoveFile("pic.jpg");
  ASSERT_FALSE(Refused(Send(e)));
  e.SetAllStates(fsUploaded);
  e.RemoveFile("note.txt");
  EXPECT_EQ(Text(Send(e)), changed);
  EXPECT_EQ(Files(), (Listing{{"note.txt", "c's note"}}));
  // A window builds on its own saves.
  c.SetAllStates(fsUploaded);
  c.ReplaceFile("note.txt", "c again");
  ASSERT_FALSE(Refused(Send(c)));
  c.SetAllStates(fsUploaded);
  c.RemoveFile("note.txt");
  ASSERT_FALSE(Refused(Send(c)));
  EXPECT_TRUE(Files().empty());
}

TEST_F(Keeping, ABodyOrWorkflowSavedFromAnOlderCopyIsRefused) {
  ASSERT_FALSE(Refused(OpenIncoming()));
  const AnsiString bodyName = Cp936("收文正文.docx");
  auto body = [&] {
    const std::string reply = Ask(frames::BuildFileRequest(kAdmin, "oa_incoming", kOther, bodyName));
    return std::string(frames::ParseFileReply(reply).body);
  };
  auto save = [&](const std::string& bytes, const std::string& from) {
    return Upload({{bodyName, bytes}}, kOther, frames::ContentToken(from));
  };
  const std::string a = body(), b = body();
  ASSERT_FALSE(Refused(save("AAA", a)));
  EXPECT_EQ(Text(save("BBB", b)), "|" + Cp936("正文已被他人修改，请关闭后重新打开。"));
  EXPECT_EQ(body(), "AAA");
  ASSERT_FALSE(Refused(save("AAA, then more", "AAA")));  // the window that saved goes on
  EXPECT_EQ(body(), "AAA, then more");

  TFlowMessage first = Workflow(), second = Workflow();
  TStepRecord added = NewStepRecord();
  added.name = Cp936("复核");
  first.steps.push_back(added);
  ASSERT_FALSE(Refused(Ask(BuildFlowMessage(first))));
  const TFlowMessage kept = Workflow();
  ASSERT_EQ(kept.steps.size(), second.steps.size() + 1);
  second.steps[1].daysToHandle = "9";
  EXPECT_EQ(Text(Ask(BuildFlowMessage(second))), "|" + Cp936("流程定义已被他人修改，请关闭后重新打开。"));
  EXPECT_EQ(BuildFlowMessage(Workflow()), BuildFlowMessage(kept));
}

TEST_F(Keeping, AfterAnArchiveOnlyTheArchivingWindowsClosingSaveIsTaken) {
  AtTheReview();
  const TStream2Array archiving = Open(kZhang), other = Open(kZhang);
  ASSERT_FALSE(Refused(Ask(frames::BuildDocCommandRequest(kZhang, "oa_leave", kRecord, "INBOX", 2, -1,
                                                          archiving.Header.I32(dh::CopyNumber)))));
  const AnsiString closed = "|" + Cp936("该文档已归档或销毁，不能再修改！");
  EXPECT_EQ(Text(Save(kZhang, other, {{"标题", "from the other window"}}, 3, 1)), closed);
  EXPECT_EQ(Text(Save(kZhang, archiving, {{"标题", "a draft save"}}, 3, 0)), closed);
  EXPECT_FALSE(Refused(Save(kZhang, archiving, {{"标题", "filed"}}, 3, 1)));
  EXPECT_EQ(Stored(kZhang)[Cp936("标题")], "filed");
}

// What one person opens to read takes nothing from what another may save.
TEST_F(Keeping, ReadingNeitherPushesOutAHandlersCopyNorNeedsAWritableStore) {
  AtTheReview();
  const TStream2Array handlers = Open(kZhang);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Open(kZhao).Header.U8(dh::ReadOnly), 1);
  ASSERT_FALSE(Refused(Save(kZhang, handlers, {{"标题", "still mine"}}, 3, 0)));

  // Nothing of the server's may be written: opens are still answered.
  const rlimit full{0, RLIM_INFINITY};
  ASSERT_EQ(prlimit(server_->Pid(), RLIMIT_FSIZE, &full, nullptr), 0);
  const TStream2Array read = Open(kZhao), handled = Open(kZhang);
  const frames::AttachmentsReply list = frames::ParseAttachmentsReply(ListReply());
  const rlimit open{RLIM_INFINITY, RLIM_INFINITY};
  ASSERT_EQ(prlimit(server_->Pid(), RLIMIT_FSIZE, &open, nullptr), 0);
  EXPECT_EQ(read.Header.Text(dh::RecordId), kRecord);
  EXPECT_EQ(handled.Header.U8(dh::ReadOnly), 0);
  std::map<AnsiString, AnsiString> values;
  for (const TFieldRecord& r : JoinSplitValues(handled.FieldRecords)) values[r.name] = r.value;
  EXPECT_EQ(values[Cp936("标题")], "still mine");
  EXPECT_EQ(list.recordId, kRecord);
}

// A draft nobody saved opens, for its author, as the new document it still is.
TEST_F(Keeping, AReopenedUnsavedDraftIsMarkedNewForItsAuthorOnly) {
  EXPECT_EQ(Open(kAdmin).Header.U8(dh::UnsavedDraft), 1);
  const TStream2Array again = Open(kAdmin);
  EXPECT_EQ(again.Header.U8(dh::UnsavedDraft), 1);
  EXPECT_NE(again.Header.I32(dh::CopyNumber), 0);
  EXPECT_EQ(Open(kZhao).Header.U8(dh::UnsavedDraft), 0);
  ASSERT_FALSE(Refused(Save(kAdmin, again, {{"标题", "t"}}, 2, 0)));
  EXPECT_EQ(Open(kAdmin).Header.U8(dh::UnsavedDraft), 0);
}

TEST_F(Keeping, AWorkflowSaveLeavingADocumentsStepWithoutAHandlerIsRefused) {
  AtTheReview();
  TFlowMessage nobody = Workflow();
  for (TStepRecord& s : nobody.steps)
    if (s.id == 2) s.handlerCount = 0;
  EXPECT_TRUE(Refused(Ask(BuildFlowMessage(nobody))));
  for (const TStepRecord& s : Workflow().steps) {
    if (s.id == 2) {
      EXPECT_GT(s.handlerCount, 0u);
    }
  }
}

TEST_F(Keeping, VersionsOfADatabaseThatIsNotThereIsAnError) {
  const std::string typo = (dir_ / "oa.sqlit").string();
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--db", typo, "--versions"},
                                               std::vector<std::string>{"--db", typo, "--restore", "1"}}) {
    const ProgramRun run = RunServerProgram(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("oa.sqlit"), std::string::npos) << run.out;
    EXPECT_FALSE(std::filesystem::exists(typo));
  }
}

}  // namespace
