// The document record: parsing a large "EXCE" reply and building a large "UPDA" frame.
#include <benchmark/benchmark.h>

#include "control/wire/Class_StoExcel.h"
#include "control/wire/Un_CopyFiles.h"
#include "grid/XLSheet.h"

namespace {

// A 200-row, 50-column sheet of text cells, as a component stream.
const std::string& LargeSheet() {
  static const std::string sheet = [] {
    TXLSheet s;
    s.SetCount(sCols, 50);
    s.SetCount(sRows, 200);
    for (int r = 0; r < 200; ++r)
      for (int c = 0; c < 50; ++c) s.SetAsString(c, r, "R" + std::to_string(r) + "C" + std::to_string(c));
    TMemoryStream m;
    s.SaveToStream(m);
    return m.Data();
  }();
  return sheet;
}

const std::string& LargeReply() {
  static const std::string reply = [] {
    TStream2Array d;
    for (int i = 0; i < 8; ++i) {
      TStepRecord s = NewStepRecord();
      s.id = i + 1;
      s.name = "step" + std::to_string(i);
      d.Steps.push_back(s);
    }
    for (int i = 0; i < 150; ++i) d.FieldRecords.push_back({"field" + std::to_string(i), std::string(40, 'v')});
    for (int i = 0; i < 100; ++i) d.Comments.push_back({"{U}", "user", 46000.0 + i, std::string(200, 'o')});
    return d.BuildDocumentReply(LargeSheet(), std::string(4000, 'c'));
  }();
  return reply;
}

void BM_ParseDocumentReply(benchmark::State& state) {
  const std::string& reply = LargeReply();
  for (auto _ : state) {
    TStream2Array d;
    d.LoadFromBytes(reply);
    benchmark::DoNotOptimize(d.Comments.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(reply.size()));
}
BENCHMARK(BM_ParseDocumentReply);

// The record and its sheet, as the document form loads them.
void BM_ParseDocumentReplyAndLoadSheet(benchmark::State& state) {
  const std::string& reply = LargeReply();
  for (auto _ : state) {
    TStream2Array d;
    d.LoadFromBytes(reply);
    TXLSheet sheet;
    TMemoryStream s{std::string(TStream2Array::SheetPart(reply))};
    sheet.LoadFromStream(s);
    benchmark::DoNotOptimize(sheet.RowCount());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(reply.size()));
}
BENCHMARK(BM_ParseDocumentReplyAndLoadSheet)->Unit(benchmark::kMillisecond);

void BM_BuildUpdateFrame(benchmark::State& state) {
  TStream2Array d;
  d.LoadFromBytes(LargeReply());
  d.Fields.clear();
  for (int i = 0; i < 200; ++i)
    d.Fields.push_back({i, 1, "field" + std::to_string(i), "", std::string(i % 10 == 0 ? 600 : 60, 'e')});
  for (auto _ : state) benchmark::DoNotOptimize(d.BuildUpdateFrame("docs", "{R}", 1, SessionValues()).Size());
  state.SetItemsProcessed(int64_t(state.iterations()) * 200);
}
BENCHMARK(BM_BuildUpdateFrame);

void BM_ContainerLoadAndSave(benchmark::State& state) {
  TCopy2Files files;
  for (int i = 0; i < 30; ++i) files.AddStream("file" + std::to_string(i) + ".doc", std::string(32 * 1024, 'd'), fsFromServer);
  const std::string bytes = files.SaveToBytes();
  for (auto _ : state) {
    TCopy2Files c;
    c.LoadFromBytes(bytes);
    benchmark::DoNotOptimize(c.SaveToBytes().size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_ContainerLoadAndSave);

}  // namespace

BENCHMARK_MAIN();
