// Frame building and parsing: the requests the control sends most and the replies whose
// size grows with the data (user lists, attachment lists).
#include <benchmark/benchmark.h>

#include "control/wire/Frames.h"

namespace {

frames::QueryRecord SampleQuery() {
  frames::QueryRecord q;
  q.database = "oa";
  q.userId = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
  q.objectNumber = 7;
  q.recordId = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
  q.commandFlag = 1;
  q.templateName = "ReceiveDoc";
  q.userLevel = 9;
  q.loginName = "admin";
  q.userName = Cp936("系统管理员");
  q.deptName = Cp936("信息中心");
  q.roleName = Cp936("管理员");
  q.dutyName = Cp936("主任");
  return q;
}

void BM_BuildLoginRequest(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(frames::BuildLoginRequest("admin"));
  state.SetBytesProcessed(int64_t(state.iterations()) * frames::kLoginSize);
}
BENCHMARK(BM_BuildLoginRequest);

void BM_BuildQueryRequest(benchmark::State& state) {
  const auto q = SampleQuery();
  for (auto _ : state) benchmark::DoNotOptimize(frames::BuildQueryRequest(q));
  state.SetBytesProcessed(int64_t(state.iterations()) * frames::kQuerySize);
}
BENCHMARK(BM_BuildQueryRequest);

void BM_ParseLoginReply(benchmark::State& state) {
  frames::LoginReply r;
  r.UserGUID = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
  r.LoginName = "admin";
  r.UserName = Cp936("系统管理员");
  r.CompName = Cp936("市政府办公室");
  const std::string frame = frames::BuildLoginReply(r);
  for (auto _ : state) benchmark::DoNotOptimize(frames::ParseLoginReply(frame));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}
BENCHMARK(BM_ParseLoginReply);

void BM_ParseUserListReply(benchmark::State& state) {
  std::vector<frames::UserRecord> users(size_t(state.range(0)));
  for (size_t i = 0; i < users.size(); ++i) {
    users[i].userId = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
    users[i].userName = Cp936("张三");
    users[i].groups = ",a,b,c,";
    users[i].listKind = int32_t(i % 6);
  }
  const std::string frame = frames::BuildUserListReply(users);
  for (auto _ : state) benchmark::DoNotOptimize(frames::ParseUserListReply(frame));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ParseUserListReply)->Arg(10)->Arg(1000)->Arg(10000);

void BM_ParseAttachmentsReply(benchmark::State& state) {
  frames::AttachmentsReply r;
  r.recordId = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
  r.tableName = "docs";
  r.slotCount = 4;
  r.comments.resize(size_t(state.range(0)));
  for (auto& c : r.comments) {
    c.authorName = Cp936("李四");
    c.dateTime = 45000.5;
    c.text = std::string(200, 'x');
  }
  const std::string container(1 << 20, 'c');
  const std::string frame = frames::BuildAttachmentsReply(r, container);
  for (auto _ : state) benchmark::DoNotOptimize(frames::ParseAttachmentsReply(frame));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}
BENCHMARK(BM_ParseAttachmentsReply)->Arg(0)->Arg(100)->Arg(2000);

}  // namespace

BENCHMARK_MAIN();
