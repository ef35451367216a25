// The user dialog with a "USER" reply of 5,000 users in 50 departments: parse, build the
// trees and show the dialog until its first paint is done (goal: under 200 ms).
#include <QApplication>
#include <benchmark/benchmark.h>

#include "control/select/frm_SelectUser.h"
#include "core/SysUtils.h"

namespace {

std::string BigReply() {
  std::vector<frames::UserRecord> users;
  users.reserve(5000);
  for (int i = 0; i < 5000; ++i) {
    frames::UserRecord u;
    u.userId = Format("{%08X-0000-4000-8000-000000000000}", i);
    u.loginName = Format("user%04d", i);
    u.userName = Utf8ToCp936("用户") + IntToStr(i);
    u.unitNumber = 1;
    u.unitName = Utf8ToCp936("市政府办公室");
    u.deptNumber = 100 + i % 50;
    u.deptName = Utf8ToCp936("科室") + IntToStr(i % 50);
    u.parentDeptNumber = i % 50 < 10 ? 0 : 100 + i % 10;  // two levels of departments
    u.groups = ",g" + IntToStr(i % 7) + ",";
    users.push_back(std::move(u));
  }
  return frames::BuildUserListReply(users);
}

const std::string& Reply() {
  static const std::string reply = BigReply();
  return reply;
}

void BM_SelectUserUsable(benchmark::State& state) {
  for (auto _ : state) {
    TfrmSelectUser dlg;
    dlg.LoadUsers(Reply(), {}, false);
    dlg.show();
    QCoreApplication::processEvents();
    benchmark::DoNotOptimize(dlg.Tree(TfrmSelectUser::pgSelf)->NodeCount());
    dlg.hide();
  }
}
BENCHMARK(BM_SelectUserUsable)->Unit(benchmark::kMillisecond);

void BM_SelectUserTreesOnly(benchmark::State& state) {
  for (auto _ : state) {
    TfrmSelectUser dlg;
    dlg.LoadUsers(Reply(), {}, false);
    benchmark::DoNotOptimize(dlg.Tree(TfrmSelectUser::pgSelf)->NodeCount());
  }
}
BENCHMARK(BM_SelectUserTreesOnly)->Unit(benchmark::kMillisecond);

// ">>" on the unit: all 5,000 into the chosen list, each checked for a duplicate.
void BM_SelectWholeUnit(benchmark::State& state) {
  TfrmSelectUser dlg;
  dlg.LoadUsers(Reply(), {}, false);
  TUserTree* self = dlg.Tree(TfrmSelectUser::pgSelf);
  self->setCurrentItem(self->topLevelItem(0));
  for (auto _ : state) {
    dlg.DeleteAll();
    dlg.AddSelected(true);
    benchmark::DoNotOptimize(dlg.treSelectedUser()->NodeCount());
  }
}
BENCHMARK(BM_SelectWholeUnit)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
